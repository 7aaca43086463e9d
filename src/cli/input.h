#pragma once

// Reading an input file, up to the bytes that decide how it is taken.

#include "app/owned.h"

#include <cstddef>
#include <cstdio>

// The bytes read so far of a file.
struct FileBytes {
    Owned<unsigned char[]> bytes;  // null before the first read and when no memory was left
    std::size_t size = 0;
    bool failed = false;  // a read failed before the end of the file
    bool ended = false;   // the end of the file was reached
};

// Opens the file named `path` for reading, in the platform's text mode (CR LF as LF and a
// Ctrl-Z ending the text, on Windows) with `text_mode`, or as it is on disk; null if it cannot be
// opened or is a directory.
std::FILE* OpenInput(const char* path, bool text_mode);

// Reads on from `file` into `in` until it holds `most` bytes or the file ends or fails; false
// when no memory was left.
bool ReadUpTo(std::FILE* file, FileBytes& in, std::size_t most);
