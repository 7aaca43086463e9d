#include "app/text_variables.h"

#include "core/text_parts.h"

#include <cstring>

void PartVariables(const EncodedText& encoded, const char (&name)[9], const char (&folder)[9],
                   unsigned char attribute, Variable* variables)
{
    for (std::size_t k = 0, at = 0; k < encoded.parts; at += encoded.lengths[k++]) {
        Variable& v = variables[k];
        v = {{}, {}, kTextType, attribute, encoded.data.subspan(at, encoded.lengths[k])};
        std::memcpy(v.folder, folder, sizeof folder);
        PartName(name, encoded.parts, k, v.name);
    }
}

bool NameTaken(std::span<const Variable> earlier, std::span<const Variable> added, std::size_t& earlier_at,
               std::size_t& added_at)
{
    for (added_at = 0; added_at < added.size(); ++added_at)
        for (earlier_at = 0; earlier_at < earlier.size(); ++earlier_at)
            if (!std::strcmp(earlier[earlier_at].name, added[added_at].name))
                return true;
    return false;
}

Message TwoTextsOneName(const char* first, const char* second, const char (&name)[9], bool utf8)
{
    Message refused = Say(MessageCode::two_texts_one_name, first);
    refused.other = second;
    refused.utf8 = utf8;
    refused.names[0] = name;
    return refused;
}
