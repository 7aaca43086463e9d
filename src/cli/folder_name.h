#pragma once

#include "app/message.h"
#include "cli/options.h"

// Fills `folder` with the folder that -f names, main without it; returns nothing, or why the
// folder cannot be stored.
Message FolderName(const Options& options, char (&folder)[9]);
