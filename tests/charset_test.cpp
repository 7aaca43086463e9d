#include "charset.h"

#define restrict __restrict  // the library's header is C
#include <ticonv.h>
#undef restrict

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace std::string_literals;

namespace {

// The bytes where our table corrects libticonv: two malformed surrogate pairs there (exponent E,
// imaginary unit), and the inverse shown as an acute accent.
constexpr unsigned char kCorrected[] = {0x95, 0x97, 0xB4};

TEST(Charset, EveryByteAgreesWithLibticonv)
{
    EXPECT_EQ(ti9x_charset[0], 0u);  // a C string cannot carry byte 0 through the conversion
    EXPECT_EQ(CalcByte2Utf8(0), "\0"s);
    for (int b = 1; b < 256; ++b) {
        const char ti[2] = {static_cast<char>(b), 0};
        unsigned short* utf16 = ticonv_charset_ti_to_utf16(CALC_TI89, ti);
        char* utf8 = ticonv_utf16_to_utf8(utf16);
        const std::string theirs = utf8;
        ticonv_utf8_free(utf8);
        ticonv_utf16_free(utf16);
        const bool corrected = std::find(std::begin(kCorrected), std::end(kCorrected), b) !=
                               std::end(kCorrected);
        if (corrected)
            EXPECT_NE(CalcByte2Utf8(b), theirs) << std::hex << b;
        else
            EXPECT_EQ(CalcByte2Utf8(b), theirs) << std::hex << b;
    }
}

struct Encoded {
    EncodeStatus status;
    std::string result;  // the data, or "line:column: what" when refused
};

Encoded Encode(const std::string& raw)
{
    static DataBuffer buffer;
    std::FILE* file = std::tmpfile();
    EXPECT_EQ(std::fwrite(raw.data(), 1, raw.size(), file), raw.size());
    std::rewind(file);
    Utf8Problem problem;
    const EncodeResult got = Utf8File2DataBuffer(file, buffer, problem);
    std::fclose(file);
    if (got.status == EncodeStatus::refused)
        return {got.status, std::to_string(problem.line) + ":" + std::to_string(problem.column) +
                                ": " + problem.what};
    return {got.status, std::string(reinterpret_cast<const char*>(buffer.data()),
                                    got.status == EncodeStatus::ok ? got.length : 0)};
}

// The data of a text whose first line type and text, line breaks rewritten, are `text`.
std::string Data(const std::string& text)
{
    return "\x00\x01"s + text + "\x00\xE0"s;
}

// Every byte's canonical form comes back as that byte, through the fast paths in a long text and
// through the slow one in the last bytes; line structure and NUL are tested below.
TEST(Charset, EveryByteRoundTrips)
{
    std::string raw, text = " ";
    for (int b = 1; b < 256; ++b) {
        if (b == 0x0A || b == 0x0C || b == 0x0D)
            continue;
        raw += CalcByte2Utf8(b);
        text += static_cast<char>(b);
    }
    EXPECT_EQ(Encode(raw + raw).result, Data(text + text.substr(1)));
}

struct Case {
    const char* what;
    std::string raw;
    std::string result;  // the first line type and the text; or where and why it is refused
};

const std::string kA40(40, 'a');

const Case kCases[] = {
    {"accent, Greek, sign", "\xC3\xA9 \xCE\xB8 \xE2\x89\xA4", " \xE9 \x88 \x9C"},
    {"x bar, y bar, macron", "x\xCC\x85y\xCC\x85x\xCC\x84", " \x9A\x9B\x9A"},
    {"x bar in a long text", kA40 + "x\xCC\x85" + kA40, " " + kA40 + "\x9A" + kA40},
    {"inverse, then superscript 1", "\xE2\x81\xBB\xC2\xB9\xC2\xB9", " \xB4\xB9"},
    {"inverse in a long text", kA40 + "\xE2\x81\xBB\xC2\xB9" + kA40, " " + kA40 + "\xB4" + kA40},
    {"page breaks", "\x0C" "a\n\x0C\x0C" "b\r\n\x0C", "\x0C" "a\r\x0C\x0C" "b\r\x0C"},
    {"form feed mid-line", "a\x0C", " a\x0C"},
    {"BOM", "\xEF\xBB\xBF" "a", " a"},
    {"line breaks", "a\r\nb\nc\rd\r\r\n\n\r", " a\r b\r c\r d\r \r \r \r "},
    {"y diaeresis", "\xC3\xBF", " \xFF"},
    {"plain equivalents", "\xC2\xA0\xE2\x80\x98\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x9D\xE2\x80\x93\xE2\x80\x94",
     "  ''\"\"--"},
    {"malformed lead", "ab\xC3(", "1:3: malformed UTF-8: C3"},
    {"stray continuation", "\xEF\xBB\xBF" "a\n\xC3\xA9\x80", "2:2: malformed UTF-8: 80"},
    {"truncated at the end", "ab\xE2\x89", "1:3: malformed UTF-8: E2 89"},
    {"truncated 4 bytes", "\xF0\x9F\x98" "a", "1:1: malformed UTF-8: F0 9F 98"},
    {"overlong", "\xC0\xAF", "1:1: malformed UTF-8: C0"},
    {"overlong 3 bytes", "\xE0\x80\xAF", "1:1: malformed UTF-8: E0"},
    {"surrogate", "\xED\xA0\x80", "1:1: malformed UTF-8: ED"},
    {"past U+10FFFF", "\xF4\x90\x80\x80", "1:1: malformed UTF-8: F4"},
    {"missing, printable", "\xC3\xA9x\xCC\x85\x0C\xE2\x82\xAC",
     "1:5: no calculator character for U+20AC (\xE2\x82\xAC)"},
    {"missing, 5 digits", "\xF0\x9F\x98\x80", "1:1: no calculator character for U+1F600 (\xF0\x9F\x98\x80)"},
    {"inverse sign alone", kA40 + "\xE2\x81\xBB" + kA40,
     "1:41: no calculator character for U+207B (\xE2\x81\xBB)"},
    {"missing, control", "\n\x1A", "2:1: no calculator character for U+001A"},
    {"missing, C1 control", "\xC2\x85", "1:1: no calculator character for U+0085"},
    {"combining mark alone", "\n\xCC\x85", "2:1: no calculator character for U+0305"},
    {"BOM later", "a\xEF\xBB\xBF", "1:2: no calculator character for U+FEFF"},
    {"NUL", "a\0"s, "1:2: NUL would end the text on the calculator"},
};

TEST(Charset, Table)
{
    for (const Case& c : kCases) {
        const Encoded got = Encode(c.raw);
        const bool refused = c.result.find(": ") != std::string::npos;
        EXPECT_EQ(got.status, refused ? EncodeStatus::refused : EncodeStatus::ok) << c.what;
        EXPECT_EQ(got.result, refused ? c.result : Data(c.result)) << c.what;
    }
}

// Characters and line breaks across the ends of the encoder's 64 KiB blocks.
TEST(Charset, BlockEdges)
{
    std::string e;
    for (int i = 0; i < 32764; ++i)
        e += "\xC3\xA9";
    for (int shift = 0; shift < 8; ++shift) {
        const std::string a(shift, 'a');
        EXPECT_EQ(Encode(a + e + "\r\n\xE2\x81\xBB\xC2\xB9x\xCC\x85\xC3\xA9").result,
                  Data(" " + a + std::string(32764, '\xE9') + "\r \xB4\x9A\xE9"))
            << shift;
    }
}

struct SizeCase {
    const char* what;
    std::string raw;
    EncodeStatus status;
};

TEST(Charset, SizeLimit)
{
    const std::string a(65506, 'a'), breaks(32753, '\n');
    std::string e;
    for (int i = 0; i < 65507; ++i)
        e += "\xC3\xA9";
    const SizeCase cases[] = {
        {"65,507 stored", a + "a", EncodeStatus::ok},
        {"65,508 stored", a + "aa", EncodeStatus::too_big},
        {"65,507 accents", e, EncodeStatus::ok},
        {"one more accent", e + "\xC3\xA9", EncodeStatus::too_big},
        {"breaks count two", breaks + "a", EncodeStatus::ok},
        {"one break too many", breaks + "\n", EncodeStatus::too_big},
        {"CR LF past the limit", a + "\r\n", EncodeStatus::too_big},
        {"x bar at the limit", a + "x\xCC\x85", EncodeStatus::ok},
        {"page break at the limit", a.substr(1) + "\n\x0C", EncodeStatus::ok},
        {"refused before the limit", a + "a\x80", EncodeStatus::refused},
        {"too big before a refusal", a + "aa\x80", EncodeStatus::too_big},
        {"far past the limit", a + a, EncodeStatus::too_big},
    };
    for (const SizeCase& c : cases)
        EXPECT_EQ(Encode(c.raw).status, c.status) << c.what;
    EXPECT_EQ(Encode(a + "x\xCC\x85").result.size(), 65512u);
}

TEST(Charset, FailedRead)
{
    const std::string path = testing::TempDir() + "sorvel-utf8-write-only.txt";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    static DataBuffer buffer;
    Utf8Problem problem;
    EXPECT_EQ(Utf8File2DataBuffer(file, buffer, problem).status, EncodeStatus::read_failed);
    std::fclose(file);
    std::remove(path.c_str());
}

struct NameCase {
    const char* name;
    const char* result;  // the calculator bytes, or why the name is refused
    std::size_t used;
};

TEST(Charset, Names)
{
    const NameCase cases[] = {
        {"\xCE\xB8", "\x88", 2},
        {"abcdefghi", "abcdefgh", 8},
        {"abcdefgh\xFF", "abcdefgh", 8},
        {"abcdefgx\xCC\x85z", "abcdefg\x9A", 10},
        {"a\xE2\x82\xAC", "no calculator character for U+20AC (\xE2\x82\xAC)", 0},
        {"a\xC3", "malformed UTF-8: C3", 0},
    };
    for (const NameCase& c : cases) {
        char var_name[9], what[kUtf8WhatSize];
        std::size_t used = 0;
        if (Utf8Name2VarName(c.name, var_name, used, what)) {
            EXPECT_STREQ(var_name, c.result) << c.name;
            EXPECT_EQ(used, c.used) << c.name;
        } else {
            EXPECT_STREQ(what, c.result) << c.name;
            EXPECT_EQ(c.used, 0u) << c.name;
        }
    }
}

} // namespace
