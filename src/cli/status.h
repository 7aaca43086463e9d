#pragma once

#include <cstddef>

// The program's exit statuses, and the one path that reports a failure.

enum ExitStatus : int {
    kSuccess = 0,
    kUsage = 1,        // a wrong option or number of operands
    kCannotRead = 2,   // input not opened, or a read failed
    kTooBig = 3,
    kNoImage = 4,      // no memory, or data too long for the file
    kCannotWrite = 5,  // output not created, or not written completely
    kRefused = 6,      // a text, a name or a variable file that cannot be taken
};

// Prints the one line that reports a failure on standard output (on standard error where standard
// output takes nothing) and returns its status.
[[gnu::format(printf, 2, 3)]] int Fail(ExitStatus status, const char* format, ...);

// Prints `text` on standard output; a failure is reported on standard error with kCannotWrite.
int PutOut(const char* text);

#include <string_view>

// Room for a name as ShownName shows it.
inline constexpr std::size_t kShownNameSize = 4 * 64 + 6;

// Name `name` as a message shows it: as it is, or, where it is empty, begins or ends with a space
// or holds a byte below 0x20 or from 0x7F on, in double quotes with each such byte as \xHH (its
// first 64 bytes, then "...").
const char* ShownName(std::string_view name, char (&shown)[kShownNameSize], bool utf8 = false);
