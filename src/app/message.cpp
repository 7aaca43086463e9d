#include "app/message.h"

#include "app/shown_name.h"
#include "core/charset.h"
#include "core/text_data.h"
#include "core/var_file.h"

#include <cstdio>
#include <cstring>

namespace {

// The values -m takes, as "89, 92, 92p or v200".
void ModelOptions(char (&out)[64])
{
    std::size_t count = 0, i = 0, at = 0;
    for (const Model& m : kModels)
        count += m.option[0] != 0;
    out[0] = '\0';
    for (const Model& m : kModels) {
        if (!m.option[0] || at >= sizeof out)
            continue;
        const char* const before = i == 0 ? "" : i + 1 == count ? " or " : ", ";
        at += std::snprintf(out + at, sizeof out - at, "%s%s", before, m.option);
        ++i;
    }
}

} // namespace

void ReplacedKinds(const Utf8Replacements& replaced, char (&out)[1024])
{
    // 1024 is more than the longest: 3 kinds of 24 bytes each way, 8 of UTF-8 a calculator byte.
    std::size_t n = 0;
    out[0] = '\0';
    for (std::size_t k = 0; k < kNamedKinds && replaced.most[k].count; ++k) {
        const ReplacedKind& kind = replaced.most[k];
        n += std::snprintf(out + n, sizeof out - n, "%s %u %.*s %s", k ? "," : "", static_cast<unsigned>(kind.count),
                           static_cast<int>(kind.from_size), kind.from, kind.to_size ? "as " : "dropped");
        for (std::size_t i = 0; i < kind.to_size; ++i) {
            const std::string_view shown_as = CalcByte2Utf8(kind.to[i]);
            n += std::snprintf(out + n, sizeof out - n, "%.*s", static_cast<int>(shown_as.size()), shown_as.data());
        }
    }
    if (replaced.kinds > kNamedKinds)
        std::snprintf(out + n, sizeof out - n, ", \xE2\x80\xA6");
}

ExitStatus StatusOf(MessageCode code)
{
    using enum MessageCode;
    switch (code) {
    case none: case replaced: case ram: case reserved_passed_over: case reserved_given:
        return kSuccess;
    case usage_convert: case usage_group: case usage_each: case usage_extract: case unknown_option:
    case unknown_long_option: case needs_value: case long_needs_value: case takes_no_value:
    case options_clash: case force_without_extract: case folder_needs_name: case unknown_model:
    case group_extension: case several_texts: case unknown_encoding: case encoding_clash: case no_archive:
        return kUsage;
    case cannot_open: case cannot_read:
        return kCannotRead;
    case text_too_big: case group_too_large:
        return kTooBig;
    case out_of_memory: case data_too_long: case no_image_memory: case too_many_variables:
        return kNoImage;
    case cannot_create: case no_temporary: case cut_short: case cannot_write: case exists:
    case exists_in_group: case standard_output: case replaces_variable_file: case output_is_input:
        return kCannotWrite;
    case variable_name: case folder_name: case character: case variable_file: case same_name_in_folders:
    case same_name: case same_file_name: case unknown_signature: case file_too_large: case file_refused:
    case no_text_variable: case unsafe_name: case two_texts_one_name: case not_text: case no_variable_file:
        return kRefused;
    }
    return kRefused;
}

int MessageLine(const Message& m, char* line, std::size_t size)
{
    using enum MessageCode;
    const char* const path = m.path;
    const unsigned n0 = m.numbers[0], n1 = m.numbers[1];
    const char c0 = static_cast<char>(n0), c1 = static_cast<char>(n1);
    char shown[kShownNameSize], other[kShownNameSize], third[kShownNameSize];
    switch (m.code) {
    case none: break;
    case usage_convert: return std::snprintf(line, size, "Usage: sorvel file.txt [varname]");
    case usage_group: return std::snprintf(line, size, "Usage: sorvel -g file.89g file.txt...");
    case usage_each: return std::snprintf(line, size, "Usage: sorvel -e file.txt...");
    case usage_extract: return std::snprintf(line, size, "Usage: sorvel -x file.89t [out.txt]");
    case unknown_option: return std::snprintf(line, size, "ERROR: unknown option -%c", c0);
    case unknown_long_option: return std::snprintf(line, size, "ERROR: unknown option %s", path);
    case needs_value: return std::snprintf(line, size, "ERROR: option -%c needs a value", c0);
    case long_needs_value: return std::snprintf(line, size, "ERROR: option %s needs a value", path);
    case takes_no_value:
        return std::snprintf(line, size, "ERROR: option %.*s takes no value", static_cast<int>(n0), path);
    case options_clash: return std::snprintf(line, size, "ERROR: -%c does not go with -%c", c0, c1);
    case force_without_extract: return std::snprintf(line, size, "ERROR: -F goes only with -x");
    case folder_needs_name: return std::snprintf(line, size, "ERROR: option -f needs a folder name");
    case unknown_model: {
        char options[64];
        ModelOptions(options);
        return std::snprintf(line, size, "ERROR: unknown model %s (%s)", path, options);
    }
    case group_extension:
        return std::snprintf(line, size, "ERROR: group file %s does not end in %s", path, m.model->group_extension);
    case several_texts:
        return std::snprintf(line, size, "ERROR: %s holds %u text variables, so out.txt cannot be given", path, n0);
    case unknown_encoding:
        return std::snprintf(line, size, "ERROR: unknown encoding %s (utf-8, windows-1252, utf-16, auto or calculator)",
                             path);
    case encoding_clash:
        if (n1)
            return std::snprintf(line, size, "ERROR: -%c does not go with --encoding=%s", c0, path);
        return std::snprintf(line, size, "ERROR: --encoding=%s does not go with -%c", path, c0);
    case no_archive:
        return std::snprintf(line, size, "ERROR: the %s has no archive: -a does not go with -m %s", m.model->name,
                             m.model->option);
    case cannot_open: return std::snprintf(line, size, "ERROR: unable to open %s", path);
    case cannot_read: return std::snprintf(line, size, "ERROR: unable to read %s", path);
    case text_too_big:
        if (!path)
            return std::snprintf(line, size, "ERROR: text file too big");
        return std::snprintf(line, size, "ERROR: %s: text file too big", path);
    case group_too_large:
    case file_too_large:
        return std::snprintf(line, size, "ERROR: %s: larger than any variable file (%u MiB)", path,
                             static_cast<unsigned>(kMaxVarFileSize >> 20));
    case out_of_memory:
    case data_too_long:
    case no_image_memory: return std::snprintf(line, size, "ERROR: out of memory");
    case too_many_variables: return std::snprintf(line, size, "ERROR: too many variables for one file");
    case cannot_create: return std::snprintf(line, size, "ERROR: unable to create %s", path);
    case no_temporary: return std::snprintf(line, size, "ERROR: unable to create a temporary file beside %s", path);
    case cut_short: return std::snprintf(line, size, "ERROR: unable to write %s; it is now cut short", path);
    case cannot_write: return std::snprintf(line, size, "ERROR: unable to write %s", path);
    case exists:
        return std::snprintf(line, size, "ERROR: %s exists; give out.txt, or --force to replace it",
                             ShownName(path, shown, m.utf8));
    case exists_in_group:
        return std::snprintf(line, size, "ERROR: %s exists; give --force to replace it", ShownName(path, shown, m.utf8));
    case standard_output: return std::snprintf(line, size, "ERROR: unable to write to standard output");
    case replaces_variable_file:
        return std::snprintf(line, size, "ERROR: %s is a variable file, which -x never replaces", path);
    case output_is_input:
        return std::snprintf(line, size, "ERROR: %s is the variable file being read, which -x never replaces", path);
    case variable_name:
    case folder_name: {
        // Why the calculator cannot store the name, found again.
        char name[9], why[kUtf8WhatSize] = "";
        std::size_t used;
        (void)Utf8Name2VarName({path, n0}, name, used, why);
        return std::snprintf(line, size, "ERROR: %s %s: %s", m.code == variable_name ? "variable name" : "folder name",
                             ShownName({path, n0}, shown, true), why);
    }
    case character: return std::snprintf(line, size, "ERROR: %s:%u:%u: %s", path, n0, n1, m.detail);
    case variable_file:
        return std::snprintf(line, size, "ERROR: %s is a variable file; give -x to take its text out", path);
    case same_name_in_folders:
        ShownName(m.names[0], shown);
        return std::snprintf(line, size, "ERROR: %s: two text variables named %s: %s\\%s and %s\\%s", path, shown,
                             ShownName(m.names[1], other), shown, ShownName(m.names[2], third), shown);
    case same_name:
        return std::snprintf(line, size, "ERROR: %s: two text variables named %s", path, ShownName(m.names[0], shown));
    case same_file_name:
        return std::snprintf(line, size, "ERROR: %s: two text variables named %s and %s", path,
                             ShownName(m.names[0], shown), ShownName(m.names[1], other));
    case unknown_signature: return std::snprintf(line, size, "ERROR: %s: unknown signature", path);
    case file_refused: return std::snprintf(line, size, "ERROR: %s: %s", path, m.detail);
    case no_text_variable: return std::snprintf(line, size, "ERROR: %s: no text variable", path);
    case unsafe_name:
        return std::snprintf(line, size, "ERROR: %s: variable name %s is no safe file name; give out.txt", path,
                             ShownName(m.names[0], shown));
    case two_texts_one_name:
        return std::snprintf(line, size, "ERROR: %s and %s give two variables named %s", path, m.other,
                             ShownCalcName(m.names[0], m.utf8, shown));
    case not_text: return std::snprintf(line, size, "ERROR: %s: not stored: not a UTF-8 or single-byte text", path);
    case no_variable_file: return std::snprintf(line, size, "ERROR: %s: no variable file", path);
    case replaced: {
        // "47 replaced: 40 ═ as =, 3 ½ as 1/2, …"
        char kinds[1024];
        ReplacedKinds(*m.replacements, kinds);
        return std::snprintf(line, size, "%s: %u replaced:%s", path, static_cast<unsigned>(m.replacements->count), kinds);
    }
    case ram:
        return std::snprintf(line, size, "%s: %u variables of %u bytes in all, more than the %u KB of RAM a %s leaves free; %s",
                             path, n0, n1, m.model->ram_kb, m.model->name,
                             m.model->archive ? "add -a to store them in the archive"
                                              : "it has no archive: send fewer at a time");
    case reserved_passed_over:
        return std::snprintf(line, size, "%s: %s is a name the calculator keeps for itself; named %s", path, m.other,
                             m.detail);
    case reserved_given:
        return std::snprintf(line, size, "%s: %.*s is a name the calculator keeps for itself, which it may refuse; "
                             "give another name", path, static_cast<int>(n0), m.other);
    }
    return std::snprintf(line, size, "%s", "");
}

int MessageReason(const Message& m, char* line, std::size_t size)
{
    if (m.code == MessageCode::data_too_long)
        return std::snprintf(line, size, "ERROR: length (%u) exceeds max. user data size (%u)",
                             static_cast<unsigned>(m.numbers[0]), static_cast<unsigned>(kMaxUserDataSize));
    if (m.code == MessageCode::no_image_memory)
        return std::snprintf(line, size, "ERROR: cannot allocate %u bytes of memory", static_cast<unsigned>(m.numbers[0]));
    return std::snprintf(line, size, "%s", "");
}
