#pragma once

#include <span>

// Puts `bytes` at `path` safely, reporting a failure with the path as `shown`; returns the exit
// status.
int WriteOutput(const char* path, const char* shown, std::span<const unsigned char> bytes);
