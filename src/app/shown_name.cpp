#include "app/shown_name.h"

#include "core/text_data.h"
#include "core/text_decoder.h"

#include <cstdio>

const char* ShownName(std::string_view name, char (&shown)[kShownNameSize], bool utf8)
{
    // With `utf8`, bytes from 0x80 on are characters, shown as they are.
    const auto odd = [utf8](unsigned char c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && !utf8); };
    bool plain = !name.empty() && name.front() != ' ' && name.back() != ' ';
    for (const char c : name)
        plain = plain && !odd(static_cast<unsigned char>(c));
    if (plain && name.size() < kShownNameSize) {
        std::snprintf(shown, sizeof shown, "%.*s", static_cast<int>(name.size()), name.data());
        return shown;
    }
    int at = std::snprintf(shown, sizeof shown, "\"");
    for (std::size_t i = 0; i < name.size() && i < 64; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        at += odd(c) ? std::snprintf(shown + at, 5, "\\x%02X", c) : std::snprintf(shown + at, 2, "%c", c);
    }
    std::snprintf(shown + at, sizeof shown - at, "%s\"", name.size() > 64 ? "..." : "");
    return shown;
}

const char* ShownCalcName(const char* name, bool utf8, char (&shown)[kShownNameSize])
{
    char text[8 * kTextBytesPerDataByte];
    return ShownName({text, CalcName2Text(name, utf8, text)}, shown, utf8);
}
