#pragma once

// The variable names the calculator keeps for itself: its functions and commands, its system
// variables and functions (xmin, y1 to y99, ...), and x, y and z, which its algebra is written in,
// as data/reserved_names.tsv lists them with their sources.

#include <string_view>

// True when the calculator keeps variable name `name` (UTF-8, lower-case, as a name is stored)
// for itself: sin, ans, xmin, y1, x, ...
bool IsReservedName(std::string_view name);

// True when `name` followed by a number, as -s names the parts of a text (name1, name2, ...),
// may be a name the calculator keeps: y (y1), seed (seed1), ...
bool ReservedWithNumber(std::string_view name);
