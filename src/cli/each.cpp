#include "cli/each.h"

#include "app/encode_text.h"
#include "app/file_names.h"
#include "app/owned.h"
#include "cli/folder_name.h"
#include "cli/name_notes.h"
#include "cli/platform.h"
#include "app/ram_note.h"
#include "cli/read_texts.h"
#include "cli/report.h"
#include "cli/safe_output.h"
#include "cli/write_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A variable name as UTF-8 and an extension of 4 bytes.
constexpr std::size_t kPathSize = kVarNameSize + 4;

// The files of a run: each one's path, and their bytes one after another.
struct Files {
    Owned<char[][kPathSize]> paths;
    Owned<Output[]> outputs;  // their bytes set once every file is made
    Owned<std::size_t[]> ends;  // where each file's bytes end in `bytes`
    Owned<unsigned char[]> bytes;
    std::size_t count = 0, size = 0;
};

} // namespace

int Each(const Options& options, char** operands, int count)
{
    if (count < 1)
        return Report(Say(MessageCode::usage_each));
    const bool utf8 = options.utf8;
    const Model& model = options.model ? *options.model : kModels[0];
    char folder[9];
    if (const Message refused = FolderName(options, folder))
        return Report(refused);
    Files files;
    if (!Grow(files.paths, count) || !Grow(files.outputs, count) || !Grow(files.ends, count))
        return Report(Say(MessageCode::out_of_memory));

    // Every text read and named, no two variables of one name, before any file is made.
    ReadTexts texts;
    for (int i = 0; i < count; ++i) {
        char name[9], file_name[kVarNameSize];
        FileVarName(operands[i], utf8, name, file_name);
        std::memcpy(files.paths[i], file_name, sizeof file_name);
        if (const int status = AddText(texts, options, operands[i], utf8 ? operands[i] : LegacyForm(operands[i]),
                                       name, folder))
            return status;
    }

    DataInPlace(texts);
    // Each text's file: a text in parts as their group file, one that fits as its variable's.
    for (std::size_t t = 0, first = 0; t < texts.texts; ++t) {
        std::size_t parts = 0;
        while (first + parts < texts.count && texts.text_of[first + parts] == t)
            ++parts;
        // The name is ASCII but with -u: the path is as messages show it.
        char* const path = files.paths[t];
        std::strcat(path, parts > 1 ? model.group_extension : model.extension);
        const Variable& v = texts.variables[first];
        std::uint32_t size = 0;
        Owned<unsigned char[]> image;
        if (const Message failure = parts > 1 ? GroupImageOf({&v, parts}, model, path, image, size)
                                              : ImageOf(v.name, v.data, model, folder, v.attribute, image, size))
            return Report(failure);
        if (!Grow(files.bytes, files.size + size))
            return Report(Say(MessageCode::out_of_memory));
        std::memcpy(files.bytes.get() + files.size, image.get(), size);
        files.size += size;
        files.outputs[files.count] = {path, {}};
        files.ends[files.count++] = files.size;
        // A device takes the name of a file on some systems: such a file cannot be created.
        if (IsDeviceName(path))
            return Report(Say(MessageCode::cannot_create, path));
        first += parts;
    }

    for (std::size_t i = 0, at = 0; i < files.count; at = files.ends[i++])
        files.outputs[i].bytes = {files.bytes.get() + at, files.ends[i] - at};
    std::size_t failed = 0;
    const OutputStatus written = Bytes2Files({files.outputs.get(), files.count}, failed);
    if (written != OutputStatus::written)
        return Report(OutputFailure(written, files.paths[failed]));
    for (std::size_t t = 0; t < texts.texts; ++t)
        Report(ReplacementsNote(texts.replaced[t], texts.shown[t]));
    NotePassedOver(operands, count, utf8);
    if (options.split && !options.archive) {
        char all[40];
        std::snprintf(all, sizeof all, "the %u files", static_cast<unsigned>(files.count));
        Report(RamNote({texts.variables.get(), texts.count}, model, files.count > 1 ? all : files.paths[0]));
    }
    return kSuccess;
}
