#include "cli/write_output.h"

#include "cli/report.h"
#include "cli/safe_output.h"

Message OutputFailure(OutputStatus status, const char* shown)
{
    MessageCode code = MessageCode::cannot_write;
    switch (status) {
    case OutputStatus::written: return {};
    case OutputStatus::not_created: code = MessageCode::cannot_create; break;
    case OutputStatus::no_temporary: code = MessageCode::no_temporary; break;
    case OutputStatus::cut_short: code = MessageCode::cut_short; break;
    case OutputStatus::not_written:
    case OutputStatus::exists: break;
    }
    Message failure = Say(code, shown);
    failure.detail = OutputFailureReason();
    return failure;
}

int WriteOutput(const char* path, const char* shown, std::span<const unsigned char> bytes)
{
    const Output output = {path, bytes};
    std::size_t failed;
    return Report(OutputFailure(Bytes2Files({&output, 1}, failed), shown));
}
