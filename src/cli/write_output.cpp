#include "cli/write_output.h"

#include "cli/report.h"
#include "cli/safe_output.h"

Message OutputFailure(OutputStatus status, const char* shown)
{
    switch (status) {
    case OutputStatus::written: return {};
    case OutputStatus::not_created: return Say(MessageCode::cannot_create, shown);
    case OutputStatus::no_temporary: return Say(MessageCode::no_temporary, shown);
    case OutputStatus::cut_short: return Say(MessageCode::cut_short, shown);
    case OutputStatus::not_written:
    case OutputStatus::exists: break;
    }
    return Say(MessageCode::cannot_write, shown);
}

int WriteOutput(const char* path, const char* shown, std::span<const unsigned char> bytes)
{
    const Output output = {path, bytes};
    std::size_t failed;
    return Report(OutputFailure(Bytes2Files({&output, 1}, failed), shown));
}
