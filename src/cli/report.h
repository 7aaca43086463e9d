#pragma once

// The console program's one path that prints what the program says.

#include "app/message.h"

// From now on, failures are reported on standard error alone: standard output carries data.
void FailOnStandardError();

// Prints `message`, if it says anything, and returns its exit status: a failure's precise reason,
// if it has one, on standard error, then its line on standard output (on standard error where
// standard output takes nothing, or after FailOnStandardError); a note on standard error.
int Report(const Message& message);

// Prints `text` on standard output; a failure is reported on standard error with kCannotWrite.
int PutOut(const char* text);
