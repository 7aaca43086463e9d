// Feeds arbitrary bytes to the reader as a variable file: it refuses or reads, and reads nothing
// outside them. Then takes the bytes as a text: the file that the encoder and the writer make of
// it always reads back to that text, its line breaks made the reader's.
//
// The first byte picks the variable name's length (low 4 bits, 0 to 15) and the line break
// (bit 4: CR LF, else LF); the name's bytes follow it, then the text.
#include "charset.h"
#include "oth_file.h"
#include "text_encoder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// What the reader gives back of the text `raw`, each line break as LF: the text mode makes
// CR LF one LF and ends the text at a Ctrl-Z, the encoder stores 0xFF as NUL, and a lone CR
// (kept by the encoder) ends a line on the calculator, whose next byte is that line's type:
// a space there is dropped.
std::string Expected(const std::string& raw)
{
    std::string text;
    for (std::size_t i = 0; i < raw.size() && raw[i] != '\x1A'; ++i) {
        const char b = raw[i];
        if (b == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            continue;
        text += b == '\r' ? '\n' : b == '\xFF' ? '\0' : b;
        if (b == '\r' && i + 1 < raw.size() && raw[i + 1] == ' ')
            ++i;
    }
    return text;
}

// `text` (line breaks as LF) as the reader writes it with `line_break`, in UTF-8 or not.
std::string Written(const std::string& text, const std::string& line_break, bool utf8)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b == '\n')
            out += line_break;
        else if (!utf8 || (b == 0x0C && (i == 0 || text[i - 1] == '\n')))
            out += char(b);
        else
            out += CalcByte2Utf8(b);
    }
    return out;
}

// Text variable data `data` back to text.
std::string Text(std::span<const unsigned char> data, bool utf8, const char* line_break)
{
    std::string text(data.size() * kTextBytesPerDataByte, '\0');
    text.resize(DataBuffer2Text(data, utf8, line_break, reinterpret_cast<unsigned char*>(text.data())));
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    // The bytes as a variable file, in a heap block of exactly their size.
    std::vector<unsigned char> file(bytes, bytes + size);
    file.shrink_to_fit();
    std::size_t count = 0;
    if (!CheckOTHBuffer(file, count)) {
        for (std::size_t i = 0; i < count; ++i) {
            const Variable v = OTHBuffer2Variable(file, i);
            Require(v.data.empty() || (v.data.data() >= file.data() &&
                                       v.data.data() + v.data.size() <= file.data() + size),
                    "the data lie in the file");
            if (IsTextData(v.data)) {
                Text(v.data, false, "\r\n");
                Text(v.data, true, "\n");
            }
        }
    }
    if (size == 0)
        return 0;

    // The bytes as a text, through the encoder and the writer, and back.
    const std::size_t name_length = std::min<std::size_t>(bytes[0] & 0x0F, size - 1);
    std::string name(reinterpret_cast<const char*>(bytes + 1), name_length);
    name = name.substr(0, 8).c_str();  // what the file keeps of it
    const std::string line_break = bytes[0] & 0x10 ? "\r\n" : "\n";
    std::string raw(reinterpret_cast<const char*>(bytes + 1 + name_length), size - 1 - name_length);

    raw.reserve(1);  // fmemopen wants a buffer even for no bytes
    std::FILE* in = fmemopen(raw.data(), raw.size(), "rb");
    Require(in, "fmemopen");
    static DataBuffer buffer;
    const EncodeResult result = TextFile2DataBuffer(in, buffer);
    std::fclose(in);
    if (result.status != EncodeStatus::ok || result.length > kMaxUserDataSize)
        return 0;
    std::uint32_t image_size = 0;
    unsigned char* image = DataBuffer2OTHBuffer(name.c_str(), result.length, buffer.data(), &image_size);
    Require(image, "the writer made a file");
    const std::span<const unsigned char> made(image, image_size);
    Require(!CheckOTHBuffer(made, count), "the writer's file reads");
    const Variable v = OTHBuffer2Variable(made, 0);
    Require(count == 1 && v.name == name && IsTextData(v.data), "one text variable of that name");
    const std::string expected = Expected(raw);
    for (bool utf8 : {false, true})
        Require(Text(v.data, utf8, line_break.c_str()) == Written(expected, line_break, utf8),
                "the text comes back");
    std::free(image);
    return 0;
}
