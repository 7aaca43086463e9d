#pragma once

// Texts saved in the encodings teachers' files come in: which one a text is, and its characters
// as UTF-8, so that the UTF-8 encoder stores them through the one character table.

#include "core/utf8_encoder.h"

#include <cstddef>
#include <span>

// How a text's bytes are read: as the calculator's own bytes, or as characters in UTF-8,
// Windows-1252 (what Windows saves in western Europe and the Americas) or UTF-16 (in the byte
// order its byte order mark gives); `automatic` reads each text as DetectEncoding finds it.
enum class Encoding : unsigned char { calculator, utf8, windows1252, utf16, automatic };

// The encoding text `text` is read in: UTF-16 when it opens with a byte order mark of either
// order, else UTF-8 when it is well-formed UTF-8, else Windows-1252. With `cut`, `text` being the
// start of a longer text, a character cut short at its end counts as well-formed.
Encoding DetectEncoding(std::span<const unsigned char> text, bool cut);

// The most bytes Utf8Of writes for `size` bytes of text: 3 for each byte of Windows-1252, and
// less for UTF-16.
constexpr std::size_t Utf8Room(std::size_t size)
{
    return 3 * size;
}

// Writes text `text` in `encoding` (windows1252, or utf16: little-endian unless a byte order mark
// says otherwise, the mark itself written as UTF-8's) as UTF-8 to `utf8`, which has room for
// Utf8Room(text.size()) bytes, and returns the bytes written. A byte or unit that stands for no
// character (one of the five bytes Windows-1252 leaves undefined, a lone surrogate, a last lone
// byte) is written as 0xFF, which no UTF-8 holds, so that the UTF-8 encoder refuses it where it
// stands; `bad`, empty before, gets what the first of them was ("undefined in Windows-1252: 81",
// "malformed UTF-16: D800"), or is left empty.
std::size_t Utf8Of(std::span<const unsigned char> text, Encoding encoding, unsigned char* utf8,
                   char (&bad)[kUtf8WhatSize]);
