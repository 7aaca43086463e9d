// The page's way into the core: each function does for bytes in memory what the console program
// does for a file on Linux, and keeps until the next call the message the program would print
// (standard error first, no last line break) and the files it would write, for the script to
// read through the sorvel_* getters.
#include "cli/shown_name.h"
#include "cli/status.h"
#include "cli/text_list.h"
#include "core/byte_encoder.h"
#include "core/charset.h"
#include "core/text_decoder.h"
#include "core/utf8_encoder.h"
#include "core/var_file.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

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

struct Free {
    void operator()(void* block) const { std::free(block); }
};

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

const Model* FindModel(const char* option)
{
    for (const Model& m : kModels)
        if (!std::strcmp(m.option, option))
            return &m;
    return nullptr;
}

} // namespace

// The page's one path for a failure: the line the console program prints, kept (without its
// last line break) for the script.
int Fail(ExitStatus status, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(g_message, sizeof g_message, format, args);
    va_end(args);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof g_message && g_message[n - 1] == '\n')
        g_message[n - 1] = '\0';
    return status;
}

extern "C" {

EMSCRIPTEN_KEEPALIVE void sorvel_clear() { Reset(); }
EMSCRIPTEN_KEEPALIVE const char* sorvel_message() { return g_message; }
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_count() { return g_count; }
EMSCRIPTEN_KEEPALIVE const char* sorvel_name(std::size_t i) { return g_outputs[i].name; }
EMSCRIPTEN_KEEPALIVE const char* sorvel_file_name(std::size_t i) { return g_outputs[i].file_name; }
EMSCRIPTEN_KEEPALIVE const unsigned char* sorvel_data(std::size_t i) { return g_outputs[i].data; }
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_size(std::size_t i) { return g_outputs[i].size; }
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_used() { return g_used; }
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_line() { return g_line; }
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_column() { return g_column; }

// The most bytes of a text that decide how sorvel_convert takes it, in either mode.
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_text_bytes() { return std::max(kMaxUtf8TextSize, kMaxTextSize + 1); }

// `sorvel [-u] -m model_option file [name]` for the text file `file` holding `bytes`; name null
// when not given. Output 0 is the variable file, named as soon as the name is taken.
EMSCRIPTEN_KEEPALIVE int sorvel_convert(const unsigned char* bytes, std::size_t size, const char* file,
                                        const char* given_name, const char* model_option, int utf8)
{
    Reset();
    const Model* model = FindModel(model_option);
    if (!model)
        return Fail(kUsage, "ERROR: unknown model %s (89, 92, 92p or v200)", model_option);
    const char* source = given_name ? given_name : file;
    const std::size_t length = given_name ? std::strlen(source) : std::strcspn(source, ".");
    char name[9] = {};
    std::size_t used = std::min<std::size_t>(length, 8);
    if (utf8) {
        char what[kUtf8WhatSize], shown[kShownNameSize];
        if (!Utf8Name2VarName({source, length}, name, used, what))
            return Fail(kRefused, "ERROR: variable name %s: %s", ShownName({source, length}, shown, true), what);
    } else {
        std::memcpy(name, source, used);
    }
    if (!Outputs(1))
        return Fail(kNoImage, "ERROR: out of memory");
    Output& out = g_outputs[0];
    std::snprintf(out.name, sizeof out.name, "%.*s", static_cast<int>(used), source);
    std::snprintf(out.file_name, sizeof out.file_name, "%s%s", out.name, model->extension);

    // The console program reads no more than these bytes, which decide how the text is taken.
    const std::span<const unsigned char> text(bytes, std::min(size, utf8 ? kMaxUtf8TextSize : kMaxTextSize + 1));
    Utf8Problem problem;
    const EncodeResult result = utf8 ? Utf8File2DataBuffer(text, g_data, problem)
                                     : TextFile2DataBuffer(TextUpToCtrlZ(text), LineBreaks::crlf_or_lf, g_data);
    if (result.status == EncodeStatus::too_big)
        return Fail(kTooBig, "ERROR: text file too big");
    if (result.status == EncodeStatus::refused) {
        g_line = problem.line;
        g_column = problem.column;
        return Fail(kRefused, "ERROR: %s:%u:%u: %s", file, static_cast<unsigned>(problem.line),
                    static_cast<unsigned>(problem.column), problem.what);
    }
    g_used = result.length;
    std::uint32_t image_size = 0;
    ImageFailure why;
    out.data = DataBuffer2OTHBuffer(name, std::span(g_data).first(result.length), image_size, why, *model);
    out.size = image_size;
    if (!out.data && why == ImageFailure::too_long)
        return Fail(kNoImage, "ERROR: length (%u) exceeds max. user data size (%u)\nERROR: out of memory",
                    static_cast<unsigned>(result.length), static_cast<unsigned>(kMaxUserDataSize));
    if (!out.data)
        return Fail(kNoImage, "ERROR: cannot allocate %u bytes of memory\nERROR: out of memory",
                    static_cast<unsigned>(result.length + kVarFileFrame));
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
        return Fail(kNoImage, "ERROR: out of memory");
    }
    for (std::size_t i = 0; i < n; ++i) {
        Output& out = g_outputs[i];
        std::snprintf(out.file_name, sizeof out.file_name, "%s", t[i].file_name);
        std::snprintf(out.name, sizeof out.name, "%.*s", static_cast<int>(std::strlen(t[i].file_name) - 4), t[i].file_name);
        out.data = static_cast<unsigned char*>(std::malloc(t[i].v->data.size() * kTextBytesPerDataByte));
        if (!out.data) {
            FreeTextList(list);
            Reset();
            return Fail(kNoImage, "ERROR: out of memory");
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
        return Fail(kUsage, "ERROR: unknown model %s (89, 92, 92p or v200)", model_option);
    if (!Outputs(1))
        return Fail(kNoImage, "ERROR: out of memory");
    Output& out = g_outputs[0];
    std::snprintf(out.name, sizeof out.name, "texts");
    std::snprintf(out.file_name, sizeof out.file_name, "texts%s", model->group_extension);
    if (n == 0)
        return Fail(kUsage, "Usage: sorvel -g file.89g file.txt...");
    const std::unique_ptr<Variable[], Free> vars(static_cast<Variable*>(std::malloc(n * sizeof(Variable))));
    const std::unique_ptr<const char*[], Free> shown(static_cast<const char**>(std::malloc(n * sizeof(const char*))));
    if (!vars || !shown)
        return Fail(kNoImage, "ERROR: out of memory");
    for (std::size_t i = 0; i < n; files += sizes[i], names += std::strlen(names) + 1, ++i) {
        const std::span<const unsigned char> file(files, sizes[i]);
        shown[i] = names;
        if (VarFileEntryCount(file) != 1 || ParseVarFile(file, {&vars[i], 1}))
            return Fail(kRefused, "ERROR: %s: no variable file of one variable", names);
        for (std::size_t k = 0; k < i; ++k)
            if (!std::strcmp(vars[k].name, vars[i].name)) {
                char text[8 * kTextBytesPerDataByte], name[kShownNameSize];
                return Fail(kRefused, "ERROR: %s and %s give two variables named %s", shown[k], names,
                            ShownName({text, CalcName2Text(vars[i].name, utf8, text)}, name, utf8));
            }
    }
    std::uint32_t image_size = 0;
    ImageFailure why;
    out.data = Variables2GroupBuffer({vars.get(), n}, image_size, why, *model);
    out.size = image_size;
    if (!out.data)
        return Fail(kNoImage, why == ImageFailure::too_long ? "ERROR: too many variables for one file" : "ERROR: out of memory");
    // What -x reads back, and more than any calculator of the family holds.
    if (image_size > kMaxVarFileSize) {
        std::free(out.data);
        out.data = nullptr;
        out.size = 0;
        return Fail(kTooBig, "ERROR: %s: larger than any variable file (%u MiB)", out.file_name,
                    static_cast<unsigned>(kMaxVarFileSize >> 20));
    }
    return kSuccess;
}

// True (1) when `bytes` open with the signature of a variable file of any model.
EMSCRIPTEN_KEEPALIVE int sorvel_is_variable_file(const unsigned char* bytes, std::size_t size)
{
    return HasSignature({bytes, size});
}

} // extern "C"
