#pragma once

// The console program's one path that reports a failure: it defines app/status.h's Fail and Note.

#include "app/status.h"

// From now on, failures are reported on standard error alone: standard output carries data.
void FailOnStandardError();

// Prints `text` on standard output; a failure is reported on standard error with kCannotWrite.
int PutOut(const char* text);
