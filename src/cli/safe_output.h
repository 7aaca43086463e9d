#pragma once

#include <cstddef>
#include <span>

enum class OutputStatus {
    written,
    not_created,  // the output could not be opened for writing; nothing was changed
    not_written,  // writing failed; every old file is untouched (unless written in place)
    exists,       // an output that must not replace a file found one; nothing was changed
};

// One file to write: its path and bytes, and whether it may replace a file already there.
struct Output {
    const char* path;
    std::span<const unsigned char> bytes;
    bool replace = true;
};

// Puts each output's bytes at its path, so that a regular file there is either left as it was
// or replaced whole: all the bytes go to new files beside them, which then take their names
// once every one is written; if any fails, none is renamed and `failed` gets its index. A path
// that leads to an open stream (/dev/stdout, /dev/fd/3, or "-" for standard output) is
// written to that stream; a link elsewhere is followed to the file it names, but not out of a
// world-writable sticky directory unless the user or the directory's owner owns it. A device
// or a FIFO is written directly, and so is a file whose directory refuses a new one for lack of
// permission, the one case where a failed write leaves it incomplete. A temporary file is
// removed when the run is interrupted.
OutputStatus Bytes2Files(std::span<const Output> outputs, std::size_t& failed);
