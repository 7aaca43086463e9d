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

// Room for what a kind of replacement shows of what was replaced, and of what it became.
inline constexpr std::size_t kReplacedSize = 24;

// One kind of replacement: a character the calculator lacks, or a run of superscripts written as
// an exponent, and what it was stored as.
struct ReplacedKind {
    std::uint32_t count;
    std::uint8_t from_size, to_size;
    char from[kReplacedSize];         // UTF-8 as written ("½", "⁻⁷"), "U+200B" for one that shows
                                      // nothing
    unsigned char to[kReplacedSize];  // calculator bytes ("1/2", "^-7"), a fraction without the +
                                      // put before it after a digit; none when dropped
};

// The most kinds of replacement a text's note names.
inline constexpr std::size_t kNamedKinds = 3;

// What storing a text with replacements did: how many replacements, and the kinds most frequent
// first (the first met first among equals).
struct Utf8Replacements {
    std::uint32_t count = 0;
    std::uint32_t kinds = 0;  // kinds of replacement; `most` holds the most frequent of them
    ReplacedKind most[kNamedKinds];
};

// The most kinds of replacement counted one by one in a text; those met after them, and runs of
// superscripts longer than kReplacedSize either way, are counted in the whole only.
inline constexpr std::size_t kTalliedKinds = 64;

// Replacements counted as a text is stored, kind by kind in the order first met; those since the
// last line break before the last one are pending until the encoder knows that the part of the
// text it stores holds them.
struct ReplacementTally {
    std::uint32_t count = 0, pending = 0;
    std::uint32_t kinds = 0;  // in `kind`
    bool more_kinds = false;  // a kind not in `kind`
    std::size_t mark = 0;     // where the last replacement ended
    std::uint8_t recent[kTalliedKinds];  // by a hash of `from`, the kind last met of it, once
                                         // there is one
    ReplacedKind kind[kTalliedKinds];
    std::uint32_t kind_pending[kTalliedKinds];
};

// What `tally` counted, for a note.
void SummarizeReplacements(const ReplacementTally& tally, Utf8Replacements& replaced);

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

// The encoder's kernels: one_at_a_time takes every character through the exact, general path,
// counting lines and columns as it goes; words takes runs of plain text, line breaks and common
// characters a word at a time, avx2 32 bytes at a time, each handing the rest to the general
// path. All give the same data or refusal; tests run each.
enum class Utf8Kernel { one_at_a_time, words, avx2 };

// The kernels this build has and this machine runs, the fastest last.
std::span<const Utf8Kernel> Utf8Kernels();

// Encodes UTF-8 text `text` from byte `from` (0, or the end of a part before) as a text
// variable's whole data: a byte order mark at the start is skipped; CR LF, LF and a lone CR are
// each a line break, and a form feed opening a line (or the part) makes it a page break; every
// other character, or letter and combining mark that make one, is stored as the calculator byte
// it stands for. too_big as soon as more than kMaxStoredText bytes would be stored (each line
// break counting two), the rest not looked at, with the part that one variable holds
// (EncodeResult); refused, with `problem` filled (its place in the whole text), at malformed
// UTF-8, a character the calculator lacks or a NUL. With `replaced`, a character the calculator
// lacks is stored as ReplacementOf has it instead, a vulgar fraction after a digit with a +
// before it, and a run of superscripts one of which it lacks as ^ and their plain characters
// (in parentheses unless they are one character, a number or a parenthesis), each counted in
// `replaced` as far as that part goes. By `kernel`, the fastest unless a test picks one.
EncodeResult Utf8File2DataBuffer(std::span<const unsigned char> text,
                                 std::span<unsigned char, kDataBufferSize> data, Utf8Problem& problem,
                                 ReplacementTally* replaced = nullptr, std::size_t from = 0,
                                 Utf8Kernel kernel = Utf8Kernels().back());

// Maps the UTF-8 variable name `name` to calculator bytes in `var_name`, NUL-terminated, keeping
// its first 8 calculator characters (what follows is not read); `used` gets the number of bytes of
// `name` those characters took. False, with `what` filled, when a character cannot be mapped or
// is a control character, which no file name should hold.
bool Utf8Name2VarName(std::string_view name, char (&var_name)[9], std::size_t& used,
                      char (&what)[kUtf8WhatSize]);
