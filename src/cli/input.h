#pragma once

// Reading an input file whole, or up to the bytes that decide how it is taken.

#include <cstddef>

// The first bytes of a file, in a malloc'd block that the caller frees.
struct FileBytes {
    unsigned char* bytes = nullptr;  // null when the file did not open or no memory was left
    std::size_t size = 0;
    bool opened = false;
    bool failed = false;  // a read failed before the end of the file and `most`
};

// Reads at most `most` bytes of the file named `path`, in the platform's text mode (CR LF as LF
// and a Ctrl-Z ending the text, on Windows) with `text_mode`, or as they are on disk.
FileBytes ReadFile(const char* path, bool text_mode, std::size_t most);
