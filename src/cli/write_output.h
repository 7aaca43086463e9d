#pragma once

#include "cli/safe_output.h"

#include <span>

// Reports how an output with the path `shown` was written; returns the exit status.
int ReportOutput(OutputStatus status, const char* shown);

// Puts `bytes` at `path` safely, reporting a failure with the path as `shown`; returns the exit
// status.
int WriteOutput(const char* path, const char* shown, std::span<const unsigned char> bytes);
