#pragma once

#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

struct RunResult {
    int status;  // the exit status, or minus the signal that ended the run
    std::string out, err;
};

// Runs command in dir, its standard output and error caught in files under
// logs, its file size limited to file_size_limit bytes; waits for its end.
// With `wine`, command runs the Windows program under wine: it starts with
// SIGXFSZ ignored, as Windows has no such signal, and a run that wine failed
// to start (status 1 without a byte of output, which the program never gives)
// is made once more.
RunResult RunProgram(const std::vector<std::string>& command, const std::filesystem::path& dir,
                     const std::filesystem::path& logs, rlim_t file_size_limit = RLIM_INFINITY,
                     bool wine = false);

// The whole content of a file; empty if it cannot be read.
std::string Slurp(const std::filesystem::path& path);

// A message as the console gets it: Windows ends its lines with CR LF.
std::string ConsoleLines(std::string s, bool windows);
