#pragma once

// Rules for file names on the system the program runs on; no file is touched here.

// True when the last part of `path` stands for a device rather than a file on this system: on
// Windows con, prn, aux, nul, com1 to com9 and lpt1 to lpt9, in any case, also with a dot or
// spaces after them; never elsewhere.
bool IsDeviceName(const char* path);

// Compares file names as the file system does: on Windows, with no regard to case.
int CompareFileNames(const char* a, const char* b);

// True when calculator name `name`, which gives the file name `file_name`, names a file in the
// current directory: no separator, no control character, not . or .., no device.
bool IsSafeFileName(const char* name, const char* file_name);

#ifdef _WIN32
#include <string>
// NUL-terminated `text` in code page `code_page` as UTF-16, with MultiByteToWideChar's `flags`:
// each invalid sequence as U+FFFD without flags, or empty with MB_ERR_INVALID_CHARS.
std::wstring Wide(const char* text, unsigned code_page, unsigned long flags = 0);
#endif
