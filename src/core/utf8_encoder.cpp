#include "core/utf8_encoder.h"

#include "core/bytes.h"
#include "core/charset.h"
#include "core/utf8_encoder_kernels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iterator>

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

// The byte that the character at s, of two UTF-8 bytes or of three beginning E2, stands for on
// its own (`left` bytes of text from s), its length in `length`; 0 for none or any other.
unsigned char TableByte(const unsigned char* s, std::ptrdiff_t left, int& length)
{
    const unsigned c = s[0];
    if (c >= 0xC2 && c < 0xE0 && left > 1 && (s[1] & 0xC0) == 0x80) {
        length = 2;
        return kTwoByteChars[(c - 0xC2) << 6 | (s[1] & 0x3F)];
    }
    if (c == 0xE2 && left > 2 && (s[1] & 0xC0) == 0x80 && (s[2] & 0xC0) == 0x80) {
        length = 3;
        return kE2Chars[(s[1] & 0x3F) << 6 | (s[2] & 0x3F)];
    }
    return 0;
}

// The portable kernel: runs of plain text, line breaks and the characters TableByte finds, from
// `at`; stops before the first character the general path must take, at the end of the text, or
// 2 bytes before the end of the room. It reads and stores 8 bytes at a time while 16 are left in
// the text and 8 in the room.
Utf8Cursor StoreWords(const unsigned char* text, std::size_t end, unsigned char* data, Utf8Cursor at)
{
    const unsigned char* s = text + at.pos;
    const unsigned char* const last = text + end;
    unsigned char* q = data + at.p;
    unsigned char* const room_end = data + kStoredEnd;
    while (s < last && q + 2 <= room_end) {
        if (last - s >= 16 && q + 8 <= room_end) {
            const std::size_t run = PrintableAsciiRun(s);
            std::memcpy(q, s, 8);  // what follows the run is written over or lies past the end
            s += run;
            q += run;
            if (run == 8)
                continue;
            if (q + 2 > room_end)  // the run may have taken the room the next character needs
                break;
        }
        const unsigned char c = *s;
        const std::ptrdiff_t left = last - s;
        if (c == '\n' || c == '\r') {
            q[0] = kLineEnd;
            q[1] = kPlainLine;
            q += 2;
            s += c == '\r' && left > 1 && s[1] == '\n' ? 2 : 1;
        } else if (kPlain[c]) {
            *q++ = c;
            s += 1;
        } else if (int length; const unsigned char byte = TableByte(s, left, length)) {
            *q++ = byte;
            s += length;
        } else {
            break;
        }
    }
    return {static_cast<std::size_t>(s - text), static_cast<std::uint32_t>(q - data)};
}

// The line and column, from 1, of the character at `at` of `text`, whose characters begin at
// `start` and are well-formed before `at`: the line breaks before it, then the code points
// since the last.
void Locate(const unsigned char* text, std::size_t start, std::size_t at, Utf8Problem& where)
{
    std::uint32_t line = 1;
    std::size_t from = start;
    for (std::size_t i = start; i < at; ++i) {
        if (text[i] == '\r' || (text[i] == '\n' && (i == start || text[i - 1] != '\r')))
            ++line;
        if (text[i] == '\r' || text[i] == '\n')
            from = i + 1;
    }
    std::uint32_t column = 1;
    for (std::size_t i = from; i < at; ++i)
        column += (text[i] & 0xC0) != 0x80;
    where.line = line;
    where.column = column;
}

#ifdef SORVEL_AVX2
constexpr Utf8Kernel kKernels[] = {Utf8Kernel::one_at_a_time, Utf8Kernel::words, Utf8Kernel::avx2};

bool Runs(Utf8Kernel kernel)
{
    return kernel != Utf8Kernel::avx2 || (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                                          __builtin_cpu_supports("popcnt"));
}
#else
constexpr Utf8Kernel kKernels[] = {Utf8Kernel::one_at_a_time, Utf8Kernel::words};

bool Runs(Utf8Kernel kernel)
{
    return kernel != Utf8Kernel::avx2;
}
#endif

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

// Appends the character matched as `m` at s: "U+20AC (€)", or "U+0301" for one that shows
// nothing on its own.
void AppendCodePoint(const CharMatch& m, const unsigned char* s, char (&what)[kUtf8WhatSize])
{
    Append(what, "U+");
    AppendHex(what, m.cp, 4);
    if (Printable(m.cp)) {
        Append(what, " (");
        Append(what, {reinterpret_cast<const char*>(s), static_cast<std::size_t>(m.length)});
        Append(what, ")");
    }
}

// Writes in `what` why the character matched as `m` at s cannot be stored; returns the kind.
Utf8Refusal Describe(const CharMatch& m, const unsigned char* s, char (&what)[kUtf8WhatSize])
{
    what[0] = '\0';
    if (m.code_points == 0) {
        Append(what, "malformed UTF-8:");
        for (int i = 0; i < m.length; ++i) {
            Append(what, " ");
            AppendHex(what, s[i], 2);
        }
        return Utf8Refusal::malformed;
    }
    if (m.cp == 0) {
        Append(what, "NUL would end the text on the calculator");
        return Utf8Refusal::nul;
    }
    Append(what, "no calculator character for ");
    AppendCodePoint(m, s, what);
    return Utf8Refusal::no_character;
}

} // namespace

std::span<const Utf8Kernel> Utf8Kernels()
{
    static const std::size_t count = Runs(std::end(kKernels)[-1]) ? std::size(kKernels) : std::size(kKernels) - 1;
    return {kKernels, count};
}

EncodeResult Utf8File2DataBuffer(std::span<const unsigned char> text,
                                 std::span<unsigned char, kDataBufferSize> data, Utf8Problem& problem,
                                 Utf8Replacements* replaced, Utf8Kernel kernel)
{
    if (replaced)
        *replaced = {};
    std::size_t first_replaced = 0;
    unsigned char* const d = data.data();
    std::memcpy(d, kDataOpening, sizeof kDataOpening);
    std::uint32_t p = sizeof kDataOpening;  // never past kStoredEnd
    std::uint32_t line = 1, column = 1;    // counted by the one_at_a_time kernel alone

    const unsigned char* const b = text.data();
    const std::size_t end = text.size();
    const std::size_t start = ByteOrderMarkSize(text);
    std::size_t pos = start;
    while (pos < end) {
        // The AVX2 kernel looks one byte back: the general path takes the text's first character.
        if (kernel == Utf8Kernel::words || (kernel == Utf8Kernel::avx2 && pos > 0)) {
            Utf8Cursor at = {pos, p};
#ifdef SORVEL_AVX2
            if (kernel == Utf8Kernel::avx2)
                at = StoreUtf8BlocksAvx2(b, end, d, at);
#endif
            at = StoreWords(b, end, d, at);
            pos = at.pos;
            p = at.p;
            if (pos == end)
                break;
        }

        // One character of any kind.
        const unsigned char c = b[pos];
        const bool line_start = pos == start || b[pos - 1] == '\n' || b[pos - 1] == '\r';
        if (c == '\n' || c == '\r') {
            if (p + 2 > kStoredEnd)
                return {EncodeStatus::too_big, 0};
            d[p++] = kLineEnd;
            d[p++] = kPlainLine;  // the line type of the next line
            pos += c == '\r' && pos + 1 < end && b[pos + 1] == '\n' ? 2 : 1;
            ++line;
            column = 1;
            continue;
        }
        if (c == 0x0C && line_start) {
            d[p - 1] = kPageBreak;  // this line is a page break
            ++pos;
            ++column;
            continue;
        }
        const CharMatch m = MatchChar(b + pos, b + end);
        if (m.byte < 0 && m.code_points == 1 && !line_start && b[pos - 1] < 0x80) {
            // Completes a pair begun by the ASCII character before, stored last (x̄ is x, U+0305).
            if (const int pair = AsciiPairByte(b[pos - 1], m.cp); pair >= 0) {
                d[p - 1] = static_cast<unsigned char>(pair);
                pos += m.length;
                ++column;
                continue;
            }
        }
        if (m.byte < 0 && m.code_points == 1 && replaced) {
            // A character the calculator lacks: stored as the closest it has, or dropped.
            unsigned char bytes[2];
            const int count = ReplacementBytes(m.cp, bytes);
            if (p + count > kStoredEnd)
                return {EncodeStatus::too_big, 0};
            if (replaced->count++ == 0) {
                first_replaced = pos;
                replaced->first.line = line;
                replaced->first.column = column;
                AppendCodePoint(m, b + pos, replaced->first.what);
            }
            for (int i = 0; i < count; ++i)
                d[p++] = bytes[i];
            pos += m.length;
            ++column;
            continue;
        }
        if (m.byte <= 0) {
            problem.line = line;
            problem.column = column;
            if (kernel != Utf8Kernel::one_at_a_time)
                Locate(b, start, pos, problem);
            problem.kind = Describe(m, b + pos, problem.what);
            return {EncodeStatus::refused, 0};
        }
        if (p == kStoredEnd)
            return {EncodeStatus::too_big, 0};
        d[p++] = static_cast<unsigned char>(m.byte);
        pos += m.length;
        column += m.code_points;
    }
    if (replaced && replaced->count && kernel != Utf8Kernel::one_at_a_time)
        Locate(b, start, first_replaced, replaced->first);
    std::memcpy(d + p, kDataClose, sizeof kDataClose);
    return {EncodeStatus::ok, static_cast<std::uint32_t>(p + sizeof kDataClose)};
}

EncodeResult Utf8File2DataBuffer(std::span<const unsigned char> text,
                                 std::span<unsigned char, kDataBufferSize> data, Utf8Problem& problem,
                                 Utf8Replacements* replaced)
{
    return Utf8File2DataBuffer(text, data, problem, replaced, Utf8Kernels().back());
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

void Utf8Locate(std::span<const unsigned char> text, std::size_t at, Utf8Problem& where)
{
    Locate(text.data(), ByteOrderMarkSize(text), at, where);
}
