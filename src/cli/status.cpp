#include "cli/status.h"

#include <cstdarg>
#include <cstdio>

int Fail(ExitStatus status, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    return status;
}
