#include "oth_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace std::string_literals;

namespace {

struct Built {
    std::string image;  // empty when the writer gave none
    std::uint32_t size;
    std::string err;
};

Built Build(const char* name, const std::string& data)
{
    std::uint32_t size = 12345;  // must stay untouched on failure
    testing::internal::CaptureStderr();
    unsigned char* image = DataBuffer2OTHBuffer(
        name, static_cast<std::uint32_t>(data.size()),
        reinterpret_cast<const unsigned char*>(data.data()), &size);
    Built built{"", size, testing::internal::GetCapturedStderr()};
    if (image)
        built.image.assign(reinterpret_cast<const char*>(image), size);
    std::free(image);
    return built;
}

} // namespace

// The name abc and the encoded letters abc; the reader's tests read it too.
extern const std::string kAbcImage;
const std::string kAbcImage =
    "\x2A\x2A\x54\x49\x38\x39\x2A\x2A\x01\x00\x6D\x61\x69\x6E\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x52\x00\x00\x00"
    "\x61\x62\x63\x00\x00\x00\x00\x00\x0C\x00\x03\x00\x62\x00\x00\x00"
    "\xA5\x5A\x00\x00\x00\x00\x00\x08\x00\x01\x20\x61\x62\x63\x00\xE0"
    "\x2F\x02"s;

namespace {

TEST(Writer, WorkedExample)
{
    const Built built = Build("abc", "\x00\x01\x20\x61\x62\x63\x00\xE0"s);
    EXPECT_EQ(built.image, kAbcImage);
    EXPECT_EQ(built.size, 98u);
    EXPECT_EQ(built.err, "");
}

struct FieldCase {
    const char* name;
    std::string data;
    std::string name_field;  // offset 64, 8 bytes
    std::string file_size;   // offset 76, 4 bytes little-endian
    std::string data_size;   // offset 86, 2 bytes big-endian
    std::string checksum;    // the last 2 bytes, little-endian
};

TEST(Writer, Fields)
{
    const FieldCase cases[] = {
        {"", "", "\0\0\0\0\0\0\0\0"s, "\x5A\0\0\0"s, "\0\0"s, "\0\0"s},
        {"ABCDEFGHIJ", "\xFF", "ABCDEFGH", "\x5B\0\0\0"s, "\0\x01"s, "\x00\x01"s},
        {"eightchr", "\x80\x80", "eightchr", "\x5C\0\0\0"s, "\0\x02"s, "\x02\x01"s},
        {"a.b c/d", "", "a.b c/d\0"s, "\x5A\0\0\0"s, "\0\0"s, "\0\0"s},
        // 0xFF + 0xE8 + 65512 * 0xFF = 16,706,047, which is 0xE9FF modulo 65,536.
        {"big", std::string(65512, '\xFF'), "big\0\0\0\0\0"s, "\x42\x00\x01\x00"s, "\xFF\xE8"s,
         "\xFF\xE9"s},
        // 0x01 + 0x00 + 256 * 0x01: the size field counts toward the checksum.
        {"x", std::string(256, '\x01'), "x\0\0\0\0\0\0\0"s, "\x5A\x01\0\0"s, "\x01\x00"s,
         "\x01\x01"s},
    };
    for (const FieldCase& c : cases) {
        const Built built = Build(c.name, c.data);
        ASSERT_EQ(built.image.size(), c.data.size() + 90) << c.name;
        EXPECT_EQ(built.size, c.data.size() + 90) << c.name;
        EXPECT_EQ(built.image.substr(0, 64), kAbcImage.substr(0, 64)) << c.name;
        EXPECT_EQ(built.image.substr(64, 8), c.name_field) << c.name;
        EXPECT_EQ(built.image.substr(72, 4), "\x0C\x00\x03\x00"s) << c.name;
        EXPECT_EQ(built.image.substr(76, 4), c.file_size) << c.name;
        EXPECT_EQ(built.image.substr(80, 6), "\xA5\x5A\0\0\0\0"s) << c.name;
        EXPECT_EQ(built.image.substr(86, 2), c.data_size) << c.name;
        EXPECT_EQ(built.image.substr(88, c.data.size()), c.data) << c.name;
        EXPECT_EQ(built.image.substr(88 + c.data.size()), c.checksum) << c.name;
    }
}

TEST(Writer, RefusesTooMuchData)
{
    const Built built = Build("big", std::string(65513, 'a'));
    EXPECT_EQ(built.image, "");
    EXPECT_EQ(built.size, 12345u);
    EXPECT_EQ(built.err, "ERROR: length (65513) exceeds max. user data size (65512)\n");
}

} // namespace
