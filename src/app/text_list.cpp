#include "app/text_list.h"

#include "app/file_names.h"

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

// The refusal of the first two of `texts` (sorted) that go to one file, if any.
Message TwoOfOneName(const TextFile* t, std::size_t n, const char* file)
{
    for (std::size_t i = 1; i < n; ++i) {
        const Variable& a = *t[i - 1].v;
        const Variable& b = *t[i].v;
        if (CompareFileNames(t[i].file_name, t[i - 1].file_name))
            continue;
        Message refused = Say(MessageCode::same_file_name, file);
        refused.names[0] = a.name;
        refused.names[1] = b.name;
        if (!std::strcmp(a.name, b.name)) {
            refused.code = std::strcmp(a.folder, b.folder) ? MessageCode::same_name_in_folders : MessageCode::same_name;
            refused.names[1] = a.folder;
            refused.names[2] = b.folder;
        }
        return refused;
    }
    return {};
}

// True when `file` opens with the signature of a variable file of the family, or, shorter, with
// the start of one.
bool OpensAsVarFile(std::span<const unsigned char> file)
{
    if (file.size() >= kSignatureSize)
        return HasSignature(file);
    for (const Model& m : kModels)
        for (const char* signature : {m.signature, m.read_signature})
            if (!file.empty() && *signature && !std::memcmp(file.data(), signature, file.size()))
                return true;
    return false;
}

} // namespace

Message ListTexts(std::span<const unsigned char> file, const char* shown, bool utf8, bool names_checked,
                  TextList& list)
{
    if (!OpensAsVarFile(file))
        return Say(MessageCode::unknown_signature, shown);
    if (file.size() > kMaxVarFileSize)
        return Say(MessageCode::file_too_large, shown);
    const std::size_t entries = VarFileEntryCount(file), room = entries ? entries : 1;
    if (!Grow(list.entries, room) || !Grow(list.texts, room))
        return Say(MessageCode::out_of_memory);
    if (const char* why = ParseVarFile(file, {list.entries.get(), entries})) {
        Message refused = Say(MessageCode::file_refused, shown);
        refused.detail = why;
        return refused;
    }
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
        return Say(MessageCode::no_text_variable, shown);
    std::qsort(t, n, sizeof(TextFile), CompareTexts);
    if (Message refused = TwoOfOneName(t, n, shown))
        return refused;
    // A name from the file never takes the output out of the current directory, nor to a device.
    for (std::size_t i = 0; names_checked && i < n; ++i)
        if (!IsSafeFileName(t[i].v->name, t[i].file_name)) {
            Message refused = Say(MessageCode::unsafe_name, shown);
            refused.names[0] = t[i].v->name;
            return refused;
        }
    return {};
}
