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
