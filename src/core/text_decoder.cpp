#include "core/text_decoder.h"

#include "core/charset.h"
#include "core/text_data.h"

#include <cstring>

std::size_t DataBuffer2Text(std::span<const unsigned char> data, bool utf8,
                            std::string_view line_break, unsigned char* text)
{
    unsigned char* out = text;
    const auto put = [&](const unsigned char* from, const unsigned char* to) {
        if (!utf8) {
            std::memcpy(out, from, to - from);
            out += to - from;
            return;
        }
        for (; from < to; ++from) {
            const std::string_view c = CalcByte2Utf8(*from);
            std::memcpy(out, c.data(), c.size());
            out += c.size();
        }
    };
    // Past the cursor position, up to the 0x00 0xE0 that close the data.
    const unsigned char* line = data.data() + 2;
    const unsigned char* const end = data.data() + data.size() - sizeof kDataClose;
    for (;;) {
        const void* cr = std::memchr(line, kLineEnd, end - line);
        const auto* line_end = cr ? static_cast<const unsigned char*>(cr) : end;
        if (line < line_end) {
            if (*line == kPageBreak)
                *out++ = '\f';
            else if (*line != kPlainLine)
                put(line, line + 1);
            put(line + 1, line_end);
        }
        if (line_end == end)
            return out - text;
        std::memcpy(out, line_break.data(), line_break.size());
        out += line_break.size();
        line = line_end + 1;
    }
}

std::size_t CalcName2Text(const char* name, bool utf8, char* text)
{
    std::size_t at = 0;
    for (; *name; ++name) {
        const std::string_view form =
            utf8 ? CalcByte2Utf8(static_cast<unsigned char>(*name)) : std::string_view(name, 1);
        std::memcpy(text + at, form.data(), form.size());
        at += form.size();
    }
    return at;
}
