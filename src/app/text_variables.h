#pragma once

// The variables that texts give, for the console program and the page alike: a text's parts
// named as -s names them, and the rule that no two variables of one file share a name.

#include "app/encode_text.h"
#include "app/message.h"
#include "core/var_file.h"

#include <cstddef>
#include <span>

// Fills `variables` (room for encoded.parts) with the variables of the parts of `encoded`: text
// variables in `folder` with `attribute`, named after `name` as PartName names them, each with
// its part's data in encoded.data.
void PartVariables(const EncodedText& encoded, const char (&name)[9], const char (&folder)[9],
                   unsigned char attribute, Variable* variables);

// True when a variable of `added` has the name of one of `earlier`: `added_at` gets the first of
// `added` that has, `earlier_at` the first of `earlier` of that name.
bool NameTaken(std::span<const Variable> earlier, std::span<const Variable> added, std::size_t& earlier_at,
               std::size_t& added_at);

// The refusal of the texts `first` and `second`, as messages show them, which give two variables
// named `name` (shown as UTF-8 with `utf8`).
Message TwoTextsOneName(const char* first, const char* second, const char (&name)[9], bool utf8);
