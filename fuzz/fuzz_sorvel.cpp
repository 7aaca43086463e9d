// Feeds arbitrary bytes through the text input, the encoder and the file
// writer, and checks each result against a byte-at-a-time model of the format.
//
// The first byte picks the variable name's length (low 4 bits, 0 to 15) and
// whether the text is stretched (high bit) by repeating it to 65,300 to 65,810
// bytes, so that runs reach the size limits; the name's bytes follow it.
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

// What the Windows runtime's text mode delivers of a file's bytes; a Ctrl-Z
// ends them only if `ctrl_z_ends`.
Bytes Deliver(const Bytes& raw, bool ctrl_z_ends = true)
{
    Bytes text;
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size() && !(ctrl_z_ends && raw[i] == 0x1A); ++i)
        if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n'))
            text.push_back(raw[i]);
    return text;
}

// The text variable's data, read by read as the calculator format defines it;
// empty when a read finds the data past position 65,530.
Bytes Model(const Bytes& text)
{
    Bytes data = {0x00, 0x01, 0x20};
    data.reserve(2 * text.size() + 5);
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (data.size() > 65530)
            return {};
        const unsigned char b = i < text.size() ? text[i] : 0xFF;  // the read past the end
        if (b == '\n')
            data.insert(data.end(), {0x0D, 0x20});
        else
            data.push_back(b == 0xFF ? 0x00 : b);
    }
    data.push_back(0xE0);
    return data;
}

// Each kernel, given the bytes as on disk or as the text mode delivers them,
// stores what the model does, or says they do not fit exactly when the model
// does, and never touches the data past position 65,531.
void CheckKernels(const Bytes& raw)
{
    static DataBuffer buffer;
    for (const LineBreaks breaks : {LineBreaks::crlf_or_lf, LineBreaks::lf}) {
        const Bytes text = breaks == LineBreaks::lf ? raw : Deliver(raw, false);
        const Bytes expected = Model(text);
        for (const Kernel kernel : {Kernel::portable, Kernel::fastest}) {
            std::memset(buffer.data() + 65532, 0xA5, 4);
            const std::size_t stored = TextBytes2DataBuffer(raw, breaks, kernel, buffer);
            Require(!std::memcmp(buffer.data() + 65532, "\xA5\xA5\xA5\xA5", 4), "nothing past 65,531");
            Require((stored > kMaxTextSize) == expected.empty(), "a kernel is too big with the model");
            if (!expected.empty())
                Require(stored == expected.size() - 5 &&
                            !std::memcmp(buffer.data() + 3, expected.data() + 3, stored),
                        "a kernel stores the model's bytes");
        }
    }
}

void CheckImage(const std::string& name, const Bytes& data)
{
    std::uint32_t size = 7;
    unsigned char* image = DataBuffer2OTHBuffer(name.c_str(), data.size(), data.data(), &size);
    if (data.size() > 65512) {
        Require(!image && size == 7, "a refused length leaves no image and the size alone");
        return;
    }
    Require(image && size == data.size() + 90, "the image is length + 90 bytes");
    Require(!std::memcmp(image, "**TI89**\x01\x00main\0\0\0\0", 18), "signature and folder");
    for (int i = 18; i < 58; ++i)
        Require(image[i] == 0, "the comment is zero");
    Require(!std::memcmp(image + 58, "\x01\x00\x52\x00\x00\x00", 6), "count and data offset");
    std::string field(name.substr(0, 8));
    field.resize(8, '\0');
    Require(!std::memcmp(image + 64, field.data(), 8), "the name field");
    Require(!std::memcmp(image + 72, "\x0C\x00\x03\x00", 4), "type, attribute");
    Require(image[76] + (image[77] << 8) + (image[78] << 16) + (image[79] << 24) == int(size),
            "the file size, little-endian");
    Require(!std::memcmp(image + 80, "\xA5\x5A\0\0\0\0", 6), "marker and data block");
    Require(image[86] * 256 + image[87] == int(data.size()), "the data size, big-endian");
    Require(!std::memcmp(image + 88, data.data(), data.size()), "the data");
    unsigned sum = image[86] + image[87];
    for (unsigned char b : data)
        sum += b;
    Require(image[88 + data.size()] + image[89 + data.size()] * 256 == int(sum % 65536),
            "the checksum");
    std::free(image);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t name_length = std::min<std::size_t>(bytes[0] & 0x0F, size - 1);
    std::string name(reinterpret_cast<const char*>(bytes + 1), name_length);
    name = name.c_str();  // a NUL ends the name
    Bytes raw(bytes + 1 + name_length, bytes + size);
    if ((bytes[0] & 0x80) && !raw.empty()) {
        const std::size_t stretched = 65300 + 2 * raw[0];
        for (std::size_t i = 0; raw.size() < stretched; ++i)
            raw.push_back(raw[i]);
    }

    CheckKernels(raw);
    raw.reserve(1);  // fmemopen wants a buffer even for no bytes
    std::FILE* file = fmemopen(raw.data(), raw.size(), "rb");
    Require(file, "fmemopen");
    static DataBuffer buffer;
    const EncodeResult result = TextFile2DataBuffer(file, buffer);
    std::fclose(file);

    const Bytes text = Deliver(raw);
    std::size_t line_breaks = 0;
    for (unsigned char b : text)
        line_breaks += b == '\n';
    const Bytes expected = Model(text);
    const bool too_big = text.size() + line_breaks > 65527;
    Require(expected.empty() == too_big, "the model is too big exactly past 65,527");
    if (too_big) {
        Require(result.status == EncodeStatus::too_big, "too big");
        return 0;
    }
    Require(result.status == EncodeStatus::ok, "encoded");
    Require(result.length == text.size() + line_breaks + 5, "length n + k + 5");
    Require(!std::memcmp(buffer.data(), expected.data(), expected.size()), "the model's data");
    CheckImage(name, Bytes(buffer.data(), buffer.data() + result.length));
    return 0;
}
