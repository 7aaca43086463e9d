#include "cli/name_notes.h"

#include "app/status.h"
#include "cli/platform.h"
#include "core/reserved_names.h"
#include "core/var_name.h"

#include <cctype>
#include <string_view>

void NotePassedOver(char** paths, int count, bool utf8)
{
    for (int i = 0; i < count; ++i) {
        char name[kVarNameSize], passed_over[kVarNameSize];
        ProposeVarName(paths[i], name, !utf8, passed_over);
        if (*passed_over)
            Note("%s: %s is a name the calculator keeps for itself; named %s\n",
                 utf8 ? paths[i] : LegacyForm(paths[i]), passed_over, name);
    }
}

void NoteReservedName(const char* name, std::size_t length, const char* output)
{
    char lower[kVarNameSize] = "";
    for (std::size_t i = 0; i < length && i < sizeof lower - 1; ++i)
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    if (length < sizeof lower && IsReservedName(std::string_view(lower, length)))
        Note("%s: %.*s is a name the calculator keeps for itself, which it may refuse; give another name\n", output,
             static_cast<int>(length), name);
}
