#include "cli/write_output.h"

#include "cli/safe_output.h"
#include "cli/status.h"

int ReportOutput(OutputStatus status, const char* shown)
{
    switch (status) {
    case OutputStatus::written: return kSuccess;
    case OutputStatus::not_created: return Fail(kCannotWrite, "ERROR: unable to create %s\n", shown);
    case OutputStatus::no_temporary:
        return Fail(kCannotWrite, "ERROR: unable to create a temporary file beside %s\n", shown);
    case OutputStatus::cut_short: return Fail(kCannotWrite, "ERROR: unable to write %s; it is now cut short\n", shown);
    case OutputStatus::not_written:
    case OutputStatus::exists: break;
    }
    return Fail(kCannotWrite, "ERROR: unable to write %s\n", shown);
}

int WriteOutput(const char* path, const char* shown, std::span<const unsigned char> bytes)
{
    const Output output = {path, bytes};
    std::size_t failed;
    return ReportOutput(Bytes2Files({&output, 1}, failed), shown);
}
