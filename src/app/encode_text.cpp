#include "app/encode_text.h"

#include "app/status.h"
#include "core/byte_encoder.h"
#include "core/charset.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Reports why the text named `shown` is not taken, its encoding having ended with `status` (a
// refused character at `problem`) and its read having failed with `failed`, and returns the
// exit status; kSuccess when neither holds.
int TextFailure(EncodeStatus status, bool failed, const TextMode& mode, const char* shown, const Utf8Problem& problem)
{
    if (status == EncodeStatus::too_big)
        return mode.in_parts ? Fail(kTooBig, "ERROR: %s: text file too big\n", shown)
                             : Fail(kTooBig, "ERROR: text file too big\n");
    if (status == EncodeStatus::refused && !failed)
        return Fail(kRefused, "ERROR: %s:%u:%u: %s\n", shown, static_cast<unsigned>(problem.line),
                    static_cast<unsigned>(problem.column), problem.what);
    return failed ? Fail(kCannotRead, "ERROR: unable to read %s\n", shown) : kSuccess;
}

} // namespace

std::size_t TextBytesRead(const TextMode& mode, std::size_t parts)
{
    if (mode.utf8)
        return 3 + 5 * parts * kMaxStoredText + 8 + mode.replace;
    return mode.in_parts ? parts * kMaxStoredText + 1 : kMaxTextSize + 1;
}

int RefuseVariableFile(std::span<const unsigned char> text, const char* shown)
{
    if (!HasSignature(text))
        return kSuccess;
    return Fail(kRefused, "ERROR: %s is a variable file; give -x to take its text out\n", shown);
}

int EncodeText(std::span<const unsigned char> text, bool failed, const TextMode& mode, std::size_t most_parts,
               const char* shown, DataBuffer& buffer, EncodedText& out)
{
    if (const int status = RefuseVariableFile(text, shown))
        return status;
    if (mode.replace && text.size() >= TextBytesRead(mode, most_parts))
        return TextFailure(EncodeStatus::too_big, failed, mode, shown, out.problem);
    // As the Windows runtime's text mode does, a Ctrl-Z ends the text, and the CR of a CR LF
    // pair is kept for the 0x0D that the line break is stored as.
    const LineBreaks breaks = mode.as_on_disk ? LineBreaks::crlf_or_lf : LineBreaks::lf;
    if (mode.as_on_disk && !mode.utf8) {
        const std::span<const unsigned char> before_ctrl_z = TextUpToCtrlZ(text);
        failed = failed && before_ctrl_z.size() == text.size();
        text = before_ctrl_z;
    }
    ReplacementTally replaced;
    const auto encode = [&](std::size_t from) {
        if (mode.utf8)
            return Utf8File2DataBuffer(text, buffer, out.problem, mode.replace ? &replaced : nullptr, from);
        return mode.in_parts ? TextPart2DataBuffer(text, breaks, buffer, from) : TextFile2DataBuffer(text, breaks, buffer);
    };

    // One variable: the whole text at once.
    if (most_parts == 1) {
        const EncodeResult result = encode(0);
        if (result.status != EncodeStatus::ok)
            return TextFailure(result.status, failed, mode, shown, out.problem);
        out.data = std::span(buffer).first(result.length);
        out.lengths[0] = result.length;
        out.parts = 1;
        if (mode.replace)
            SummarizeReplacements(replaced, out.replaced);
        return TextFailure(EncodeStatus::ok, failed, mode, shown, out.problem);
    }

    // Each part as much of the rest as one variable holds, where the encoder says it ends.
    std::size_t size = 0;
    for (std::size_t start = 0; out.parts == 0 || start < text.size(); ++out.parts) {
        if (out.parts == most_parts)
            return TextFailure(EncodeStatus::too_big, failed, mode, shown, out.problem);
        const EncodeResult result = encode(start);
        if (result.status == EncodeStatus::refused || (result.status == EncodeStatus::too_big && result.end == start))
            return TextFailure(result.status, failed, mode, shown, out.problem);  // refused, or not one character fits
        auto* more = static_cast<unsigned char*>(std::realloc(out.block.get(), size + result.length));
        if (!more)
            return Fail(kNoImage, "ERROR: out of memory\n");
        out.block.release();
        out.block.reset(more);
        std::memcpy(more + size, buffer.data(), result.length);
        size += out.lengths[out.parts] = result.length;
        start = result.end;
    }
    out.data = {out.block.get(), size};
    if (mode.replace)
        SummarizeReplacements(replaced, out.replaced);
    return TextFailure(EncodeStatus::ok, failed, mode, shown, out.problem);
}

int EncodeText(std::span<const unsigned char> text, bool failed, const TextMode& mode, const char* shown,
               DataBuffer& data, std::uint32_t& length, Utf8Replacements& replaced, Utf8Problem& problem)
{
    EncodedText out;
    const int status = EncodeText(text, failed, mode, 1, shown, data, out);
    length = out.parts ? out.lengths[0] : 0;
    replaced = out.replaced;
    problem = out.problem;
    return status;
}
int ImageOf(const char* name, std::span<const unsigned char> data, const Model& model, const char* folder,
            unsigned char attribute, Owned<unsigned char[]>& image, std::uint32_t& image_size)
{
    ImageFailure why;
    image.reset(DataBuffer2OTHBuffer(name, data, image_size, why, model, folder, attribute));
    if (image)
        return kSuccess;
    if (why == ImageFailure::too_long)
        Note("ERROR: length (%u) exceeds max. user data size (%u)\n", static_cast<unsigned>(data.size()),
             static_cast<unsigned>(kMaxUserDataSize));
    else
        Note("ERROR: cannot allocate %u bytes of memory\n", static_cast<unsigned>(data.size() + kVarFileFrame));
    return Fail(kNoImage, "ERROR: out of memory\n");
}

int GroupImageOf(std::span<const Variable> variables, const Model& model, const char* shown,
                 Owned<unsigned char[]>& image, std::uint32_t& image_size)
{
    ImageFailure why;
    image.reset(Variables2GroupBuffer(variables, image_size, why, model));
    if (!image)
        return Fail(kNoImage, why == ImageFailure::too_long ? "ERROR: too many variables for one file\n" : "ERROR: out of memory\n");
    // What -x reads back, and more than any calculator of the family holds.
    if (image_size > kMaxVarFileSize) {
        image.reset();
        return Fail(kTooBig, "ERROR: %s: larger than any variable file (%u MiB)\n", shown,
                    static_cast<unsigned>(kMaxVarFileSize >> 20));
    }
    return kSuccess;
}

void NoteReplacements(const Utf8Replacements& replaced, const char* shown)
{
    if (!replaced.count)
        return;
    // "47 replaced: 40 ═ as =, 3 ½ as 1/2, …": the kinds most frequent first, each calculator
    // byte as its UTF-8 form; a mark or format character dropped, by its code point.
    char line[1024];  // more than the longest: 3 kinds of 24 bytes each way, 8 of UTF-8 a byte
    int n = std::snprintf(line, sizeof line, "%u replaced:", static_cast<unsigned>(replaced.count));
    for (std::size_t k = 0; k < kNamedKinds && replaced.most[k].count; ++k) {
        const ReplacedKind& kind = replaced.most[k];
        n += std::snprintf(line + n, sizeof line - n, "%s %u %.*s %s", k ? "," : "", static_cast<unsigned>(kind.count),
                           kind.from_size, kind.from, kind.to_size ? "as " : "dropped");
        for (std::size_t i = 0; i < kind.to_size; ++i) {
            const std::string_view shown_as = CalcByte2Utf8(kind.to[i]);
            n += std::snprintf(line + n, sizeof line - n, "%.*s", static_cast<int>(shown_as.size()), shown_as.data());
        }
    }
    Note("%s: %s%s\n", shown, line, replaced.kinds > kNamedKinds ? ", \xE2\x80\xA6" : "");
}
