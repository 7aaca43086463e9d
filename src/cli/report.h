#pragma once

// The console program's one path that prints what the program says.

#include "app/message.h"
#include "cli/options.h"

// From now on, failures are reported on standard error alone: standard output carries data.
void FailOnStandardError();

// From now on, each failure is followed by its next step for a run of `options` (which outlive
// the run), on standard error: a command line with options. Without, the lines are as they always
// were.
void GiveNextSteps(const Options& options);

// Prints `message`, if it says anything, and returns its exit status: a failure's precise reason,
// if it has one, on standard error, then its line on standard output (on standard error where
// standard output takes nothing, or after FailOnStandardError), then its next step on standard
// error, once in a run; a note on standard error.
int Report(const Message& message);

// Prints `text` on standard output (on standard error after FailOnStandardError); a failure is
// reported on standard error with kCannotWrite.
int PutOut(const char* text);

// With -v: prints as PutOut does that `from` was written to `to`, as the `count` variables named
// `first` to `last` (as messages show them): "a.txt -> a.89t (a)", "b.txt -> b.89g (b1 to b3)".
int PutWritten(const char* from, const char* to, const char* first, const char* last, std::size_t count);
