#include "cli/group.h"

#include "app/calc_name.h"
#include "app/encode_text.h"
#include "app/owned.h"
#include "app/shown_name.h"
#include "app/system.h"
#include "cli/folder_name.h"
#include "cli/input.h"
#include "cli/name_notes.h"
#include "cli/platform.h"
#include "cli/ram_note.h"
#include "cli/status.h"
#include "cli/text_vars.h"
#include "cli/write_output.h"
#include "core/text_parts.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void DataInPlace(Contents& contents)
{
    for (std::size_t i = 0; i < contents.count; ++i)
        contents.variables[i].data = {contents.data.get() + contents.pieces[i].at, contents.pieces[i].length};
}

int AddText(Contents& contents, const Options& options, const char* path, const char* shown,
            const char (&name)[9], const char (&folder)[9])
{
    const bool utf8 = options.utf8;
    const std::size_t most_parts = options.split ? kMaxParts : 1;
    const TextMode mode = {utf8, options.replace, kTextAsOnDisk, true, options.encoding};
    std::FILE* const input = OpenInput(path, !utf8);
    if (!input)
        return Fail(kCannotRead, "ERROR: unable to open %s\n", shown);
    FileBytes in;
    const bool read = ReadUpTo(input, in, TextBytesRead(mode, most_parts));
    std::fclose(input);
    if (!read)
        return Fail(kNoImage, "ERROR: out of memory\n");
    static DataBuffer buffer;
    EncodedText encoded;
    if (const int status = EncodeText({in.bytes.get(), in.size}, in.failed, mode, most_parts, shown, buffer, encoded))
        return status;
    const std::size_t parts = encoded.parts;

    // Room for the text and its variables, each part named and no two variables of one name.
    const std::size_t n = contents.count, t = contents.texts, size = contents.size;
    if (!Grow(contents.variables, n + parts) || !Grow(contents.pieces, n + parts) || !Grow(contents.text_of, n + parts) ||
        !Grow(contents.data, size + encoded.data.size()) || !Grow(contents.shown, t + 1) || !Grow(contents.replaced, t + 1))
        return Fail(kNoImage, "ERROR: out of memory\n");
    std::memcpy(contents.data.get() + size, encoded.data.data(), encoded.data.size());
    contents.size = size + encoded.data.size();
    contents.shown[t] = shown;
    contents.replaced[t] = encoded.replaced;
    contents.texts = t + 1;

    for (std::size_t k = 0, at = size; k < parts; at += encoded.lengths[k++]) {
        Variable& v = contents.variables[n + k];
        v = {{}, {}, kTextType, static_cast<unsigned char>(options.archive ? kArchived : 0), {}};
        std::memcpy(v.folder, folder, sizeof folder);
        PartName(name, parts, k, v.name);
        contents.pieces[n + k] = {at, encoded.lengths[k]};
        contents.text_of[n + k] = t;
        for (std::size_t i = 0; i < n; ++i)
            if (!std::strcmp(contents.variables[i].name, v.name)) {
                char shown_name[kShownNameSize];
                return Fail(kRefused, "ERROR: %s and %s give two variables named %s\n", contents.shown[contents.text_of[i]],
                            shown, ShownCalcName(v.name, utf8, shown_name));
            }
        contents.count = n + k + 1;
    }
    return kSuccess;
}

void FileVarName(const char* path, bool utf8, char (&name)[9], char (&file_name)[kVarNameSize])
{
    ProposeVarName(path, file_name, !utf8);
    std::size_t used;
    char why[kUtf8WhatSize];
    Utf8Name2VarName(file_name, name, used, why);  // a proposed name is always the calculator's
}

int Group(const Options& options, char** operands, int count)
{
    const bool utf8 = options.utf8;
    const Model& model = options.model ? *options.model : kModels[0];
    const char* const group = options.group;
    if (group ? count < 1 : count != 1 && count != 2)
        return Fail(kUsage, group ? "Usage: sorvel -g file.89g file.txt...\n" : "Usage: sorvel file.txt [varname]\n");
    const char* const group_shown = group && !utf8 ? LegacyForm(group) : group;
    const std::size_t group_length = group ? std::strlen(group) : 0;
    if (group && (group_length < 4 || std::strcmp(group + group_length - 4, model.group_extension)))
        return Fail(kUsage, "ERROR: group file %s does not end in %s\n", group_shown, model.group_extension);
    char folder[9];
    if (const int status = FolderName(options, folder))
        return status;

    // A text is named as the calculator takes names after its file's name, unless -s is given
    // one; the file of a text named so goes in the current directory.
    Contents contents;
    char name[9], file_name[kVarNameSize];
    std::size_t used = 0;
    const char* source = file_name;
    for (int i = 0; i < (group ? count : 1); ++i) {
        const char* const shown = utf8 ? operands[i] : LegacyForm(operands[i]);
        if (!group && count == 2) {
            source = utf8 ? operands[1] : LegacyForm(operands[1]);
            if (const int status = CalcName(source, std::strlen(source), utf8, "variable name", name, used))
                return status;
        } else {
            FileVarName(operands[i], utf8, name, file_name);
            used = std::strlen(file_name);
        }
        if (const int status = AddText(contents, options, operands[i], shown, name, folder))
            return status;
    }

    // Without -g, a text that fits in one variable is written as it is without -s.
    char output[80];
    std::snprintf(output, sizeof output, "%.*s%s", static_cast<int>(used), source,
                  group ? "" : contents.count > 1 ? model.group_extension : model.extension);
    // A name made from the file's name is ASCII but with -u: the path is as messages show it.
    const bool named = source == file_name;
    DataInPlace(contents);
    std::uint32_t image_size = 0;
    Owned<unsigned char[]> image;
    const Variable& first = contents.variables[0];
    if (const int status = group || contents.count > 1
                               ? GroupImageOf({contents.variables.get(), contents.count}, model,
                                              group ? group_shown : output, image, image_size)
                               : ImageOf(name, first.data, model, folder, first.attribute, image, image_size))
        return status;
    const int status = group ? WriteOutput(group, group_shown, {image.get(), image_size})
                             : WriteOutput(utf8 || named ? output : LegacyPath(output), output, {image.get(), image_size});
    for (std::size_t t = 0; status == kSuccess && t < contents.texts; ++t)
        NoteReplacements(contents.replaced[t], contents.shown[t]);
    if (status == kSuccess && named)
        NotePassedOver(operands, group ? count : 1, utf8);
    else if (status == kSuccess)
        NoteReservedName(source, used, output);
    if (status == kSuccess && options.split && !options.archive)
        NoteRam({contents.variables.get(), contents.count}, model, group ? group_shown : output);
    return status;
}
