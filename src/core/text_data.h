#pragma once

// A text variable's data: 0x00 0x01, then its lines, each opened by a line-type byte (0x20 for
// a plain line, 0x0C for a page break) and all but the last ended by 0x0D; then 0x00, which ends
// the text, and 0xE0, which closes a text variable's data.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr unsigned char kDataOpening[] = {0x00, 0x01, 0x20};  // the first line plain
inline constexpr unsigned char kDataClose[] = {0x00, 0xE0};
inline constexpr unsigned char kLineEnd = 0x0D;
inline constexpr unsigned char kPlainLine = 0x20;
inline constexpr unsigned char kPageBreak = 0x0C;

// The most data one variable holds.
inline constexpr std::uint32_t kMaxUserDataSize = 65512;
// The most text bytes a variable holds, each line break counting two.
inline constexpr std::size_t kMaxStoredText = kMaxUserDataSize - sizeof kDataOpening - sizeof kDataClose;
// The byte encoder's own limit: texts of kMaxStoredText + 1 bytes up to this one are encoded,
// and then refused by the file writer.
inline constexpr std::size_t kMaxTextSize = 65527;
// The encoders' room for the data.
inline constexpr std::size_t kDataBufferSize = 65536;
using DataBuffer = std::array<unsigned char, kDataBufferSize>;

static_assert(kMaxStoredText == 65507);
static_assert(sizeof kDataOpening + kMaxTextSize + sizeof kDataClose <= kDataBufferSize - 4,
              "the byte encoder never stores past 65,531");

enum class EncodeStatus { ok, too_big, refused };

// What an encoder made of a text from where it began: with ok, the data of the rest of the text;
// with too_big, `end` and `length` are those of the longest part from there that one variable
// holds, as a text of its own (it ends after its last line break, or, when it has none, where
// the variable is full), so that a text may be stored in parts.
struct EncodeResult {
    EncodeStatus status;
    std::uint32_t length;  // bytes of the data filled, closed, unless status is refused
    std::size_t end;       // where that data's text ends; refused, where the character refused is
};

// True when `data` is a text variable's data: at least 4 bytes, ending in 0x00 0xE0.
bool IsTextData(std::span<const unsigned char> data);
