#pragma once

#include "app/message.h"
#include "cli/safe_output.h"

#include <span>

// Why an output with the path `shown` was not written as `status` says, with the system's reason;
// nothing when it was.
Message OutputFailure(OutputStatus status, const char* shown);

// Puts `bytes` at `path` safely, reporting a failure with the path as `shown`; returns the exit
// status.
int WriteOutput(const char* path, const char* shown, std::span<const unsigned char> bytes);
