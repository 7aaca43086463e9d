#pragma once

// What the program says, as values: each failure and each note after success is a code with
// the facts its line shows, and MessageLine words it the one way both front ends share. Neither
// this layer nor the core prints: the console program prints the lines, the page keeps them.

#include "core/model.h"
#include "core/text_encoding.h"
#include "core/utf8_encoder.h"

#include <cstddef>
#include <cstdint>

// The program's exit statuses.
enum ExitStatus : int {
    kSuccess = 0,
    kUsage = 1,        // a wrong option or number of operands
    kCannotRead = 2,   // input not opened, or a read failed
    kTooBig = 3,
    kNoImage = 4,      // no memory, or data too long for the file
    kCannotWrite = 5,  // output not created, or not written completely
    kRefused = 6,      // a text, a name or a variable file that cannot be taken
};

// Each message, with the facts of Message it shows (`path` and `other` as they are given,
// already in the form messages show them).
enum class MessageCode : unsigned char {
    none,
    // kUsage
    usage_convert,            // the usage line of each way of running the program
    usage_group,
    usage_each,
    usage_extract,
    unknown_option,           // numbers[0]: the option's letter; path: the argument that holds it,
                              // numbers[1]: 1 when it looks like a file's name, 2 like a long option
    unknown_long_option,      // path: the argument
    needs_value,              // numbers[0]: the option's letter
    long_needs_value,         // path: the argument
    takes_no_value,           // path: the argument; numbers[0]: the length of its name, up to =
    options_clash,            // numbers[0], numbers[1]: the two options' letters
    force_without_extract,
    folder_needs_name,
    unknown_model,            // path: the model asked for
    group_extension,          // path: the group file; model
    several_texts,            // path: the variable file; numbers[0]: its text variables
    unknown_encoding,         // path: the encoding asked for
    encoding_clash,           // path: the encoding; numbers[0]: the other option's letter,
                              // numbers[1]: 1 when --encoding came first
    no_archive,               // model: one that has no archive, given with -a
    // kCannotRead
    cannot_open,              // path
    cannot_read,              // path
    // kTooBig
    text_too_big,             // path: the text, or null where the run takes one text
    group_too_large,          // path: the group file
    // kNoImage
    out_of_memory,
    data_too_long,            // numbers[0]: the data's length, which the writer refused
    no_image_memory,          // numbers[0]: the size of the file image that found no memory
    too_many_variables,
    // kCannotWrite
    cannot_create,            // path; detail: the system's reason, or null or "" (for the next step)
    no_temporary,             // likewise
    cut_short,                // likewise
    cannot_write,             // likewise
    exists,                   // path, shown as ShownName shows it (UTF-8 with `utf8`)
    exists_in_group,          // path, likewise
    standard_output,          // the help or version not written: on standard error alone
    replaces_variable_file,   // path: an output of -x that is a variable file
    output_is_input,          // path: an output of -x that is the variable file it reads; other: that
    // kRefused
    variable_name,            // path, numbers[0]: the bytes of a UTF-8 name that cannot be stored
    folder_name,              // likewise
    character,                // path; numbers[0], numbers[1]: line and column; detail, refusal;
                              // looks_like
    variable_file,            // path: a variable file given as a text
    same_name_in_folders,     // path; names: the variables' name, then their two folders
    same_name,                // path; names[0]
    same_file_name,           // path; names[0], names[1]: two names that give one file name
    unknown_signature,        // path
    file_too_large,           // path
    file_refused,             // path; detail: why
    no_text_variable,         // path
    unsafe_name,              // path; names[0]
    two_texts_one_name,       // path, other: the two texts; names[0], shown as UTF-8 with `utf8`
    not_text,                 // path: a file that is no text (the page's own check)
    no_variable_file,         // path (the page's own check)
    // Notes after success, on standard error
    replaced,                 // path; replacements
    ram,                      // path; numbers[0], numbers[1]: variables and bytes; model
    reserved_passed_over,     // path: the text; other: the name passed over; detail: the name given
    reserved_given,           // path: the output; other: the name given, numbers[0] bytes of it
};

// A message: its code and the facts its line shows, and those its next step needs, which it
// points to (they outlive it until it is printed or kept). True when it says anything.
struct [[nodiscard]] Message {
    MessageCode code = MessageCode::none;
    bool utf8 = false;
    Utf8Refusal refusal = Utf8Refusal::none;
    // The encoding a refused text looks like (DetectEncoding), whatever it was read in.
    Encoding looks_like = Encoding::calculator;
    std::uint32_t numbers[3] = {};
    const char* path = nullptr;
    const char* other = nullptr;
    const char* names[3] = {};      // calculator names: NUL-terminated, at most 8 bytes
    const char* detail = nullptr;   // the precise reason, as the core gives it
    const Model* model = nullptr;
    const Utf8Replacements* replacements = nullptr;  // what -r replaced, for its note

    explicit operator bool() const { return code != MessageCode::none; }
};

// The exit status a run that says `code` ends with: kSuccess for none and the notes.
ExitStatus StatusOf(MessageCode code);

// Writes to `line` (room for `size` bytes) the line `message` prints, without its line break,
// as much as fits, NUL-terminated; returns its whole length, as snprintf does.
int MessageLine(const Message& message, char* line, std::size_t size);

// Writes to `line` likewise the precise reason that goes on standard error before the line of
// `message`, "" when it has none; returns its whole length.
int MessageReason(const Message& message, char* line, std::size_t size);

// Writes to `out` the kinds of replacement `replaced` names, most frequent first, as " 40 ═ as =,
// 3 ½ as 1/2, …": each calculator byte as its UTF-8 form, a mark or format character dropped.
void ReplacedKinds(const Utf8Replacements& replaced, char (&out)[1024]);

// A message of `code` about `path`.
inline Message Say(MessageCode code, const char* path = nullptr)
{
    Message m;
    m.code = code;
    m.path = path;
    return m;
}
