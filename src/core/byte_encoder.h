#pragma once

// The text encoder of the default mode: a text's bytes as they are, but for its line breaks.

#include "core/text_data.h"

#include <span>

// How the text's line breaks reach the encoder: each one a single LF (the Windows runtime's
// text mode has made CR LF pairs LF), or as on disk, where the LF of a CR LF pair follows its CR.
enum class LineBreaks { lf, crlf_or_lf };

// The text of a file's bytes as a Windows text file is read: up to its first Ctrl-Z (0x1A).
std::span<const unsigned char> TextUpToCtrlZ(std::span<const unsigned char> file);

// Encodes `text` as a text variable's whole data: 0x00 0x01 0x20, the text with each line break
// as 0x0D 0x20 and each 0xFF as 0x00, then 0x00 0xE0. too_big when the text takes more than
// kMaxTextSize bytes (past kMaxStoredText, the file writer refuses it); nothing is ever stored
// past position 65,531.
EncodeResult TextFile2DataBuffer(std::span<const unsigned char> text, LineBreaks breaks,
                                 std::span<unsigned char, kDataBufferSize> data);

// TextFile2DataBuffer for the part of `text` from byte `from` (0, or the end of a part before)
// in one variable of a text stored in parts: too_big past kMaxStoredText bytes, with the part
// that one variable holds (EncodeResult).
EncodeResult TextPart2DataBuffer(std::span<const unsigned char> text, LineBreaks breaks,
                                 std::span<unsigned char, kDataBufferSize> data, std::size_t from);
