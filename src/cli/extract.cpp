#include "cli/extract.h"

#include "cli/input.h"
#include "app/owned.h"
#include "cli/platform.h"
#include "cli/safe_output.h"
#include "app/shown_name.h"
#include "cli/status.h"
#include "app/system.h"
#include "app/text_list.h"
#include "cli/write_output.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Reads the variable file `path`: its signature first, then, if it is known, at most
// kMaxVarFileSize + 1 bytes; returns the exit status of a failure, with `shown` as its name, or
// kSuccess.
int ReadVarFile(const char* path, const char* shown, FileBytes& in)
{
    std::FILE* const file = OpenInput(path, false);
    if (!file)
        return Fail(kCannotRead, "ERROR: unable to open %s\n", shown);
    bool read = ReadUpTo(file, in, kSignatureSize);
    const bool known = in.size < kSignatureSize || HasSignature({in.bytes.get(), in.size});
    read = read && (!known || ReadUpTo(file, in, kMaxVarFileSize + 1));
    std::fclose(file);
    if (!read)
        return Fail(kNoImage, "ERROR: out of memory\n");
    if (in.failed)
        return Fail(kCannotRead, "ERROR: unable to read %s\n", shown);
    return kSuccess;
}

} // namespace

int Extract(const Options& options, char** operands, int count)
{
    if (count != 1 && count != 2)
        return Fail(kUsage, "Usage: sorvel -x file.89t [out.txt]\n");
    if (count == 2 && !std::strcmp(operands[1], "-"))
        FailOnStandardError();
    const bool utf8 = options.utf8;
    const char* input_path = utf8 ? operands[0] : LegacyForm(operands[0]);
    FileBytes in;
    const int status = ReadVarFile(operands[0], input_path, in);
    if (status != kSuccess)
        return status;
    const std::span<const unsigned char> file(in.bytes.get(), in.size);

    TextList list;
    const int listed = ListTexts(file, input_path, utf8, count == 1, list);
    if (listed != kSuccess)
        return listed;
    const std::size_t n = list.count;
    const TextFile* const t = list.texts.get();
    if (count == 2 && n != 1)
        return Fail(kUsage, "ERROR: %s holds %u text variables, so out.txt cannot be given\n",
                    input_path, static_cast<unsigned>(n));

    // The texts, then their files, all or none.
    std::size_t room = 0;
    for (std::size_t i = 0; i < n; ++i)
        room += t[i].v->data.size() * kTextBytesPerDataByte;
    const Owned<unsigned char[]> text(static_cast<unsigned char*>(std::malloc(room ? room : 1)));
    const Owned<Output[]> outputs(static_cast<Output*>(std::malloc(n * sizeof(Output))));
    if (!text || !outputs)
        return Fail(kNoImage, "ERROR: out of memory\n");
    unsigned char* at = text.get();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t length = DataBuffer2Text(t[i].v->data, utf8, kLineBreak, at);
        const char* path = count == 2 ? operands[1] : utf8 ? t[i].file_name : LegacyPath(t[i].file_name);
        // A default name never replaces a file, unless forced to.
        outputs[i] = {path, {at, length}, count == 2 || options.force};
        at += length;
    }
    std::size_t failed;
    char shown[kShownNameSize];
    const OutputStatus written = Bytes2Files({outputs.get(), n}, failed);
    const char* shown_path = count == 2 ? (utf8 ? operands[1] : LegacyForm(operands[1])) : t[failed].file_name;
    if (written == OutputStatus::exists)
        return Fail(kCannotWrite, n == 1 ? "ERROR: %s exists; give out.txt, or --force to replace it\n"
                                         : "ERROR: %s exists; give --force to replace it\n",
                    ShownName(shown_path, shown, utf8));
    return ReportOutput(written, shown_path);
}
