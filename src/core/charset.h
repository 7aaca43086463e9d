#pragma once

// The calculator's character set against Unicode: the canonical UTF-8 form of each of its 256
// bytes, and every sequence of one or two code points that stands for one of them.

#include <array>
#include <cstdint>
#include <string_view>

// The canonical UTF-8 form of calculator byte `byte` (one or two code points).
std::string_view CalcByte2Utf8(unsigned char byte);

// Decodes the UTF-8 character at s (s < end): returns its length and sets cp, or returns minus
// the length of the malformed part: the bytes from s that begin a character but cannot be
// completed (at least 1).
int DecodeUtf8(const unsigned char* s, const unsigned char* end, std::uint32_t& cp);

struct CharMatch {
    int length;         // bytes taken; for malformed UTF-8, the malformed bytes
    int code_points;    // 1 or 2; 0 for malformed UTF-8
    int byte;           // the calculator byte, or -1 when there is none
    std::uint32_t cp;   // the first code point
};

// Matches the longest sequence of one or two characters at s (s < end) that stands for a
// calculator byte; the character after the first is decoded only to see whether it completes a
// pair.
CharMatch MatchChar(const unsigned char* s, const unsigned char* end);

// The calculator byte that ASCII character `first` followed by code point `second` stands for
// (x and a combining overline is x̄), or -1.
int AsciiPairByte(unsigned char first, std::uint32_t second);

// Direct tables of the calculator byte that each character stands for when it does so on its
// own and begins no pair, 0 for none: those of two UTF-8 bytes (U+0080 to U+07FF), indexed by
// (lead - 0xC2) << 6 | (second byte & 0x3F), and those of three beginning E2 (U+2000 to U+2FFF),
// by (second & 0x3F) << 6 | (third & 0x3F).
extern const std::array<unsigned char, 0x800 - 0x80> kTwoByteChars;
extern const std::array<unsigned char, 0x3000 - 0x2000> kE2Chars;
