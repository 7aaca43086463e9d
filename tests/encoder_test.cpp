#include "text_encoder.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

struct Encoded {
    EncodeStatus status;
    std::string data;
};

Encoded EncodeFile(std::FILE* file)
{
    static DataBuffer buffer;
    const EncodeResult result = TextFile2DataBuffer(file, buffer);
    std::string data;
    if (result.status == EncodeStatus::ok)
        data.assign(reinterpret_cast<const char*>(buffer.data()), result.length);
    return {result.status, data};
}

// Encodes `raw`, the bytes of a file on disk.
Encoded Encode(const std::string& raw)
{
    std::FILE* file = std::tmpfile();
    EXPECT_EQ(std::fwrite(raw.data(), 1, raw.size(), file), raw.size());
    std::rewind(file);
    Encoded encoded = EncodeFile(file);
    std::fclose(file);
    return encoded;
}

// The data of a text variable whose text, line breaks already rewritten, is `text`.
std::string Data(const std::string& text)
{
    return "\x00\x01\x20"s + text + "\x00\xE0"s;
}

struct Case {
    const char* what;
    std::string raw;   // on disk
    std::string text;  // stored between the opening and the close
};

const Case kCases[] = {
    {"empty", "", ""},      // 00 01 20 00 E0
    {"letters", "abc", "abc"},  // 00 01 20 61 62 63 00 E0
    {"CR LF", "Hi\r\n", "Hi\r "}, // 00 01 20 48 69 0D 20 00 E0
    {"bare LF", "Hi\n", "Hi\r "},
    {"breaks in a row", "\n\r\n\n", "\r \r \r "},
    {"0xFF becomes NUL", "a\xFF" "b", "a\0b"s},
    {"NUL, tab and high bytes kept", "\0\t\x80\xFE\x7F"s, "\0\t\x80\xFE\x7F"s},
    {"lone CR", "a\rb", "a\rb"},
    {"CR at the end", "a\r", "a\r"},
    {"CR CR LF", "\r\r\n", "\r\r "},
    {"LF CR", "\n\r", "\r \r"},
    {"CR LF LF", "\r\n\n", "\r \r "},
    {"CR before Ctrl-Z", "a\r\x1A" "b\n", "a\r"},
    {"Ctrl-Z ends the text", "ab\x1A" "cd\n", "ab"},
    {"Ctrl-Z first", "\x1A" "abc", ""},
    {"bytes after Ctrl-Z ignored", "x\x1A\xFF\x1A\n", "x"},
};

TEST(Encoder, Table)
{
    for (const Case& c : kCases) {
        const Encoded got = Encode(c.raw);
        EXPECT_EQ(got.status, EncodeStatus::ok) << c.what;
        EXPECT_EQ(got.data, Data(c.text)) << c.what;
    }
}

TEST(Encoder, EveryByteValue)
{
    // 0x1A would end the text; it is tested above.
    std::string raw, text;
    for (int b = 0; b < 256; ++b) {
        if (b == 0x1A)
            continue;
        raw += static_cast<char>(b);
        text += b == 0x0A ? "\r "s : b == 0xFF ? "\0"s : std::string(1, static_cast<char>(b));
    }
    EXPECT_EQ(Encode(raw).data, Data(text));
}

// Line breaks and 0xFF at each edge of the 8-, 16- and 64-byte blocks that the
// encoder works in, alone or five in a block, store as anywhere else, with each
// kernel, from the bytes on disk or as the Windows text mode delivers them.
TEST(Encoder, SpecialBytesAtBlockEdges)
{
    const struct {
        LineBreaks breaks;
        std::string raw, text;
    } kinds[] = {
        {LineBreaks::crlf_or_lf, "\r\n", "\r "},      {LineBreaks::crlf_or_lf, "\n", "\r "},
        {LineBreaks::crlf_or_lf, "\r", "\r"},         {LineBreaks::crlf_or_lf, "\xFF", "\0"s},
        {LineBreaks::crlf_or_lf, "\n\r\n\xFF\n", "\r \r \0\r "s},
        {LineBreaks::lf, "\r\n", "\r\r "},          {LineBreaks::lf, "\n\n\n\n\n", "\r \r \r \r \r "},
    };
    static DataBuffer buffer;
    const std::string tail(150, 'b');
    for (const Kernel kernel : {Kernel::portable, Kernel::fastest})
        for (const auto& kind : kinds)
            for (const std::size_t at : {1, 7, 8, 15, 16, 17, 63, 64, 65, 79, 80, 127, 128}) {
                const std::string a(at, 'a'), raw = a + kind.raw + tail;
                const std::string text = a + kind.text + tail;
                const std::size_t stored = TextBytes2DataBuffer(
                    std::span(reinterpret_cast<const unsigned char*>(raw.data()), raw.size()),
                    kind.breaks, kernel, buffer);
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()) + 3, stored), text)
                    << static_cast<int>(kernel) << " " << kind.raw.size() << " at " << at;
            }
}

struct SizeCase {
    const char* what;
    std::string raw;
    EncodeStatus status;
    std::size_t length;
};

TEST(Encoder, SizeLimit)
{
    const std::string a65525(65525, 'a');
    std::string crlf32763;
    for (int i = 0; i < 32763; ++i)
        crlf32763 += "\r\n";
    const SizeCase cases[] = {
        {"largest the writer takes", std::string(65507, 'a'), EncodeStatus::ok, 65512},
        {"largest that fits", a65525 + "aa", EncodeStatus::ok, 65532},
        {"one byte more", a65525 + "aaa", EncodeStatus::too_big, 0},
        {"LF counts twice", crlf32763 + "a", EncodeStatus::ok, 65532},
        {"LF counts twice, too big", crlf32763 + "\n", EncodeStatus::too_big, 0},
        {"LF counts twice, too big again", crlf32763 + "ab", EncodeStatus::too_big, 0},
        {"CR LF at the limit", a65525 + "\r\n", EncodeStatus::ok, 65532},
        {"CR LF past the limit", a65525 + "a\r\n", EncodeStatus::too_big, 0},
        {"lone CR past the limit", a65525 + "aa\r", EncodeStatus::too_big, 0},
        {"Ctrl-Z in time", a65525 + "aa\x1A" + a65525, EncodeStatus::ok, 65532},
    };
    for (const SizeCase& c : cases) {
        const Encoded got = Encode(c.raw);
        EXPECT_EQ(got.status, c.status) << c.what;
        EXPECT_EQ(got.data.size(), c.length) << c.what;
    }
}

TEST(Encoder, FailedReadIsNotTheEnd)
{
    const std::string path = testing::TempDir() + "sorvel-write-only.txt";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(EncodeFile(file).status, EncodeStatus::read_failed);
    std::fclose(file);
    std::remove(path.c_str());
}

#ifndef _WIN32
TEST(Encoder, EndlessInputIsTooBig)
{
    std::FILE* file = OpenTextFile("/dev/zero");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(EncodeFile(file).status, EncodeStatus::too_big);
    std::fclose(file);
}

TEST(Encoder, DirectoryDoesNotOpen)
{
    EXPECT_EQ(OpenTextFile(testing::TempDir().c_str()), nullptr);
}
#endif

} // namespace
