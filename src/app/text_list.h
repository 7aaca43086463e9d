#pragma once

// The text variables of a variable file as -x takes them, for the console program and the web
// page alike: no file is read or written here.

#include "app/message.h"
#include "app/owned.h"
#include "core/text_decoder.h"
#include "core/var_file.h"

#include <cstddef>
#include <span>

// A text variable with the name of the file it goes to.
struct TextFile {
    const Variable* v;
    char file_name[8 * kTextBytesPerDataByte + 5];
};

// The entries of a variable file, and its text variables among them, in blocks the list owns.
struct TextList {
    Owned<Variable[]> entries;
    Owned<TextFile[]> texts;
    std::size_t count = 0;  // of texts
};

// Lists the text variables of variable file `file`, named `shown` in messages, with `utf8` their
// names as UTF-8 file names: sorted by file name, none two of one name (as the file system takes
// names), and, with `names_checked`, each a safe file name in the current directory. Returns
// nothing, or why the file is refused.
Message ListTexts(std::span<const unsigned char> file, const char* shown, bool utf8, bool names_checked,
                  TextList& list);
