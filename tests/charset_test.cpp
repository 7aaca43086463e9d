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

const std::string kA40(40, 'a'), kA(65506, 'a');
const std::string kAccents = [] {
    std::string e;
    for (int i = 0; i < 65507; ++i)
        e += "\xC3\xA9";
    return e;
}();

// The first line type and the text, or where and why it is refused, or "too big".
const Case kCases[] = {
    {"x bar in a long text", kA40 + "x\xCC\x85" + kA40, " " + kA40 + "\x9A" + kA40},
    {"inverse in a long text", kA40 + "\xE2\x81\xBB\xC2\xB9\xC2\xB9" + kA40, " " + kA40 + "\xB4\xB9" + kA40},
    {"page breaks", "\x0C" "a\n\x0C\x0C" "b\r\n\x0C", "\x0C" "a\r\x0C\x0C" "b\r\x0C"},
    {"inverse sign alone", kA40 + "\xE2\x81\xBB" + kA40, "1:41: no calculator character for U+207B (\xE2\x81\xBB)"},
    {"missing, 5 digits", "\xF0\x9F\x98\x80", "1:1: no calculator character for U+1F600 (\xF0\x9F\x98\x80)"},
    {"missing, control", "\n\x1A", "2:1: no calculator character for U+001A"},
    {"combining mark alone", "\n\xCC\x85", "2:1: no calculator character for U+0305"},
    {"BOM later", "a\xEF\xBB\xBF", "1:2: no calculator character for U+FEFF"},
    {"truncated 4 bytes", "\xF0\x9F\x98" "a", "1:1: malformed UTF-8: F0 9F 98"},
    {"overlong 3 bytes", "\xE0\x80\xAF", "1:1: malformed UTF-8: E0"},
    {"past U+10FFFF", "\xF4\x90\x80\x80", "1:1: malformed UTF-8: F4"},
    {"LF in a long text", kA40 + "\n" + kA40, " " + kA40 + "\r " + kA40},
    {"no continuation after C2, in a long text", kA40 + "\xC2\xC0" + kA40, "1:41: malformed UTF-8: C2"},
    {"no continuation after E2, in a long text", kA40 + "\xE2\xC0\x80" + kA40, "1:41: malformed UTF-8: E2"},
    {"no third byte after E2 89, in a long text", kA40 + "\xE2\x89" "d\x80" + kA40, "1:41: malformed UTF-8: E2 89"},
    {"two and three bytes, in a long text", kA40 + "\xE2\x89\xA4\xE2\x86\x92\xE2\x80\xA6\xC3\xA9" + kA40, " " + kA40 + "\x9C\x16\xA0\xE9" + kA40},
    {"two bytes, missing, in a long text", kA40 + "\xC4\x81" + kA40, "1:41: no calculator character for U+0101 (\xC4\x81)"},
    {"three bytes from E0, in a long text", kA40 + "\xE0\xA4\x85" + kA40, "1:41: no calculator character for U+0905 (\xE0\xA4\x85)"},
    {"three bytes from E3, in a long text", kA40 + "\xE3\x86\x90" + kA40, "1:41: no calculator character for U+3190 (\xE3\x86\x90)"},
    {"a two-byte lookup that must not fold, in a long text", kA40 + "\xC8\x93" + kA40, "1:41: no calculator character for U+0213 (\xC8\x93)"},
    {"a three-byte lookup that must not fold, in a long text", kA40 + "\xE2\x8C\x90" + kA40, "1:41: no calculator character for U+2310 (\xE2\x8C\x90)"},
    {"C3 and a letter, in a long text", kA40 + "\xC3" "a" + kA40, "1:41: malformed UTF-8: C3"},
    {"E2 89, a letter and a continuation, in a long text", kA40 + "\xE2\x89" "Z\xA4" + kA40, "1:41: malformed UTF-8: E2 89"},
    {"a space the calculator lacks, in a long text", kA40 + "\xE2\x80\x88" + kA40, "1:41: no calculator character for U+2008 (\xE2\x80\x88)"},
    {"E2 96 C0, in a long text", kA40 + "\xE2\x96\xC0" + kA40, "1:41: malformed UTF-8: E2 96"},
    {"a control, in a long text", kA40 + "\x1F" + kA40, "1:41: no calculator character for U+001F"},
    {"three bytes from E1, in a long text", kA40 + "\xE1\x86\x90" + kA40, "1:41: no calculator character for U+1190 (\xE1\x86\x90)"},
    {"three bytes from E2, missing, in a long text", kA40 + "\xE2\x9C\x98" + kA40, "1:41: no calculator character for U+2718 (\xE2\x9C\x98)"},
    {"column after a pair", "x\xCC\x85\xE2\x82\xAC", "1:3: no calculator character for U+20AC (\xE2\x82\xAC)"},
    {"a BOM alone", "\xEF\xBB\xBF", " "},
    {"almost a BOM", "\xEF\xBB\xBE", "1:1: no calculator character for U+FEFE (\xEF\xBB\xBE)"},
    {"65,507 accents", kAccents, " " + std::string(65507, '\xE9')},
    {"a line break past the limit", kA + "\n", "too big"},
    {"one accent more", kAccents + "\xC3\xA9", "too big"},
    {"x bar at the limit", kA + "x\xCC\x85", " " + kA + "\x9A"},
    {"page break at the limit", kA.substr(1) + "\n\x0C", " " + kA.substr(1) + "\r\x0C"},
    {"refused before the limit", kA + "a\x80", "1:65508: malformed UTF-8: 80"},
    {"too big before a refusal", kA + "aa\x80", "too big"},
    {"far past the limit", kA + kA, "too big"},
};

TEST(Charset, Table)
{
    for (const Case& c : kCases) {
        const Encoded got = Encode(c.raw);
        const bool refused = c.result.find(": ") != std::string::npos, too_big = c.result == "too big";
        EXPECT_EQ(got.status, refused ? EncodeStatus::refused : too_big ? EncodeStatus::too_big : EncodeStatus::ok) << c.what;
        EXPECT_EQ(got.result, refused || too_big ? (too_big ? "" : c.result) : Data(c.result)) << c.what;
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

} // namespace
