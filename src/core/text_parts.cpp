#include "core/text_parts.h"

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
