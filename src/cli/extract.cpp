#include "cli/extract.h"

#include "app/owned.h"
#include "app/shown_name.h"
#include "app/system.h"
#include "app/text_list.h"
#include "cli/input.h"
#include "cli/platform.h"
#include "cli/report.h"
#include "cli/safe_output.h"
#include "cli/write_output.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Reads the variable file `path`: its signature first, then, if it is known, at most
// kMaxVarFileSize + 1 bytes; returns nothing, or why not, with `shown` as its name.
Message ReadVarFile(const char* path, const char* shown, FileBytes& in)
{
    std::FILE* const file = OpenInput(path, false);
    if (!file)
        return Say(MessageCode::cannot_open, shown);
    bool read = ReadUpTo(file, in, kSignatureSize);
    const bool known = in.size < kSignatureSize || HasSignature({in.bytes.get(), in.size});
    read = read && (!known || ReadUpTo(file, in, kMaxVarFileSize + 1));
    std::fclose(file);
    if (!read)
        return Say(MessageCode::out_of_memory);
    if (in.failed)
        return Say(MessageCode::cannot_read, shown);
    return {};
}

// Refuses an output at `path` (`shown` in messages) that is the variable file read (`input` when
// it is a regular file, `input_shown` in messages), or any other variable file: a variable's file
// is never replaced by its text.
Message GuardOutput(const char* path, const char* shown, const FileId* input, const char* input_shown)
{
    FileId id;
    if (!std::strcmp(path, "-") || !RegularFileId(path, id))
        return {};
    if (input && id == *input) {
        Message refused = Say(MessageCode::output_is_input, shown);
        refused.other = input_shown;
        return refused;
    }
    unsigned char head[kSignatureSize];
    std::FILE* const file = OpenFile(path, "rb");
    const std::size_t n = file ? std::fread(head, 1, sizeof head, file) : 0;
    if (file)
        std::fclose(file);
    return HasSignature({head, n}) ? Say(MessageCode::replaces_variable_file, shown) : Message{};
}

} // namespace

int Extract(const Options& options, char** operands, int count)
{
    if (count != 1 && count != 2)
        return Report(Say(MessageCode::usage_extract));
    if (count == 2 && !std::strcmp(operands[1], "-"))
        FailOnStandardError();
    const bool utf8 = options.utf8;
    const char* input_path = utf8 ? operands[0] : LegacyForm(operands[0]);
    FileBytes in;
    if (const Message failure = ReadVarFile(operands[0], input_path, in))
        return Report(failure);
    const std::span<const unsigned char> file(in.bytes.get(), in.size);

    TextList list;
    if (const Message refused = ListTexts(file, input_path, utf8, count == 1, list))
        return Report(refused);
    const std::size_t n = list.count;
    const TextFile* const t = list.texts.get();
    if (count == 2 && n != 1) {
        Message refused = Say(MessageCode::several_texts, input_path);
        refused.numbers[0] = static_cast<std::uint32_t>(n);
        return Report(refused);
    }

    // No output is a variable file, the one read above all.
    FileId input;
    const bool regular = RegularFileId(operands[0], input);
    for (std::size_t i = 0; i < n; ++i) {
        const char* path = count == 2 ? operands[1] : utf8 ? t[i].file_name : LegacyPath(t[i].file_name);
        const char* shown = count == 2 ? (utf8 ? operands[1] : LegacyForm(operands[1])) : t[i].file_name;
        if (const Message refused = GuardOutput(path, shown, regular ? &input : nullptr, input_path))
            return Report(refused);
    }

    // The texts, then their files, all or none.
    std::size_t room = 0;
    for (std::size_t i = 0; i < n; ++i)
        room += t[i].v->data.size() * kTextBytesPerDataByte;
    const Owned<unsigned char[]> text(static_cast<unsigned char*>(std::malloc(room ? room : 1)));
    const Owned<Output[]> outputs(static_cast<Output*>(std::malloc(n * sizeof(Output))));
    if (!text || !outputs)
        return Report(Say(MessageCode::out_of_memory));
    unsigned char* at = text.get();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t length = DataBuffer2Text(t[i].v->data, utf8, kLineBreak, at);
        const char* path = count == 2 ? operands[1] : utf8 ? t[i].file_name : LegacyPath(t[i].file_name);
        // A default name never replaces a file, unless forced to.
        outputs[i] = {path, {at, length}, count == 2 || options.force};
        at += length;
    }
    std::size_t failed;
    const OutputStatus written = Bytes2Files({outputs.get(), n}, failed);
    const char* shown_path = count == 2 ? (utf8 ? operands[1] : LegacyForm(operands[1])) : t[failed].file_name;
    if (written == OutputStatus::exists) {
        Message refused = Say(n == 1 ? MessageCode::exists : MessageCode::exists_in_group, shown_path);
        refused.utf8 = utf8;
        return Report(refused);
    }
    if (written != OutputStatus::written)
        return Report(OutputFailure(written, shown_path));
    for (std::size_t i = 0; options.verbose && i < n; ++i) {
        char name[kShownNameSize];
        ShownCalcName(t[i].v->name, utf8, name);
        if (const int status = PutWritten(input_path, count == 2 ? shown_path : t[i].file_name, name, name, 1))
            return status;
    }
    return kSuccess;
}
