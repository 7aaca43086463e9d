#pragma once

// The text files of -g, -s and -e, read and named, and the variables they give.

#include "app/encode_text.h"
#include "app/message.h"
#include "app/owned.h"
#include "cli/options.h"
#include "core/utf8_encoder.h"
#include "core/var_file.h"
#include "core/var_name.h"

#include <cstddef>
#include <cstdint>

// Where a variable's data lies in ReadTexts::data.
struct Piece {
    std::size_t at;
    std::uint32_t length;
};

// The texts read so far, and the variables they give.
struct ReadTexts {
    Owned<Variable[]> variables;  // their data set by DataInPlace once every text is read
    Owned<Piece[]> pieces;        // each variable's data
    Owned<std::size_t[]> text_of;  // the text each variable comes from
    std::size_t count = 0;
    Owned<unsigned char[]> data;  // every text's parts' data, one after another
    std::size_t size = 0;
    Owned<const char*[]> shown;   // each text's path as messages give it
    Owned<Utf8Replacements[]> replaced;  // what -r replaced in each text
    std::size_t texts = 0;
};

// Reads the text file `path` (named `shown` in messages) and encodes it as `options` say, as the
// data of at most `most_parts` variables, in `buffer` or a block of `encoded`; returns nothing, or
// why not.
Message ReadText(const Options& options, const char* path, const char* shown, std::size_t most_parts,
                 DataBuffer& buffer, EncodedText& encoded);

// Reads the text file `path` (named `shown` in messages) and adds to `texts` its variable
// `name`, or with -s the parts it needs, name1, name2, ... (the name shortened so that name
// and number fit 8 bytes), each in `folder`; a name that a variable read before has is
// refused. Returns the exit status, a failure reported.
int AddText(ReadTexts& texts, const Options& options, const char* path, const char* shown,
            const char (&name)[9], const char (&folder)[9]);

// Points each variable of `texts` at its data, once every text is read.
void DataInPlace(ReadTexts& texts);

// Fills `file_name` with the UTF-8 name the calculator takes that the file named `path` (UTF-8)
// gives, as ProposeVarName proposes it (in ASCII unless `utf8`, as the page does where a name
// is not read as UTF-8), and `name` with its calculator bytes.
void FileVarName(const char* path, bool utf8, char (&name)[9], char (&file_name)[kVarNameSize]);
