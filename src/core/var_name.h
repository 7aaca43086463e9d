#pragma once

// Variable names the calculator itself accepts: at most 8 characters, each a lower-case letter
// (a to z, and its Greek and accented lower-case letters but for pi), a digit or _, the first a
// letter. The console program stores any name of up to 8 bytes; these propose and check one a
// student can also type on the calculator.

#include <cstddef>
#include <string_view>

// Room for such a name as UTF-8, its closing NUL included: each of its characters takes one or
// two bytes.
inline constexpr std::size_t kVarNameSize = 8 * 2 + 1;

// Fills `name` with the UTF-8 name proposed for the file named `file_name` (UTF-8; what follows
// the last / or \ and precedes its last dot, a dot opening it kept): its letters made lower-case,
// a letter the calculator lacks as the closest one it has (ř as r), digits kept, every other run
// of characters as one _; what precedes its first letter is dropped, and no _ ends it. Kept
// within 8 characters by cutting before a run of digits that ends it ("chapter10" gives
// chapte10), else at the end; with no letter, t and its first digits ("2024" gives t2024);
// with neither, text1. With `ascii`, for a name stored as the bytes it is, an accented letter is
// its letter (é as e, æ as ae, ß as ss) and a Greek one is no letter. A name the calculator keeps
// for itself, or one whose numbered parts (-s) may be, is passed over for that name followed by
// the smallest number from 1 that makes one it does not keep, cut before the number to fit 8
// characters (sin as sin1, zoomtrig as zoomtri1, y as y100); `passed_over`, room for
// kVarNameSize bytes, then gets the name passed over, else is made empty. The name is always one
// VarNameProblem accepts.
void ProposeVarName(std::string_view file_name, char (&name)[kVarNameSize], bool ascii = false,
                    char* passed_over = nullptr);

// Null when the calculator accepts the UTF-8 variable name `name`, else why not, as a phrase
// that follows the name ("is empty", "does not begin with a letter", "is a name the calculator
// keeps for itself", ...).
const char* VarNameProblem(std::string_view name);
