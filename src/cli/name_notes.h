#pragma once

// The notes that tell of the names the calculator keeps for itself, once the files are written.

#include "app/message.h"

#include <cstddef>

// Reports on standard error, for each of the `count` text files named `paths` (shown as
// messages show them, in UTF-8 with `utf8`) whose name passed over one the calculator keeps, the
// name it has instead.
void NotePassedOver(char** paths, int count, bool utf8);

// The note that the `length` bytes of `name`, a variable name given for the file `output`, are a
// name the calculator keeps for itself (in any case), or no message when they are not.
Message ReservedNameNote(const char* name, std::size_t length, const char* output);
