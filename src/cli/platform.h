#pragma once

#include <cstdio>

// What differs between the systems in naming files: on Windows the program takes its arguments
// as UTF-16, handles them as UTF-8 and opens files by their UTF-16 names; elsewhere an argument's
// bytes are its file name.

// Opens the file named `path` with fopen's `mode`; a directory does not open for reading.
std::FILE* OpenFile(const char* path, const char* mode);

// The bytes by which a program reading its arguments in the ANSI code page would know argument
// `arg`: on Windows its best-fit form in that code page (a new block, never released), and
// `arg` itself elsewhere.
const char* LegacyForm(const char* arg);

// The path named by the ANSI code page bytes `legacy`, as OpenFile takes it: on Windows a new
// block, never released; `legacy` itself elsewhere.
const char* LegacyPath(const char* legacy);

// True when the last part of `path` stands for a device rather than a file on this system: on
// Windows con, prn, aux, nul, com1 to com9 and lpt1 to lpt9, in any case, also with a dot or
// spaces after them; never elsewhere.
bool IsDeviceName(const char* path);

// Compares file names as the file system does: on Windows, with no regard to case.
int CompareFileNames(const char* a, const char* b);

#ifdef _WIN32
#include <string>
// `utf8` as UTF-16; empty if it is not valid UTF-8.
std::wstring Utf8ToWide(const char* utf8);

// The program's UTF-16 arguments as UTF-8, in new blocks that live until the process ends.
char** Utf8Arguments(int argc, wchar_t** wargv);
#endif
