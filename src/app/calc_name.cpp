#include "app/calc_name.h"

#include "app/shown_name.h"
#include "app/status.h"
#include "core/utf8_encoder.h"

#include <cstring>

int CalcName(const char* source, std::size_t length, bool utf8, const char* what, char (&name)[9],
             std::size_t& used)
{
    std::memset(name, 0, sizeof name);
    used = length < 8 ? length : 8;
    char why[kUtf8WhatSize], shown[kShownNameSize];
    if (!utf8)
        std::memcpy(name, source, used);
    else if (!Utf8Name2VarName({source, length}, name, used, why))
        return Fail(kRefused, "ERROR: %s %s: %s\n", what, ShownName({source, length}, shown, true), why);
    return kSuccess;
}

int FolderName(const char* source, bool utf8, char (&folder)[9])
{
    if (!source) {
        std::memcpy(folder, "main", 5);
        return kSuccess;
    }
    std::size_t used;
    return CalcName(source, std::strlen(source), utf8, "folder name", folder, used);
}
