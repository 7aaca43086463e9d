#include "core/text_encoding.h"

#include "core/bytes.h"
#include "core/charset.h"

#include <cstdint>
#include <cstdio>

namespace {

// The characters of Windows-1252's bytes 0x80 to 0x9F (its others are Latin-1's, the code point
// the byte's value), as Microsoft's table cp1252 gives them; 0 for the five it leaves undefined.
constexpr std::uint16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Writes code point `cp` (not a surrogate) as UTF-8 at `out` and returns the bytes written.
std::size_t PutUtf8(std::uint32_t cp, unsigned char* out)
{
    if (cp < 0x80) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | cp >> 6);
        out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | cp >> 12);
        out[1] = static_cast<unsigned char>(0x80 | (cp >> 6 & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | cp >> 18);
    out[1] = static_cast<unsigned char>(0x80 | (cp >> 12 & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (cp >> 6 & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

// Writes the 0xFF that stands for what is no character, `bad` getting why, `format` with `value`,
// if it is the first.
std::size_t PutBad(unsigned char* out, char (&bad)[kUtf8WhatSize], bool& first, const char* format, unsigned value)
{
    if (first)
        std::snprintf(bad, sizeof bad, format, value);
    first = false;
    *out = 0xFF;
    return 1;
}

} // namespace

Encoding DetectEncoding(std::span<const unsigned char> text, bool cut)
{
    if (text.size() >= 2 && ((text[0] == 0xFF && text[1] == 0xFE) || (text[0] == 0xFE && text[1] == 0xFF)))
        return Encoding::utf16;
    const unsigned char* s = text.data();
    const unsigned char* const end = s + text.size();
    while (s < end) {
        if (end - s >= 8 && !(LoadLE64(s) & kHighBits)) {
            s += 8;
            continue;
        }
        std::uint32_t cp;
        const int length = DecodeUtf8(s, end, cp);
        if (length < 0)  // malformed, or with `cut` a character that the end of the text cuts short
            return cut && s - length == end && *s >= 0xC2 && *s <= 0xF4 ? Encoding::utf8 : Encoding::windows1252;
        s += length;
    }
    return Encoding::utf8;
}

std::size_t Utf8Of(std::span<const unsigned char> text, Encoding encoding, unsigned char* utf8,
                   char (&bad)[kUtf8WhatSize])
{
    unsigned char* out = utf8;
    bool first = true;
    if (encoding == Encoding::windows1252) {
        for (const unsigned char b : text) {
            const std::uint32_t cp = b < 0x80 || b >= 0xA0 ? b : kWindows1252High[b - 0x80];
            out += cp || !b ? PutUtf8(cp, out) : PutBad(out, bad, first, "undefined in Windows-1252: %02X", b);
        }
        return out - utf8;
    }
    const bool big_endian = text.size() >= 2 && text[0] == 0xFE && text[1] == 0xFF;
    const auto unit = [&](std::size_t at) {
        return big_endian ? GetBE16(text.data() + at) : GetLE16(text.data() + at);
    };
    std::size_t at = 0;
    for (; at + 2 <= text.size(); at += 2) {
        const std::uint32_t u = unit(at);
        if (u >= 0xD800 && u < 0xDC00 && at + 4 <= text.size() && unit(at + 2) >= 0xDC00 && unit(at + 2) < 0xE000) {
            out += PutUtf8(0x10000 + ((u - 0xD800) << 10) + (unit(at + 2) - 0xDC00), out);
            at += 2;
        } else if (u >= 0xD800 && u < 0xE000) {
            out += PutBad(out, bad, first, "malformed UTF-16: %04X", u);
        } else {
            out += PutUtf8(u, out);
        }
    }
    if (at < text.size())
        out += PutBad(out, bad, first, "malformed UTF-16: %02X, a lone last byte", text[at]);
    return out - utf8;
}
