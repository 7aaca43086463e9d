#pragma once

#include <span>

enum class OutputStatus {
    written,
    not_created,  // the file could not be opened for writing; nothing was changed
    not_written,  // writing failed; the old file, if any, is untouched (unless written in place)
};

// Puts `bytes` at `path` so that a regular file there is either left as it was or replaced
// whole: the bytes go to a new file beside it, which then takes its name. A link is followed
// to the file it names. A device or a FIFO is written directly, and so is a file whose
// directory takes no new file, the one case where a failed write leaves it incomplete.
OutputStatus Bytes2File(const char* path, std::span<const unsigned char> bytes);
