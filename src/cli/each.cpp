#include "cli/each.h"

#include "app/encode_text.h"
#include "app/file_names.h"
#include "app/owned.h"
#include "app/shown_name.h"
#include "app/text_variables.h"
#include "cli/folder_name.h"
#include "cli/name_notes.h"
#include "cli/platform.h"
#include "app/ram_note.h"
#include "cli/read_texts.h"
#include "cli/report.h"
#include "cli/safe_output.h"
#include "cli/write_output.h"
#include "core/text_parts.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// What a run keeps of each text until every file is in place: a few bytes, whatever its size.
struct EachText {
    const char* shown;               // its path as messages give it
    char path[kVarNameSize + 4];     // its file's: a variable name as UTF-8 and an extension
    char name[9];                    // its variable's, or the one its parts are named after
    std::size_t parts;
};

// A name of a variable written, and the text it comes from.
struct TakenName {
    char name[9];
    std::size_t text;
};

// What -r replaced in a text.
struct Replaced {
    std::size_t text;
    Utf8Replacements replaced;
};

struct DeleteSet {
    void operator()(OutputSet* set) const { DeleteOutputSet(set); }
};

// The first of `taken` that has the name of one of `variables`, that one in `variable`; or null.
const TakenName* NameTaken(std::span<const TakenName> taken, std::span<const Variable> variables,
                           const Variable*& variable)
{
    for (const Variable& v : variables)
        for (const TakenName& t : taken)
            if (!std::strcmp(t.name, v.name)) {
                variable = &v;
                return &t;
            }
    return nullptr;
}

} // namespace

int Each(const Options& options, char** operands, int count)
{
    if (count < 1)
        return Report(Say(MessageCode::usage_each));
    const bool utf8 = options.utf8;
    const Model& model = options.model ? *options.model : kModels[0];
    const std::size_t most_parts = options.split ? kMaxParts : 1;
    char folder[9];
    if (const Message refused = FolderName(options, folder))
        return Report(refused);
    Owned<EachText[]> texts;
    Owned<TakenName[]> taken;
    Owned<Replaced[]> replaced;
    std::size_t names = 0, replacements = 0, ram_bytes = 0;
    const std::unique_ptr<OutputSet, DeleteSet> set(NewOutputSet(count));
    if (!Grow(texts, count) || !set)
        return Report(Say(MessageCode::out_of_memory));

    // One text at a time: read, named, its file made beside where it goes. Every problem is
    // reported, and the first one's status ends the run once all are, nothing written.
    int status = kSuccess;
    const auto problem = [&](const Message& m) {
        const int s = Report(m);
        status = status ? status : s;
    };
    static DataBuffer buffer;
    static Variable variables[kMaxParts];
    for (int i = 0; i < count; ++i) {
        EachText& text = texts[i];
        text.shown = utf8 ? operands[i] : LegacyForm(operands[i]);
        char file_name[kVarNameSize];
        FileVarName(operands[i], utf8, text.name, file_name);
        EncodedText encoded;
        if (const Message failure = ReadText(options, operands[i], text.shown, most_parts, buffer, encoded)) {
            problem(failure);
            continue;
        }
        text.parts = encoded.parts;
        PartVariables(encoded, text.name, folder, options.archive ? kArchived : 0, variables);
        const std::span<const Variable> made(variables, text.parts);
        const Variable* clash = nullptr;
        if (const TakenName* earlier = NameTaken({taken.get(), names}, made, clash)) {
            problem(TwoTextsOneName(texts[earlier->text].shown, text.shown, clash->name, utf8));
            continue;
        }
        if (!Grow(taken, names + text.parts))
            return Report(Say(MessageCode::out_of_memory));
        for (const Variable& v : made) {
            std::memcpy(taken[names].name, v.name, sizeof v.name);
            taken[names++].text = i;
            ram_bytes += v.data.size() + 2;
        }

        // A text in parts as their group file, one that fits as its variable's. The name is
        // ASCII but with -u: the path is as messages show it.
        std::snprintf(text.path, sizeof text.path, "%s%s", file_name,
                      text.parts > 1 ? model.group_extension : model.extension);
        std::uint32_t size = 0;
        Owned<unsigned char[]> image;
        if (const Message failure = text.parts > 1 ? GroupImageOf(made, model, text.path, image, size)
                                                   : ImageOf(text.name, encoded.data, model, folder,
                                                             made[0].attribute, image, size)) {
            problem(failure);
            continue;
        }
        // A device takes the name of a file on some systems: such a file cannot be created.
        if (IsDeviceName(text.path)) {
            problem(Say(MessageCode::cannot_create, text.path));
            continue;
        }
        if (encoded.replaced.count) {
            if (!Grow(replaced, replacements + 1))
                return Report(Say(MessageCode::out_of_memory));
            replaced[replacements++] = {static_cast<std::size_t>(i), encoded.replaced};
        }
        // Once a problem is found nothing is written: the texts are only checked.
        if (status == kSuccess)
            if (const OutputStatus ready = AddOutput(*set, {text.path, {image.get(), size}});
                ready != OutputStatus::written)
                problem(OutputFailure(ready, text.path));
    }
    if (status != kSuccess)
        return status;

    std::size_t failed = 0;
    if (const OutputStatus written = PutOutputs(*set, failed); written != OutputStatus::written)
        return Report(OutputFailure(written, texts[failed].path));
    for (std::size_t r = 0; r < replacements; ++r)
        Report(ReplacementsNote(replaced[r].replaced, texts[replaced[r].text].shown));
    NotePassedOver(operands, count, utf8);
    if (options.split && !options.archive) {
        char all[40];
        std::snprintf(all, sizeof all, "the %d files", count);
        Report(RamNote(names, ram_bytes, model, count > 1 ? all : texts[0].path));
    }
    for (int i = 0; options.verbose && i < count; ++i) {
        const EachText& text = texts[i];
        char first[9], last[9], first_shown[kShownNameSize], last_shown[kShownNameSize];
        PartName(text.name, text.parts, 0, first);
        PartName(text.name, text.parts, text.parts - 1, last);
        if (const int s = PutWritten(text.shown, text.path, ShownCalcName(first, utf8, first_shown),
                                     ShownCalcName(last, utf8, last_shown), text.parts))
            return s;
    }
    return kSuccess;
}
