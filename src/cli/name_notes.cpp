#include "cli/name_notes.h"

#include "cli/platform.h"
#include "cli/report.h"
#include "core/reserved_names.h"
#include "core/var_name.h"

#include <cctype>
#include <string_view>

void NotePassedOver(char** paths, int count, bool utf8)
{
    for (int i = 0; i < count; ++i) {
        char name[kVarNameSize], passed_over[kVarNameSize];
        ProposeVarName(paths[i], name, !utf8, passed_over);
        if (!*passed_over)
            continue;
        Message m = Say(MessageCode::reserved_passed_over, utf8 ? paths[i] : LegacyForm(paths[i]));
        m.other = passed_over;
        m.detail = name;
        Report(m);
    }
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
