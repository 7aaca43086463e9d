#include "cli/group.h"

#include "app/calc_name.h"
#include "app/encode_text.h"
#include "app/owned.h"
#include "app/shown_name.h"
#include "cli/folder_name.h"
#include "cli/name_notes.h"
#include "cli/platform.h"
#include "app/ram_note.h"
#include "cli/read_texts.h"
#include "cli/report.h"
#include "cli/write_output.h"

#include <cstdio>
#include <cstring>

int Group(const Options& options, char** operands, int count)
{
    const bool utf8 = options.utf8;
    const Model& model = options.model ? *options.model : kModels[0];
    const char* const group = options.group;
    if (group ? count < 1 : count != 1 && count != 2)
        return Report(Say(group ? MessageCode::usage_group : MessageCode::usage_convert));
    const char* const group_shown = group && !utf8 ? LegacyForm(group) : group;
    const std::size_t group_length = group ? std::strlen(group) : 0;
    if (group && (group_length < 4 || std::strcmp(group + group_length - 4, model.group_extension))) {
        Message refused = Say(MessageCode::group_extension, group_shown);
        refused.model = &model;
        return Report(refused);
    }
    char folder[9];
    if (const Message refused = FolderName(options, folder))
        return Report(refused);

    // A text is named as the calculator takes names after its file's name, unless -s is given
    // one; the file of a text named so goes in the current directory.
    ReadTexts texts;
    char name[9], file_name[kVarNameSize];
    std::size_t used = 0;
    const char* source = file_name;
    for (int i = 0; i < (group ? count : 1); ++i) {
        const char* const shown = utf8 ? operands[i] : LegacyForm(operands[i]);
        if (!group && count == 2) {
            source = utf8 ? operands[1] : LegacyForm(operands[1]);
            if (const Message refused = CalcName(source, std::strlen(source), utf8, MessageCode::variable_name, name, used))
                return Report(refused);
        } else {
            FileVarName(operands[i], utf8, name, file_name);
            used = std::strlen(file_name);
        }
        if (const int status = AddText(texts, options, operands[i], shown, name, folder))
            return status;
        // Once the data alone pass what a group file may hold, the run ends: no more is read.
        if (group && texts.size > kMaxVarFileSize)
            return Report(Say(MessageCode::group_too_large, group_shown));
    }

    // Without -g, a text that fits in one variable is written as it is without -s.
    char output[80];
    std::snprintf(output, sizeof output, "%.*s%s", static_cast<int>(used), source,
                  group ? "" : texts.count > 1 ? model.group_extension : model.extension);
    // A name made from the file's name is ASCII but with -u: the path is as messages show it.
    const bool named = source == file_name;
    DataInPlace(texts);
    std::uint32_t image_size = 0;
    Owned<unsigned char[]> image;
    const Variable& first = texts.variables[0];
    if (const Message failure = group || texts.count > 1
                                    ? GroupImageOf({texts.variables.get(), texts.count}, model,
                                                   group ? group_shown : output, image, image_size)
                                    : ImageOf(name, first.data, model, folder, first.attribute, image, image_size))
        return Report(failure);
    const int status = group ? WriteOutput(group, group_shown, {image.get(), image_size})
                             : WriteOutput(utf8 || named ? output : LegacyPath(output), output, {image.get(), image_size});
    for (std::size_t t = 0; status == kSuccess && t < texts.texts; ++t)
        Report(ReplacementsNote(texts.replaced[t], texts.shown[t]));
    if (status == kSuccess && named)
        NotePassedOver(operands, group ? count : 1, utf8);
    else if (status == kSuccess)
        Report(ReservedNameNote(source, used, output));
    const std::span<const Variable> all(texts.variables.get(), texts.count);
    if (status == kSuccess && options.split && !options.archive)
        Report(RamNote(all.size(), RamBytes(all), model, group ? group_shown : output));
    // With -v, each text and the variables it went to.
    for (std::size_t t = 0, first = 0; status == kSuccess && options.verbose && t < texts.texts; ++t) {
        std::size_t last = first;
        while (last + 1 < all.size() && texts.text_of[last + 1] == t)
            ++last;
        char first_shown[kShownNameSize], last_shown[kShownNameSize];
        if (const int s = PutWritten(texts.shown[t], group ? group_shown : output,
                                     ShownCalcName(all[first].name, utf8, first_shown),
                                     ShownCalcName(all[last].name, utf8, last_shown), last - first + 1))
            return s;
        first = last + 1;
    }
    return status;
}
