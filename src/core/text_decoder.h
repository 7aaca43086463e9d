#pragma once

// A text variable's data back to text.

#include <cstddef>
#include <span>
#include <string_view>

// The most bytes DataBuffer2Text writes for a byte of data: a calculator character's longest
// UTF-8 form.
inline constexpr std::size_t kTextBytesPerDataByte = 5;

// Writes to `text`, which has room for kTextBytesPerDataByte bytes per byte of `data`, the
// lines of text variable data `data` (which IsTextData accepts), joined by `line_break`, none
// after the last: a line-type byte 0x20 is dropped, 0x0C becomes a form feed at the line's
// start, any other line-type byte is kept as the line's first character; every other byte
// is written as it is, or, with `utf8`, as its canonical UTF-8 form. Returns the bytes written.
std::size_t DataBuffer2Text(std::span<const unsigned char> data, bool utf8,
                            std::string_view line_break, unsigned char* text);

// Writes calculator name `name` (NUL-terminated, at most 8 bytes) as text to `text`, which has
// room for 8 * kTextBytesPerDataByte bytes: each byte as it is, or, with `utf8`, as its canonical
// UTF-8 form. Returns the bytes written.
std::size_t CalcName2Text(const char* name, bool utf8, char* text);
