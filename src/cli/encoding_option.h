#pragma once

// The encoding a text is read in, as -u, -r and --encoding give it.

#include "app/message.h"
#include "cli/options.h"

// The value getopt_long gives for --encoding, which has no short form.
inline constexpr int kEncodingOption = 0x100;

// Takes option `c`, -u, -r or --encoding with `value`, into `options`: -u is --encoding=utf-8,
// -r reads UTF-8 unless an encoding is given; the last encoding given counts. Returns why the
// option is refused, or no message.
Message TakeEncodingOption(int c, const char* value, Options& options);

// The refusal of option -`option` with --encoding=`name`; `encoding_first` when --encoding came
// first on the command line.
Message EncodingClash(int option, const char* name, bool encoding_first);

// True when -x writes the text variables in the encoding that `options` name: UTF-8, or the
// calculator's bytes.
bool ExtractWrites(const Options& options);
