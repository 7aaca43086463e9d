#pragma once

// A text too long for one variable, cut into parts that each fill one.

#include "core/byte_encoder.h"

#include <cstddef>
#include <span>

// Where the part of `text` that begins at `start` ends, so that it stores in one variable:
// after the last line break that lets it fit, or, when its first line alone does not fit,
// after as many characters as fit. A character that cannot be stored ends the part after it,
// where its encoder refuses it. The text is UTF-8 with `utf8` (with `replace`, a character the
// calculator lacks taking what ReplacementBytes stores for it), else taken as
// TextFile2DataBuffer takes it with `breaks`; `start` is 0 or an end this gave.
std::size_t TextPartEnd(std::span<const unsigned char> text, std::size_t start, bool utf8, LineBreaks breaks,
                        bool replace = false);

// Fills `part` with the name of part `k` (from 0) of `parts` variables named after `name` (a
// NUL-terminated calculator name of at most 8 bytes): `name` itself for a single part, else
// name1, name2, ..., the name shortened so that name and number fit in 8 bytes.
void PartName(const char* name, std::size_t parts, std::size_t k, char (&part)[9]);
