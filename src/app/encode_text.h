#pragma once

// A text file's bytes as the calculator's variable data, with the failures the program reports,
// for the console program and the web page alike: no file is read or written here.

#include "core/text_data.h"
#include "core/utf8_encoder.h"
#include "core/var_file.h"

#include <cstdint>
#include <span>

// How a text is taken: its bytes as they are, or as UTF-8 (with `replace`, characters the
// calculator lacks stored as the closest it has); `as_on_disk` when CR LF pairs and a Ctrl-Z
// reach the encoder as they are on disk, rather than through the Windows runtime's text mode.
struct TextMode {
    bool utf8;
    bool replace;
    bool as_on_disk;
};

// The most bytes of a text file that decide how it is taken: every text byte takes at least one
// byte of the data, so a byte more than the largest text tells that it is too big; with -r, a
// dropped mark takes none, and a text of more than kMaxUtf8TextSize bytes is too big.
std::size_t TextBytesRead(const TextMode& mode);

// Encodes `text`, the first bytes of the file named `shown` in messages (`failed` when a read
// failed before its end), into `data`: returns kSuccess with the data's length in `length` and
// what -r replaced in `replaced`, or reports why not, where and why in `problem` for a refused
// character, and returns its status.
int EncodeText(std::span<const unsigned char> text, bool failed, const TextMode& mode, const char* shown,
               DataBuffer& data, std::uint32_t& length, Utf8Replacements& replaced, Utf8Problem& problem);

// Returns a new malloc'd variable file of `model` holding variable `name` in `folder` with
// `attribute` and the data `data`, its size in `image_size`; null, reported, when it cannot be made.
unsigned char* ImageOf(const char* name, std::span<const unsigned char> data, const Model& model,
                       const char* folder, unsigned char attribute, std::uint32_t& image_size);

// Makes `image`, a new malloc'd group file of `model` holding `variables`, its size in
// `image_size`, and returns kSuccess; or reports why not, the file named `shown`, and returns
// the status.
int GroupImageOf(std::span<const Variable> variables, const Model& model, const char* shown,
                 unsigned char*& image, std::uint32_t& image_size);

// Reports, on standard error, how many characters -r replaced in the text named `shown` and
// where the first was, if any.
void NoteReplacements(const Utf8Replacements& replaced, const char* shown);
