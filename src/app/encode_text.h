#pragma once

// A text file's bytes as the calculator's variable data, with the failures the program reports,
// for the console program and the web page alike: no file is read or written here.

#include "app/message.h"
#include "app/owned.h"
#include "core/text_data.h"
#include "core/text_encoding.h"
#include "core/utf8_encoder.h"
#include "core/var_file.h"

#include <cstdint>
#include <span>

// The most variables -s cuts one text into, so that a part's number takes two digits.
inline constexpr std::size_t kMaxParts = 99;

// How a text is taken: its bytes as they are, or with `utf8` as characters, in `encoding` (with
// `replace`, characters the calculator lacks stored as the closest it has); `as_on_disk` when
// CR LF pairs and a Ctrl-Z reach the encoder as they are on disk, rather than through the Windows
// runtime's text mode; `in_parts` with -g and -s, where a text must fit the variables it is cut
// into and one too big is named in its message (without, a text the byte encoder takes goes to
// the file writer, which tells by how much it is too long).
struct TextMode {
    bool utf8;
    bool replace;
    bool as_on_disk;
    bool in_parts = false;
    Encoding encoding = Encoding::utf8;  // with `utf8`: utf8, windows1252, utf16 or automatic
};

// The most bytes of a text file that decide how it is taken into at most `parts` variables: a
// stored byte takes at most 5 bytes of UTF-8 text (see kMaxUtf8TextSize; of UTF-16, 4; of
// Windows-1252, 1) and at least one of any text, so a byte more than they take, or than the byte
// encoder takes, tells that it is too big; with -r, a dropped mark takes none, and a text longer
// than this bound less one is too big.
std::size_t TextBytesRead(const TextMode& mode, std::size_t parts = 1);

// The encoding in which EncodeText reads `text`, the first bytes of a text file (as many as
// TextBytesRead gives for `mode` and `parts`, or all of a shorter file): `mode.encoding`, or
// with `automatic` the one DetectEncoding finds; calculator without `mode.utf8`.
Encoding EncodingOf(std::span<const unsigned char> text, const TextMode& mode, std::size_t parts = 1);

// A text encoded as the data of one or more variables.
struct EncodedText {
    std::span<const unsigned char> data;  // every variable's data, one after another
    Owned<unsigned char[]> block;          // holds `data` when there are several variables
    std::uint32_t lengths[kMaxParts];      // each variable's data
    std::size_t parts = 0;
    Utf8Replacements replaced;             // what -r replaced
    Utf8Problem problem;                   // where and why a character was refused
};

// Refuses a text that begins with the signature of a variable file of the family: the file
// named `shown` is such a file, never a text to convert. Returns nothing, or the refusal.
Message RefuseVariableFile(std::span<const unsigned char> text, const char* shown);

// Encodes `text`, the first bytes of the file named `shown` in messages (`failed` when a read
// failed before its end), after RefuseVariableFile, as the data of at most `most_parts`
// variables, each but the last cut after the last line break that lets it fit: one variable's
// data in `buffer`, several in a block of their own. Returns nothing, or why not, in the one
// order of failures: too big, a refused character (unless the read failed, and with the
// encoding the text looks like), a failed read.
Message EncodeText(std::span<const unsigned char> text, bool failed, const TextMode& mode, std::size_t most_parts,
                   const char* shown, DataBuffer& buffer, EncodedText& out);

// Makes `image`, a new variable file of `model` holding variable `name` in `folder` with
// `attribute` and the data `data`, its size in `image_size`; returns nothing, or why not.
Message ImageOf(const char* name, std::span<const unsigned char> data, const Model& model, const char* folder,
                unsigned char attribute, Owned<unsigned char[]>& image, std::uint32_t& image_size);

// Makes `image`, a new group file of `model` holding `variables`, its size in `image_size`;
// returns nothing, or why not, the file named `shown`.
Message GroupImageOf(std::span<const Variable> variables, const Model& model, const char* shown,
                     Owned<unsigned char[]>& image, std::uint32_t& image_size);

// The note that says what -r replaced in the text named `shown` (`replaced`, which it points
// to): how many replacements, and the kinds met most often; nothing when none was.
Message ReplacementsNote(const Utf8Replacements& replaced, const char* shown);
