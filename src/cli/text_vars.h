#pragma once

// The variables that text files give, read and named for -g, -s and -e.

#include "cli/options.h"
#include "core/utf8_encoder.h"
#include "core/var_file.h"
#include "core/var_name.h"

#include <cstddef>
#include <cstdlib>

// The texts read so far, and the variables they give.
struct Contents {
    Variable* variables = nullptr;
    std::size_t count = 0;
    std::size_t* text_of = nullptr;  // the text each variable comes from
    unsigned char** data = nullptr;  // each text's parts' data, one after another
    const char** shown = nullptr;    // each text's path as messages give it
    Utf8Replacements* replaced = nullptr;  // what -r replaced in each text
    std::size_t texts = 0;

    ~Contents()
    {
        for (std::size_t i = 0; i < texts; ++i)
            std::free(data[i]);
        std::free(variables);
        std::free(text_of);
        std::free(data);
        std::free(shown);
        std::free(replaced);
    }
};

// Reads the text file `path` (named `shown` in messages) and adds to `contents` its variable
// `name`, or with -s the parts it needs, name1, name2, ... (the name shortened so that name
// and number fit 8 bytes), each in `folder`; a name that a variable read before has is
// refused. Returns the exit status.
int AddText(Contents& contents, const Options& options, const char* path, const char* shown,
            const char (&name)[9], const char (&folder)[9]);

// Fills `file_name` with the UTF-8 name the calculator takes that the file named `path` (UTF-8)
// gives, as ProposeVarName proposes it (in ASCII unless `utf8`, as the page does where a name
// is not read as UTF-8), and `name` with its calculator bytes.
void FileVarName(const char* path, bool utf8, char (&name)[9], char (&file_name)[kVarNameSize]);

