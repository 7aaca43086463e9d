#pragma once

#include "cli/options.h"

// Fills `folder` with the folder that -f names, main without it; returns the exit status.
int FolderName(const Options& options, char (&folder)[9]);
