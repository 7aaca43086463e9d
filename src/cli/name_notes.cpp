#include "cli/name_notes.h"

#include "cli/platform.h"
#include "cli/report.h"
#include "core/var_name.h"

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
