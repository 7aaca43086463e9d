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
#include "core/text_decoder.h"

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
EMSCRIPTEN_KEEPALIVE const char* sorvel_name(std::size_t i) { return g_outputs[i].name; }
EMSCRIPTEN_KEEPALIVE const char* sorvel_file_name(std::size_t i) { return g_outputs[i].file_name; }
EMSCRIPTEN_KEEPALIVE const unsigned char* sorvel_data(std::size_t i) { return g_outputs[i].data; }
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_size(std::size_t i) { return g_outputs[i].size; }
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_used() { return g_used; }
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_line() { return g_line; }
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_column() { return g_column; }

// The most bytes of a text that decide how sorvel_convert takes it in the mode asked for.
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_text_bytes(int utf8, int replace)
{
    return TextBytesRead({utf8 || replace, static_cast<bool>(replace), true});
}

// `sorvel [-u|-r] -m model_option file [name]` for the text file `file` holding `bytes`; name
// null when not given. Output 0 is the variable file, named as soon as the name is taken.
EMSCRIPTEN_KEEPALIVE int sorvel_convert(const unsigned char* bytes, std::size_t size, const char* file,
                                        const char* given_name, const char* model_option, int utf8, int replace)
{
    Reset();
    const Model* model = FindModel(model_option);
    if (!model)
        return Fail(kUsage, "ERROR: unknown model %s (89, 92, 92p or v200)\n", model_option);
    const TextMode mode = {utf8 || replace, static_cast<bool>(replace), true};
    const char* source = given_name ? given_name : file;
    const std::size_t length = given_name ? std::strlen(source) : std::strcspn(source, ".");
    char name[9];
    std::size_t used;
    if (const int status = CalcName(source, length, mode.utf8, "variable name", name, used))
        return status;
    if (!Outputs(1))
        return Fail(kNoImage, "ERROR: out of memory\n");
    Output& out = g_outputs[0];
    std::snprintf(out.name, sizeof out.name, "%.*s", static_cast<int>(used), source);
    std::snprintf(out.file_name, sizeof out.file_name, "%s%s", out.name, model->extension);

    // The console program reads no more than these bytes, which decide how the text is taken.
    const std::span<const unsigned char> text(bytes, std::min(size, TextBytesRead(mode)));
    Utf8Replacements replaced;
    Utf8Problem problem;
    if (const int status = EncodeText(text, false, mode, file, g_data, g_used, replaced, problem)) {
        g_line = problem.line;
        g_column = problem.column;
        return status;
    }
    std::uint32_t image_size = 0;
    out.data = ImageOf(name, std::span(g_data).first(g_used), *model, "main", 0, image_size);
    out.size = image_size;
    if (!out.data)
        return kNoImage;
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
    const TextFile* const t = list.texts;
    if (listed != kSuccess) {
        FreeTextList(list);
        return listed;
    }
    if (!Outputs(n)) {
        FreeTextList(list);
        return Fail(kNoImage, "ERROR: out of memory\n");
    }
    for (std::size_t i = 0; i < n; ++i) {
        Output& out = g_outputs[i];
        std::snprintf(out.file_name, sizeof out.file_name, "%s", t[i].file_name);
        std::snprintf(out.name, sizeof out.name, "%.*s", static_cast<int>(std::strlen(t[i].file_name) - 4), t[i].file_name);
        out.data = static_cast<unsigned char*>(std::malloc(t[i].v->data.size() * kTextBytesPerDataByte));
        if (!out.data) {
            FreeTextList(list);
            Reset();
            return Fail(kNoImage, "ERROR: out of memory\n");
        }
        out.size = DataBuffer2Text(t[i].v->data, utf8, "\n", out.data);
    }
    FreeTextList(list);
    return kSuccess;
}

// `sorvel [-u] -m model_option -g texts.89g file...` for the `n` text files named `names` (one
// after the other, each ending in NUL), already converted into the variable files `files` (one
// after the other, `sizes` long); output 0 is that group file, named as soon as the model is known.
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
    const Owned<Variable[]> vars(static_cast<Variable*>(std::malloc(n * sizeof(Variable))));
    const Owned<const char*[]> shown(static_cast<const char**>(std::malloc(n * sizeof(const char*))));
    if (!vars || !shown)
        return Fail(kNoImage, "ERROR: out of memory\n");
    for (std::size_t i = 0; i < n; files += sizes[i], names += std::strlen(names) + 1, ++i) {
        const std::span<const unsigned char> file(files, sizes[i]);
        shown[i] = names;
        if (VarFileEntryCount(file) != 1 || ParseVarFile(file, {&vars[i], 1}))
            return Fail(kRefused, "ERROR: %s: no variable file of one variable\n", names);
        for (std::size_t k = 0; k < i; ++k)
            if (!std::strcmp(vars[k].name, vars[i].name)) {
                char name[kShownNameSize];
                return Fail(kRefused, "ERROR: %s and %s give two variables named %s\n", shown[k], names,
                            ShownCalcName(vars[i].name, utf8, name));
            }
    }
    std::uint32_t image_size = 0;
    const int status = GroupImageOf({vars.get(), n}, *model, out.file_name, out.data, image_size);
    out.size = status ? 0 : image_size;
    return status;
}

// True (1) when `bytes` open with the signature of a variable file of any model.
EMSCRIPTEN_KEEPALIVE int sorvel_is_variable_file(const unsigned char* bytes, std::size_t size)
{
    return HasSignature({bytes, size});
}

} // extern "C"
