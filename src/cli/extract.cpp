#include "cli/extract.h"

#include "cli/input.h"
#include "cli/platform.h"
#include "cli/status.h"
#include "cli/write_output.h"
#include "core/charset.h"
#include "core/text_decoder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct FreeBlock {
    void operator()(void* block) const { std::free(block); }
};

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

// Orders variables by name, then by folder.
int CompareNames(const void* a, const void* b)
{
    const auto *x = static_cast<const Variable*>(a), *y = static_cast<const Variable*>(b);
    const int by_name = std::strcmp(x->name, y->name);
    return by_name ? by_name : std::strcmp(x->folder, y->folder);
}

} // namespace

int Extract(const Options& options, char** operands, int count)
{
    if (count != 1 && count != 2)
        return Fail(kUsage, "Usage: sorvel -x file.89t [out.txt]\n");
    const bool utf8 = options.utf8;
    const char* input_path = utf8 ? operands[0] : LegacyForm(operands[0]);
    const FileBytes in = ReadFile(operands[0], false, SIZE_MAX);
    const std::unique_ptr<unsigned char, FreeBlock> bytes(in.bytes);
    if (!in.opened)
        return Fail(kCannotRead, "ERROR: unable to open %s\n", input_path);
    if (!bytes)
        return Fail(kNoImage, "ERROR: out of memory\n");
    if (in.failed)
        return Fail(kCannotRead, "ERROR: unable to read %s\n", input_path);
    const std::span<const unsigned char> file(bytes.get(), in.size);

    const std::size_t entries = VarFileEntryCount(file);
    const std::unique_ptr<Variable, FreeBlock> all(
        static_cast<Variable*>(std::malloc((entries ? entries : 1) * sizeof(Variable))));
    if (!all)
        return Fail(kNoImage, "ERROR: out of memory\n");
    if (const char* why = ParseVarFile(file, {all.get(), entries}))
        return Fail(kRefused, "ERROR: %s: %s\n", input_path, why);
    // The text variables, moved to the front and sorted by name to find two of one name.
    Variable* const texts = all.get();
    std::size_t n = 0;
    for (std::size_t i = 0; i < entries; ++i)
        if (IsTextVariable(texts[i]))
            texts[n++] = texts[i];
    if (n == 0)
        return Fail(kRefused, "ERROR: %s: no text variable\n", input_path);
    std::qsort(texts, n, sizeof(Variable), CompareNames);
    char shown[8 * 4 + 1], first[8 * 4 + 1], second[8 * 4 + 1];
    for (std::size_t i = 1; i < n; ++i)
        if (!std::strcmp(texts[i].name, texts[i - 1].name)) {
            if (!std::strcmp(texts[i].folder, texts[i - 1].folder))
                return Fail(kRefused, "ERROR: %s: two text variables named %s\n", input_path,
                            Printable(texts[i].name, shown));
            return Fail(kRefused, "ERROR: %s: two text variables named %s: %s\\%s and %s\\%s\n", input_path,
                        Printable(texts[i].name, shown), Printable(texts[i - 1].folder, first), shown,
                        Printable(texts[i].folder, second), shown);
        }
    if (count == 2 && n != 1)
        return Fail(kUsage, "ERROR: %s holds %u text variables, so out.txt cannot be given\n",
                    input_path, static_cast<unsigned>(n));
    // A name from the file never takes the output out of the current directory.
    for (std::size_t i = 0; count == 1 && i < n; ++i)
        if (!IsSafeFileName(texts[i].name))
            return Fail(kRefused, "ERROR: %s: variable name %s is no safe file name; give out.txt\n",
                        input_path, Printable(texts[i].name, shown));

    for (std::size_t i = 0; i < n; ++i) {
        const Variable& v = texts[i];
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
        const std::unique_ptr<unsigned char, FreeBlock> text(
            static_cast<unsigned char*>(std::malloc(v.data.size() * kTextBytesPerDataByte)));
        if (!text)
            return Fail(kNoImage, "ERROR: out of memory\n");
        const std::size_t length = DataBuffer2Text(v.data, utf8, kWindows ? "\r\n" : "\n", text.get());
        if (const int status = WriteOutput(path, shown_path, {text.get(), length}))
            return status;
    }
    return kSuccess;
}
