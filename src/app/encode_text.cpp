#include "app/encode_text.h"

#include "app/status.h"
#include "core/byte_encoder.h"

#include <cstdlib>

std::size_t TextBytesRead(const TextMode& mode)
{
    return mode.utf8 ? kMaxUtf8TextSize + mode.replace : kMaxTextSize + 1;
}

int EncodeText(std::span<const unsigned char> text, bool failed, const TextMode& mode, const char* shown,
               DataBuffer& data, std::uint32_t& length, Utf8Replacements& replaced, Utf8Problem& problem)
{
    EncodeResult result;
    if (mode.replace && text.size() > kMaxUtf8TextSize) {
        result = {EncodeStatus::too_big, 0};
    } else if (mode.utf8) {
        result = Utf8File2DataBuffer(text, data, problem, mode.replace ? &replaced : nullptr);
    } else if (mode.as_on_disk) {
        // As the Windows runtime's text mode does, a Ctrl-Z ends the text, and the CR of a CR LF
        // pair is kept for the 0x0D that the line break is stored as.
        const std::span<const unsigned char> before_ctrl_z = TextUpToCtrlZ(text);
        failed = failed && before_ctrl_z.size() == text.size();
        result = TextFile2DataBuffer(before_ctrl_z, LineBreaks::crlf_or_lf, data);
    } else {
        result = TextFile2DataBuffer(text, LineBreaks::lf, data);
    }
    length = result.length;
    switch (result.status) {
    case EncodeStatus::ok: break;
    case EncodeStatus::too_big: return Fail(kTooBig, "ERROR: text file too big\n");
    case EncodeStatus::refused:
        if (!failed)
            return Fail(kRefused, "ERROR: %s:%u:%u: %s\n", shown, static_cast<unsigned>(problem.line),
                        static_cast<unsigned>(problem.column), problem.what);
    }
    return failed ? Fail(kCannotRead, "ERROR: unable to read %s\n", shown) : kSuccess;
}

unsigned char* ImageOf(const char* name, std::span<const unsigned char> data, const Model& model,
                       const char* folder, unsigned char attribute, std::uint32_t& image_size)
{
    ImageFailure why;
    unsigned char* const image = DataBuffer2OTHBuffer(name, data, image_size, why, model, folder, attribute);
    if (image)
        return image;
    if (why == ImageFailure::too_long)
        Note("ERROR: length (%u) exceeds max. user data size (%u)\n", static_cast<unsigned>(data.size()),
             static_cast<unsigned>(kMaxUserDataSize));
    else
        Note("ERROR: cannot allocate %u bytes of memory\n", static_cast<unsigned>(data.size() + kVarFileFrame));
    Fail(kNoImage, "ERROR: out of memory\n");
    return nullptr;
}

int GroupImageOf(std::span<const Variable> variables, const Model& model, const char* shown,
                 unsigned char*& image, std::uint32_t& image_size)
{
    ImageFailure why;
    image = Variables2GroupBuffer(variables, image_size, why, model);
    if (!image)
        return Fail(kNoImage, why == ImageFailure::too_long ? "ERROR: too many variables for one file\n" : "ERROR: out of memory\n");
    // What -x reads back, and more than any calculator of the family holds.
    if (image_size > kMaxVarFileSize) {
        std::free(image);
        image = nullptr;
        return Fail(kTooBig, "ERROR: %s: larger than any variable file (%u MiB)\n", shown,
                    static_cast<unsigned>(kMaxVarFileSize >> 20));
    }
    return kSuccess;
}

void NoteReplacements(const Utf8Replacements& replaced, const char* shown)
{
    if (replaced.count)
        Note("%s: %u character%s replaced, %sat %u:%u: %s\n", shown, static_cast<unsigned>(replaced.count),
             replaced.count == 1 ? "" : "s", replaced.count == 1 ? "" : "the first ",
             static_cast<unsigned>(replaced.first.line), static_cast<unsigned>(replaced.first.column),
             replaced.first.what);
}
