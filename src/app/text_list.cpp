#include "app/text_list.h"

#include "app/file_names.h"
#include "app/shown_name.h"
#include "app/status.h"

#include <cstdlib>
#include <cstring>

namespace {

// Orders texts by their file names, those the file system takes for one by their bytes, and
// those of one name by their folders.
int CompareTexts(const void* a, const void* b)
{
    const TextFile* const x = static_cast<const TextFile*>(a);
    const TextFile* const y = static_cast<const TextFile*>(b);
    const int order = CompareFileNames(x->file_name, y->file_name);
    const int bytes = order ? order : std::strcmp(x->file_name, y->file_name);
    return bytes ? bytes : std::strcmp(x->v->folder, y->v->folder);
}

// Reports the first two of `texts` (sorted) that go to one file, if any; returns its status.
int TwoOfOneName(const TextFile* t, std::size_t n, const char* file)
{
    char shown[kShownNameSize], other[kShownNameSize], folder[kShownNameSize];
    for (std::size_t i = 1; i < n; ++i) {
        const Variable& a = *t[i - 1].v;
        const Variable& b = *t[i].v;
        if (CompareFileNames(t[i].file_name, t[i - 1].file_name))
            continue;
        if (!std::strcmp(a.name, b.name) && std::strcmp(a.folder, b.folder))
            return Fail(kRefused, "ERROR: %s: two text variables named %s: %s\\%s and %s\\%s\n", file,
                        ShownName(b.name, shown), ShownName(a.folder, other), shown,
                        ShownName(b.folder, folder), shown);
        if (!std::strcmp(a.name, b.name))
            return Fail(kRefused, "ERROR: %s: two text variables named %s\n", file, ShownName(b.name, shown));
        return Fail(kRefused, "ERROR: %s: two text variables named %s and %s\n", file,
                    ShownName(a.name, shown), ShownName(b.name, other));
    }
    return kSuccess;
}

} // namespace

int ListTexts(std::span<const unsigned char> file, const char* shown, bool utf8, bool names_checked,
              TextList& list)
{
    if (file.size() >= kSignatureSize && !HasSignature(file))
        return Fail(kRefused, "ERROR: %s: unknown signature\n", shown);
    if (file.size() > kMaxVarFileSize)
        return Fail(kRefused, "ERROR: %s: larger than any variable file (%u MiB)\n", shown,
                    static_cast<unsigned>(kMaxVarFileSize >> 20));
    const std::size_t entries = VarFileEntryCount(file), room = entries ? entries : 1;
    if (!Grow(list.entries, room) || !Grow(list.texts, room))
        return Fail(kNoImage, "ERROR: out of memory\n");
    if (const char* why = ParseVarFile(file, {list.entries.get(), entries}))
        return Fail(kRefused, "ERROR: %s: %s\n", shown, why);
    TextFile* const t = list.texts.get();
    std::size_t& n = list.count;
    for (std::size_t i = 0; i < entries; ++i) {
        if (!IsTextVariable(list.entries[i]))
            continue;
        t[n].v = &list.entries[i];
        // Without -u, the name's bytes stand for themselves, as in the other direction.
        std::memcpy(t[n].file_name + CalcName2Text(t[n].v->name, utf8, t[n].file_name), ".txt", 5);
        ++n;
    }
    if (n == 0)
        return Fail(kRefused, "ERROR: %s: no text variable\n", shown);
    std::qsort(t, n, sizeof(TextFile), CompareTexts);
    if (const int status = TwoOfOneName(t, n, shown))
        return status;
    // A name from the file never takes the output out of the current directory, nor to a device.
    char name[kShownNameSize];
    for (std::size_t i = 0; names_checked && i < n; ++i)
        if (!IsSafeFileName(t[i].v->name, t[i].file_name))
            return Fail(kRefused, "ERROR: %s: variable name %s is no safe file name; give out.txt\n",
                        shown, ShownName(t[i].v->name, name));
    return kSuccess;
}
