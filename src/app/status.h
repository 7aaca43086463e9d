#pragma once

// The program's exit statuses, and the two calls by which the shared layer reports. The layer
// defines neither call: each front end that links it supplies both (the console program in
// src/cli/status.cpp, the page in web/sorvel_web.cpp).

enum ExitStatus : int {
    kSuccess = 0,
    kUsage = 1,        // a wrong option or number of operands
    kCannotRead = 2,   // input not opened, or a read failed
    kTooBig = 3,
    kNoImage = 4,      // no memory, or data too long for the file
    kCannotWrite = 5,  // output not created, or not written completely
    kRefused = 6,      // a text, a name or a variable file that cannot be taken
};

// Reports a failure in its one line and returns its status: the console program prints it on
// standard output (on standard error where standard output takes nothing); the web page keeps it
// for its script.
[[gnu::format(printf, 2, 3)]] int Fail(ExitStatus status, const char* format, ...);

// Reports a line that goes to standard error: a failure's precise reason before its line, or a
// note after success.
[[gnu::format(printf, 1, 2)]] void Note(const char* format, ...);
