#include "charset.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

struct CanonicalUtf8 {
    char bytes[8];
    std::uint8_t size;
};

struct CharSequence {
    std::uint32_t first, second;  // second is 0 for a single code point
    std::uint8_t byte;
};

#include "charset_table.inc"

// A direct table for code points first..last - 1: the byte each stands for when it does so on its
// own and begins no pair; 0 otherwise.
template <std::uint32_t first, std::uint32_t last>
constexpr std::array<unsigned char, last - first> DirectTable()
{
    std::array<unsigned char, last - first> table{};
    const std::size_t n = std::size(kSequences);
    for (std::size_t i = 0; i < n; ++i) {
        const CharSequence& s = kSequences[i];
        const bool begins_pair = i + 1 < n && kSequences[i + 1].first == s.first;
        if (s.second == 0 && s.first >= first && s.first < last && !begins_pair)
            table[s.first - first] = s.byte;
    }
    return table;
}

constexpr auto kTwoByte = DirectTable<0x80, 0x800>();      // characters of two UTF-8 bytes
constexpr auto kE2 = DirectTable<0x2000, 0x3000>();        // those of three, beginning E2

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
    const std::uint64_t out = ((w - kOnes * 0x20) | (w + kOnes) | w) & (kOnes * 0x80);
    return out ? std::countr_zero(out) / 8 : 8;
}

// Decodes the UTF-8 character at s (s < end): returns its length and sets cp, or returns minus
// the length of the malformed part: the bytes from s that begin a character but cannot be
// completed (at least 1).
int DecodeUtf8(const unsigned char* s, const unsigned char* end, std::uint32_t& cp)
{
    const unsigned lead = s[0];
    unsigned low = 0x80, high = 0xBF;  // the second byte's range
    int length;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong forms
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return -1;
    }
    for (int i = 1; i < length; ++i) {
        if (s + i == end || s[i] < low || s[i] > high)
            return -i;
        cp = cp << 6 | (s[i] & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return length;
}

// The first entry of kSequences not before (first, second).
const CharSequence* FindSequence(std::uint32_t first, std::uint32_t second)
{
    return std::lower_bound(std::begin(kSequences), std::end(kSequences), first,
                            [second](const CharSequence& s, std::uint32_t f) {
                                return s.first < f || (s.first == f && s.second < second);
                            });
}

struct CharMatch {
    int length;         // bytes taken; for malformed UTF-8, the malformed bytes
    int code_points;    // 1 or 2; 0 for malformed UTF-8
    int byte;           // the calculator byte, or -1 when there is none
    std::uint32_t cp;   // the first code point
};

// Matches the longest sequence of one or two characters at s (s < end) that stands for a
// calculator byte; the character after the first is decoded only to see whether it completes a
// pair.
CharMatch MatchChar(const unsigned char* s, const unsigned char* end)
{
    std::uint32_t cp;
    const int length = DecodeUtf8(s, end, cp);
    if (length < 0)
        return {-length, 0, -1, 0};
    const CharSequence* at = FindSequence(cp, 0);
    const CharSequence* const last = std::end(kSequences);
    const bool single = at != last && at->first == cp && at->second == 0;
    const CharSequence* pairs = single ? at + 1 : at;
    if (pairs != last && pairs->first == cp && s + length < end) {
        std::uint32_t next;
        if (const int next_length = DecodeUtf8(s + length, end, next); next_length > 0) {
            for (; pairs != last && pairs->first == cp; ++pairs)
                if (pairs->second == next)
                    return {length + next_length, 2, pairs->byte, cp};
        }
    }
    return {length, 1, single ? at->byte : -1, cp};
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

// Writes in `what` why the character matched as `m` at s cannot be stored.
void Describe(const CharMatch& m, const unsigned char* s, char (&what)[kUtf8WhatSize])
{
    if (m.code_points == 0) {
        int n = std::snprintf(what, sizeof what, "malformed UTF-8:");
        for (int i = 0; i < m.length; ++i)
            n += std::snprintf(what + n, sizeof what - n, " %02X", s[i]);
    } else if (m.cp == 0) {
        std::snprintf(what, sizeof what, "NUL would end the text on the calculator");
    } else if (Printable(m.cp)) {
        std::snprintf(what, sizeof what, "no calculator character for U+%04X (%.*s)",
                      static_cast<unsigned>(m.cp), m.length, reinterpret_cast<const char*>(s));
    } else {
        std::snprintf(what, sizeof what, "no calculator character for U+%04X",
                      static_cast<unsigned>(m.cp));
    }
}

// The most text bytes a variable holds, each line break counting two.
constexpr std::uint32_t kMaxStored = 65507;
constexpr std::size_t kBlockSize = 65536;
// Bytes the decoder may look at past a character's first byte: a pair of 4-byte characters.
constexpr std::size_t kLookahead = 8;

} // namespace

std::string_view CalcByte2Utf8(unsigned char byte)
{
    return {kCanonical[byte].bytes, kCanonical[byte].size};
}

EncodeResult Utf8File2DataBuffer(std::FILE* in, std::span<unsigned char, kDataBufferSize> data,
                                 Utf8Problem& problem, Kernel kernel)
{
    unsigned char* const d = data.data();
    d[0] = 0x00;
    d[1] = 0x01;
    d[2] = 0x20;  // the line type of the first line
    std::uint32_t p = 3;
    constexpr std::uint32_t kEnd = 3 + kMaxStored;  // p never passes it
    std::uint32_t line = 1, column = 1;

    std::array<unsigned char, kBlockSize> block;
    unsigned char* const b = block.data();
    std::size_t pos = 0, end = 0;
    bool ended = false, first_block = true;
    for (;;) {
        // Keep kLookahead bytes ahead of pos, or all that is left.
        if (end - pos < kLookahead && !ended) {
            std::memmove(b, b + pos, end - pos);
            end -= pos;
            pos = 0;
            const std::size_t got = std::fread(b + end, 1, kBlockSize - end, in);
            if (got < kBlockSize - end) {
                if (std::ferror(in))
                    return {EncodeStatus::read_failed, 0};
                ended = true;
            }
            end += got;
            if (first_block && end >= 3 && !std::memcmp(b, "\xEF\xBB\xBF", 3))
                pos = 3;  // a byte order mark
            first_block = false;
        }
        if (pos == end)
            break;

        // Characters of one byte that maps to itself, or of two or three bytes that stand for one
        // calculator byte on their own. An iteration begun before `stop` reads less than 16 bytes
        // and stores no more than it reads, so it stays within the block and the room.
        const unsigned char* s = b + pos;
        unsigned char* q = d + p;
        const std::size_t fast = kernel == Kernel::fastest ? std::min<std::size_t>(end - pos, kEnd - p) : 0;
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
                                       : lead < 0xE0 - 0xC2    ? kTwoByte[lead << 6 | trail]
                                       : c == 0xE2 && third < 0x40 ? kE2[trail << 6 | third]
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
            continue;

        // One character of any kind.
        const unsigned char c = b[pos];
        if (c == '\n' || c == '\r') {
            if (p + 2 > kEnd)
                return {EncodeStatus::too_big, 0};
            d[p++] = 0x0D;
            d[p++] = 0x20;  // the line type of the next line
            pos += c == '\r' && pos + 1 < end && b[pos + 1] == '\n' ? 2 : 1;
            ++line;
            column = 1;
            continue;
        }
        if (c == 0x0C && column == 1) {
            d[p - 1] = 0x0C;  // this line is a page break
            ++pos;
            ++column;
            continue;
        }
        const CharMatch m = MatchChar(b + pos, b + end);
        if (m.byte < 0 && m.code_points == 1 && column > 1 && d[p - 1] < 0x80) {
            // Completes a pair begun by the ASCII character stored last (x̄ is x, U+0305).
            const CharSequence* pair = FindSequence(d[p - 1], m.cp);
            if (pair != std::end(kSequences) && pair->first == d[p - 1] && pair->second == m.cp) {
                d[p - 1] = pair->byte;
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
    d[p++] = 0x00;  // end of the text
    d[p++] = 0xE0;  // closes a text variable's data
    return {EncodeStatus::ok, p};
}

bool Utf8Name2VarName(std::string_view name, char (&var_name)[9], std::size_t& used,
                      char (&what)[kUtf8WhatSize])
{
    const auto* const s = reinterpret_cast<const unsigned char*>(name.data());
    const auto* const end = s + name.size();
    std::size_t n = 0, at = 0;
    for (; n < 8 && at < name.size(); ++n) {
        const CharMatch m = MatchChar(s + at, end);
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
