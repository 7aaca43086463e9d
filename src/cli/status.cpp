#include "cli/status.h"

#include <cstdarg>
#include <cstdio>

namespace {

bool g_fail_on_standard_error = false;

} // namespace

void FailOnStandardError()
{
    g_fail_on_standard_error = true;
}

int Fail(ExitStatus status, const char* format, ...)
{
    std::va_list args;
    if (!g_fail_on_standard_error) {
        va_start(args, format);
        std::vprintf(format, args);
        va_end(args);
    }
    // Where standard output takes nothing, the line goes to standard error instead.
    if (g_fail_on_standard_error || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        va_start(args, format);
        std::vfprintf(stderr, format, args);
        va_end(args);
    }
    return status;
}

void Note(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

int PutOut(const char* text)
{
    if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0 && !std::ferror(stdout))
        return kSuccess;
    std::fputs("ERROR: unable to write to standard output\n", stderr);
    return kCannotWrite;
}
