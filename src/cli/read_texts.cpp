#include "cli/read_texts.h"

#include "app/encode_text.h"
#include "app/system.h"
#include "app/text_variables.h"
#include "cli/input.h"
#include "cli/report.h"

#include <cstdio>
#include <cstring>

void DataInPlace(ReadTexts& texts)
{
    for (std::size_t i = 0; i < texts.count; ++i)
        texts.variables[i].data = {texts.data.get() + texts.pieces[i].at, texts.pieces[i].length};
}

Message ReadText(const Options& options, const char* path, const char* shown, std::size_t most_parts,
                 DataBuffer& buffer, EncodedText& encoded)
{
    const bool utf8 = options.utf8;
    const TextMode mode = {utf8, options.replace, kTextAsOnDisk, true, options.encoding};
    std::FILE* const input = OpenInput(path, !utf8);
    if (!input)
        return Say(MessageCode::cannot_open, shown);
    FileBytes in;
    const bool read = ReadUpTo(input, in, TextBytesRead(mode, most_parts));
    std::fclose(input);
    if (!read)
        return Say(MessageCode::out_of_memory);
    return EncodeText({in.bytes.get(), in.size}, in.failed, mode, most_parts, shown, buffer, encoded);
}

int AddText(ReadTexts& texts, const Options& options, const char* path, const char* shown,
            const char (&name)[9], const char (&folder)[9])
{
    const bool utf8 = options.utf8;
    static DataBuffer buffer;
    EncodedText encoded;
    if (const Message failure = ReadText(options, path, shown, options.split ? kMaxParts : 1, buffer, encoded))
        return Report(failure);
    const std::size_t parts = encoded.parts;

    // Room for the text and its variables, each part named and no two variables of one name.
    const std::size_t n = texts.count, t = texts.texts, size = texts.size;
    if (!Grow(texts.variables, n + parts) || !Grow(texts.pieces, n + parts) || !Grow(texts.text_of, n + parts) ||
        !Grow(texts.data, size + encoded.data.size()) || !Grow(texts.shown, t + 1) || !Grow(texts.replaced, t + 1))
        return Report(Say(MessageCode::out_of_memory));
    std::memcpy(texts.data.get() + size, encoded.data.data(), encoded.data.size());
    texts.size = size + encoded.data.size();
    texts.shown[t] = shown;
    texts.replaced[t] = encoded.replaced;
    texts.texts = t + 1;

    Variable* const added = texts.variables.get() + n;
    PartVariables(encoded, name, folder, options.archive ? kArchived : 0, added);
    std::size_t earlier, taken;
    if (NameTaken({texts.variables.get(), n}, {added, parts}, earlier, taken))
        return Report(TwoTextsOneName(texts.shown[texts.text_of[earlier]], shown, added[taken].name, utf8));
    for (std::size_t k = 0, at = size; k < parts; at += encoded.lengths[k++]) {
        texts.pieces[n + k] = {at, encoded.lengths[k]};
        texts.text_of[n + k] = t;
    }
    texts.count = n + parts;
    return kSuccess;
}

void FileVarName(const char* path, bool utf8, char (&name)[9], char (&file_name)[kVarNameSize])
{
    ProposeVarName(path, file_name, !utf8);
    std::size_t used;
    char why[kUtf8WhatSize];
    Utf8Name2VarName(file_name, name, used, why);  // a proposed name is always the calculator's
}
