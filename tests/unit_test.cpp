// Checks against TiLP's libraries: the character table against libticonv, and files that
// libtifiles2 writes read here, and files written here read by libtifiles2.
#include "charset.h"
#include "oth_file.h"
#include "text_encoder.h"

#define restrict __restrict  // the libraries' headers are written for C99
#include <ticonv.h>
#include <tifiles.h>
#undef restrict

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// Every byte's UTF-8 form is libticonv's but where our table corrects it: two malformed surrogate
// pairs there (exponent E, imaginary unit), and the inverse shown as an acute accent.
TEST(Charset, EveryByteAgreesWithLibticonv)
{
    EXPECT_EQ(CalcByte2Utf8(0), "\0"s);  // a C string cannot carry byte 0 through the conversion
    for (int b = 1; b < 256; ++b) {
        const char ti[2] = {static_cast<char>(b), 0};
        unsigned short* utf16 = ticonv_charset_ti_to_utf16(CALC_TI89, ti);
        char* utf8 = ticonv_utf16_to_utf8(utf16);
        const bool corrected = b == 0x95 || b == 0x97 || b == 0xB4;
        EXPECT_EQ(CalcByte2Utf8(b) == utf8, !corrected) << std::hex << b << " " << utf8;
        ticonv_utf8_free(utf8);
        ticonv_utf16_free(utf16);
    }
}

struct Var {
    const char* folder;
    const char* name;
    unsigned char type;
    std::string data;
};

// The file that TiLP's libtifiles2 writes for `vars` on `model`.
std::string TifilesImage(CalcModel model, const std::vector<Var>& vars)
{
    FileContent* content = tifiles_content_create_regular(model);
    std::strcpy(content->default_folder, "main");
    for (const Var& v : vars) {
        // libtifiles2 keeps the big-endian size field in front of the data.
        VarEntry* ve = tifiles_ve_create_alloc_data(v.data.size() + 2);
        std::strcpy(ve->folder, v.folder);
        std::strcpy(ve->name, v.name);
        ve->type = v.type;
        ve->size = v.data.size() + 2;
        ve->data[0] = v.data.size() >> 8;
        ve->data[1] = v.data.size() & 0xFF;
        std::memcpy(ve->data + 2, v.data.data(), v.data.size());
        tifiles_content_add_entry(content, ve);
    }
    const std::string path = testing::TempDir() + "unit_test.file";
    EXPECT_EQ(tifiles_file_write_regular(path.c_str(), content, nullptr), 0);
    tifiles_content_delete_regular(content);
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Each variable of `file` as name, type and, for a text variable, "=" and its text.
std::string Read(const std::string& file)
{
    const std::span bytes(reinterpret_cast<const unsigned char*>(file.data()), file.size());
    std::size_t count = 0;
    if (const char* why = CheckOTHBuffer(bytes, count))
        return "refused: "s + why;
    std::string read;
    for (std::size_t i = 0; i < count; ++i) {
        const Variable v = OTHBuffer2Variable(bytes, i);
        char type[4];
        std::snprintf(type, sizeof type, " %02X", v.type);
        read += v.name + std::string(type) + (IsTextData(v.data) ? "=" : "");
        if (IsTextData(v.data)) {
            std::string text(v.data.size() * kTextBytesPerDataByte, '\0');
            read += text.substr(0, DataBuffer2Text(v.data, false, "\r\n", reinterpret_cast<unsigned char*>(text.data())));
        }
        read += "|";
    }
    return read;
}

TEST(Reader, FilesOfAnIndependentWriter)
{
    // A command line, a page break, a line of another type, non-ASCII bytes, a NUL in the text.
    const Var notes = {"main", "notes", 0x0C, "\x00\x07" "CDisp 1\r\x0Cpage\r\xE9t\r caf\xE9 \x00!\x00\xE0"s};
    const std::string text = "CDisp 1\r\n\fpage\r\n\xE9t\r\ncaf\xE9 \x00!"s;
    tifiles_library_init();
    for (CalcModel model : {CALC_TI89, CALC_TI92, CALC_TI92P, CALC_V200})
        EXPECT_EQ(Read(TifilesImage(model, {notes})), "notes 0C=" + text + "|") << model;
    // Folders main and work; an empty text with a name of 8 bytes; a list, which is no text.
    EXPECT_EQ(Read(TifilesImage(CALC_TI89, {notes, {"work", "longname", 0x0C, "\x00\x00\x20\x00\xE0"s},
                                            {"work", "lst", 0x04, "\x00\x01\xD9"s}})),
              "main 1F|notes 0C=" + text + "|work 1F|longname 0C=|lst 04|");
}

// The file of each model, as this program writes it, read by libtifiles2 as a file of that model;
// a Voyage 200 file carries the TI-92 Plus signature.
TEST(Reader, FilesReadByAnIndependentReader)
{
    tifiles_library_init();
    const CalcModel models[] = {CALC_TI89, CALC_TI92, CALC_TI92P, CALC_TI92P};
    const unsigned char data[] = {0x00, 0x01, 0x20, 'a', 'b', 'c', 0x00, 0xE0};
    for (int m = 0; m < 4; ++m) {
        std::uint32_t size = 0;
        unsigned char* image = DataBuffer2OTHBuffer("abc", sizeof data, data, &size, kModels[m]);
        const std::string path = testing::TempDir() + "unit_test" + kModels[m].extension;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image), size);
        std::free(image);
        FileContent* content = tifiles_content_create_regular(CALC_NONE);
        ASSERT_EQ(tifiles_file_read_regular(path.c_str(), content), 0) << m;
        EXPECT_EQ(content->model, models[m]) << m;
        ASSERT_EQ(content->num_entries, 1u) << m;
        const VarEntry* v = content->entries[0];
        EXPECT_STREQ(v->name, "abc");
        EXPECT_EQ(v->type, 0x0C);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(v->data), v->size),
                  "\x00\x08"s + std::string(reinterpret_cast<const char*>(data), sizeof data)) << m;
        tifiles_content_delete_regular(content);
    }
}

} // namespace
