#pragma once

#include "cli/options.h"

// sorvel [options] file.txt [varname]: the text file `operands[0]` as a calculator text variable
// file; returns the exit status.
int Convert(const Options& options, char** operands, int count);
