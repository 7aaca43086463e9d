// Feeds arbitrary bytes through the UTF-8 encoder and the variable name mapping, and checks each
// result against a character-at-a-time model: decode strictly, take the longest sequence that
// stands for a calculator byte, judge line breaks, page breaks, refusals and the size limit in
// text order.
//
// The first byte's high bit stretches the text by repeating it to 65,300 to 65,810 bytes, and
// its bit 6 doubles that, so that runs reach the size limit and the ends of the encoder's blocks.
#include "charset.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Key = std::pair<std::uint32_t, std::uint32_t>;  // one or two code points (second 0)

void Require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// The length of the well-formed UTF-8 character at s (n bytes left) with its code point in cp;
// 0 when it is malformed.
std::size_t Decode(const unsigned char* s, std::size_t n, std::uint32_t& cp)
{
    const unsigned b = s[0];
    const std::size_t length = b < 0x80 ? 1 : b < 0xC0 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF8 ? 4 : 0;
    if (length == 0 || length > n)
        return 0;
    cp = length == 1 ? b : b & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (s[i] & 0x3F);
    }
    constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[length] || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF)
        return 0;
    return length;
}

// Every sequence standing for a calculator byte: each byte's canonical form, the other forms
// of a few, and the plain equivalents of typographic characters.
std::map<Key, unsigned char> Sequences()
{
    std::map<Key, unsigned char> map;
    for (int b = 0; b < 256; ++b) {
        const std::string_view utf8 = CalcByte2Utf8(b);
        const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
        std::uint32_t first = 0, second = 0;
        const std::size_t length = Decode(s, utf8.size(), first);
        Require(length > 0, "canonical forms are well-formed");
        if (length < utf8.size())
            Require(Decode(s + length, utf8.size() - length, second) == utf8.size() - length,
                    "canonical forms are one or two characters");
        map[{first, second}] = b;
    }
    const std::pair<Key, unsigned char> others[] = {
        {{0x1F512, 0}, 0x0E}, {{0x03F5, 0}, 0x86}, {{0x03D1, 0}, 0x88}, {{0x220F, 0}, 0x8B},
        {{0x2211, 0}, 0x8E}, {{0x03D5, 0}, 0x91}, {{0x1D5A4, 0}, 0x95}, {{0x1D48A, 0}, 0x97},
        {{0x2148, 0}, 0x97}, {{0x1D40, 0}, 0x99}, {{'x', 0x0304}, 0x9A}, {{'y', 0x0304}, 0x9B},
        {{0x00A0, 0}, ' '}, {{0x2018, 0}, '\''}, {{0x2019, 0}, '\''}, {{0x201C, 0}, '"'},
        {{0x201D, 0}, '"'}, {{0x2013, 0}, '-'}, {{0x2014, 0}, '-'},
    };
    for (const auto& [key, byte] : others)
        map[key] = byte;
    return map;
}

const std::map<Key, unsigned char> kSequences = Sequences();

struct Outcome {
    EncodeStatus status = EncodeStatus::ok;
    std::string data;                  // when ok
    std::uint32_t line = 0, column = 0;
    std::string what;                  // the start of the reason, when refused
};

Outcome Refused(std::uint32_t line, std::uint32_t column, const char* format, unsigned value)
{
    char what[64];
    std::snprintf(what, sizeof what, format, value);
    return {EncodeStatus::refused, "", line, column, what};
}

// The longest sequence at raw[i] standing for a byte: {byte, bytes, code points}, or byte -1.
struct Match {
    int byte;
    std::size_t length;
    std::uint32_t code_points;
};

Match Longest(const Bytes& raw, std::size_t i, std::uint32_t cp, std::size_t length)
{
    std::uint32_t next = 0;
    const std::size_t after = i + length;
    if (const std::size_t n = after < raw.size() ? Decode(&raw[after], raw.size() - after, next) : 0;
        n > 0 && next != 0)
        if (const auto at = kSequences.find({cp, next}); at != kSequences.end())
            return {at->second, length + n, 2};
    const auto at = kSequences.find({cp, 0});
    return {at == kSequences.end() ? -1 : at->second, length, 1};
}

Outcome Model(const Bytes& raw)
{
    Outcome out;
    out.data = std::string("\x00\x01\x20", 3);
    std::size_t stored = 0, i = raw.size() >= 3 && !std::memcmp(raw.data(), "\xEF\xBB\xBF", 3) ? 3 : 0;
    std::uint32_t line = 1, column = 1;
    while (i < raw.size()) {
        std::uint32_t cp;
        const std::size_t length = Decode(&raw[i], raw.size() - i, cp);
        if (length == 0)
            return Refused(line, column, "malformed UTF-8: %02X", raw[i]);
        if (cp == '\r' || cp == '\n') {
            if ((stored += 2) > 65507)
                return {EncodeStatus::too_big};
            out.data += "\r ";
            i += cp == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n' ? 2 : 1;
            ++line;
            column = 1;
            continue;
        }
        if (cp == 0x0C && column == 1) {
            out.data.back() = 0x0C;
            ++i;
            ++column;
            continue;
        }
        if (cp == 0)
            return Refused(line, column, "NUL would end the text on the calculator", 0);
        const Match m = Longest(raw, i, cp, length);
        if (m.byte < 0)
            return Refused(line, column, "no calculator character for U+%04X", cp);
        if (++stored > 65507)
            return {EncodeStatus::too_big};
        out.data += static_cast<char>(m.byte);
        i += m.length;
        column += m.code_points;
    }
    out.data += std::string("\x00\xE0", 2);
    return out;
}

// The name's first 8 calculator characters, or the start of why it is refused.
Outcome NameModel(const Bytes& raw, std::size_t& used)
{
    Outcome out;
    std::size_t i = 0;
    while (out.data.size() < 8 && i < raw.size()) {
        std::uint32_t cp;
        const std::size_t length = Decode(&raw[i], raw.size() - i, cp);
        if (length == 0)
            return Refused(0, 0, "malformed UTF-8: %02X", raw[i]);
        if (cp == 0)
            return Refused(0, 0, "NUL would end the text on the calculator", 0);
        const Match m = Longest(raw, i, cp, length);
        if (m.byte < 0)
            return Refused(0, 0, "no calculator character for U+%04X", cp);
        out.data += static_cast<char>(m.byte);
        i += m.length;
    }
    used = i;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size == 0)
        return 0;
    Bytes raw(bytes + 1, bytes + size);

    // The name: the first 24 bytes of the text.
    const Bytes name(raw.begin(), raw.begin() + std::min<std::size_t>(raw.size(), 24));
    char var_name[9], what[kUtf8WhatSize];
    std::size_t used = 0, expected_used = 0;
    const Outcome name_expected = NameModel(name, expected_used);
    if (Utf8Name2VarName({reinterpret_cast<const char*>(name.data()), name.size()}, var_name, used,
                         what)) {
        Require(name_expected.status == EncodeStatus::ok, "the name is taken");
        Require(var_name == name_expected.data && used == expected_used, "the name's bytes");
    } else {
        Require(name_expected.status == EncodeStatus::refused, "the name is refused");
        Require(std::string(what).starts_with(name_expected.what), "why the name is refused");
    }

    if ((bytes[0] & 0x80) && !raw.empty()) {
        const std::size_t stretched = (65300 + 2 * raw[0]) << (bytes[0] >> 6 & 1);
        for (std::size_t i = 0; raw.size() < stretched; ++i)
            raw.push_back(raw[i]);
    }
    raw.reserve(1);  // fmemopen wants a buffer even for no bytes
    std::FILE* file = fmemopen(raw.data(), raw.size(), "rb");
    Require(file, "fmemopen");
    static DataBuffer buffer;
    Utf8Problem problem;
    const EncodeResult result = Utf8File2DataBuffer(file, buffer, problem);
    std::fclose(file);

    const Outcome expected = Model(raw);
    Require(result.status == expected.status, "the status");
    if (expected.status == EncodeStatus::ok)
        Require(std::string(reinterpret_cast<const char*>(buffer.data()), result.length) ==
                    expected.data, "the data");
    if (expected.status == EncodeStatus::refused) {
        Require(problem.line == expected.line && problem.column == expected.column, "where");
        Require(std::string(problem.what).starts_with(expected.what), "why");
    }
    return 0;
}
