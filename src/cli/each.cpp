#include "cli/each.h"

#include "cli/calc_name.h"
#include "cli/encode_text.h"
#include "cli/owned.h"
#include "cli/platform.h"
#include "cli/ram_note.h"
#include "cli/safe_output.h"
#include "cli/status.h"
#include "cli/text_vars.h"
#include "cli/write_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A variable name as UTF-8 and an extension of 4 bytes.
constexpr std::size_t kPathSize = kVarNameSize + 4;

// The files of a run: each one's path and malloc'd bytes.
struct Files {
    char (*paths)[kPathSize] = nullptr;
    Output* outputs = nullptr;
    std::size_t count = 0;  // made so far

    ~Files()
    {
        for (std::size_t i = 0; i < count; ++i)
            std::free(const_cast<unsigned char*>(outputs[i].bytes.data()));
        std::free(paths);
        std::free(outputs);
    }
};

} // namespace

int Each(const Options& options, char** operands, int count)
{
    if (count < 1)
        return Fail(kUsage, "Usage: sorvel -e file.txt...\n");
    const bool utf8 = options.utf8;
    const Model& model = options.model ? *options.model : kModels[0];
    char folder[9];
    if (const int status = FolderName(options, folder))
        return status;
    Files files;
    files.paths = static_cast<char(*)[kPathSize]>(std::malloc(count * sizeof *files.paths));
    files.outputs = static_cast<Output*>(std::malloc(count * sizeof *files.outputs));
    if (!files.paths || !files.outputs)
        return Fail(kNoImage, "ERROR: out of memory\n");

    // Every text read and named, no two variables of one name, before any file is made.
    Contents contents;
    for (int i = 0; i < count; ++i) {
        char name[9], file_name[kVarNameSize];
        FileVarName(operands[i], utf8, name, file_name);
        std::memcpy(files.paths[i], file_name, sizeof file_name);
        if (const int status = AddText(contents, options, operands[i], utf8 ? operands[i] : LegacyForm(operands[i]),
                                       name, folder))
            return status;
    }

    // Each text's file: a text in parts as their group file, one that fits as its variable's.
    for (std::size_t t = 0, first = 0; t < contents.texts; ++t) {
        std::size_t parts = 0;
        while (first + parts < contents.count && contents.text_of[first + parts] == t)
            ++parts;
        // The name is ASCII but with -u: the path is as messages show it.
        char* const path = files.paths[t];
        std::strcat(path, parts > 1 ? model.group_extension : model.extension);
        const Variable& v = contents.variables[first];
        std::uint32_t size = 0;
        unsigned char* image = nullptr;
        if (parts > 1) {
            if (const int status = GroupImageOf({&v, parts}, model, path, image, size))
                return status;
        } else if (!(image = ImageOf(v.name, v.data, model, folder, v.attribute, size))) {
            return kNoImage;
        }
        files.outputs[files.count++] = {path, {image, size}};
        // A device takes the name of a file on some systems: such a file cannot be created.
        if (IsDeviceName(path))
            return Fail(kCannotWrite, "ERROR: unable to create %s\n", path);
        first += parts;
    }

    std::size_t failed = 0;
    const OutputStatus written = Bytes2Files({files.outputs, files.count}, failed);
    if (written != OutputStatus::written)
        return ReportOutput(written, files.paths[failed]);
    for (std::size_t t = 0; t < contents.texts; ++t)
        NoteReplacements(contents.replaced[t], contents.shown[t]);
    if (options.split && !options.archive) {
        char all[40];
        std::snprintf(all, sizeof all, "the %u files", static_cast<unsigned>(files.count));
        NoteRam({contents.variables, contents.count}, model, files.count > 1 ? all : files.paths[0]);
    }
    return kSuccess;
}
