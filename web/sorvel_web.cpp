// The page's way into the core: each function does for bytes in memory what the console program
// does for a file on Linux, and keeps until the next call the lines the program would print (on
// standard error, then a failure's line), the same messages in a teacher's words with the next
// step, chosen by their codes, and the files it would write, for the script to read through the
// sorvel_* getters.
#include "app/calc_name.h"
#include "app/encode_text.h"
#include "app/message.h"
#include "app/owned.h"
#include "app/ram_note.h"
#include "app/shown_name.h"
#include "app/text_list.h"
#include "app/text_variables.h"
#include "core/model.h"
#include "core/text_decoder.h"
#include "core/text_encoding.h"
#include "core/var_name.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

struct Output {
    char name[8 * kTextBytesPerDataByte + 1];  // a variable's name as a text file names it
    char file_name[sizeof name + 4];
    unsigned char* data;
    std::size_t size;
};

char g_message[1024];
char g_words[1024];  // the messages kept, in a teacher's words, each with its next step
Owned<Output[]> g_outputs;
std::size_t g_count;
std::uint32_t g_used, g_line, g_column;
Encoding g_encoding;  // how the last text converted was read
DataBuffer g_data;

// Forgets the last call's outcome.
void Reset()
{
    for (std::size_t i = 0; i < g_count; ++i)
        std::free(g_outputs[i].data);
    g_outputs.reset();
    g_count = 0;
    g_message[0] = g_words[0] = '\0';
    g_encoding = Encoding::utf8;
    g_used = g_line = g_column = 0;
}

// Room for `n` outputs, all empty; false when no memory is left.
bool Outputs(std::size_t n)
{
    g_outputs.reset(static_cast<Output*>(std::calloc(n, sizeof(Output))));
    g_count = g_outputs ? n : 0;
    return g_outputs != nullptr;
}

// Appends to the words kept `format` with its values, as much as fits, after a space.
template <typename... Values>
void Add(const char* format, Values... values)
{
    const std::size_t at = std::strlen(g_words);
    if (at && at + 1 < sizeof g_words)
        std::memcpy(g_words + at, " ", 2);
    const std::size_t from = std::strlen(g_words);
    if constexpr (sizeof...(values) == 0)
        std::snprintf(g_words + from, sizeof g_words - from, "%s", format);
    else
        std::snprintf(g_words + from, sizeof g_words - from, format, values...);
}

// `n` with a comma between each three digits, as the page shows numbers: 209,184.
const char* Grouped(std::uint32_t n, char (&out)[16])
{
    char digits[16];
    const int length = std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(n));
    std::size_t at = 0;
    for (int i = 0; i < length; ++i) {
        if (i && (length - i) % 3 == 0)
            out[at++] = ',';
        out[at++] = digits[i];
    }
    out[at] = '\0';
    return out;
}

// The name of `encoding` as the page's list of readings shows it.
const char* ReadingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::windows1252: return "Windows-1252";
    case Encoding::utf16: return "UTF-16";
    case Encoding::calculator: return "the calculator's own bytes";
    case Encoding::utf8:
    case Encoding::automatic: break;
    }
    return "UTF-8";
}

// Keeps `message` in a teacher's words: what happened, then the next step, each a sentence,
// chosen by its code (a text read in `g_encoding`; `split` when Split long texts is ticked).
void Explain(const Message& m, bool split)
{
    using enum MessageCode;
    const unsigned n0 = m.numbers[0], n1 = m.numbers[1];
    char a[16], b[16];
    switch (m.code) {
    case none:
    case reserved_given:  // the row's name warning says it, from the same table
    case reserved_passed_over: return;
    case variable_name:
    case folder_name:
        Add("The calculator cannot store the %s name %.*s.", m.code == variable_name ? "variable" : "folder",
            static_cast<int>(n0), m.path);
        Add(m.code == variable_name ? "Type another variable name." : "Type another folder name under Folder.");
        return;
    case character:
        if (m.refusal == Utf8Refusal::no_character) {
            Add("Line %u, character %u (marked below) is not among the calculator's characters.", n0, n1);
            Add("Tick Replace to store the closest one it has, or change it in the file.");
        } else if (m.refusal == Utf8Refusal::nul) {
            Add("Line %u, character %u is a NUL byte, which a text variable cannot hold.", n0, n1);
            Add("Delete it from the file, then choose the file again.");
        } else {
            Add("Line %u, character %u (marked below) is not %s.", n0, n1, ReadingName(g_encoding));
            Add("Choose another reading under Read as, or save the file as UTF-8.");
        }
        return;
    case text_too_big:
    case data_too_long:
        if (split) {
            Add("This text is longer than %u variables hold.", static_cast<unsigned>(kMaxParts));
            Add("Cut it into several files, then choose them.");
        } else {
            Add("This text is longer than one variable holds (%s bytes).", Grouped(kMaxUserDataSize, a));
            Add("Tick Split long texts to store it as several variables.");
        }
        return;
    case out_of_memory:
    case no_image_memory:
        Add("The browser has no memory left for this file.");
        Add("Close other tabs or reload the page, then try again.");
        return;
    case group_too_large:
    case too_many_variables:
        Add("These variables make a group file larger than the calculator's files can be.");
        Add("Download or send fewer texts at a time.");
        return;
    case not_text:
        Add("This file is not a text: a picture, a document or an archive.");
        Add("Choose the text file itself.");
        return;
    case unknown_signature:
    case no_variable_file:
        Add("This is not a variable file of the TI-89 family.");
        Add("Choose a text, or a variable file taken off a calculator.");
        return;
    case file_too_large:
        Add("This file is larger than any variable file (4 MiB).");
        Add("Choose a variable file taken off a calculator.");
        return;
    case file_refused:
        Add("This variable file is damaged (%s).", m.detail);
        Add("Take the text off the calculator again, then choose its file.");
        return;
    case no_text_variable:
        Add("This variable file holds no text.");
        Add("Choose a file that holds a text.");
        return;
    case unsafe_name:
    case same_name:
    case same_name_in_folders:
    case same_file_name:
        Add("This file holds texts whose names cannot all become file names.");
        Add("Rename them on the calculator, then take them off one at a time.");
        return;
    case two_texts_one_name: {
        char shown[kShownNameSize];
        Add("%s and %s both give the variable name %s.", m.path, m.other, ShownCalcName(m.names[0], m.utf8, shown));
        Add("Type another variable name on one of their rows.");
        return;
    }
    case replaced: {
        char kinds[1024];
        ReplacedKinds(*m.replacements, kinds);
        const unsigned count = static_cast<unsigned>(m.replacements->count);
        Add("%u character%s replaced by the closest the calculator has:%s.", count, count == 1 ? "" : "s", kinds);
        Add("Untick Replace to see each one marked.");
        return;
    }
    case ram:
        Add("%u variables of %s bytes in all: more than the %u KB of RAM a %s leaves free.", n0, Grouped(n1, b),
            m.model->ram_kb, m.model->name);
        Add(m.model->archive ? "Tick Archive to store them in the archive, or send fewer at a time."
                             : "Send fewer at a time: it has no archive.");
        return;
    default: {
        char line[512];
        MessageLine(m, line, sizeof line);
        const bool error = !std::strncmp(line, "ERROR: ", 7);
        Add("%s.", line + (error ? 7 : 0));
        Add("Choose the file again, or another file.");
    }
    }
}

// Keeps the lines the console program prints for `message` (its precise reason, if any, then its
// line), after those kept so far, and its teacher's words; returns its exit status.
int Keep(const Message& message, bool split = false)
{
    for (const auto word : {MessageReason, MessageLine}) {
        const std::size_t at = std::strlen(g_message);
        const int n = word(message, g_message + at, sizeof g_message - at);
        if (n > 0 && at + n + 1 < sizeof g_message)
            std::memcpy(g_message + at + n, "\n", 2);
    }
    Explain(message, split);
    return StatusOf(message.code);
}

// The model the page's setting `option` names: the first of the table when it is null.
const Model* ModelNamed(const char* option)
{
    return option ? FindModel(option) : &kModels[0];
}

// True when `text`'s opening shows it is no text the calculator can store: a picture, a PDF, an
// archive or office document, or, unless it is read as UTF-16, mostly NUL bytes.
bool NotText(std::span<const unsigned char> text)
{
    const auto opens = [&](const char* magic, std::size_t n) { return text.size() >= n && !std::memcmp(text.data(), magic, n); };
    if (opens("\x89PNG", 4) || opens("\xFF\xD8\xFF", 3) || opens("%PDF", 4) || opens("PK\x03\x04", 4) ||
        opens("\xD0\xCF\x11\xE0", 4))
        return true;
    const std::size_t n = std::min<std::size_t>(text.size(), 4096);
    return g_encoding != Encoding::utf16 && n && static_cast<std::size_t>(std::count(text.begin(), text.begin() + n, 0)) * 2 > n;
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void sorvel_clear() { Reset(); }
EMSCRIPTEN_KEEPALIVE const char* sorvel_message()
{
    // The lines kept, but for the last line break.
    if (const std::size_t n = std::strlen(g_message); n && g_message[n - 1] == '\n')
        g_message[n - 1] = '\0';
    return g_message;
}
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_count() { return g_count; }
// Each output's name, file name, data and size; "", null and 0 past the last.
EMSCRIPTEN_KEEPALIVE const char* sorvel_name(std::size_t i) { return i < g_count ? g_outputs[i].name : ""; }
EMSCRIPTEN_KEEPALIVE const char* sorvel_file_name(std::size_t i) { return i < g_count ? g_outputs[i].file_name : ""; }
EMSCRIPTEN_KEEPALIVE const unsigned char* sorvel_data(std::size_t i) { return i < g_count ? g_outputs[i].data : nullptr; }
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_size(std::size_t i) { return i < g_count ? g_outputs[i].size : 0; }
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_used() { return g_used; }
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_line() { return g_line; }
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_column() { return g_column; }
// The messages kept, in a teacher's words: each a sentence followed by its next step.
EMSCRIPTEN_KEEPALIVE const char* sorvel_words() { return g_words; }
// How the last text converted was read: 0 the calculator's own bytes, 1 UTF-8, 2 Windows-1252,
// 3 UTF-16.
EMSCRIPTEN_KEEPALIVE int sorvel_encoding() { return static_cast<int>(g_encoding); }

// The table of models, for the page's list of calculators: each one's -m value ("" for one that
// takes another's files), name, extension, group extension and whether it has an archive; "" or
// 0 past the last.
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_model_count() { return std::size(kModels); }
EMSCRIPTEN_KEEPALIVE const char* sorvel_model_option(std::size_t i)
{
    return i < std::size(kModels) ? kModels[i].option : "";
}
EMSCRIPTEN_KEEPALIVE const char* sorvel_model_name(std::size_t i) { return i < std::size(kModels) ? kModels[i].name : ""; }
EMSCRIPTEN_KEEPALIVE const char* sorvel_model_extension(std::size_t i)
{
    return i < std::size(kModels) ? kModels[i].extension : "";
}
EMSCRIPTEN_KEEPALIVE const char* sorvel_model_group_extension(std::size_t i)
{
    return i < std::size(kModels) ? kModels[i].group_extension : "";
}
EMSCRIPTEN_KEEPALIVE int sorvel_model_archive(std::size_t i) { return i < std::size(kModels) && kModels[i].archive; }

// The most data one variable holds.
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_max_data() { return kMaxUserDataSize; }
// The most bytes of a variable file that decide how -x takes it: one more than the largest taken.
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_variable_file_bytes() { return kMaxVarFileSize + 1; }

// The variable name proposed for the file named `file`, one the calculator accepts: in ASCII
// unless `utf8`, as a name is then stored as its bytes; sorvel_passed_over then gives the name
// the calculator keeps for itself that it passed over, or "".
char g_passed_over[kVarNameSize];
EMSCRIPTEN_KEEPALIVE const char* sorvel_proposed_name(const char* file, int utf8)
{
    static char name[kVarNameSize];
    ProposeVarName(file, name, !utf8, g_passed_over);
    return name;
}
EMSCRIPTEN_KEEPALIVE const char* sorvel_passed_over() { return g_passed_over; }
// Why the calculator would not accept variable name `name`, or "".
EMSCRIPTEN_KEEPALIVE const char* sorvel_name_problem(const char* name)
{
    const char* problem = VarNameProblem(name);
    return problem ? problem : "";
}

// The most bytes of a text that decide how sorvel_convert takes it in the mode asked for: with
// `split`, those of the most parts -s makes (as many bytes of UTF-8 as they could take, and a byte).
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_text_bytes(int utf8, int replace, int split)
{
    return TextBytesRead({static_cast<bool>(utf8), replace && utf8, true, static_cast<bool>(split)},
                         split ? kMaxParts : 1);
}

// `sorvel [--encoding=E] [-r] [-s] [-a] [-f folder] [-m model_option] file [name]` for the text
// file `file` holding `bytes`, E being `encoding` (0 calculator, 1 utf-8, 2 windows-1252, 3
// utf-16, 4 auto; -r only when not calculator); name, folder and model null when not given.
// Output 0 is the variable file (with -s and more than one part, the group file of the parts),
// named as soon as the name is taken; with -s, outputs 1 on name its parts' variables. A text
// that is no text at all (a picture, a PDF, an archive or office document, or mostly NUL bytes)
// is never converted. With -s and no -a, the program's note when the parts take more RAM than
// the model leaves free.
EMSCRIPTEN_KEEPALIVE int sorvel_convert(const unsigned char* bytes, std::size_t size, const char* file,
                                        const char* given_name, const char* model_option, int encoding,
                                        int replace, int split, const char* folder_option, int archive)
{
    Reset();
    const Model* model = ModelNamed(model_option);
    if (!model)
        return Keep(Say(MessageCode::unknown_model, model_option));
    // With -s, a text must fit the variables it is cut into; without, the writer says by how much
    // it is too long.
    const bool utf8 = encoding != 0;
    const TextMode mode = {utf8, replace && utf8, true, static_cast<bool>(split),
                           utf8 && encoding <= 4 ? static_cast<Encoding>(encoding) : Encoding::utf8};
    const char* source = given_name ? given_name : file;
    const std::size_t length = given_name ? std::strlen(source) : std::strcspn(source, ".");
    char name[9], folder[9];
    std::size_t used;
    if (const Message refused = CalcName(source, length, mode.utf8, MessageCode::variable_name, name, used))
        return Keep(refused);
    if (!Outputs(1))
        return Keep(Say(MessageCode::out_of_memory));
    Output& out = g_outputs[0];
    std::snprintf(out.name, sizeof out.name, "%.*s", static_cast<int>(used), source);
    std::snprintf(out.file_name, sizeof out.file_name, "%s%s", out.name, model->extension);
    if (const Message refused = FolderName(folder_option, mode.utf8, folder))
        return Keep(refused);

    // The console program reads no more than these bytes, which decide how the text is taken.
    const std::size_t parts_most = split ? kMaxParts : 1;
    const std::span<const unsigned char> text(bytes, std::min(size, TextBytesRead(mode, parts_most)));
    g_encoding = EncodingOf(text, mode, parts_most);
    if (NotText(text))  // stored as the bytes they are, these would give a variable of no use
        return Keep(Say(MessageCode::not_text, file));
    EncodedText encoded;
    Message failure = EncodeText(text, false, mode, parts_most, file, g_data, encoded);
    g_used = static_cast<std::uint32_t>(encoded.data.size());
    const std::size_t parts = encoded.parts;
    Variable vars[kMaxParts];
    std::uint32_t image_size = 0;
    Owned<unsigned char[]> image;
    if (!failure && parts > 1) {
        std::snprintf(out.file_name, sizeof out.file_name, "%s%s", out.name, model->group_extension);
        PartVariables(encoded, name, folder, archive ? kArchived : 0, vars);
        failure = GroupImageOf({vars, parts}, *model, out.file_name, image, image_size);
        if (!failure && Grow(g_outputs, parts + 1)) {
            g_count = parts + 1;
            for (std::size_t k = 0; k < parts; ++k) {
                Output& part = g_outputs[k + 1] = {};
                part.name[CalcName2Text(vars[k].name, mode.utf8, part.name)] = '\0';
            }
        } else if (!failure) {
            failure = Say(MessageCode::out_of_memory);
        }
    } else if (!failure) {
        failure = ImageOf(name, encoded.data, *model, folder, archive ? kArchived : 0, image, image_size);
    }
    if (failure) {
        if (failure.code == MessageCode::character) {
            g_line = failure.numbers[0];
            g_column = failure.numbers[1];
        }
        return Keep(failure, split);
    }
    g_outputs[0].data = image.release();
    g_outputs[0].size = image_size;
    Keep(ReplacementsNote(encoded.replaced, file));
    if (given_name && (utf8 || split))
        Keep(ReservedNameNote(given_name, used, g_outputs[0].file_name));
    if (split && !archive)
        Keep(RamNote(parts > 1 ? parts : 0, RamBytes({vars, parts > 1 ? parts : 0}), *model, g_outputs[0].file_name));
    return kSuccess;
}

// `sorvel -x [-u] file` for the variable file `file` holding `bytes`: an output for each text
// variable, sorted by file name, its text with LF line breaks.
EMSCRIPTEN_KEEPALIVE int sorvel_extract(const unsigned char* bytes, std::size_t size, const char* file, int utf8)
{
    Reset();
    TextList list;
    if (const Message refused = ListTexts({bytes, size}, file, utf8, true, list))
        return Keep(refused);
    const std::size_t n = list.count;
    const TextFile* const t = list.texts.get();
    if (!Outputs(n))
        return Keep(Say(MessageCode::out_of_memory));
    for (std::size_t i = 0; i < n; ++i) {
        Output& out = g_outputs[i];
        std::snprintf(out.file_name, sizeof out.file_name, "%s", t[i].file_name);
        std::snprintf(out.name, sizeof out.name, "%.*s", static_cast<int>(std::strlen(t[i].file_name) - 4), t[i].file_name);
        out.data = static_cast<unsigned char*>(std::malloc(t[i].v->data.size() * kTextBytesPerDataByte));
        if (!out.data) {
            Reset();
            return Keep(Say(MessageCode::out_of_memory));
        }
        out.size = DataBuffer2Text(t[i].v->data, utf8, "\n", out.data);
    }
    return kSuccess;
}

// `sorvel [-u] [-s] [-m model_option] -g texts.89g file...` for the `n` text files named `names`
// (one after the other, each ending in NUL), already converted into the variable files `files`
// (one after the other, `sizes` long; with -s, a group file of a text's parts); output 0 is that
// group file, named as soon as the model is known. Unless the variables are archived, the words
// kept say when they take more RAM than the model leaves free (the page's note beside Send all).
EMSCRIPTEN_KEEPALIVE int sorvel_group(const unsigned char* files, const std::uint32_t* sizes, const char* names,
                                      std::size_t n, const char* model_option, int utf8)
{
    Reset();
    const Model* model = ModelNamed(model_option);
    if (!model)
        return Keep(Say(MessageCode::unknown_model, model_option));
    if (!Outputs(1))
        return Keep(Say(MessageCode::out_of_memory));
    Output& out = g_outputs[0];
    std::snprintf(out.name, sizeof out.name, "texts");
    std::snprintf(out.file_name, sizeof out.file_name, "texts%s", model->group_extension);
    if (n == 0)
        return Keep(Say(MessageCode::usage_group));
    std::size_t most = 0;
    for (std::size_t i = 0, at = 0; i < n; at += sizes[i++])
        most += VarFileEntryCount({files + at, sizes[i]});
    const Owned<Variable[]> vars(static_cast<Variable*>(std::malloc((most + 1) * sizeof(Variable))));
    const Owned<const char*[]> shown(static_cast<const char**>(std::malloc((most + 1) * sizeof(const char*))));
    if (!vars || !shown)
        return Keep(Say(MessageCode::out_of_memory));
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; files += sizes[i], names += std::strlen(names) + 1, ++i) {
        const std::span<const unsigned char> file(files, sizes[i]);
        const std::size_t entries = VarFileEntryCount(file);
        if (entries == 0 || ParseVarFile(file, {&vars[count], entries}))
            return Keep(Say(MessageCode::no_variable_file, names));
        // The texts, without the folders a group file lists.
        const std::size_t first = count;
        for (std::size_t e = 0; e < entries; ++e)
            if (vars[first + e].type == kTextType) {
                vars[count] = vars[first + e];
                shown[count++] = names;
            }
        std::size_t earlier, taken;
        if (NameTaken({vars.get(), first}, {&vars[first], count - first}, earlier, taken))
            return Keep(TwoTextsOneName(shown[earlier], names, vars[first + taken].name, utf8));
    }
    std::uint32_t image_size = 0;
    Owned<unsigned char[]> image;
    if (const Message failure = GroupImageOf({vars.get(), count}, *model, out.file_name, image, image_size))
        return Keep(failure);
    out.data = image.release();
    out.size = image_size;
    if (count && vars[0].attribute != kArchived)
        Explain(RamNote(count, RamBytes({vars.get(), count}), *model, out.file_name), false);
    return kSuccess;
}

// True (1) when `bytes` open with the signature of a variable file of any model.
EMSCRIPTEN_KEEPALIVE int sorvel_is_variable_file(const unsigned char* bytes, std::size_t size)
{
    return HasSignature({bytes, size});
}

} // extern "C"
