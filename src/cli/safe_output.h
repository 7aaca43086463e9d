#pragma once

#include <cstddef>
#include <span>

enum class OutputStatus {
    written,
    not_created,   // the output could not be opened for writing; nothing was changed
    not_written,   // writing failed; every old file is as it was
    exists,        // an output that must not replace a file found one; nothing was changed
    no_temporary,  // in a group, a file that could only be written in place; nothing was changed
    cut_short,     // writing a file in place failed: the old file is now cut short
};

// One file to write: its path and bytes, and whether it may replace a file already there.
struct Output {
    const char* path;
    std::span<const unsigned char> bytes;
    bool replace = true;
};

// A set of outputs written all or none, prepared one at a time, so that only one output's
// bytes need be held at once.
struct OutputSet;

// Room for a set of `n` outputs, their temporary files watched until it is deleted; null if no
// memory is left.
OutputSet* NewOutputSet(std::size_t n);

// Settles how `out` is written and, for a file, writes its new file beside it now; the bytes of
// a stream, a device or a file written in place are kept until PutOutputs. `out.path` must live
// until then. On failure nothing is changed and the set takes no more.
OutputStatus AddOutput(OutputSet& set, const Output& out);

// Puts every output added in place, all or none (`failed` gets the index of the output that
// failed): a path that leads to an open stream (/dev/stdout, /dev/fd/3, or "-" for standard
// output), a device or a FIFO is written first, directly; last, with signals held, the new files
// take their names, each old one kept under a hidden name until every one has, and put back if
// one fails.
OutputStatus PutOutputs(OutputSet& set, std::size_t& failed);

// Removes the temporary files that no output took the name of, and frees the set.
void DeleteOutputSet(OutputSet* set);

// Puts each output's bytes at its path, all or none, as AddOutput and PutOutputs do: on any
// failure (`failed` gets the index of the output that failed) every file that was there is as it
// was and no new file is left. A link is followed to the file it names, but not out of a
// world-writable sticky directory unless the user or the directory's owner owns it. A lone file
// whose directory refuses a new one for lack of permission is written in place, the one case
// where a failed write damages it (cut_short); in a group such a file is refused. Temporary
// files are removed when the run is interrupted.
OutputStatus Bytes2Files(std::span<const Output> outputs, std::size_t& failed);

// Why the last output that failed did, as the system words it ("No space left on device"), or
// "" when it gave no reason.
const char* OutputFailureReason();
