#pragma once

// What the calculator's RAM holds, for a note when variables sent unarchived would not fit.

#include "app/message.h"
#include "core/var_file.h"

#include <span>

// The note, after they are written, that `variables`, written to `shown` (a file, or the files
// of one run), take more of the RAM than `model` leaves to the user, and what to do instead;
// nothing when they fit.
Message RamNote(std::span<const Variable> variables, const Model& model, const char* shown);
