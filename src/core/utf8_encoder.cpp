#include "core/utf8_encoder.h"

#include "core/bytes.h"
#include "core/charset.h"
#include "core/utf8_encoder_kernels.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// The bytes that map to themselves and need no other care: 0x01..0x09 and 0x20..0x7E.
constexpr auto kPlain = [] {
    std::array<bool, 256> table{};
    for (int b = 0x01; b <= 0x7E; ++b)
        table[b] = b <= 0x09 || b >= 0x20;
    return table;
}();

// How many of the 8 bytes at s, from the first on, are within 0x20..0x7E.
std::size_t PrintableAsciiRun(const unsigned char* s)
{
    const std::uint64_t w = LoadLE64(s);
    // The lowest high bit set here is that of the first byte out of range; a borrow or carry
    // only reaches the bytes above the one that made it.
    const std::uint64_t out = ((w - kOnes * 0x20) | (w + kOnes) | w) & kHighBits;
    return out ? std::countr_zero(out) / 8 : 8;
}

// Code points that show nothing on their own: controls, combining marks, format characters,
// separators, private use and noncharacters.
constexpr std::uint32_t kUnprintable[][2] = {
    {0x0000, 0x001F}, {0x007F, 0x009F}, {0x00AD, 0x00AD}, {0x0300, 0x036F}, {0x0483, 0x0489},
    {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x2028, 0x202E}, {0x2060, 0x206F},
    {0x20D0, 0x20FF}, {0xD800, 0xF8FF}, {0xFDD0, 0xFDEF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
    {0xFEFF, 0xFEFF}, {0xFFF0, 0xFFFB}, {0xE0000, 0x10FFFF},
};

bool Printable(std::uint32_t cp)
{
    if ((cp & 0xFFFE) == 0xFFFE)
        return false;
    for (const auto& range : kUnprintable)
        if (cp >= range[0] && cp <= range[1])
            return false;
    return true;
}

// Appends `s` to the text in `what`, as much of it as fits.
void Append(char (&what)[kUtf8WhatSize], std::string_view s)
{
    const std::size_t at = std::strlen(what);
    const std::size_t n = std::min(s.size(), kUtf8WhatSize - 1 - at);
    std::memcpy(what + at, s.data(), n);
    what[at + n] = '\0';
}

// Appends `value` in upper-case hexadecimal, at least `digits` digits.
void AppendHex(char (&what)[kUtf8WhatSize], std::uint32_t value, int digits)
{
    char hex[8];
    int n = 0;
    for (; n < 8 && (n < digits || value >> 4 * n); ++n)
        hex[7 - n] = "0123456789ABCDEF"[value >> 4 * n & 0xF];
    Append(what, {hex + 8 - n, static_cast<std::size_t>(n)});
}

// Writes in `what` why the character matched as `m` at s cannot be stored.
void Describe(const CharMatch& m, const unsigned char* s, char (&what)[kUtf8WhatSize])
{
    what[0] = '\0';
    if (m.code_points == 0) {
        Append(what, "malformed UTF-8:");
        for (int i = 0; i < m.length; ++i) {
            Append(what, " ");
            AppendHex(what, s[i], 2);
        }
    } else if (m.cp == 0) {
        Append(what, "NUL would end the text on the calculator");
    } else {
        Append(what, "no calculator character for U+");
        AppendHex(what, m.cp, 4);
        if (Printable(m.cp)) {
            Append(what, " (");
            Append(what, {reinterpret_cast<const char*>(s), static_cast<std::size_t>(m.length)});
            Append(what, ")");
        }
    }
}

} // namespace

EncodeResult Utf8File2DataBuffer(std::span<const unsigned char> text,
                                 std::span<unsigned char, kDataBufferSize> data, Utf8Problem& problem,
                                 Utf8Kernel kernel)
{
    unsigned char* const d = data.data();
    std::memcpy(d, kDataOpening, sizeof kDataOpening);
    std::uint32_t p = sizeof kDataOpening;
    constexpr std::uint32_t kEnd = sizeof kDataOpening + kMaxStoredText;  // p never passes it
    std::uint32_t line = 1, column = 1;

    const unsigned char* const b = text.data();
    const std::size_t end = text.size();
    std::size_t pos = end >= 3 && !std::memcmp(b, "\xEF\xBB\xBF", 3) ? 3 : 0;  // a byte order mark
    while (pos < end) {
        // Characters of one byte that maps to itself, or of two or three bytes that stand for one
        // calculator byte on their own. An iteration begun before `stop` reads less than 16 bytes
        // and stores no more than it reads, so it stays within the text and the room.
        const unsigned char* s = b + pos;
        unsigned char* q = d + p;
        const std::size_t fast = kernel == Utf8Kernel::words ? std::min<std::size_t>(end - pos, kEnd - p) : 0;
        const unsigned char* const stop = s + (fast > 16 ? fast - 16 : 0);
        while (s < stop) {
            const std::size_t run = PrintableAsciiRun(s);
            std::memcpy(q, s, 8);  // what follows the run is written over or lies past the end
            s += run;
            q += run;
            if (run == 8)
                continue;
            const unsigned char c = *s;
            const unsigned lead = c - 0xC2u, trail = s[1] ^ 0x80u, third = s[2] ^ 0x80u;
            // The byte a two-byte character stands for, or a three-byte one beginning E2; 0 for none.
            const unsigned char byte = trail >= 0x40           ? 0
                                       : lead < 0xE0 - 0xC2    ? kTwoByteChars[lead << 6 | trail]
                                       : c == 0xE2 && third < 0x40 ? kE2Chars[trail << 6 | third]
                                                               : 0;
            if (byte) {
                *q++ = byte;
                s += c == 0xE2 ? 3 : 2;
            } else if (kPlain[c]) {
                *q++ = c;
                s += 1;
            } else {
                break;
            }
        }
        column += static_cast<std::uint32_t>(q - (d + p));
        pos = s - b;
        p = static_cast<std::uint32_t>(q - d);
        if (pos == end)
            break;

        // One character of any kind.
        const unsigned char c = b[pos];
        if (c == '\n' || c == '\r') {
            if (p + 2 > kEnd)
                return {EncodeStatus::too_big, 0};
            d[p++] = kLineEnd;
            d[p++] = kPlainLine;  // the line type of the next line
            pos += c == '\r' && pos + 1 < end && b[pos + 1] == '\n' ? 2 : 1;
            ++line;
            column = 1;
            continue;
        }
        if (c == 0x0C && column == 1) {
            d[p - 1] = kPageBreak;  // this line is a page break
            ++pos;
            ++column;
            continue;
        }
        const CharMatch m = MatchChar(b + pos, b + end);
        if (m.byte < 0 && m.code_points == 1 && column > 1 && d[p - 1] < 0x80) {
            // Completes a pair begun by the ASCII character stored last (x̄ is x, U+0305).
            if (const int pair = AsciiPairByte(d[p - 1], m.cp); pair >= 0) {
                d[p - 1] = static_cast<unsigned char>(pair);
                pos += m.length;
                ++column;
                continue;
            }
        }
        if (m.byte <= 0) {
            problem.line = line;
            problem.column = column;
            Describe(m, b + pos, problem.what);
            return {EncodeStatus::refused, 0};
        }
        if (p == kEnd)
            return {EncodeStatus::too_big, 0};
        d[p++] = static_cast<unsigned char>(m.byte);
        pos += m.length;
        column += m.code_points;
    }
    std::memcpy(d + p, kDataClose, sizeof kDataClose);
    return {EncodeStatus::ok, static_cast<std::uint32_t>(p + sizeof kDataClose)};
}

EncodeResult Utf8File2DataBuffer(std::span<const unsigned char> text,
                                 std::span<unsigned char, kDataBufferSize> data, Utf8Problem& problem)
{
    return Utf8File2DataBuffer(text, data, problem, Utf8Kernel::words);
}

bool Utf8Name2VarName(std::string_view name, char (&var_name)[9], std::size_t& used,
                      char (&what)[kUtf8WhatSize])
{
    const auto* const s = reinterpret_cast<const unsigned char*>(name.data());
    const auto* const end = s + name.size();
    std::size_t n = 0, at = 0;
    for (; n < 8 && at < name.size(); ++n) {
        const CharMatch m = MatchChar(s + at, end);
        if (m.code_points && m.cp < 0x20) {
            what[0] = '\0';
            Append(what, "control character U+");
            AppendHex(what, m.cp, 4);
            return false;
        }
        if (m.byte <= 0) {
            Describe(m, s + at, what);
            return false;
        }
        var_name[n] = static_cast<char>(m.byte);
        at += m.length;
    }
    var_name[n] = '\0';
    used = at;
    return true;
}
