#pragma once

// The notes that tell of the names the calculator keeps for itself, once the files are written.

#include "app/message.h"

// Reports on standard error, for each of the `count` text files named `paths` (shown as
// messages show them, in UTF-8 with `utf8`) whose name passed over one the calculator keeps, the
// name it has instead.
void NotePassedOver(char** paths, int count, bool utf8);
