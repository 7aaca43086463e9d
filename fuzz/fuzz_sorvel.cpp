// One fuzz target for the whole converter, each result checked against a model built byte by
// byte. The first input byte picks what the rest is and how it is taken:
//   bits 0-1  0: a text file's bytes, through both text encoders, the writer and the reader;
//             1: calculator bytes, written as UTF-8 text and encoded back;
//             2: arbitrary bytes as UTF-8 text and as a variable name;
//             3: arbitrary bytes as a variable file.
//   bits 2-5  mode 0: the variable name's length, taken from the rest (its low two bits pick
//             the model); mode 1: the line break ("\n", "\r\n", "\r").
//   bit 7     stretches what follows by repeating it to 65,300 to 65,810 bytes, doubled by
//             bit 6, so that runs reach the size limits.
#include "charset.h"
#include "oth_file.h"
#include "text_encoder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void Require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// What the Windows runtime's text mode delivers of a file's bytes (CR LF as LF); a Ctrl-Z
// ends them only if `ctrl_z_ends`.
Bytes Deliver(const Bytes& raw, bool ctrl_z_ends)
{
    Bytes text;
    for (std::size_t i = 0; i < raw.size() && !(ctrl_z_ends && raw[i] == 0x1A); ++i)
        if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n'))
            text.push_back(raw[i]);
    return text;
}

// The text variable's data for delivered `text`: each LF as 0x0D 0x20, 0xFF as 0x00, the read
// past the end as 0x00, then 0xE0. More than 65,532 bytes means it does not fit.
Bytes DataModel(const Bytes& text)
{
    Bytes data = {0x00, 0x01, 0x20};
    for (const unsigned char b : text)
        if (b == '\n')
            data.insert(data.end(), {0x0D, 0x20});
        else
            data.push_back(b == 0xFF ? 0x00 : b);
    data.insert(data.end(), {0x00, 0xE0});
    return data;
}

// The UTF-8 text `text` through the UTF-8 encoder into `buffer`.
EncodeResult EncodeUtf8(std::string text, DataBuffer& buffer)
{
    text.reserve(1);  // fmemopen wants a buffer even for no bytes
    std::FILE* file = fmemopen(text.data(), text.size(), "rb");
    Require(file, "fmemopen");
    Utf8Problem problem;
    const EncodeResult result = Utf8File2DataBuffer(file, buffer, problem);
    std::fclose(file);
    return result;
}

// Text variable data `data` back to text, written into a heap block of exactly the room
// DataBuffer2Text may take, so that the sanitizer sees any overrun.
std::string Text(std::span<const unsigned char> data, bool utf8, const char* line_break)
{
    Bytes out(data.size() * kTextBytesPerDataByte);
    return std::string(out.begin(), out.begin() + DataBuffer2Text(data, utf8, line_break, out.data()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size == 0)
        return 0;
    const unsigned mode = bytes[0] & 3, flags = bytes[0] >> 2 & 15;
    const std::size_t name_length = mode == 0 ? std::min<std::size_t>(flags, size - 1) : 0;
    const std::string name = std::string(reinterpret_cast<const char*>(bytes + 1), name_length).c_str();
    Bytes raw(bytes + 1 + name_length, bytes + size);
    if ((bytes[0] & 0x80) && !raw.empty())
        for (std::size_t i = 0, n = (65300 + 2 * raw[0]) << (bytes[0] >> 6 & 1); raw.size() < n; ++i)
            raw.push_back(raw[i]);
    static DataBuffer buffer;

    if (mode == 0) {
        for (const LineBreaks breaks : {LineBreaks::crlf_or_lf, LineBreaks::lf}) {
            const Bytes expected = DataModel(breaks == LineBreaks::lf ? raw : Deliver(raw, false));
            for (const Kernel kernel : {Kernel::portable, Kernel::fastest}) {
                std::memset(buffer.data() + 65532, 0xA5, 4);
                const std::size_t stored = TextBytes2DataBuffer(raw, breaks, kernel, buffer);
                Require(!std::memcmp(buffer.data() + 65532, "\xA5\xA5\xA5\xA5", 4), "nothing past 65,531");
                Require((stored > kMaxTextSize) == (expected.size() > 65532), "too big as the model");
                Require(stored > kMaxTextSize || (stored == expected.size() - 5 &&
                            !std::memcmp(buffer.data() + 3, expected.data() + 3, stored)),
                        "a kernel stores the model's bytes");
            }
        }
        raw.reserve(1);
        std::FILE* file = fmemopen(raw.data(), raw.size(), "rb");
        Require(file, "fmemopen");
        const EncodeResult result = TextFile2DataBuffer(file, buffer);
        std::fclose(file);
        const Bytes text = Deliver(raw, true), expected = DataModel(text);
        if (expected.size() > 65532) {
            Require(result.status == EncodeStatus::too_big, "the file is too big");
            return 0;
        }
        Require(result.status == EncodeStatus::ok && result.length == expected.size() &&
                    !std::memcmp(buffer.data(), expected.data(), expected.size()),
                "the file gives the model's data");
        if (result.length > 65512)
            return 0;

        const Model& model = kModels[flags & 3];
        std::uint32_t image_size = 0;
        unsigned char* image = DataBuffer2OTHBuffer(name.c_str(), result.length, buffer.data(), &image_size, model);
        Require(image && image_size == result.length + 90, "the image is length + 90 bytes");
        const std::string header = std::string(model.signature, 8) + std::string("\x01\0main", 6) + std::string(44, '\0');
        Require(!std::memcmp(image, header.data(), 58), "signature, folder and comment");
        Require(!std::memcmp(image + 72, "\x0C\x00\x03\x00", 4) && !std::memcmp(image + 80, "\xA5\x5A\0\0\0\0", 6) &&
                    (image[76] | image[77] << 8 | image[78] << 16 | image[79] << 24) == int(image_size),
                "type, attribute, file size and marker");
        std::size_t count = 0;
        const std::span<const unsigned char> made(image, image_size);
        Require(!CheckOTHBuffer(made, count) && count == 1, "the writer's file reads");
        const Variable v = OTHBuffer2Variable(made, 0);
        Require(v.name == name.substr(0, 8) && v.data.size() == result.length &&
                    !std::memcmp(v.data.data(), buffer.data(), result.length),
                "the name and the data come back");
        // A lone CR ends a calculator line, whose type byte follows it: a space there is dropped.
        std::string back;
        for (std::size_t i = 0; i < text.size(); ++i) {
            back += text[i] == '\r' ? '\n' : text[i] == 0xFF ? '\0' : char(text[i]);
            i += text[i] == '\r' && i + 1 < text.size() && text[i + 1] == ' ';
        }
        Require(Text(v.data, false, "\n") == back, "the text comes back");
        std::free(image);
    } else if (mode == 1) {
        const char* const line_break = flags % 3 == 0 ? "\n" : flags % 3 == 1 ? "\r\n" : "\r";
        std::string text, back;  // back: the text with "\n" line breaks
        Bytes expected = {0x00, 0x01, 0x20};
        std::size_t stored = 0;
        for (const unsigned char b : raw) {
            if (b == 0x0D || b == 0x0A) {
                text += line_break;
                back += '\n';
                expected.insert(expected.end(), {0x0D, 0x20});
                stored += 2;
            } else if (b == 0x0C && expected.back() == 0x20 && (expected.size() == 3 || expected.end()[-2] == 0x0D)) {
                text += '\f';
                back += '\f';
                expected.back() = 0x0C;
            } else if (b != 0x00) {
                text += CalcByte2Utf8(b);
                back += CalcByte2Utf8(b);
                expected.push_back(b);
                ++stored;
            }
        }
        expected.insert(expected.end(), {0x00, 0xE0});
        const EncodeResult result = EncodeUtf8(text, buffer);
        if (stored > 65507) {
            Require(result.status == EncodeStatus::too_big, "too big past 65,507 stored bytes");
            return 0;
        }
        Require(result.status == EncodeStatus::ok && result.length == expected.size() &&
                    !std::memcmp(buffer.data(), expected.data(), expected.size()),
                "the UTF-8 text gives the calculator bytes");
        Require(Text({buffer.data(), result.length}, true, "\n") == back, "the UTF-8 text comes back");
    } else if (mode == 2) {
        char var_name[9], what[kUtf8WhatSize];
        std::size_t used = 0;
        const std::string_view prefix(reinterpret_cast<const char*>(raw.data()), std::min<std::size_t>(raw.size(), 24));
        if (Utf8Name2VarName(prefix, var_name, used, what))
            Require(used <= prefix.size() && (std::strlen(var_name) == 8 || used == prefix.size()),
                    "a name ends after 8 characters or at its end");
        const EncodeResult result = EncodeUtf8(std::string(raw.begin(), raw.end()), buffer);
        if (result.status != EncodeStatus::ok)
            return 0;
        const Bytes data(buffer.begin(), buffer.begin() + result.length);
        const EncodeResult again = EncodeUtf8(Text(data, true, "\n"), buffer);
        Require(again.status == EncodeStatus::ok && again.length == data.size() &&
                    !std::memcmp(buffer.data(), data.data(), data.size()),
                "the stored data decode back to the same characters");
    } else {
        raw.shrink_to_fit();  // a heap block of exactly the file's size
        std::size_t count = 0;
        if (CheckOTHBuffer(raw, count))
            return 0;
        for (std::size_t i = 0; i < count; ++i) {
            const Variable v = OTHBuffer2Variable(raw, i);
            Require(v.data.empty() || (v.data.data() >= raw.data() && v.data.data() + v.data.size() <= raw.data() + raw.size()),
                    "the data lie in the file");
            if (IsTextData(v.data)) {
                Text(v.data, false, "\r\n");
                Text(v.data, true, "\n");
            }
        }
    }
    return 0;
}
