#include "cli/extract.h"

#include "cli/input.h"
#include "cli/platform.h"
#include "cli/safe_output.h"
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
template <typename T>
using Owned = std::unique_ptr<T, FreeBlock>;

#ifdef _WIN32
constexpr const char* kUnsafeInNames = "/\\:<>\"|?*";  // separators, a drive, wildcards, pipes
constexpr const char* kLineBreak = "\r\n";
#else
constexpr const char* kUnsafeInNames = "/\\";
constexpr const char* kLineBreak = "\n";
#endif

// A text variable with the name of the file it goes to.
struct Text {
    const Variable* v;
    char file_name[8 * kTextBytesPerDataByte + 5];
};

// A variable name that, followed by ".txt", names a file in the current directory.
bool IsSafeFileName(const char* name, const char* file_name)
{
    if (!*name || !std::strcmp(name, ".") || !std::strcmp(name, "..") || IsDeviceName(file_name))
        return false;
    for (; *name; ++name) {
        const auto c = static_cast<unsigned char>(*name);
        if (c < 0x20 || c == 0x7F || std::strchr(kUnsafeInNames, c))
            return false;
    }
    return true;
}

// Orders texts by their file names, those the file system takes for one by their bytes, and
// those of one name by their folders.
int CompareTexts(const void* a, const void* b)
{
    const Text* const x = static_cast<const Text*>(a);
    const Text* const y = static_cast<const Text*>(b);
    const int order = CompareFileNames(x->file_name, y->file_name);
    const int bytes = order ? order : std::strcmp(x->file_name, y->file_name);
    return bytes ? bytes : std::strcmp(x->v->folder, y->v->folder);
}

// Reads the variable file `path` whole: its signature first, then at most kMaxVarFileSize
// bytes; returns the exit status of a failure, with `shown` as its name, or kSuccess.
int ReadVarFile(const char* path, const char* shown, FileBytes& in)
{
    std::FILE* const file = OpenInput(path, false);
    if (!file)
        return Fail(kCannotRead, "ERROR: unable to open %s\n", shown);
    bool read = ReadUpTo(file, in, kSignatureSize);
    const bool known = in.size < kSignatureSize || HasSignature({in.bytes, in.size});
    read = read && (!known || ReadUpTo(file, in, kMaxVarFileSize + 1));
    std::fclose(file);
    if (!read)
        return Fail(kNoImage, "ERROR: out of memory\n");
    if (in.failed)
        return Fail(kCannotRead, "ERROR: unable to read %s\n", shown);
    if (!known)
        return Fail(kRefused, "ERROR: %s: unknown signature\n", shown);
    if (in.size > kMaxVarFileSize)
        return Fail(kRefused, "ERROR: %s: larger than any variable file (%u MiB)\n", shown,
                    static_cast<unsigned>(kMaxVarFileSize >> 20));
    return kSuccess;
}

} // namespace

int Extract(const Options& options, char** operands, int count)
{
    if (count != 1 && count != 2)
        return Fail(kUsage, "Usage: sorvel -x file.89t [out.txt]\n");
    const bool utf8 = options.utf8;
    const char* input_path = utf8 ? operands[0] : LegacyForm(operands[0]);
    FileBytes in;
    const int status = ReadVarFile(operands[0], input_path, in);
    const Owned<unsigned char> bytes(in.bytes);
    if (status != kSuccess)
        return status;
    const std::span<const unsigned char> file(bytes.get(), in.size);

    const std::size_t entries = VarFileEntryCount(file);
    const Owned<Variable> all(static_cast<Variable*>(std::malloc((entries ? entries : 1) * sizeof(Variable))));
    const Owned<Text> texts(static_cast<Text*>(std::malloc((entries ? entries : 1) * sizeof(Text))));
    if (!all || !texts)
        return Fail(kNoImage, "ERROR: out of memory\n");
    if (const char* why = ParseVarFile(file, {all.get(), entries}))
        return Fail(kRefused, "ERROR: %s: %s\n", input_path, why);
    // The text variables with their file names, sorted by them to find two of one name.
    std::size_t n = 0;
    for (std::size_t i = 0; i < entries; ++i) {
        if (!IsTextVariable(all.get()[i]))
            continue;
        Text& t = texts.get()[n++];
        t.v = &all.get()[i];
        // Without -u, the name's bytes stand for themselves, as in the other direction.
        std::size_t at = 0;
        for (const char* c = t.v->name; *c; ++c) {
            const std::string_view form =
                utf8 ? CalcByte2Utf8(static_cast<unsigned char>(*c)) : std::string_view(c, 1);
            std::memcpy(t.file_name + at, form.data(), form.size());
            at += form.size();
        }
        std::memcpy(t.file_name + at, ".txt", 5);
    }
    if (n == 0)
        return Fail(kRefused, "ERROR: %s: no text variable\n", input_path);
    Text* const t = texts.get();
    std::qsort(t, n, sizeof(Text), CompareTexts);
    char shown[kShownNameSize], other[kShownNameSize], folder[kShownNameSize];
    for (std::size_t i = 1; i < n; ++i) {
        if (CompareFileNames(t[i].file_name, t[i - 1].file_name))
            continue;
        if (!std::strcmp(t[i].v->name, t[i - 1].v->name) && std::strcmp(t[i].v->folder, t[i - 1].v->folder))
            return Fail(kRefused, "ERROR: %s: two text variables named %s: %s\\%s and %s\\%s\n", input_path,
                        ShownName(t[i].v->name, shown), ShownName(t[i - 1].v->folder, other), shown,
                        ShownName(t[i].v->folder, folder), shown);
        if (!std::strcmp(t[i].v->name, t[i - 1].v->name))
            return Fail(kRefused, "ERROR: %s: two text variables named %s\n", input_path,
                        ShownName(t[i].v->name, shown));
        return Fail(kRefused, "ERROR: %s: two text variables named %s and %s\n", input_path,
                    ShownName(t[i - 1].v->name, shown), ShownName(t[i].v->name, other));
    }
    if (count == 2 && n != 1)
        return Fail(kUsage, "ERROR: %s holds %u text variables, so out.txt cannot be given\n",
                    input_path, static_cast<unsigned>(n));
    // A name from the file never takes the output out of the current directory, nor to a device.
    for (std::size_t i = 0; count == 1 && i < n; ++i)
        if (!IsSafeFileName(t[i].v->name, t[i].file_name))
            return Fail(kRefused, "ERROR: %s: variable name %s is no safe file name; give out.txt\n",
                        input_path, ShownName(t[i].v->name, shown));

    // The texts, then their files, all or none.
    std::size_t room = 0;
    for (std::size_t i = 0; i < n; ++i)
        room += t[i].v->data.size() * kTextBytesPerDataByte;
    const Owned<unsigned char> text(static_cast<unsigned char*>(std::malloc(room ? room : 1)));
    const Owned<Output> outputs(static_cast<Output*>(std::malloc(n * sizeof(Output))));
    if (!text || !outputs)
        return Fail(kNoImage, "ERROR: out of memory\n");
    unsigned char* at = text.get();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t length = DataBuffer2Text(t[i].v->data, utf8, kLineBreak, at);
        const char* path = count == 2 ? operands[1] : utf8 ? t[i].file_name : LegacyPath(t[i].file_name);
        // A default name never replaces a file, unless forced to.
        outputs.get()[i] = {path, {at, length}, count == 2 || options.force};
        at += length;
    }
    std::size_t failed;
    const OutputStatus written = Bytes2Files({outputs.get(), n}, failed);
    const char* shown_path = count == 2 ? (utf8 ? operands[1] : LegacyForm(operands[1])) : t[failed].file_name;
    if (written == OutputStatus::exists)
        return Fail(kCannotWrite, n == 1 ? "ERROR: %s exists; give out.txt, or --force to replace it\n"
                                         : "ERROR: %s exists; give --force to replace it\n",
                    ShownName(shown_path, shown, utf8));
    return ReportOutput(written, shown_path);
}
