#pragma once

// Calculator names, of variables and folders, from the command line or the page.

#include <cstddef>

// Fills `name` with the calculator name that the first `length` bytes of `source` give: their
// first 8 calculator characters with -u, else their first 8 bytes, NUL-terminated; `used` gets
// the bytes of `source` those take. Returns the exit status, a name that cannot be stored
// reported as `what` ("variable name", ...).
int CalcName(const char* source, std::size_t length, bool utf8, const char* what, char (&name)[9],
             std::size_t& used);

// Fills `folder` with the calculator folder `source` names (its first 8 characters with -u, else
// bytes), main when it is null; returns the exit status, a folder that cannot be stored reported.
int FolderName(const char* source, bool utf8, char (&folder)[9]);
