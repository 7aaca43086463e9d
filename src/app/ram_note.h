#pragma once

// What the calculator's RAM holds, for a note when variables sent unarchived would not fit.

#include "app/message.h"
#include "core/var_file.h"

#include <span>

// The note, after they are written, that `variables` text variables of `bytes` bytes in RAM (each
// one's data and its 2-byte size), written to `shown` (a file, or the files of one run), take
// more of the RAM than `model` leaves to the user, and what to do instead; nothing when they fit.
Message RamNote(std::size_t variables, std::size_t bytes, const Model& model, const char* shown);

// The bytes `variables` take in RAM, as RamNote counts them.
std::size_t RamBytes(std::span<const Variable> variables);
