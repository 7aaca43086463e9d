#pragma once

#include "core/var_file.h"

// What the options asked for.
struct Options {
    bool utf8 = false;
    bool extract = false;
    const Model* model = nullptr;  // as given by -m
};
