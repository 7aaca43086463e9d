// The page's way into the core: each function does for bytes in memory what the console program
// does for a file on Linux, and keeps until the next call the lines the program would print (on
// standard error, then a failure's line) and the files it would write, for the script to read
// through the sorvel_* getters.
#include "app/calc_name.h"
#include "app/encode_text.h"
#include "app/owned.h"
#include "app/shown_name.h"
#include "app/status.h"
#include "app/text_list.h"
#include "core/byte_encoder.h"
#include "core/charset.h"
#include "core/text_decoder.h"
#include "core/text_parts.h"
#include "core/var_name.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Output {
    char name[8 * kTextBytesPerDataByte + 1];  // a variable's name as a text file names it
    char file_name[sizeof name + 4];
    unsigned char* data;
    std::size_t size;
};

char g_message[1024];
const char* g_hint = "";  // the next step after the last refusal, or ""
Output* g_outputs;
std::size_t g_count;
std::uint32_t g_used, g_line, g_column;
DataBuffer g_data;

// Forgets the last call's outcome.
void Reset()
{
    for (std::size_t i = 0; i < g_count; ++i)
        std::free(g_outputs[i].data);
    std::free(g_outputs);
    g_outputs = nullptr;
    g_count = 0;
    g_message[0] = '\0';
    g_hint = "";
    g_used = g_line = g_column = 0;
}

// Room for `n` outputs, all empty; false when no memory is left.
bool Outputs(std::size_t n)
{
    g_outputs = static_cast<Output*>(std::calloc(n, sizeof(Output)));
    g_count = g_outputs ? n : 0;
    return g_outputs;
}

} // namespace

namespace {

// Keeps a line the console program prints, after those kept so far.
void Keep(const char* format, std::va_list args)
{
    const std::size_t at = std::strlen(g_message);
    std::vsnprintf(g_message + at, sizeof g_message - at, format, args);
}

} // namespace

// The page's one path for a failure, and for a line on standard error: kept for the script.
int Fail(ExitStatus status, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    Keep(format, args);
    va_end(args);
    return status;
}

void Note(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    Keep(format, args);
    va_end(args);
}

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
EMSCRIPTEN_KEEPALIVE const char* sorvel_hint() { return g_hint; }

// The most data one variable holds.
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_max_data() { return kMaxUserDataSize; }
// The most bytes of a variable file that decide how -x takes it: one more than the largest taken.
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_variable_file_bytes() { return kMaxVarFileSize + 1; }

// The variable name proposed for the file named `file`, one the calculator accepts: in ASCII
// unless `utf8`, as a name is then stored as its bytes.
EMSCRIPTEN_KEEPALIVE const char* sorvel_proposed_name(const char* file, int utf8)
{
    static char name[kVarNameSize];
    ProposeVarName(file, name, !utf8);
    return name;
}
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
    return TextBytesRead({utf8 || replace, static_cast<bool>(replace), true, static_cast<bool>(split)},
                         split ? kMaxParts : 1);
}

namespace {

// The name of calculator name `name` as a text file would give it: UTF-8 with `utf8`.
void TextName(const char* name, bool utf8, char (&out)[sizeof Output::name])
{
    std::size_t at = 0;
    for (const char* c = name; *c; ++c) {
        const std::string_view s = utf8 ? CalcByte2Utf8(static_cast<unsigned char>(*c)) : std::string_view(c, 1);
        std::memcpy(out + at, s.data(), s.size());
        at += s.size();
    }
    out[at] = '\0';
}

// The next step for a text that `text`'s opening shows is no text the calculator can store, or null.
const char* NotText(std::span<const unsigned char> text)
{
    const auto opens = [&](const char* magic, std::size_t n) { return text.size() >= n && !std::memcmp(text.data(), magic, n); };
    if (opens("\xFF\xFE", 2) || opens("\xFE\xFF", 2))
        return "This text is UTF-16: save it as UTF-8";
    if (opens("\x89PNG", 4) || opens("\xFF\xD8\xFF", 3) || opens("%PDF", 4) || opens("PK\x03\x04", 4) ||
        opens("\xD0\xCF\x11\xE0", 4))
        return "This is not a text file";
    const std::size_t n = std::min<std::size_t>(text.size(), 4096);
    return n && static_cast<std::size_t>(std::count(text.begin(), text.begin() + n, 0)) * 2 > n ? "This is not a text file" : nullptr;
}

// The next step after refusal `status` of a text, with Split ticked or not, given what the encoder found.
const char* NextStep(int status, bool split, const Utf8Problem& problem)
{
    if (status == kTooBig && !split)
        return "Tick Split long texts to store it as several variables";
    if (status != kRefused || !problem.line)
        return "";
    if (!std::strncmp(problem.what, "malformed", 9))
        return "This may not be UTF-8: untick UTF-8, or save the file as UTF-8";
    if (!std::strncmp(problem.what, "no calculator character", 23))
        return "Tick Replace to store the closest character";
    return "";
}

// `sorvel -s` on the text `text` of the file named `shown`, encoded into `encoded`: the
// variables of its parts, named after `name` (number added when there are several), each in
// `folder` with `attribute`. Returns the status.
int SplitText(std::span<const unsigned char> text, TextMode mode, const char* shown, const char (&name)[9],
              const char (&folder)[9], unsigned char attribute, Variable (&vars)[kMaxParts], EncodedText& encoded)
{
    mode.in_parts = true;
    if (const int status = EncodeText(text, false, mode, kMaxParts, shown, g_data, encoded))
        return status;
    for (std::size_t k = 0, at = 0; k < encoded.parts; at += encoded.lengths[k++]) {
        Variable& v = vars[k];
        v = {{}, {}, kTextType, attribute, encoded.data.subspan(at, encoded.lengths[k])};
        std::memcpy(v.folder, folder, sizeof folder);
        PartName(name, encoded.parts, k, v.name);
    }
    return kSuccess;
}

} // namespace

// `sorvel [-u|-r] [-s] [-a] [-f folder] -m model_option file [name]` for the text file `file`
// holding `bytes`; name and folder null when not given. Output 0 is the variable file (with -s
// and more than one part, the group file of the parts), named as soon as the name is taken;
// with -s, outputs 1 on name its parts' variables. A text that is UTF-16 or no text at all
// (a picture, a PDF, an archive or office document, or mostly NUL bytes) is never converted.
EMSCRIPTEN_KEEPALIVE int sorvel_convert(const unsigned char* bytes, std::size_t size, const char* file,
                                        const char* given_name, const char* model_option, int utf8, int replace,
                                        int split, const char* folder_option, int archive)
{
    Reset();
    const Model* model = FindModel(model_option);
    if (!model)
        return Fail(kUsage, "ERROR: unknown model %s (89, 92, 92p or v200)\n", model_option);
    const TextMode mode = {utf8 || replace, static_cast<bool>(replace), true};
    const char* source = given_name ? given_name : file;
    const std::size_t length = given_name ? std::strlen(source) : std::strcspn(source, ".");
    char name[9], folder[9];
    std::size_t used;
    if (const int status = CalcName(source, length, mode.utf8, "variable name", name, used))
        return status;
    if (!Outputs(1))
        return Fail(kNoImage, "ERROR: out of memory\n");
    Output& out = g_outputs[0];
    std::snprintf(out.name, sizeof out.name, "%.*s", static_cast<int>(used), source);
    std::snprintf(out.file_name, sizeof out.file_name, "%s%s", out.name, model->extension);
    if (const int status = FolderName(folder_option, mode.utf8, folder))
        return status;

    // The console program reads no more than these bytes, which decide how the text is taken.
    const std::span<const unsigned char> text(bytes, std::min(size, sorvel_text_bytes(mode.utf8, replace, split)));
    const unsigned char attribute = archive ? kArchived : 0;
    Utf8Replacements replaced;
    Utf8Problem problem;
    int status = kSuccess;
    std::uint32_t image_size = 0;
    if (!split) {
        status = EncodeText(text, false, mode, file, g_data, g_used, replaced, problem);
        Owned<unsigned char[]> image;
        if (!status)
            status = ImageOf(name, std::span(g_data).first(g_used), *model, folder, attribute, image, image_size);
        out.data = image.release();
    } else {
        Variable vars[kMaxParts];
        EncodedText encoded;
        status = SplitText(text, mode, file, name, folder, attribute, vars, encoded);
        const std::size_t parts = encoded.parts;
        problem = encoded.problem;
        if (!status && parts > 1) {
            std::snprintf(out.file_name, sizeof out.file_name, "%s%s", out.name, model->group_extension);
            Owned<unsigned char[]> image;
            status = GroupImageOf({vars, parts}, *model, out.file_name, image, image_size);
            out.data = image.release();
            Output* more = status ? nullptr : static_cast<Output*>(std::realloc(g_outputs, (parts + 1) * sizeof(Output)));
            if (more) {
                g_outputs = more;
                g_count = parts + 1;
                for (std::size_t k = 0; k < parts; ++k) {
                    g_outputs[k + 1] = {};
                    TextName(vars[k].name, mode.utf8, g_outputs[k + 1].name);
                }
            } else if (!status) {
                status = Fail(kNoImage, "ERROR: out of memory\n");
            }
        } else if (!status) {
            Owned<unsigned char[]> image;
            status = ImageOf(name, vars[0].data, *model, folder, attribute, image, image_size);
            out.data = image.release();
        }
        for (std::size_t k = 0; k < parts; ++k)
            g_used += static_cast<std::uint32_t>(vars[k].data.size());
    }
    Output& made = g_outputs[0];
    if (status) {
        g_line = problem.line;
        g_column = problem.column;
        const char* not_text = NotText(text);
        g_hint = not_text ? not_text : NextStep(status, split, problem);
        std::free(made.data);
        made.data = nullptr;
        return status;
    }
    made.size = image_size;
    if (const char* not_text = NotText(text)) {
        // Stored as the bytes they are, these would give a variable of no use.
        std::free(made.data);
        made.data = nullptr;
        made.size = 0;
        g_hint = not_text;
        return Fail(kRefused, "ERROR: %s: not stored: not a UTF-8 or single-byte text\n", file);
    }
    NoteReplacements(replaced, file);
    return kSuccess;
}

// `sorvel -x [-u] file` for the variable file `file` holding `bytes`: an output for each text
// variable, sorted by file name, its text with LF line breaks.
EMSCRIPTEN_KEEPALIVE int sorvel_extract(const unsigned char* bytes, std::size_t size, const char* file, int utf8)
{
    Reset();
    TextList list;
    const int listed = ListTexts({bytes, size}, file, utf8, true, list);
    const std::size_t n = list.count;
    const TextFile* const t = list.texts.get();
    if (listed != kSuccess)
        return listed;
    if (!Outputs(n))
        return Fail(kNoImage, "ERROR: out of memory\n");
    for (std::size_t i = 0; i < n; ++i) {
        Output& out = g_outputs[i];
        std::snprintf(out.file_name, sizeof out.file_name, "%s", t[i].file_name);
        std::snprintf(out.name, sizeof out.name, "%.*s", static_cast<int>(std::strlen(t[i].file_name) - 4), t[i].file_name);
        out.data = static_cast<unsigned char*>(std::malloc(t[i].v->data.size() * kTextBytesPerDataByte));
        if (!out.data) {
            Reset();
            return Fail(kNoImage, "ERROR: out of memory\n");
        }
        out.size = DataBuffer2Text(t[i].v->data, utf8, "\n", out.data);
    }
    return kSuccess;
}

// `sorvel [-u] [-s] -m model_option -g texts.89g file...` for the `n` text files named `names`
// (one after the other, each ending in NUL), already converted into the variable files `files`
// (one after the other, `sizes` long; with -s, a group file of a text's parts); output 0 is that
// group file, named as soon as the model is known.
EMSCRIPTEN_KEEPALIVE int sorvel_group(const unsigned char* files, const std::uint32_t* sizes, const char* names,
                                      std::size_t n, const char* model_option, int utf8)
{
    Reset();
    const Model* model = FindModel(model_option);
    if (!model)
        return Fail(kUsage, "ERROR: unknown model %s (89, 92, 92p or v200)\n", model_option);
    if (!Outputs(1))
        return Fail(kNoImage, "ERROR: out of memory\n");
    Output& out = g_outputs[0];
    std::snprintf(out.name, sizeof out.name, "texts");
    std::snprintf(out.file_name, sizeof out.file_name, "texts%s", model->group_extension);
    if (n == 0)
        return Fail(kUsage, "Usage: sorvel -g file.89g file.txt...\n");
    std::size_t most = 0;
    for (std::size_t i = 0, at = 0; i < n; at += sizes[i++])
        most += VarFileEntryCount({files + at, sizes[i]});
    const Owned<Variable[]> vars(static_cast<Variable*>(std::malloc((most + 1) * sizeof(Variable))));
    const Owned<const char*[]> shown(static_cast<const char**>(std::malloc((most + 1) * sizeof(const char*))));
    if (!vars || !shown)
        return Fail(kNoImage, "ERROR: out of memory\n");
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; files += sizes[i], names += std::strlen(names) + 1, ++i) {
        const std::span<const unsigned char> file(files, sizes[i]);
        const std::size_t entries = VarFileEntryCount(file);
        if (entries == 0 || ParseVarFile(file, {&vars[count], entries}))
            return Fail(kRefused, "ERROR: %s: no variable file\n", names);
        // The texts, without the folders a group file lists.
        const std::size_t first = count;
        for (std::size_t e = 0; e < entries; ++e)
            if (vars[first + e].type == kTextType) {
                vars[count] = vars[first + e];
                shown[count++] = names;
            }
        for (std::size_t v = first; v < count; ++v)
            for (std::size_t k = 0; k < first; ++k)
                if (!std::strcmp(vars[k].name, vars[v].name)) {
                    char name[kShownNameSize];
                    return Fail(kRefused, "ERROR: %s and %s give two variables named %s\n", shown[k], names,
                                ShownCalcName(vars[v].name, utf8, name));
                }
    }
    std::uint32_t image_size = 0;
    Owned<unsigned char[]> image;
    const int status = GroupImageOf({vars.get(), count}, *model, out.file_name, image, image_size);
    out.data = image.release();
    out.size = status ? 0 : image_size;
    return status;
}

// True (1) when `bytes` open with the signature of a variable file of any model.
EMSCRIPTEN_KEEPALIVE int sorvel_is_variable_file(const unsigned char* bytes, std::size_t size)
{
    return HasSignature({bytes, size});
}

} // extern "C"
