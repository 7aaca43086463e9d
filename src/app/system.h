#pragma once

// What differs between the systems the program runs on, in one place.

#ifdef _WIN32
// A backslash divides a path too.
inline constexpr bool kWindows = true;
// The line break of a text file that -x writes.
inline constexpr const char* kLineBreak = "\r\n";
// Without -u, a text is read through the runtime's text mode, which makes a CR LF pair LF and
// ends the text at a Ctrl-Z; with -u, and on other systems, it is read as it is on disk.
inline constexpr bool kTextAsOnDisk = false;
// What a file name cannot hold besides control characters: separators, a drive, wildcards, pipes.
inline constexpr const char* kUnsafeInNames = "/\\:<>\"|?*";
#else
inline constexpr bool kWindows = false;
inline constexpr const char* kLineBreak = "\n";
inline constexpr bool kTextAsOnDisk = true;
inline constexpr const char* kUnsafeInNames = "/\\";
#endif
