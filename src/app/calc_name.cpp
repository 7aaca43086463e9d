#include "app/calc_name.h"

#include "core/reserved_names.h"
#include "core/utf8_encoder.h"
#include "core/var_name.h"

#include <cctype>
#include <cstring>
#include <string_view>

Message CalcName(const char* source, std::size_t length, bool utf8, MessageCode refused, char (&name)[9],
                 std::size_t& used)
{
    std::memset(name, 0, sizeof name);
    used = length < 8 ? length : 8;
    char why[kUtf8WhatSize];
    if (!utf8)
        std::memcpy(name, source, used);
    else if (!Utf8Name2VarName({source, length}, name, used, why)) {
        Message failure = Say(refused, source);
        failure.numbers[0] = static_cast<std::uint32_t>(length);
        return failure;
    }
    return {};
}

Message FolderName(const char* source, bool utf8, char (&folder)[9])
{
    if (!source) {
        std::memcpy(folder, "main", 5);
        return {};
    }
    std::size_t used;
    return CalcName(source, std::strlen(source), utf8, MessageCode::folder_name, folder, used);
}

Message ReservedNameNote(const char* name, std::size_t length, const char* output)
{
    char lower[kVarNameSize] = "";
    for (std::size_t i = 0; i < length && i < sizeof lower - 1; ++i)
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    if (length >= sizeof lower || !IsReservedName(std::string_view(lower, length)))
        return {};
    Message m = Say(MessageCode::reserved_given, output);
    m.other = name;
    m.numbers[0] = static_cast<std::uint32_t>(length);
    return m;
}
