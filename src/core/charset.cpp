#include "core/charset.h"

#include "core/text_data.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace {

struct CanonicalUtf8 {
    char bytes[8];
    std::uint8_t size;
};

struct CharSequence {
    std::uint32_t first, second;  // second is 0 for a single code point
    std::uint8_t byte;
};

struct Replacement {
    std::uint32_t cp;
    unsigned char bytes[2];
};

struct CodePointRange {
    std::uint32_t first, last;
};

#include "core/charset_table.inc"

// The byte of each code point from first to last - 1 that stands for one on its own and begins
// no pair, 0 for the others.
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

constexpr WordChars MakeWordChars()
{
    const auto two_bytes = DirectTable<0x80, 0x800>();
    const auto e2 = DirectTable<0x2000, 0x3000>();
    WordChars table{};
    for (unsigned w = 0; w < 0x10000; ++w) {
        const unsigned first = w & 0xFF, second = w >> 8;
        const bool continues = (second & 0xC0) == 0x80;
        unsigned char byte = 0;
        if ((first >= 0x01 && first <= 0x09) || (first >= 0x20 && first <= 0x7E))
            byte = static_cast<unsigned char>(first);
        else if (first == '\n' && second == '\r')
            byte = kPlainLine;
        else if (first == '\r' && second == '\n')
            byte = kLineEnd;
        else if (first >= 0xC2 && first <= 0xDF && continues)
            byte = two_bytes[((first & 0x1F) << 6 | (second & 0x3F)) - 0x80];
        else if ((first & 0xC0) == 0x80 && continues)
            byte = e2[(second & 0x3F) << 6 | (first & 0x3F)];
        table.bytes[kWordCharsPad + w] = byte;
    }
    return table;
}

// The first entry of kSequences not before (first, second).
const CharSequence* FindSequence(std::uint32_t first, std::uint32_t second)
{
    return std::lower_bound(std::begin(kSequences), std::end(kSequences), first,
                            [second](const CharSequence& s, std::uint32_t f) {
                                return s.first < f || (s.first == f && s.second < second);
                            });
}

} // namespace

constexpr WordChars kWordChars = MakeWordChars();

std::string_view CalcByte2Utf8(unsigned char byte)
{
    return {kCanonical[byte].bytes, kCanonical[byte].size};
}

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

int AsciiPairByte(unsigned char first, std::uint32_t second)
{
    const CharSequence* pair = FindSequence(first, second);
    return pair != std::end(kSequences) && pair->first == first && pair->second == second
               ? pair->byte
               : -1;
}

int ReplacementBytes(std::uint32_t cp, unsigned char (&bytes)[2])
{
    const auto* r = std::lower_bound(std::begin(kReplacements), std::end(kReplacements), cp,
                                     [](const Replacement& r, std::uint32_t c) { return r.cp < c; });
    if (r != std::end(kReplacements) && r->cp == cp) {
        bytes[0] = r->bytes[0];
        bytes[1] = r->bytes[1];
        return r->bytes[1] ? 2 : 1;
    }
    const auto* d = std::lower_bound(std::begin(kDropped), std::end(kDropped), cp,
                                     [](const CodePointRange& d, std::uint32_t c) { return d.last < c; });
    if (d != std::end(kDropped) && d->first <= cp)
        return 0;
    bytes[0] = '?';
    return 1;
}
