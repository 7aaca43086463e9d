#include "core/text_encoding.h"

#include "core/bytes.h"
#include "core/charset.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The characters of Windows-1252's bytes 0x80 to 0x9F (its others are Latin-1's, the code point
// the byte's value: no C1 control), as Microsoft's table cp1252 gives them; 0 for the five it
// leaves undefined.
constexpr std::uint16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Writes code point `cp` (not a surrogate) as UTF-8 at `out` and returns the bytes written.
constexpr std::size_t PutUtf8(std::uint32_t cp, unsigned char* out)
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

// The UTF-8 form of each of Windows-1252's bytes 0x80 to 0xFF: its length, then its bytes; a
// length of 0 for the five it leaves undefined.
constexpr auto kWindows1252Utf8 = [] {
    std::array<unsigned char[4], 128> forms{};
    for (std::size_t b = 0x80; b < 0x100; ++b) {
        const std::uint32_t cp = b < 0xA0 ? kWindows1252High[b - 0x80] : b;
        forms[b - 0x80][0] = cp ? static_cast<unsigned char>(PutUtf8(cp, forms[b - 0x80] + 1)) : 0;
    }
    return forms;
}();

// How many of the bytes from s, of `left` (at least 1), are ASCII before the first that is not,
// looking at 8 at most.
std::size_t AsciiRun(const unsigned char* s, std::ptrdiff_t left)
{
    if (left < 8)
        return *s < 0x80;
    const std::uint64_t high = LoadLE64(s) & kHighBits;
    return high ? std::countr_zero(high) / 8 : 8;
}

// Writes the 0xFF that stands for what is no character, `bad` getting why, `format` with `value`,
// if it is the first (`bad` empty).
std::size_t PutBad(unsigned char* out, char (&bad)[kUtf8WhatSize], const char* format, unsigned value)
{
    if (!*bad)
        std::snprintf(bad, sizeof bad, format, value);
    *out = 0xFF;
    return 1;
}

// The unit of UTF-16 at `at`, in the byte order `kBigEndian` says.
template <bool kBigEndian>
std::uint32_t Unit(const unsigned char* at)
{
    return kBigEndian ? GetBE16(at) : GetLE16(at);
}

// Utf8Of for UTF-16 from s to `end`, written at `out`: returns where the writing ended.
template <bool kBigEndian>
unsigned char* Utf16ToUtf8(const unsigned char* s, const unsigned char* end, unsigned char* out,
                           char (&bad)[kUtf8WhatSize])
{
    // The bits of four units that are 0 where each is ASCII, and where each one's character is.
    constexpr std::uint64_t kNotAscii = kBigEndian ? 0x80FF80FF80FF80FF : 0xFF80FF80FF80FF80;
    constexpr int kLow = kBigEndian ? 8 : 0;
    while (end - s >= 2) {
        // The ASCII units before the next other, four at a time.
        if (end - s >= 8 && !(LoadLE64(s) & kNotAscii & 0xFFFF)) {
            const std::uint64_t w = LoadLE64(s), other = w & kNotAscii;
            const int ascii = other ? std::countr_zero(other) / 16 : 4;
            // Within the room, which holds 3 bytes for each unit not read yet.
            out[0] = static_cast<unsigned char>(w >> kLow);
            out[1] = static_cast<unsigned char>(w >> (16 + kLow));
            out[2] = static_cast<unsigned char>(w >> (32 + kLow));
            out[3] = static_cast<unsigned char>(w >> (48 + kLow));
            out += ascii;
            s += 2 * ascii;
            continue;
        }
        const std::uint32_t u = Unit<kBigEndian>(s);
        s += 2;
        if (u >= 0xD800 && u < 0xDC00 && end - s >= 2 && Unit<kBigEndian>(s) >= 0xDC00 && Unit<kBigEndian>(s) < 0xE000) {
            out += PutUtf8(0x10000 + ((u - 0xD800) << 10) + (Unit<kBigEndian>(s) - 0xDC00), out);
            s += 2;
        } else if (u >= 0xD800 && u < 0xE000) {
            out += PutBad(out, bad, "malformed UTF-16: %04X", u);
        } else {
            out += PutUtf8(u, out);
        }
    }
    if (s < end)
        out += PutBad(out, bad, "malformed UTF-16: %02X, a lone last byte", *s);
    return out;
}

} // namespace

Encoding DetectEncoding(std::span<const unsigned char> text, bool cut)
{
    if (text.size() >= 2 && ((text[0] == 0xFF && text[1] == 0xFE) || (text[0] == 0xFE && text[1] == 0xFF)))
        return Encoding::utf16;
    const unsigned char* s = text.data();
    const unsigned char* const end = s + text.size();
    while (s < end) {
        if (const std::size_t ascii = AsciiRun(s, end - s)) {
            s += ascii;
        } else if (end - s >= 2 && *s >= 0xC2 && *s < 0xE0 && (s[1] & 0xC0) == 0x80) {  // an accent
            s += 2;
        } else {
            std::uint32_t cp;
            const int length = DecodeUtf8(s, end, cp);
            if (length < 0)  // malformed, or with `cut` a character that the end of the text cuts short
                return cut && s - length == end && *s >= 0xC2 && *s <= 0xF4 ? Encoding::utf8 : Encoding::windows1252;
            s += length;
        }
    }
    return Encoding::utf8;
}

std::size_t Utf8Of(std::span<const unsigned char> text, Encoding encoding, unsigned char* utf8,
                   char (&bad)[kUtf8WhatSize])
{
    unsigned char* out = utf8;
    const unsigned char* s = text.data();
    const unsigned char* const end = s + text.size();
    if (encoding == Encoding::windows1252) {
        while (s < end) {
            if (const std::size_t ascii = AsciiRun(s, end - s)) {  // as they are
                if (end - s >= 8)  // within the room, which holds 3 bytes for each byte not read yet
                    std::memcpy(out, s, 8);
                else
                    *out = *s;
                out += ascii;
                s += ascii;
            } else if (const auto& c = kWindows1252Utf8[*s++ - 0x80]; c[0]) {
                std::memcpy(out, c + 1, 3);  // within the room: 3 bytes for each byte read
                out += c[0];
            } else {
                out += PutBad(out, bad, "undefined in Windows-1252: %02X", s[-1]);
            }
        }
        return out - utf8;
    }
    const bool big_endian = text.size() >= 2 && text[0] == 0xFE && text[1] == 0xFF;
    out = big_endian ? Utf16ToUtf8<true>(s, end, out, bad) : Utf16ToUtf8<false>(s, end, out, bad);
    return out - utf8;
}
