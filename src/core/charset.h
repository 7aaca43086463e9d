#pragma once

// The calculator's character set against Unicode: the canonical UTF-8 form of each of its 256
// bytes, and every sequence of one or two code points that stands for one of them.

#include <array>
#include <cstddef>
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

// What stands in for a character the calculator lacks when the closest it has is taken.
struct CharReplacement {
    int size;                // how many bytes: 0 for a mark or format character, dropped
    bool fraction;           // a vulgar fraction: numerator, /, denominator
    bool superscript;        // a superscript, its plain character (SuperscriptPlain)
    unsigned char bytes[4];
};

// What stands in for code point `cp`, which the calculator lacks: a letter with marks is its
// letter; a few letters and signs, the superscripts and subscripts (as their plain characters)
// and the vulgar fractions are as the character table lists them; a character whose
// compatibility form, marks dropped, is one or two calculator characters is those; any other
// is "?".
CharReplacement ReplacementOf(std::uint32_t cp);

// ReplacementOf's bytes for `cp` and how many, for a name, which takes letters alone: one of
// more than 2 bytes (a vulgar fraction) as "?".
int ReplacementBytes(std::uint32_t cp, unsigned char (&bytes)[2]);

// The plain byte of code point `cp` when it is a superscript that -r writes, with those around
// it, after a ^ as an exponent once one of them is missing (⁴ is 4, ⁻ is -, ² is 2), else -1.
int SuperscriptPlain(std::uint32_t cp);

// The calculator byte that ASCII character `first` followed by code point `second` stands for
// (x and a combining overline is x̄), or -1.
int AsciiPairByte(unsigned char first, std::uint32_t second);

// The calculator byte of each character that stands for one on its own and begins no pair, for
// the UTF-8 encoder's fast paths; 0 for none. kTwoByteChars holds those of two UTF-8 bytes
// (U+0080 to U+07FF), by (lead - 0xC2) << 6 | (second byte & 0x3F); kE2Chars those of three
// beginning E2 (U+2000 to U+2FFF), by (second & 0x3F) << 6 | (third & 0x3F).
extern const std::array<unsigned char, 0x800 - 0x80> kTwoByteChars;
extern const std::array<unsigned char, 0x3000 - 0x2000> kE2Chars;

// The same bytes for the AVX2 kernel, which looks each character up by the 16-bit word w of its
// first two UTF-8 bytes (the first in the low bits), at bytes[kWordCharsPad + w]: an ASCII
// character that stands for itself and needs no other care (0x01 to 0x09, 0x20 to 0x7E)
// whatever follows it; CR as 0x0D when LF follows; a character of two bytes as above. One of
// three bytes beginning E2 is found by its third byte (low) and its second (high), and an LF by
// itself (low) and the byte before it (high), as 0x20 (the type of the line it begins) when that
// is CR: words that begin no character. 0 for none; kWordCharsPad zero bytes on each side, so
// that the 4 bytes around any entry may be read. Only in a build with the AVX2 kernel.
inline constexpr std::size_t kWordCharsPad = 3;
struct WordChars {
    unsigned char bytes[kWordCharsPad + 0x10000 + kWordCharsPad];
};
extern const WordChars kWordChars;
