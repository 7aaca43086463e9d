#pragma once

#include <cstddef>
#include <string_view>

// Room for a name as ShownName shows it.
inline constexpr std::size_t kShownNameSize = 4 * 64 + 6;

// Name `name` as a message shows it: as it is, or, where it is empty, begins or ends with a space
// or holds a byte below 0x20 or from 0x7F on, in double quotes with each such byte as \xHH (its
// first 64 bytes, then "...").
const char* ShownName(std::string_view name, char (&shown)[kShownNameSize], bool utf8 = false);

// Calculator name `name` as a message shows it: with `utf8` as UTF-8, else its bytes.
const char* ShownCalcName(const char* name, bool utf8, char (&shown)[kShownNameSize]);
