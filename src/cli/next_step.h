#pragma once

// What to do next after a refusal, worded for the command line (the page words its own).

#include "app/message.h"
#include "cli/options.h"

#include <cstddef>

// Writes to `line` (room for `size` bytes) the next step after `refused` in a run of `options`,
// as much as fits, NUL-terminated; returns its whole length, as snprintf does: 0 when the line
// of the refusal says it already, or there is none.
int NextStep(const Message& refused, const Options& options, char* line, std::size_t size);
