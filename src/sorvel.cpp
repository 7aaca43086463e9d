// sorvel [options] file.txt [varname]: turns a text file into a calculator text variable file;
// sorvel -x [options] file.89t [out.txt]: turns the text variables of such a file back into text.
#include "charset.h"
#include "oth_file.h"
#include "platform.h"
#include "safe_output.h"
#include "text_encoder.h"

#include <getopt.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#ifdef _WIN32
// The runtime's start-up expands wildcards in the arguments, as a Windows shell does not.
extern "C" {
int _dowildcard = -1;
}
#endif

namespace {

enum ExitStatus : int {
    kSuccess = 0,
    kUsage = 1,        // a wrong option or number of operands
    kCannotRead = 2,   // input not opened, or a read failed
    kTooBig = 3,
    kNoImage = 4,      // no memory, or data too long for the file
    kCannotWrite = 5,  // output not created, or not written completely
    kRefused = 6,      // a text, a name or a variable file that cannot be taken
};

// Prints the one line that reports a failure on standard output and returns its status.
[[gnu::format(printf, 2, 3)]] int Fail(ExitStatus status, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    return status;
}

const char kHelp[] =
    "Usage: sorvel [options] file.txt [varname]\n"
    "       sorvel -x [options] file.89t [out.txt]\n"
    "Turns a text file into a calculator text variable named varname, or after file.txt up to\n"
    "its first dot, in the file <name>.89t; with -x, turns text variables back into text.\n"
    "  -m, --model=MODEL  89 (TI-89, .89t, the default), 92 (TI-92, .92t), 92p (TI-92 Plus, .9xt), v200 (Voyage 200, .v2t)\n"
    "  -u, --utf8         the text and the names are UTF-8, stored as the calculator's characters\n"
    "  -x, --extract      write each text variable of file.89t to out.txt, by default <name>.txt\n"
    "  -h, --help         print this help\n"
    "  -V, --version      print the version\n";

struct Options {
    bool utf8 = false;
    bool extract = false;
    const Model* model = nullptr;  // as given by -m
};

struct FreeBlock {
    void operator()(unsigned char* block) const { std::free(block); }
};
using Block = std::unique_ptr<unsigned char, FreeBlock>;

DataBuffer data;

// Puts `bytes` at `path`, reporting a failure by its status.
int Write(const char* path, const char* shown, std::span<const unsigned char> bytes)
{
    switch (Bytes2File(path, bytes)) {
    case OutputStatus::written: return kSuccess;
    case OutputStatus::not_created: return Fail(kCannotWrite, "ERROR: unable to create %s\n", shown);
    case OutputStatus::not_written: break;
    }
    return Fail(kCannotWrite, "ERROR: unable to write %s\n", shown);
}

int Convert(const Options& options, char** operands, int count)
{
    if (count != 1 && count != 2)
        return Fail(kUsage, "Usage: sorvel file.txt [varname]\n");
    const Model& model = options.model ? *options.model : kModels[0];
    const bool utf8 = options.utf8;

    // The input is opened by its true name. Without -u, messages, the name and the output
    // path use the form the program has always known arguments by.
    std::FILE* in = utf8 ? OpenFile(operands[0], "rb") : OpenTextFile(operands[0]);
    const char* input_path = utf8 ? operands[0] : LegacyForm(operands[0]);
    if (!in)
        return Fail(kCannotRead, "ERROR: unable to open %s\n", input_path);

    // The name is the second operand, or the input path up to its first dot, directory parts
    // included; at most 8 calculator characters either way.
    const char* source = count == 2 ? (utf8 ? operands[1] : LegacyForm(operands[1])) : input_path;
    const std::size_t length = count == 2 ? std::strlen(source) : std::strcspn(source, ".");
    char name[9] = {};
    std::size_t used = length < 8 ? length : 8;
    if (utf8) {
        char what[kUtf8WhatSize];
        if (!Utf8Name2VarName({source, length}, name, used, what)) {
            std::fclose(in);
            return Fail(kRefused, "ERROR: variable name %.*s: %s\n", static_cast<int>(length),
                        source, what);
        }
    } else {
        std::memcpy(name, source, used);
    }
    char output_path[80];
    std::snprintf(output_path, sizeof output_path, "%.*s%s", static_cast<int>(used), source,
                  model.extension);

    Utf8Problem problem;
    const EncodeResult text =
        utf8 ? Utf8File2DataBuffer(in, data, problem) : TextFile2DataBuffer(in, data);
    std::fclose(in);
    switch (text.status) {
    case EncodeStatus::ok: break;
    case EncodeStatus::read_failed: return Fail(kCannotRead, "ERROR: unable to read %s\n", input_path);
    case EncodeStatus::too_big: return Fail(kTooBig, "ERROR: text file too big\n");
    case EncodeStatus::refused:
        return Fail(kRefused, "ERROR: %s:%u:%u: %s\n", input_path, static_cast<unsigned>(problem.line),
                    static_cast<unsigned>(problem.column), problem.what);
    }

    std::uint32_t image_size = 0;
    const Block image(DataBuffer2OTHBuffer(name, text.length, data.data(), &image_size, model));
    if (!image)
        return Fail(kNoImage, "ERROR: out of memory\n");
    return Write(utf8 ? output_path : LegacyPath(output_path), output_path,
                 {image.get(), image_size});
}

// Reads the whole file `in` into a new block and its size into `size`; null if a read
// failed or no memory was left, with `no_memory` telling which.
unsigned char* ReadAll(std::FILE* in, std::size_t& size, bool& no_memory)
{
    std::size_t room = 65536;
    auto* bytes = static_cast<unsigned char*>(std::malloc(room));
    size = 0;
    for (;;) {
        if (!bytes) {
            no_memory = true;
            return nullptr;
        }
        size += std::fread(bytes + size, 1, room - size, in);
        if (size < room)
            break;
        void* more = room < (std::size_t{1} << 31) ? std::realloc(bytes, room *= 2) : nullptr;
        if (!more)
            std::free(bytes);
        bytes = static_cast<unsigned char*>(more);
    }
    if (std::ferror(in)) {
        std::free(bytes);
        return nullptr;
    }
    return bytes;
}

#ifdef _WIN32
constexpr bool kWindows = true;  // where "c:x" names a file on drive c
#else
constexpr bool kWindows = false;
#endif

// A variable name that, followed by ".txt", names a file in the current directory.
bool IsSafeFileName(const char* name)
{
    if (!*name || !std::strcmp(name, ".") || !std::strcmp(name, ".."))
        return false;
    for (; *name; ++name) {
        const auto c = static_cast<unsigned char>(*name);
        if (c < 0x20 || c == '/' || c == '\\' || (kWindows && c == ':'))
            return false;
    }
    return true;
}

// Variable name `name` fit to print: every byte below 0x20 or above 0x7E as \xHH.
const char* Printable(const char* name, char (&shown)[8 * 4 + 1])
{
    char* out = shown;
    for (; *name; ++name) {
        const auto c = static_cast<unsigned char>(*name);
        out += c >= 0x20 && c < 0x7F ? std::snprintf(out, 2, "%c", c) : std::snprintf(out, 5, "\\x%02X", c);
    }
    *out = '\0';
    return shown;
}

int CompareNames(const void* a, const void* b)
{
    return std::strcmp(static_cast<const Variable*>(a)->name, static_cast<const Variable*>(b)->name);
}

int Extract(const Options& options, char** operands, int count)
{
    if (count != 1 && count != 2)
        return Fail(kUsage, "Usage: sorvel -x file.89t [out.txt]\n");
    const bool utf8 = options.utf8;
    const char* input_path = utf8 ? operands[0] : LegacyForm(operands[0]);
    std::FILE* in = OpenFile(operands[0], "rb");
    if (!in)
        return Fail(kCannotRead, "ERROR: unable to open %s\n", input_path);
    std::size_t size = 0;
    bool no_memory = false;
    const Block bytes(ReadAll(in, size, no_memory));
    std::fclose(in);
    if (!bytes)
        return no_memory ? Fail(kNoImage, "ERROR: out of memory\n")
                         : Fail(kCannotRead, "ERROR: unable to read %s\n", input_path);
    const std::span<const unsigned char> file(bytes.get(), size);

    std::size_t entries = 0;
    if (const char* why = CheckOTHBuffer(file, entries))
        return Fail(kRefused, "ERROR: %s: %s\n", input_path, why);
    // The text variables, sorted by name to find two of one name.
    const std::unique_ptr<Variable, decltype(&std::free)> texts(
        static_cast<Variable*>(std::malloc(entries * sizeof(Variable))), &std::free);
    if (!texts)
        return Fail(kNoImage, "ERROR: out of memory\n");
    std::size_t n = 0;
    for (std::size_t i = 0; i < entries; ++i)
        if (const Variable v = OTHBuffer2Variable(file, i); IsTextData(v.data))
            texts.get()[n++] = v;
    if (n == 0)
        return Fail(kRefused, "ERROR: %s: no text variable\n", input_path);
    std::qsort(texts.get(), n, sizeof(Variable), CompareNames);
    char shown[8 * 4 + 1];
    for (std::size_t i = 1; i < n; ++i)
        if (!std::strcmp(texts.get()[i].name, texts.get()[i - 1].name))
            return Fail(kRefused, "ERROR: %s: two text variables named %s\n", input_path,
                        Printable(texts.get()[i].name, shown));
    if (count == 2 && n != 1)
        return Fail(kUsage, "ERROR: %s holds %u text variables, so out.txt cannot be given\n",
                    input_path, static_cast<unsigned>(n));
    // A name from the file never takes the output out of the current directory.
    for (std::size_t i = 0; count == 1 && i < n; ++i)
        if (!IsSafeFileName(texts.get()[i].name))
            return Fail(kRefused, "ERROR: %s: variable name %s is no safe file name; give out.txt\n",
                        input_path, Printable(texts.get()[i].name, shown));

    for (std::size_t i = 0; i < n; ++i) {
        const Variable& v = texts.get()[i];
        // Without -u, the name's bytes stand for themselves, as in the other direction.
        char name[8 * kTextBytesPerDataByte + 5];
        std::size_t at = 0;
        for (const char* c = v.name; *c; ++c) {
            const std::string_view form =
                utf8 ? CalcByte2Utf8(static_cast<unsigned char>(*c)) : std::string_view(c, 1);
            std::memcpy(name + at, form.data(), form.size());
            at += form.size();
        }
        std::memcpy(name + at, ".txt", 5);
        const char* shown_path = count == 2 ? (utf8 ? operands[1] : LegacyForm(operands[1])) : name;
        const char* path = count == 2 ? operands[1] : utf8 ? name : LegacyPath(name);
        const Block text(static_cast<unsigned char*>(std::malloc(v.data.size() * kTextBytesPerDataByte)));
        if (!text)
            return Fail(kNoImage, "ERROR: out of memory\n");
        const std::size_t length = DataBuffer2Text(v.data, utf8, kWindows ? "\r\n" : "\n", text.get());
        if (const int status = Write(path, shown_path, {text.get(), length}))
            return status;
    }
    return kSuccess;
}

int Run(int argc, char** argv)
{
#ifdef SIGXFSZ
    // A file-size limit then fails the write, which is reported, instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    static const option kLong[] = {
        {"model", required_argument, nullptr, 'm'}, {"utf8", no_argument, nullptr, 'u'},
        {"extract", no_argument, nullptr, 'x'},     {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},     {nullptr, 0, nullptr, 0},
    };
    Options options;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":m:uxhV", kLong, nullptr)) != -1;) {
        switch (c) {
        case 'h': std::fputs(kHelp, stdout); return kSuccess;
        case 'V': std::puts("sorvel " SORVEL_VERSION); return kSuccess;
        case 'u': options.utf8 = true; break;
        case 'x':
            if (options.model)
                return Fail(kUsage, "ERROR: -x does not go with -m\n");
            options.extract = true;
            break;
        case 'm':
            if (options.extract)
                return Fail(kUsage, "ERROR: -m does not go with -x\n");
            for (const Model& m : kModels)
                if (std::strcmp(optarg, m.option) == 0)
                    options.model = &m;
            if (!options.model)
                return Fail(kUsage, "ERROR: unknown model %s (89, 92, 92p or v200)\n", optarg);
            break;
        case ':':
            return Fail(kUsage, "ERROR: option %s needs a value\n", argv[optind - 1]);
        default:  // a short option is known by optopt, a long one by the argument just read
            if (optopt)
                return Fail(kUsage, "ERROR: unknown option -%c\n", optopt);
            return Fail(kUsage, "ERROR: unknown option %s\n", argv[optind - 1]);
        }
    }
    char** operands = argv + optind;
    const int count = argc - optind;
    return options.extract ? Extract(options, operands, count) : Convert(options, operands, count);
}

} // namespace

#ifdef _WIN32
extern "C" int wmain(int argc, wchar_t** wargv)
{
    return Run(argc, Utf8Arguments(argc, wargv));
}
#else
int main(int argc, char** argv)
{
    return Run(argc, argv);
}
#endif
