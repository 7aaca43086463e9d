#include "app/shown_name.h"

#include "core/text_data.h"
#include "core/text_decoder.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 character that begins at `at` in `name`, or 0.
std::size_t Utf8Character(std::string_view name, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return at + i < name.size() ? static_cast<unsigned char>(name[at + i]) : 0u; };
    const unsigned c = byte(0);
    const std::size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    // The second byte's range excludes overlong forms, surrogates and code points past U+10FFFF.
    const unsigned low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (length == 0 || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
    return length;
}

} // namespace

const char* ShownName(std::string_view name, char (&shown)[kShownNameSize], bool utf8)
{
    // With `utf8`, a well-formed character from 0x80 on is shown as it is; each byte's length
    // as it is shown plain, 0 where it is odd.
    const auto plain_length = [&](std::size_t i) -> std::size_t {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x80)
            return c >= 0x20 && c != 0x7F;
        return utf8 ? Utf8Character(name, i) : 0;
    };
    bool plain = !name.empty() && name.front() != ' ' && name.back() != ' ';
    for (std::size_t i = 0, n; plain && i < name.size(); i += n)
        plain = (n = plain_length(i)) > 0;
    if (plain && name.size() < kShownNameSize) {
        std::snprintf(shown, sizeof shown, "%.*s", static_cast<int>(name.size()), name.data());
        return shown;
    }
    int at = std::snprintf(shown, sizeof shown, "\"");
    std::size_t i = 0;
    while (i < name.size()) {
        const std::size_t n = plain_length(i);
        if (i + (n ? n : 1) > 64)
            break;
        at += n ? std::snprintf(shown + at, n + 1, "%.*s", static_cast<int>(n), name.data() + i)
                : std::snprintf(shown + at, 5, "\\x%02X", static_cast<unsigned char>(name[i]));
        i += n ? n : 1;
    }
    std::snprintf(shown + at, sizeof shown - at, "%s\"", i < name.size() ? "..." : "");
    return shown;
}

const char* ShownCalcName(const char* name, bool utf8, char (&shown)[kShownNameSize])
{
    char text[8 * kTextBytesPerDataByte];
    return ShownName({text, CalcName2Text(name, utf8, text)}, shown, utf8);
}
