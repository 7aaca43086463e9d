#include "app/encode_text.h"

#include "core/byte_encoder.h"

#include <cstring>

namespace {

// Why the text named `shown` is not taken, its encoding having ended with `status` (a refused
// character at `problem`) and its read having failed with `failed`; nothing when neither holds.
Message TextFailure(EncodeStatus status, bool failed, const TextMode& mode, const char* shown, const Utf8Problem& problem)
{
    if (status == EncodeStatus::too_big)
        return Say(MessageCode::text_too_big, mode.in_parts ? shown : nullptr);
    if (status == EncodeStatus::refused && !failed) {
        Message refused = Say(MessageCode::character, shown);
        refused.numbers[0] = problem.line;
        refused.numbers[1] = problem.column;
        refused.refusal = problem.kind;
        refused.detail = problem.what;
        return refused;
    }
    return failed ? Say(MessageCode::cannot_read, shown) : Message{};
}

// Makes `utf8` hold `text` as UTF-8, its size in `size`, when `mode` reads it in another
// encoding than UTF-8 (leaving it null otherwise), `bad` getting what the first byte that is no
// character was; returns kSuccess, or reports that no memory was left and returns the status.
Message AsUtf8(std::span<const unsigned char> text, const TextMode& mode, std::size_t most_parts,
               Owned<unsigned char[]>& utf8, std::size_t& size, char (&bad)[kUtf8WhatSize])
{
    const Encoding encoding = EncodingOf(text, mode, most_parts);
    if (encoding != Encoding::windows1252 && encoding != Encoding::utf16)
        return {};
    if (!Grow(utf8, Utf8Room(text.size()) + 1))
        return Say(MessageCode::out_of_memory);
    size = Utf8Of(text, encoding, utf8.get(), bad);
    return {};
}

} // namespace

Encoding EncodingOf(std::span<const unsigned char> text, const TextMode& mode, std::size_t parts)
{
    if (!mode.utf8)
        return Encoding::calculator;
    if (mode.encoding != Encoding::automatic)
        return mode.encoding;
    return DetectEncoding(text, text.size() >= TextBytesRead(mode, parts));
}

std::size_t TextBytesRead(const TextMode& mode, std::size_t parts)
{
    if (mode.utf8)
        return 3 + 5 * parts * kMaxStoredText + 8 + mode.replace;
    return mode.in_parts ? parts * kMaxStoredText + 1 : kMaxTextSize + 1;
}

Message RefuseVariableFile(std::span<const unsigned char> text, const char* shown)
{
    return HasSignature(text) ? Say(MessageCode::variable_file, shown) : Message{};
}

namespace {

// EncodeText, but for what a refused text looks like.
Message Encode(std::span<const unsigned char> text, bool failed, const TextMode& mode, std::size_t most_parts,
               const char* shown, DataBuffer& buffer, EncodedText& out)
{
    if (Message refused = RefuseVariableFile(text, shown))
        return refused;
    if (mode.replace && text.size() >= TextBytesRead(mode, most_parts))
        return TextFailure(EncodeStatus::too_big, failed, mode, shown, out.problem);
    // A text in another encoding is stored as its characters in UTF-8 are, but for what is no
    // character, refused for what it is.
    Owned<unsigned char[]> utf8;
    std::size_t utf8_size = 0;
    char bad[kUtf8WhatSize] = "";
    if (Message refused = AsUtf8(text, mode, most_parts, utf8, utf8_size, bad))
        return refused;
    if (utf8)
        text = {utf8.get(), utf8_size};
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
        EncodeResult result = mode.utf8 ? Utf8File2DataBuffer(text, buffer, out.problem, mode.replace ? &replaced : nullptr, from)
                              : mode.in_parts ? TextPart2DataBuffer(text, breaks, buffer, from)
                                              : TextFile2DataBuffer(text, breaks, buffer);
        if (result.status == EncodeStatus::refused && bad[0] && out.problem.kind == Utf8Refusal::malformed)
            std::memcpy(out.problem.what, bad, sizeof bad);
        return result;
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
        if (!Grow(out.block, size + result.length))
            return Say(MessageCode::out_of_memory);
        std::memcpy(out.block.get() + size, buffer.data(), result.length);
        size += out.lengths[out.parts] = result.length;
        start = result.end;
    }
    out.data = {out.block.get(), size};
    if (mode.replace)
        SummarizeReplacements(replaced, out.replaced);
    return TextFailure(EncodeStatus::ok, failed, mode, shown, out.problem);
}

} // namespace

Message EncodeText(std::span<const unsigned char> text, bool failed, const TextMode& mode, std::size_t most_parts,
                   const char* shown, DataBuffer& buffer, EncodedText& out)
{
    Message m = Encode(text, failed, mode, most_parts, shown, buffer, out);
    if (m.code == MessageCode::character)
        m.looks_like = DetectEncoding(text, text.size() >= TextBytesRead(mode, most_parts));
    return m;
}

Message ImageOf(const char* name, std::span<const unsigned char> data, const Model& model, const char* folder,
                unsigned char attribute, Owned<unsigned char[]>& image, std::uint32_t& image_size)
{
    ImageFailure why;
    image.reset(TextVariableFile(name, data, image_size, why, model, folder, attribute));
    if (image)
        return {};
    // The writer's precise reason: the data's length, or the size of the image it could not allocate.
    Message failure = Say(MessageCode::data_too_long);
    failure.numbers[0] = static_cast<std::uint32_t>(data.size());
    if (why != ImageFailure::too_long) {
        failure.code = MessageCode::no_image_memory;
        failure.numbers[0] += kVarFileFrame;
    }
    return failure;
}

Message GroupImageOf(std::span<const Variable> variables, const Model& model, const char* shown,
                     Owned<unsigned char[]>& image, std::uint32_t& image_size)
{
    ImageFailure why;
    image.reset(Variables2GroupBuffer(variables, image_size, why, model));
    if (!image)
        return Say(why == ImageFailure::too_long ? MessageCode::too_many_variables : MessageCode::out_of_memory);
    // What -x reads back, and more than any calculator of the family holds.
    if (image_size > kMaxVarFileSize) {
        image.reset();
        return Say(MessageCode::group_too_large, shown);
    }
    return {};
}

Message ReplacementsNote(const Utf8Replacements& replaced, const char* shown)
{
    if (!replaced.count)
        return {};
    Message note = Say(MessageCode::replaced, shown);
    note.replacements = &replaced;
    return note;
}
