#pragma once

// Calculator names, of variables and folders, from the command line or the page, and the note
// on a name given that the calculator keeps for itself.

#include "app/message.h"

#include <cstddef>

// Fills `name` with the calculator name that the first `length` bytes of `source` give: their
// first 8 calculator characters with -u, else their first 8 bytes, NUL-terminated; `used` gets
// the bytes of `source` those take. Returns nothing, or, as `refused` (variable_name or
// folder_name), why a name cannot be stored.
Message CalcName(const char* source, std::size_t length, bool utf8, MessageCode refused, char (&name)[9],
                 std::size_t& used);

// Fills `folder` with the calculator folder `source` names (its first 8 characters with -u, else
// bytes), main when it is null; returns nothing, or why the folder cannot be stored.
Message FolderName(const char* source, bool utf8, char (&folder)[9]);

// The note that the `length` bytes of `name`, a variable name given for the file `output`, are a
// name the calculator keeps for itself (in any case), or no message when they are not.
Message ReservedNameNote(const char* name, std::size_t length, const char* output);
