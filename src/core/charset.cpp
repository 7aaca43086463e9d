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

struct ReplacedByMore {
    std::uint32_t cp;
    std::uint8_t size;
    bool fraction;
    unsigned char bytes[4];
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

} // namespace

constexpr std::array<unsigned char, 0x800 - 0x80> kTwoByteChars = DirectTable<0x80, 0x800>();
constexpr std::array<unsigned char, 0x3000 - 0x2000> kE2Chars = DirectTable<0x2000, 0x3000>();

#ifdef SORVEL_AVX2
namespace {

constexpr WordChars MakeWordChars()
{
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
            byte = kTwoByteChars[(first - 0xC2) << 6 | (second & 0x3F)];
        else if ((first & 0xC0) == 0x80 && continues)
            byte = kE2Chars[(second & 0x3F) << 6 | (first & 0x3F)];
        table.bytes[kWordCharsPad + w] = byte;
    }
    return table;
}

} // namespace

constexpr WordChars kWordChars = MakeWordChars();
#endif

namespace {

// The first entry of kSequences not before (first, second).
const CharSequence* FindSequence(std::uint32_t first, std::uint32_t second)
{
    return std::lower_bound(std::begin(kSequences), std::end(kSequences), first,
                            [second](const CharSequence& s, std::uint32_t f) {
                                return s.first < f || (s.first == f && s.second < second);
                            });
}

} // namespace

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

CharReplacement ReplacementOf(std::uint32_t cp)
{
    if (const auto* one = std::upper_bound(std::begin(kReplacedByOne), std::end(kReplacedByOne), cp << 9 | 0x1FF);
        one != std::begin(kReplacedByOne) && one[-1] >> 9 == cp)
        return {1, false, (one[-1] >> 8 & 1) != 0, {static_cast<unsigned char>(one[-1])}};
    const auto* more = std::lower_bound(std::begin(kReplacedByMore), std::end(kReplacedByMore), cp,
                                        [](const ReplacedByMore& r, std::uint32_t c) { return r.cp < c; });
    if (more != std::end(kReplacedByMore) && more->cp == cp)
        return {more->size, more->fraction, false, {more->bytes[0], more->bytes[1], more->bytes[2], more->bytes[3]}};
    if (const auto* range = std::upper_bound(std::begin(kDropped), std::end(kDropped), cp << 8 | 0xFF);
        range != std::begin(kDropped) && cp - (range[-1] >> 8) <= (range[-1] & 0xFF))
        return {0, false, false, {}};
    return {1, false, false, {'?'}};
}

int ReplacementBytes(std::uint32_t cp, unsigned char (&bytes)[2])
{
    CharReplacement r = ReplacementOf(cp);
    if (r.size > 2)
        r = {1, false, false, {'?'}};
    bytes[0] = r.bytes[0];
    bytes[1] = r.bytes[1];
    return r.size;
}

int SuperscriptPlain(std::uint32_t cp)
{
    const auto* s = std::upper_bound(std::begin(kSuperscripts), std::end(kSuperscripts), cp << 8 | 0xFF);
    return s != std::begin(kSuperscripts) && s[-1] >> 8 == cp ? static_cast<int>(s[-1] & 0xFF) : -1;
}
