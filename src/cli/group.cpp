#include "cli/group.h"

#include "app/calc_name.h"
#include "app/encode_text.h"
#include "app/owned.h"
#include "app/shown_name.h"
#include "app/system.h"
#include "cli/folder_name.h"
#include "cli/input.h"
#include "cli/platform.h"
#include "cli/status.h"
#include "cli/write_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Where a variable's data lies in Contents::data.
struct Piece {
    std::size_t at;
    std::uint32_t length;
};

// The texts read so far, and the variables they give.
struct Contents {
    Owned<Variable[]> variables;  // their data set by DataInPlace once every text is read
    Owned<Piece[]> pieces;        // each variable's data
    Owned<std::size_t[]> text_of;  // the text each variable comes from
    std::size_t count = 0;
    Owned<unsigned char[]> data;  // every text's parts' data, one after another
    std::size_t size = 0;
    Owned<const char*[]> shown;   // each text's path as messages give it
    Owned<Utf8Replacements[]> replaced;  // what -r replaced in each text
    std::size_t texts = 0;
};

// Points each variable of `contents` at its data, which moves while it grows.
void DataInPlace(Contents& contents)
{
    for (std::size_t i = 0; i < contents.count; ++i)
        contents.variables[i].data = {contents.data.get() + contents.pieces[i].at, contents.pieces[i].length};
}

// Reads the text file `path` (named `shown` in messages) and adds to `contents` its variable
// `name`, or with -s the parts it needs, name1, name2, ... (the name shortened so that name
// and number fit 8 bytes), each in `folder`. Returns the exit status.
int AddText(Contents& contents, const Options& options, const char* path, const char* shown,
            const char (&name)[9], const char (&folder)[9])
{
    const bool utf8 = options.utf8;
    const std::size_t most_parts = options.split ? kMaxParts : 1;
    const TextMode mode = {utf8, options.replace, kTextAsOnDisk, true};
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

    const std::size_t stem = strnlen(name, parts == 1 ? 8 : parts < 10 ? 7 : 6);
    for (std::size_t k = 0, at = size; k < parts; at += encoded.lengths[k++]) {
        Variable& v = contents.variables[n + k];
        v = {{}, {}, kTextType, static_cast<unsigned char>(options.archive ? kArchived : 0), {}};
        std::memcpy(v.folder, folder, sizeof folder);
        std::memcpy(v.name, name, stem);
        if (parts > 1)
            std::snprintf(v.name + stem, sizeof v.name - stem, "%u", static_cast<unsigned>(k + 1));
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

} // namespace

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

    // With -g, each text is named after its file's name up to its first dot; else as without -s.
    Contents contents;
    char name[9];
    std::size_t used = 0;
    const char* source = nullptr;
    for (int i = 0; i < (group ? count : 1); ++i) {
        const char* const shown = utf8 ? operands[i] : LegacyForm(operands[i]);
        source = !group && count == 2 ? (utf8 ? operands[1] : LegacyForm(operands[1])) : shown;
        if (group)
            for (const char* c = shown; *c; ++c)
                if (*c == '/' || (kWindows && *c == '\\'))
                    source = c + 1;
        const std::size_t length = !group && count == 2 ? std::strlen(source) : std::strcspn(source, ".");
        if (const int status = CalcName(source, length, utf8, "variable name", name, used))
            return status;
        if (const int status = AddText(contents, options, operands[i], shown, name, folder))
            return status;
    }

    // Without -g, a text that fits in one variable is written as it is without -s.
    char output[80];
    std::snprintf(output, sizeof output, "%.*s%s", static_cast<int>(used), source,
                  group ? "" : contents.count > 1 ? model.group_extension : model.extension);
    DataInPlace(contents);
    std::uint32_t image_size = 0;
    unsigned char* made = nullptr;
    if (group || contents.count > 1) {
        if (const int status = GroupImageOf({contents.variables.get(), contents.count}, model, group ? group_shown : output,
                                            made, image_size))
            return status;
    } else {
        made = ImageOf(name, contents.variables[0].data, model, folder, contents.variables[0].attribute, image_size);
        if (!made)
            return kNoImage;
    }
    const Owned<unsigned char[]> image(made);
    const int status = group ? WriteOutput(group, group_shown, {image.get(), image_size})
                             : WriteOutput(utf8 ? output : LegacyPath(output), output, {image.get(), image_size});
    for (std::size_t t = 0; status == kSuccess && t < contents.texts; ++t)
        NoteReplacements(contents.replaced[t], contents.shown[t]);
    return status;
}
