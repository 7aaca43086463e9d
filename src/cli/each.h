#pragma once

#include "cli/options.h"

// sorvel -e [options] file.txt...: each text file as its own variable file in the current
// directory, named as the calculator takes names after the file's name; with -s a text too long
// for one variable as its parts in a group file. All are written or none. Returns the exit
// status.
int Each(const Options& options, char** operands, int count);
