#pragma once

// The encoding a text is read in, as -u, -r and --encoding give it.

#include "cli/options.h"

// The value getopt_long gives for --encoding, which has no short form.
inline constexpr int kEncodingOption = 0x100;

// Takes option `c`, -u, -r or --encoding with `value`, into `options`: -u is --encoding=utf-8,
// -r reads UTF-8 unless an encoding is given; the last encoding given counts. Returns kSuccess,
// or reports why the option is refused and returns the status.
int TakeEncodingOption(int c, const char* value, Options& options);

// True when -x writes the text variables in the encoding that `options` name: UTF-8, or the
// calculator's bytes.
bool ExtractWrites(const Options& options);
