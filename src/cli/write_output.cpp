#include "cli/write_output.h"

#include "cli/safe_output.h"
#include "cli/status.h"

int WriteOutput(const char* path, const char* shown, std::span<const unsigned char> bytes)
{
    switch (Bytes2File(path, bytes)) {
    case OutputStatus::written: return kSuccess;
    case OutputStatus::not_created: return Fail(kCannotWrite, "ERROR: unable to create %s\n", shown);
    case OutputStatus::not_written: break;
    }
    return Fail(kCannotWrite, "ERROR: unable to write %s\n", shown);
}
