#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

// Eight bytes as a number, the first in the low bits whatever the machine's byte order, and a
// byte repeated in each of eight: the word-at-a-time scans of the text encoders work on these.
inline std::uint64_t LoadLE64(const unsigned char* at)
{
    std::uint64_t w = 0;
    if constexpr (std::endian::native == std::endian::little)
        std::memcpy(&w, at, 8);
    else
        for (int k = 0; k < 8; ++k)
            w |= std::uint64_t{at[k]} << 8 * k;
    return w;
}
inline constexpr std::uint64_t kOnes = 0x0101010101010101;

// The driver's data buffer; the encoder never stores beyond its first 65,532 bytes.
inline constexpr std::size_t kDataBufferSize = 65536;
using DataBuffer = std::array<unsigned char, kDataBufferSize>;

// The most text bytes a text variable's data holds, each LF counting two.
inline constexpr std::size_t kMaxTextSize = 65527;

enum class EncodeStatus { ok, too_big, read_failed, refused };

struct EncodeResult {
    EncodeStatus status;
    std::uint32_t length;  // bytes of the buffer filled, when status is ok
};

// Opens path as a text file for TextFile2DataBuffer; null if it cannot be opened
// or names a directory.
std::FILE* OpenTextFile(const char* path);

// Encodes the rest of the text stream `in` as the data of a calculator text
// variable; the stream is left open whatever the result.
EncodeResult TextFile2DataBuffer(std::FILE* in, std::span<unsigned char, kDataBufferSize> data);

// How the text's line breaks reach the encoder: each one a single LF (the
// Windows runtime's text mode has made CR LF pairs LF), or as on disk, where the
// LF of a CR LF pair follows its CR.
enum class LineBreaks { lf, crlf_or_lf };

// Which code does the work: plain C++ for any machine (for UTF-8, one character
// at a time), or the fastest this machine runs; both give the same bytes.
enum class Kernel { portable, fastest };

// Stores `text` in the data from position 3 on, each line break as 0x0D 0x20
// and each 0xFF as 0x00, and returns how many bytes that took; anything above
// kMaxTextSize means it does not fit, and the data past position 65,531 stays untouched.
std::size_t TextBytes2DataBuffer(std::span<const unsigned char> text, LineBreaks breaks,
                                 Kernel kernel, std::span<unsigned char, kDataBufferSize> data);

// The most bytes DataBuffer2Text writes for a byte of data: a calculator character's
// longest UTF-8 form.
inline constexpr std::size_t kTextBytesPerDataByte = 5;

// Writes to `text`, which has room for kTextBytesPerDataByte bytes per byte of `data`, the
// lines of text variable data `data` (which IsTextData accepts), joined by `line_break`, none
// after the last: a line-type byte 0x20 is dropped, 0x0C becomes a form feed at the line's
// start, any other line-type byte is kept as the line's first character; every other byte
// is written as it is, or, with `utf8`, as its canonical UTF-8 form. Returns the bytes written.
std::size_t DataBuffer2Text(std::span<const unsigned char> data, bool utf8,
                            std::string_view line_break, unsigned char* text);
