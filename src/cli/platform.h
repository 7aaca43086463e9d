#pragma once

#include <cstdint>
#include <cstdio>

// What differs between the systems in naming files: on Windows the program takes its arguments
// as UTF-16, handles them as UTF-8 and opens files by their UTF-16 names; elsewhere an argument's
// bytes are its file name.

// Opens the file named `path` with fopen's `mode`; a directory does not open for reading.
std::FILE* OpenFile(const char* path, const char* mode);

// What tells one file from every other: its device, or volume, and its number there.
struct FileId {
    std::uint64_t device, number;
    bool operator==(const FileId&) const = default;
};

// True, with `id`, when `path` leads to a regular file, through any links.
bool RegularFileId(const char* path, FileId& id);

// The bytes by which a program reading its arguments in the ANSI code page would know argument
// `arg`: on Windows its best-fit form in that code page (a new block, never released), and
// `arg` itself elsewhere.
const char* LegacyForm(const char* arg);

// The path named by the ANSI code page bytes `legacy`, as OpenFile takes it: on Windows a new
// block, never released; `legacy` itself elsewhere.
const char* LegacyPath(const char* legacy);

#ifdef _WIN32
#include <string>
// `utf8` as UTF-16; empty if it is not valid UTF-8.
std::wstring Utf8ToWide(const char* utf8);

// The program's UTF-16 arguments as UTF-8, in new blocks that live until the process ends.
char** Utf8Arguments(int argc, wchar_t** wargv);
#endif
