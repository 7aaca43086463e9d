#pragma once

#include "cli/options.h"

// sorvel -x [options] file.89t [out.txt]: the text variables of the variable file
// `operands[0]` as text files; returns the exit status.
int Extract(const Options& options, char** operands, int count);
