#pragma once

// The UTF-8 text encoder: characters stored as the calculator's own bytes.

#include "core/text_data.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Room for the text of a refusal, its closing NUL included.
inline constexpr std::size_t kUtf8WhatSize = 64;

// Why a character of UTF-8 text was refused: its bytes are no UTF-8, it is a NUL, or the
// calculator has no character for it.
enum class Utf8Refusal : unsigned char { none, malformed, nul, no_character };

// Where and why a UTF-8 text or name was refused.
struct Utf8Problem {
    std::uint32_t line = 0, column = 0;  // from 1; the column counts code points, a BOM not counted
    Utf8Refusal kind = Utf8Refusal::none;
    char what[kUtf8WhatSize] = "";       // "malformed UTF-8: C3", "no calculator character for U+20AC (€)", ...
};

// What storing a text with replacements did: how many characters were replaced, and the first.
struct Utf8Replacements {
    std::uint32_t count = 0;
    Utf8Problem first;  // where it was, and what: "U+0159 (ř)"
};

// The most bytes of UTF-8 text that decide how it is taken: no character takes more than 5
// bytes for a stored byte, and the last one is matched with up to 8 bytes after it, so a
// longer text is too big, or refused within these bytes. With replacements this does not hold:
// a dropped mark stores nothing.
inline constexpr std::size_t kMaxUtf8TextSize = 3 + 5 * kMaxStoredText + 8;

// The length of the byte order mark that opens UTF-8 text `text`: 3, or 0 when there is none.
inline std::size_t ByteOrderMarkSize(std::span<const unsigned char> text)
{
    return text.size() >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF ? 3 : 0;
}

// Fills in `where` the line and column, from 1, at which byte `at` of UTF-8 text `text` stands, as
// a refusal counts them: a byte order mark not counted, CR LF one line break; the characters
// before `at` are well-formed.
void Utf8Locate(std::span<const unsigned char> text, std::size_t at, Utf8Problem& where);

// Encodes UTF-8 text `text` as a text variable's whole data: a byte order mark at the start is
// skipped; CR LF, LF and a lone CR are each a line break, and a form feed opening a line makes it
// a page break; every other character, or letter and combining mark that make one, is stored
// as the calculator byte it stands for. too_big as soon as more than kMaxStoredText bytes would
// be stored (each line break counting two), the rest not looked at; refused, with `problem`
// filled, at malformed UTF-8, a character the calculator lacks or a NUL. With `replaced`, a
// character the calculator lacks is stored as ReplacementBytes has it instead, and counted.
EncodeResult Utf8File2DataBuffer(std::span<const unsigned char> text,
                                 std::span<unsigned char, kDataBufferSize> data, Utf8Problem& problem,
                                 Utf8Replacements* replaced = nullptr);

// Maps the UTF-8 variable name `name` to calculator bytes in `var_name`, NUL-terminated, keeping
// its first 8 calculator characters (what follows is not read); `used` gets the number of bytes of
// `name` those characters took. False, with `what` filled, when a character cannot be mapped or
// is a control character, which no file name should hold.
bool Utf8Name2VarName(std::string_view name, char (&var_name)[9], std::size_t& used,
                      char (&what)[kUtf8WhatSize]);
