#include "cli/convert.h"

#include "cli/calc_name.h"
#include "cli/input.h"
#include "cli/platform.h"
#include "cli/shown_name.h"
#include "cli/status.h"
#include "cli/write_output.h"
#include "core/byte_encoder.h"
#include "core/utf8_encoder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct FreeBlock {
    void operator()(unsigned char* block) const { std::free(block); }
};
using Block = std::unique_ptr<unsigned char, FreeBlock>;

} // namespace

int Convert(const Options& options, char** operands, int count)
{
    if (count != 1 && count != 2)
        return Fail(kUsage, "Usage: sorvel file.txt [varname]\n");
    const Model& model = options.model ? *options.model : kModels[0];
    const bool utf8 = options.utf8;

    // The input is opened by its true name. Without -u, messages, the name and the output
    // path use the form the program has always known arguments by.
    std::FILE* const input = OpenInput(operands[0], !utf8);
    const char* input_path = utf8 ? operands[0] : LegacyForm(operands[0]);
    if (!input)
        return Fail(kCannotRead, "ERROR: unable to open %s\n", input_path);
    // Every text byte takes at least one byte of the data, so a byte more than the largest text
    // tells that it is too big; with -r, a dropped mark takes none, and a text longer than
    // kMaxUtf8TextSize is too big.
    FileBytes in;
    const bool read = ReadUpTo(input, in, utf8 ? kMaxUtf8TextSize + options.replace : kMaxTextSize + 1);
    std::fclose(input);
    const Block file(in.bytes);

    // The name is the second operand, or the input path up to its first dot, directory parts
    // included; at most 8 calculator characters either way.
    const char* source = count == 2 ? (utf8 ? operands[1] : LegacyForm(operands[1])) : input_path;
    const std::size_t length = count == 2 ? std::strlen(source) : std::strcspn(source, ".");
    char name[9] = {};
    std::size_t used = length < 8 ? length : 8;
    if (utf8) {
        char what[kUtf8WhatSize], shown[kShownNameSize];
        if (!Utf8Name2VarName({source, length}, name, used, what))
            return Fail(kRefused, "ERROR: variable name %s: %s\n", ShownName({source, length}, shown, true), what);
    } else {
        std::memcpy(name, source, used);
    }
    char folder[9];
    if (const int status = FolderName(options, folder))
        return status;
    char output_path[80];
    std::snprintf(output_path, sizeof output_path, "%.*s%s", static_cast<int>(used), source,
                  model.extension);
    if (!read)
        return Fail(kNoImage, "ERROR: out of memory\n");

    DataBuffer data;
    Utf8Problem problem;
    const std::span<const unsigned char> text(file.get(), in.size);
    bool failed = in.failed;
    EncodeResult result;
    Utf8Replacements replaced;
    if (options.replace && in.size > kMaxUtf8TextSize) {
        result = {EncodeStatus::too_big, 0};
    } else if (utf8) {
        result = Utf8File2DataBuffer(text, data, problem, options.replace ? &replaced : nullptr);
    } else {
#ifdef _WIN32
        // The runtime's text mode has made CR LF pairs LF and ended the text at a Ctrl-Z.
        result = TextFile2DataBuffer(text, LineBreaks::lf, data);
#else
        // As the Windows runtime's text mode does, a Ctrl-Z ends the text, and the CR of a CR LF
        // pair is kept for the 0x0D that the line break is stored as.
        const std::span<const unsigned char> before_ctrl_z = TextUpToCtrlZ(text);
        failed = failed && before_ctrl_z.size() == text.size();
        result = TextFile2DataBuffer(before_ctrl_z, LineBreaks::crlf_or_lf, data);
#endif
    }
    switch (result.status) {
    case EncodeStatus::ok: break;
    case EncodeStatus::too_big: return Fail(kTooBig, "ERROR: text file too big\n");
    case EncodeStatus::refused:
        if (!failed)
            return Fail(kRefused, "ERROR: %s:%u:%u: %s\n", input_path, static_cast<unsigned>(problem.line),
                        static_cast<unsigned>(problem.column), problem.what);
    }
    if (failed)
        return Fail(kCannotRead, "ERROR: unable to read %s\n", input_path);

    std::uint32_t image_size = 0;
    ImageFailure why;
    const Block image(DataBuffer2OTHBuffer(name, std::span(data).first(result.length), image_size, why, model,
                                          folder, options.archive ? kArchived : 0));
    if (!image) {
        if (why == ImageFailure::too_long)
            std::fprintf(stderr, "ERROR: length (%u) exceeds max. user data size (%u)\n",
                         static_cast<unsigned>(result.length), static_cast<unsigned>(kMaxUserDataSize));
        else
            std::fprintf(stderr, "ERROR: cannot allocate %u bytes of memory\n",
                         static_cast<unsigned>(result.length + kVarFileFrame));
        return Fail(kNoImage, "ERROR: out of memory\n");
    }
    // A device takes the name of a file on some systems: such a file cannot be created.
    if (IsDeviceName(output_path))
        return Fail(kCannotWrite, "ERROR: unable to create %s\n", output_path);
    const int status = WriteOutput(utf8 ? output_path : LegacyPath(output_path), output_path, {image.get(), image_size});
    if (status == kSuccess && replaced.count)
        std::fprintf(stderr, "%s: %u character%s replaced, %sat %u:%u: %s\n", input_path,
                     static_cast<unsigned>(replaced.count), replaced.count == 1 ? "" : "s",
                     replaced.count == 1 ? "" : "the first ", static_cast<unsigned>(replaced.first.line),
                     static_cast<unsigned>(replaced.first.column), replaced.first.what);
    return status;
}
