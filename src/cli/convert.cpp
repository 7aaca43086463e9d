#include "cli/convert.h"

#include "app/calc_name.h"
#include "app/encode_text.h"
#include "app/file_names.h"
#include "app/owned.h"
#include "app/shown_name.h"
#include "app/system.h"
#include "cli/folder_name.h"
#include "cli/input.h"
#include "cli/name_notes.h"
#include "cli/platform.h"
#include "cli/report.h"
#include "cli/write_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int Convert(const Options& options, char** operands, int count)
{
    if (count != 1 && count != 2)
        return Report(Say(MessageCode::usage_convert));
    const Model& model = options.model ? *options.model : kModels[0];
    const bool utf8 = options.utf8;

    // The input is opened by its true name. Without -u, messages, the name and the output
    // path use the argument's form in the ANSI code page (LegacyForm).
    const TextMode mode = {utf8, options.replace, kTextAsOnDisk, false, options.encoding};
    std::FILE* const input = OpenInput(operands[0], !utf8);
    const char* input_path = utf8 ? operands[0] : LegacyForm(operands[0]);
    if (!input)
        return Report(Say(MessageCode::cannot_open, input_path));
    FileBytes in;
    const bool read = ReadUpTo(input, in, TextBytesRead(mode));
    std::fclose(input);

    // The name is the second operand, or the input path up to its first dot, directory parts
    // included; at most 8 calculator characters either way.
    const char* source = count == 2 ? (utf8 ? operands[1] : LegacyForm(operands[1])) : input_path;
    const std::size_t length = count == 2 ? std::strlen(source) : std::strcspn(source, ".");
    char name[9], folder[9];
    std::size_t used;
    if (const Message refused = CalcName(source, length, utf8, MessageCode::variable_name, name, used))
        return Report(refused);
    if (const Message refused = FolderName(options, folder))
        return Report(refused);
    char output_path[80];
    std::snprintf(output_path, sizeof output_path, "%.*s%s", static_cast<int>(used), source,
                  model.extension);
    if (!read)
        return Report(Say(MessageCode::out_of_memory));

    DataBuffer data;
    EncodedText encoded;
    if (const Message failure = EncodeText({in.bytes.get(), in.size}, in.failed, mode, 1, input_path, data, encoded))
        return Report(failure);
    std::uint32_t image_size = 0;
    Owned<unsigned char[]> image;
    if (const Message failure = ImageOf(name, encoded.data, model, folder, options.archive ? kArchived : 0, image, image_size))
        return Report(failure);
    // A device takes the name of a file on some systems: such a file cannot be created.
    if (IsDeviceName(output_path))
        return Report(Say(MessageCode::cannot_create, output_path));
    const int status = WriteOutput(utf8 ? output_path : LegacyPath(output_path), output_path, {image.get(), image_size});
    if (status == kSuccess)
        Report(ReplacementsNote(encoded.replaced, input_path));
    if (status == kSuccess && utf8 && count == 2)
        Report(ReservedNameNote(source, used, output_path));
    char shown[kShownNameSize];
    if (status == kSuccess && options.verbose)
        return PutWritten(input_path, output_path, ShownCalcName(name, utf8, shown), shown, 1);
    return status;
}
