#pragma once

// The names of the variables a text too long for one is cut into.

#include <cstddef>

// Fills `part` with the name of part `k` (from 0) of `parts` variables named after `name` (a
// NUL-terminated calculator name of at most 8 bytes): `name` itself for a single part, else
// name1, name2, ..., the name shortened so that name and number fit in 8 bytes.
void PartName(const char* name, std::size_t parts, std::size_t k, char (&part)[9]);
