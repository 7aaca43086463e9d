#pragma once

#include "core/model.h"
#include "core/text_encoding.h"

// What the options asked for.
struct Options {
    bool utf8 = false;             // the text and names read as characters: an encoding other than calculator
    Encoding encoding = Encoding::calculator;  // as -u, -r and --encoding give it
    const char* encoding_name = nullptr;       // as --encoding names it
    bool replace = false;          // -r: characters the calculator lacks stored as the closest it has
    bool extract = false;
    bool force = false;            // -x replaces files of the default names
    const Model* model = nullptr;  // as given by -m
    const char* folder = nullptr;  // as given by -f
    bool archive = false;
    const char* group = nullptr;   // the group file -g names
    bool split = false;
    bool each = false;             // -e: every operand a text of its own variable file
    bool verbose = false;          // -v: each file written listed, with what it holds
};
