#pragma once

// The steps of Bytes2Files that differ between systems, one implementation per system
// (safe_output_posix.cpp, safe_output_windows.cpp); safe_output.cpp puts them in order.

#include "cli/safe_output.h"

#include <cstddef>

// How an output is put in place once every one is ready.
enum class Way {
    temporary,  // a new file beside the target, renamed over it
    device,     // something other than a regular file, written directly
    in_place,   // a regular file whose directory takes no new file, emptied and written
    stream,     // an open stream, written
};

struct Plan;

// Room for the plans of `n` outputs, with their temporary files watched until the run ends;
// null if no memory is left.
Plan* NewPlans(std::size_t n);

// Ends the watch and frees the plans, each already released, with signals let through.
void DeletePlans(Plan* plans, std::size_t n);

Plan& PlanAt(Plan* plans, std::size_t i);
Way WayOf(const Plan& plan);

// Settles how `out` is written and, for a file, writes and syncs its temporary file.
OutputStatus Prepare(const Output& out, Plan& plan);

// Writes `out` to the stream, device or file in place that `plan` holds.
OutputStatus WriteDirect(const Output& out, Plan& plan);

// Gives the temporary file of `plan` its target's name, keeping the file it replaces under a
// hidden name beside it; on failure everything is as before.
OutputStatus Swap(const Output& out, Plan& plan);

// After Swap: puts the old file back in place, or removes the new one where none was.
void Undo(Plan& plan);

// After every Swap succeeded: removes the old file kept aside.
void Settle(Plan& plan);

// Removes what `plan` still holds: a temporary file not renamed, a file left open.
void Release(Plan& plan);

// Forgets the system's last error, then writes to `out` (room for `size` bytes) why the step that
// failed since did, as the system words it ("Permission denied"), or "" when it gave no reason.
void ForgetSystemError();
void DescribeSystemError(char* out, std::size_t size);

// Holds, then lets through, the signals (or console events) that end the run.
void HoldSignals();
void ReleaseSignals();
