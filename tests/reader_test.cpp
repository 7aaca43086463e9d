#include "charset.h"
#include "oth_file.h"
#include "text_encoder.h"

#define restrict __restrict  // libticonv's header is written for C99
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

// The worked example: the variable abc holding the letters abc.
const std::string kAbcImage =
    "**TI89**\x01\x00main"s + std::string(44, '\0') + "\x01\x00\x52\x00\x00\x00" "abc\0\0\0\0\0"
    "\x0C\x00\x03\x00\x62\x00\x00\x00\xA5\x5A\x00\x00\x00\x00\x00\x08\x00\x01\x20\x61\x62\x63\x00\xE0\x2F\x02"s;

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
        const std::string sized = {char(v.data.size() >> 8), char(v.data.size() & 0xFF)};
        VarEntry* ve = tifiles_ve_create_alloc_data(v.data.size() + 2);
        std::strcpy(ve->folder, v.folder);
        std::strcpy(ve->name, v.name);
        ve->type = v.type;
        ve->size = v.data.size() + 2;
        std::memcpy(ve->data, (sized + v.data).data(), ve->size);
        tifiles_content_add_entry(content, ve);
    }
    const std::string path = testing::TempDir() + "reader_test.file";
    EXPECT_EQ(tifiles_file_write_regular(path.c_str(), content, nullptr), 0);
    tifiles_content_delete_regular(content);
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::span<const unsigned char> Bytes(const std::string& s)
{
    return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

// Text variable data `data` back to text.
std::string Text(const std::string& data, bool utf8, const char* line_break)
{
    std::string text(data.size() * kTextBytesPerDataByte, '\0');
    text.resize(DataBuffer2Text(Bytes(data), utf8, line_break,
                                reinterpret_cast<unsigned char*>(text.data())));
    return text;
}

// Each variable of `file` as name, type and, for a text variable, "=" and its text.
std::string Read(const std::string& file)
{
    std::size_t count = 0;
    if (const char* why = CheckOTHBuffer(Bytes(file), count))
        return "refused: "s + why;
    std::string read;
    for (std::size_t i = 0; i < count; ++i) {
        const Variable v = OTHBuffer2Variable(Bytes(file), i);
        char type[4];
        std::snprintf(type, sizeof type, " %02X", v.type);
        read += v.name + std::string(type);
        if (IsTextData(v.data))
            read += "=" + Text({reinterpret_cast<const char*>(v.data.data()), v.data.size()},
                               false, "\r\n");
        read += "|";
    }
    return read;
}

// A command line, a page break, a line of another type, non-ASCII bytes, a NUL in the text.
const std::string kNotes = "\x00\x07" "CDisp 1\r\x0Cpage\r\xE9t\r caf\xE9 \x00!\x00\xE0"s;
const std::string kNotesText = "CDisp 1\r\n\fpage\r\n\xE9t\r\ncaf\xE9 \x00!"s;

// Folders main and work; an empty text with a name of 8 bytes; a list, which is no text.
const std::vector<Var> kGroup = {{"main", "notes", 0x0C, kNotes},
                                 {"work", "longname", 0x0C, "\x00\x00\x20\x00\xE0"s},
                                 {"work", "lst", 0x04, "\x00\x01\xD9"s}};

TEST(Reader, IndependentWriter)
{
    tifiles_library_init();
    for (CalcModel model : {CALC_TI89, CALC_TI92, CALC_TI92P, CALC_V200})
        EXPECT_EQ(Read(TifilesImage(model, {kGroup[0]})), "notes 0C=" + kNotesText + "|") << model;
    EXPECT_EQ(Read(TifilesImage(CALC_TI89, kGroup)),
              "main 1F|notes 0C=" + kNotesText + "|work 1F|longname 0C=|lst 04|");
    EXPECT_EQ(Read(kAbcImage), "abc 0C=abc|");
}

// The file of each model, as this program writes it, read by libtifiles2 as a file of that model;
// a Voyage 200 file carries the TI-92 Plus signature.
TEST(Reader, IndependentReader)
{
    tifiles_library_init();
    const CalcModel models[] = {CALC_TI89, CALC_TI92, CALC_TI92P, CALC_TI92P};
    const std::string data = "\x00\x01\x20" "abc\x00\xE0"s;
    for (int m = 0; m < 4; ++m) {
        std::uint32_t size = 0;
        unsigned char* image = DataBuffer2OTHBuffer("abc", data.size(), Bytes(data).data(), &size, kModels[m]);
        const std::string path = testing::TempDir() + "reader_test" + kModels[m].extension;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image), size);
        std::free(image);
        FileContent* content = tifiles_content_create_regular(CALC_NONE);
        ASSERT_EQ(tifiles_file_read_regular(path.c_str(), content), 0) << m;
        EXPECT_EQ(content->model, models[m]) << m;
        ASSERT_EQ(content->num_entries, 1u) << m;
        const VarEntry* v = content->entries[0];
        EXPECT_STREQ(v->name, "abc");
        EXPECT_EQ(v->type, 0x0C);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(v->data), v->size), "\x00\x08"s + data) << m;
        tifiles_content_delete_regular(content);
    }
}

TEST(Reader, Refusals)
{
    // The group: 5 entries from offset 60, then the file size, 0xA5 0x5A and, from 0x92, the
    // data blocks of notes (its size field at 0x96), longname and lst; 207 bytes in all.
    const std::string group = TifilesImage(CALC_TI89, kGroup);
    ASSERT_EQ(group.size(), 207u);
    const struct {
        const std::string& base;
        std::size_t size;  // cut to or padded with zeros to this size
        std::size_t at;    // then this byte is xor'ed with `flip`
        unsigned char flip;
        const char* why;
    } cases[] = {
        {kAbcImage, 50, 0, 0, "shorter than its header"},
        {kAbcImage, 97, 0, 0, "file size field disagrees with the file's length"},
        {kAbcImage, 98, 2, 0x01, "unknown signature"},
        {kAbcImage, 98, 7, 0x01, "unknown signature"},
        {kAbcImage, 98, 58, 0x01, "no entry"},
        {kAbcImage, 98, 60, 0x80, "data block outside the file"},
        {kAbcImage, 98, 87, 0x01, "data block outside the file"},
        {kAbcImage, 98, 87, 0x0F, "data size disagrees with the file's length"},
        {kAbcImage, 98, 76, 0x01, "file size field disagrees with the file's length"},
        {kAbcImage, 98, 96, 0x01, "wrong checksum"},
        {group, 60 + 5 * 16 + 5, 0, 0, "shorter than its header"},
        {group, 206, 0, 0, "data block outside the file"},
        {group, 208, 0, 0, "data size disagrees with the file's length"},
        {group, 207, 0x97, 0x01, "data block out of place"},
        {group, 207, 0xA0, 0x01, "wrong checksum"},
    };
    for (const auto& c : cases) {
        std::string file = c.base;
        file.resize(c.size);
        file[c.at] ^= c.flip;
        EXPECT_EQ(Read(file), "refused: "s + c.why) << c.size << " " << c.at;
    }
}

} // namespace
