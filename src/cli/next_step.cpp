#include "cli/next_step.h"

#include <cstdio>
#include <cstring>

namespace {

// The length of `path` without its extension: up to the last dot of its last part.
int Stem(const char* path)
{
    const char* const dot = std::strrchr(path, '.');
    const bool in_name = dot && !std::strchr(dot, '/') && !std::strchr(dot, '\\');
    return static_cast<int>(in_name ? dot - path : std::strlen(path));
}

// Writes to `how` the options that convert a text alone as `options` do, each followed by a space.
void AloneOptions(const Options& options, char (&how)[64])
{
    int at = 0;
    const auto add = [&](const char* format, const char* value) {
        at += std::snprintf(how + at, sizeof how - at, format, value);
        at = at < static_cast<int>(sizeof how) ? at : static_cast<int>(sizeof how) - 1;
    };
    how[0] = '\0';
    if (options.model)
        add("-m %s ", options.model->option);
    if (options.encoding_name)
        add("--encoding=%s ", options.encoding_name);
    else if (options.utf8 && !options.replace)
        add("%s", "-u ");
    if (options.replace)
        add("%s", "-r ");
}

// The next step after a text refused for one of its characters, read as `options` say.
const char* CharacterStep(const Message& m, const Options& options)
{
    const Encoding read = options.encoding == Encoding::automatic ? m.looks_like : options.encoding;
    const bool automatic = options.encoding == Encoding::automatic;
    switch (m.refusal) {
    case Utf8Refusal::no_character:
        return "give -r to store each character the calculator lacks as the closest it has";
    case Utf8Refusal::nul:
        return read == Encoding::utf8 ? "a text holds no NUL: this may be UTF-16 (give --encoding=utf-16) or no text"
                                      : "a text holds no NUL: this may be no text at all";
    case Utf8Refusal::malformed:
        if (read == Encoding::utf8 && m.looks_like == Encoding::utf16)
            return "this text is UTF-16: give --encoding=utf-16 or --encoding=auto";
        if (read == Encoding::utf8)
            return "this text is not UTF-8: give --encoding=windows-1252 (Windows' \"ANSI\") or --encoding=auto";
        if (automatic)
            return "this text is in none of UTF-8, UTF-16 and Windows-1252: save it as UTF-8";
        return read == Encoding::utf16 ? "this text is not UTF-16: give --encoding=auto, or save it as UTF-8"
                                       : "this text is not Windows-1252: give --encoding=auto, or save it as UTF-8";
    case Utf8Refusal::none: break;
    }
    return "";
}

} // namespace

int NextStep(const Message& m, const Options& options, char* line, std::size_t size)
{
    using enum MessageCode;
    const char* const path = m.path;
    const char c0 = static_cast<char>(m.numbers[0]), c1 = static_cast<char>(m.numbers[1]);
    const char* step = "";
    switch (m.code) {
    case usage_convert:
        step = "give one text file and maybe its variable name; for several, give --each or -g file.89g";
        break;
    case usage_group: step = "give the group file, then the texts: sorvel -g notes.89g a.txt b.txt"; break;
    case usage_each: step = "give the text files: sorvel --each *.txt"; break;
    case usage_extract:
        step = "give one variable file and maybe the text file to write; for several, run sorvel -x on each";
        break;
    case unknown_option:
        if (path && m.numbers[1] == 1)
            return std::snprintf(line, size, "%s is taken for options: put -- before the file names, or write it "
                                 "./%s", path, path);
        if (path && m.numbers[1] == 2)
            return std::snprintf(line, size, "%s looks like -%s: a long option takes two dashes", path, path);
        step = "sorvel --help lists every option";
        break;
    case unknown_long_option: step = "sorvel --help lists every option"; break;
    case needs_value:
    case long_needs_value: step = "sorvel --help says what each option takes"; break;
    case takes_no_value:
        return std::snprintf(line, size, "give %.*s alone", static_cast<int>(m.numbers[0]), path);
    case options_clash:
        if (c0 == 'x' || c1 == 'x')
            return std::snprintf(line, size, "-x takes the texts out of a variable file, and -%c goes only with "
                                 "making one: leave out one of them", c0 == 'x' ? c1 : c0);
        step = "give --each for a variable file of each text, or -g for one group file of them all";
        break;
    case force_without_extract: step = "-F lets -x replace a text file that exists: leave it out"; break;
    case folder_needs_name: step = "give the folder's name (-f work), or leave out -f for main"; break;
    case no_archive:
        return std::snprintf(line, size, "leave out -a: the %s keeps every variable in its RAM", m.model->name);
    case group_extension:
        return std::snprintf(line, size, "give a group file ending in %s: %.*s%s", m.model->group_extension,
                             Stem(path), path, m.model->group_extension);
    case several_texts: step = "leave out out.txt: each text goes to a file of its variable's name"; break;
    case encoding_clash:
        if (c0 == 'x')
            step = "-x writes UTF-8 with -u, or the calculator's bytes without it: leave out --encoding";
        else
            step = "-r reads UTF-8 unless another encoding is given: leave out --encoding=calculator";
        break;
    case text_too_big:
    case data_too_long:
        step = options.split ? "it needs more than 99 variables: cut it into several text files"
                             : "give -s to cut it at line breaks into as many variables as it needs";
        break;
    case group_too_large:
    case too_many_variables:
        step = options.group ? "no calculator holds a group file this large: give fewer texts to each"
                             : "no calculator holds a file this large: cut the text into several text files";
        break;
    case cannot_create:
    case cannot_write:
    case no_temporary:
        if (m.detail && *m.detail)
            return std::snprintf(line, size, "%s: %s; nothing was written, every file is as it was", path, m.detail);
        step = "nothing was written, every file is as it was";
        break;
    case cut_short:
        if (m.detail && *m.detail)
            return std::snprintf(line, size, "%s: %s", path, m.detail);
        break;
    case variable_name:
    case folder_name:
        return std::snprintf(line, size, "give a %s of up to 8 of the calculator's characters, such as %s",
                             m.code == variable_name ? "name" : "folder", m.code == variable_name ? "notes" : "work");
    case character: step = CharacterStep(m, options); break;
    case variable_file:
        if (options.each || options.group)
            return std::snprintf(line, size, "%s takes text files: leave out the variable files, whose texts "
                                 "sorvel -x takes out", options.each ? "--each" : "-g");
        break;
    case two_texts_one_name:
        if (options.each) {
            char how[64];
            AloneOptions(options, how);
            return std::snprintf(line, size, "rename one of the two files, or convert it alone with a name: "
                                 "sorvel %s\"%s\" othername", how, m.other);
        }
        step = "rename one of the two files";
        break;
    case same_name_in_folders:
    case same_name:
    case same_file_name:
        step = "two texts cannot go to one file: rename one of them on the calculator and take the file again";
        break;
    case unknown_signature:
        return std::snprintf(line, size, "%s is no variable file: if it is a text, convert it without -x", path);
    case file_too_large:
        return std::snprintf(line, size, "%s is larger than any calculator holds: it is no variable file", path);
    case file_refused: step = "the file is damaged: take it from the calculator, or from where it came, again"; break;
    case no_text_variable: step = "-x takes text variables alone: send the file to the calculator as it is"; break;
    case replaces_variable_file:
        step = "name a text file to write, or none; for several variable files, run sorvel -x on each";
        break;
    case output_is_input:
        return std::snprintf(line, size, "name another file to write, such as %.*s.txt", Stem(m.other), m.other);
    case none: case unknown_model: case unknown_encoding: case cannot_open: case cannot_read: case out_of_memory:
    case no_image_memory: case exists: case exists_in_group: case standard_output: case unsafe_name: case not_text:
    case no_variable_file: case replaced: case ram: case reserved_passed_over: case reserved_given:
        break;  // the line says what to give, or there is nothing to do
    }
    return std::snprintf(line, size, "%s", step);
}
