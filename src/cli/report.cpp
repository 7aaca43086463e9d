#include "cli/report.h"

#include "app/owned.h"

#include <cstdio>

namespace {

bool g_fail_on_standard_error = false;

// Prints on `stream` the line that `word` (MessageLine or MessageReason) gives for `message`, and
// a line break; nothing when the line is empty.
void Print(std::FILE* stream, int (*word)(const Message&, char*, std::size_t), const Message& message)
{
    char line[1024];
    const int length = word(message, line, sizeof line);
    if (length <= 0)
        return;
    // A longer line (a long path) in a block of its own, or cut short when no memory is left.
    Owned<char[]> longer;
    if (static_cast<std::size_t>(length) >= sizeof line && Grow(longer, length + 1))
        word(message, longer.get(), length + 1);
    std::fprintf(stream, "%s\n", longer ? longer.get() : line);
}

} // namespace

void FailOnStandardError()
{
    g_fail_on_standard_error = true;
}

int Report(const Message& message)
{
    if (!message)
        return kSuccess;
    const ExitStatus status = StatusOf(message.code);
    Print(stderr, MessageReason, message);
    if (status == kSuccess || message.code == MessageCode::standard_output) {
        Print(stderr, MessageLine, message);
        return status;
    }
    if (!g_fail_on_standard_error)
        Print(stdout, MessageLine, message);
    // Where standard output takes nothing, the line goes to standard error instead.
    if (g_fail_on_standard_error || std::fflush(stdout) != 0 || std::ferror(stdout))
        Print(stderr, MessageLine, message);
    return status;
}

int PutOut(const char* text)
{
    if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0 && !std::ferror(stdout))
        return kSuccess;
    return Report(Say(MessageCode::standard_output));
}
