#pragma once

#include "text_encoder.h"

#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

// Room for the text of a refusal, its closing NUL included.
inline constexpr std::size_t kUtf8WhatSize = 64;

// The canonical UTF-8 form of calculator byte `byte` (one or two code points).
std::string_view CalcByte2Utf8(unsigned char byte);

// Where and why a UTF-8 text or name was refused.
struct Utf8Problem {
    std::uint32_t line = 0, column = 0;  // from 1; the column counts code points, a BOM not counted
    char what[kUtf8WhatSize] = "";       // "malformed UTF-8: C3", "no calculator character for U+20AC (€)", ...
};

// Encodes the rest of the UTF-8 stream `in` (opened in binary) as a text variable's data in `data`:
// status ok with the data length; too_big once the stored bytes (each line break counting two) pass
// 65,507 (the rest unread); read_failed; or refused with `problem` filled; by either kernel alike.
EncodeResult Utf8File2DataBuffer(std::FILE* in, std::span<unsigned char, kDataBufferSize> data,
                                 Utf8Problem& problem, Kernel kernel = Kernel::fastest);

// Maps the UTF-8 variable name `name` to calculator bytes in `var_name`, NUL-terminated, keeping
// its first 8 calculator characters (what follows is not read); `used` gets the number of bytes of
// `name` those characters took. False, with `what` filled, when a character cannot be mapped.
bool Utf8Name2VarName(std::string_view name, char (&var_name)[9], std::size_t& used,
                      char (&what)[kUtf8WhatSize]);
