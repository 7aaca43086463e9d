#include "app/shown_name.h"

#include "core/charset.h"
#include "core/text_data.h"
#include "core/text_decoder.h"

#include <cstdio>

const char* ShownName(std::string_view name, char (&shown)[kShownNameSize], bool utf8)
{
    // With `utf8`, a well-formed character from 0x80 on is shown as it is; each byte's length
    // as it is shown plain, 0 where it is odd.
    const auto plain_length = [&](std::size_t i) -> std::size_t {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x80)
            return c >= 0x20 && c != 0x7F;
        const auto* const bytes = reinterpret_cast<const unsigned char*>(name.data());
        std::uint32_t cp;
        const int length = utf8 ? DecodeUtf8(bytes + i, bytes + name.size(), cp) : 0;
        return length > 0 ? length : 0;
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
