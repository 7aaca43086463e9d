#include "cli/report.h"

#include "app/owned.h"
#include "cli/next_step.h"

#include <cstdio>
#include <cstring>

namespace {

bool g_fail_on_standard_error = false;
const Options* g_options = nullptr;  // set when next steps are given
Owned<char[]> g_steps_given;         // each step given so far, followed by a line break
std::size_t g_steps_size = 0;

// The next step after `message` in this run, as the words of a message are.
int Step(const Message& message, char* line, std::size_t size)
{
    const int prefix = std::snprintf(line, size, "hint: ");
    const int n = NextStep(message, *g_options, size > 6 ? line + 6 : line, size > 6 ? size - 6 : 0);
    return n > 0 ? prefix + n : 0;
}

// A line from `word` (MessageLine, MessageReason or Step) for `message`, in `line` or, longer (a
// long path), in `longer`, or cut short when no memory is left; null when it is empty.
const char* Worded(int (*word)(const Message&, char*, std::size_t), const Message& message, char (&line)[1024],
                   Owned<char[]>& longer)
{
    const int length = word(message, line, sizeof line);
    if (length <= 0)
        return nullptr;
    if (static_cast<std::size_t>(length) >= sizeof line && Grow(longer, length + 1)) {
        word(message, longer.get(), length + 1);
        return longer.get();
    }
    return line;
}

// Prints on `stream` the line that `word` gives for `message`, and a line break; nothing when
// the line is empty.
void Print(std::FILE* stream, int (*word)(const Message&, char*, std::size_t), const Message& message)
{
    char line[1024];
    Owned<char[]> longer;
    if (const char* worded = Worded(word, message, line, longer))
        std::fprintf(stream, "%s\n", worded);
}

// Prints the next step after `message` on standard error, unless it was given before in this run.
void PrintStep(const Message& message)
{
    char line[1024];
    Owned<char[]> longer;
    const char* const step = Worded(Step, message, line, longer);
    if (!step)
        return;
    const std::size_t n = std::strlen(step);
    for (std::size_t at = 0; at < g_steps_size; at += std::strlen(g_steps_given.get() + at) + 1)
        if (!std::strcmp(g_steps_given.get() + at, step))
            return;
    std::fprintf(stderr, "%s\n", step);
    if (Grow(g_steps_given, g_steps_size + n + 1)) {
        std::memcpy(g_steps_given.get() + g_steps_size, step, n + 1);
        g_steps_size += n + 1;
    }
}

} // namespace

void FailOnStandardError()
{
    g_fail_on_standard_error = true;
}

void GiveNextSteps(const Options& options)
{
    g_options = &options;
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
    if (g_options)
        PrintStep(message);
    return status;
}

int PutOut(const char* text)
{
    std::FILE* const out = g_fail_on_standard_error ? stderr : stdout;
    if (std::fputs(text, out) >= 0 && std::fflush(out) == 0 && !std::ferror(out))
        return kSuccess;
    return Report(Say(MessageCode::standard_output));
}

int PutWritten(const char* from, const char* to, const char* first, const char* last, std::size_t count)
{
    const char* const between = count == 1 ? "" : count == 2 ? ", " : " to ";
    const char* const format = "%s -> %s (%s%s%s)\n";
    const int length = std::snprintf(nullptr, 0, format, from, to, first, between, count == 1 ? "" : last);
    Owned<char[]> line;
    if (length < 0 || !Grow(line, length + 1))
        return Report(Say(MessageCode::out_of_memory));
    std::snprintf(line.get(), length + 1, format, from, to, first, between, count == 1 ? "" : last);
    return PutOut(line.get());
}
