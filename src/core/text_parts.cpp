#include "core/text_parts.h"

#include "core/charset.h"
#include "core/utf8_encoder.h"

std::size_t TextPartEnd(std::span<const unsigned char> text, std::size_t start, bool utf8, LineBreaks breaks,
                        bool replace)
{
    const unsigned char* const b = text.data();
    const std::size_t end = text.size();
    std::size_t pos = start, stored = 0, last_break = start;
    if (utf8 && start == 0)
        pos = ByteOrderMarkSize(text);  // which its encoder skips
    bool line_start = true;
    while (pos < end) {
        const unsigned char c = b[pos];
        const bool crlf = c == '\r' && pos + 1 < end && b[pos + 1] == '\n';
        const bool line_break = c == '\n' || (c == '\r' && utf8) || (crlf && breaks == LineBreaks::crlf_or_lf);
        std::size_t length = line_break && crlf ? 2 : 1, cost = line_break ? 2 : 1;
        if (utf8 && c == 0x0C && line_start) {
            cost = 0;  // makes the line a page break
        } else if (utf8 && !line_break) {
            const CharMatch m = MatchChar(b + pos, b + end);
            unsigned char bytes[2];
            if (m.byte < 0 && m.code_points == 1 && replace)
                cost = ReplacementBytes(m.cp, bytes);
            else if (m.byte <= 0)
                return pos + m.length;
            length = m.length;
        }
        if (stored + cost > kMaxStoredText)
            return last_break > start ? last_break : pos;
        stored += cost;
        pos += length;
        line_start = line_break;
        if (line_break)
            last_break = pos;
    }
    return end;
}

void PartName(const char* name, std::size_t parts, std::size_t k, char (&part)[9])
{
    std::size_t stem = 0;
    for (const std::size_t most = parts == 1 ? 8 : parts < 10 ? 7 : 6; stem < most && name[stem]; ++stem)
        part[stem] = name[stem];
    std::size_t at = stem;
    if (parts > 1) {
        if (k + 1 >= 10)
            part[at++] = static_cast<char>('0' + (k + 1) / 10);
        part[at++] = static_cast<char>('0' + (k + 1) % 10);
    }
    while (at < sizeof part)
        part[at++] = '\0';
}
