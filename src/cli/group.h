#pragma once

#include "cli/options.h"

// sorvel -g file.89g [options] file.txt...: each text file as a variable of one group file;
// sorvel -s [options] file.txt [varname]: a text too long for one variable as the parts that
// fill one each, in a group file. Returns the exit status.
int Group(const Options& options, char** operands, int count);
