#pragma once

// The text variables of a variable file as -x takes them, for the console program and the web
// page alike: no file is read or written here.

#include "core/text_decoder.h"
#include "core/var_file.h"

#include <cstddef>
#include <span>

// A text variable with the name of the file it goes to.
struct TextFile {
    const Variable* v;
    char file_name[8 * kTextBytesPerDataByte + 5];
};

struct TextList;

// Frees the blocks of `list` at once, rather than when it goes, and leaves it empty.
void FreeTextList(TextList& list);

// The entries of a variable file, and its text variables among them, in malloc'd blocks that the
// list frees when it goes.
struct TextList {
    Variable* entries = nullptr;
    TextFile* texts = nullptr;
    std::size_t count = 0;  // of texts

    TextList() = default;
    TextList(const TextList&) = delete;
    TextList& operator=(const TextList&) = delete;
    ~TextList() { FreeTextList(*this); }
};

// Lists the text variables of variable file `file`, named `shown` in messages, with `utf8` their
// names as UTF-8 file names: sorted by file name, none two of one name (as the file system takes
// names), and, with `names_checked`, each a safe file name in the current directory. Returns
// kSuccess, or reports why the file is refused and returns its status.
int ListTexts(std::span<const unsigned char> file, const char* shown, bool utf8, bool names_checked,
              TextList& list);
