#include "core/var_file.h"

#include "core/bytes.h"
#include "core/text_data.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace {

// A one-variable file, by offset; `length` is the number of data bytes.
constexpr std::size_t kSignature = 0;   // 8 bytes such as "**TI89**", no terminator
constexpr std::size_t kFormat = 8;      // 0x01 0x00
constexpr std::size_t kFolder = 10;     // "main", zero-padded to 8 bytes
                                        // 18: 40-byte comment, all zero
constexpr std::size_t kVarCount = 58;   // 16-bit little-endian: 1
constexpr std::size_t kDataOffset = 60; // 32-bit little-endian: kDataBlock
constexpr std::size_t kName = 64;       // 8 bytes, zero-padded
constexpr std::size_t kType = 72;       // 0x0C
constexpr std::size_t kAttribute = 73;  // 0x00
constexpr std::size_t kEntryEnd = 74;   // 0x03 0x00
constexpr std::size_t kFileSize = 76;   // 32-bit little-endian: length + 90
constexpr std::size_t kMarker = 80;     // 0xA5 0x5A
constexpr std::size_t kDataBlock = 82;  // 4 zero bytes, then the data's size
constexpr std::size_t kDataSize = 86;   // 16-bit big-endian: length
constexpr std::size_t kData = 88;       // the data, then a 16-bit little-endian
                                        // checksum of the size field and data
constexpr std::size_t kNameSize = 8;
static_assert(kData + 2 == kVarFileFrame);

// A group file has one entry per variable and per folder, each kEntrySize bytes laid out as
// the one above: each entry after the first moves the fields that follow the entries on by
// kEntrySize. A folder's entry has no data block.
constexpr std::size_t kEntrySize = kFileSize - kDataOffset;
constexpr unsigned char kFolderType = 0x1F;
// A data block: kData - kDataBlock bytes before the data, 2 after it.
constexpr std::size_t kBlockFrame = kVarFileFrame - kDataBlock;

// The other type of variable that holds text, beside kTextType: a string.
constexpr unsigned char kOtherTextType = 0x0B;

// The sum of `size` bytes from `bytes`, each taken as unsigned; with `copy`, the bytes are
// copied there in the same pass.
std::uint64_t SumBytes(const unsigned char* bytes, std::size_t size, unsigned char* copy = nullptr)
{
    std::uint64_t sum = 0;
    std::size_t i = 0;
#if defined(__x86_64__) || defined(_M_X64)
    const __m128i zero = _mm_setzero_si128();
    auto sum16 = [&](std::size_t at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        if (copy)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(copy + at), v);
        return _mm_sad_epu8(v, zero);
    };
    __m128i sums = zero;
    for (; i + 64 <= size; i += 64)
        sums = _mm_add_epi64(_mm_add_epi64(sums, _mm_add_epi64(sum16(i), sum16(i + 16))),
                             _mm_add_epi64(sum16(i + 32), sum16(i + 48)));
    sum = static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
          static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
#endif
    for (; i < size; ++i) {
        sum += bytes[i];
        if (copy)
            copy[i] = bytes[i];
    }
    return sum;
}

// The up to 8 bytes of a name field at `at`, up to the first NUL, NUL-terminated in `name`.
void GetName(const unsigned char* at, char (&name)[9])
{
    std::size_t i = 0;
    for (; i < kNameSize && at[i] != 0; ++i)
        name[i] = static_cast<char>(at[i]);
    name[i] = '\0';
}

// The most entries a file's 16-bit count gives; with each variable's data at most
// kMaxUserDataSize, a file of as many still has a size that fits its 32-bit field.
constexpr std::size_t kMaxEntries = 0xFFFF;
static_assert(kDataBlock + (kMaxEntries - 1) * kEntrySize + kMaxEntries * (kBlockFrame + kMaxUserDataSize) <= 0xFFFFFFFF);

// True when no variable before variables[i] is in its folder.
bool OpensFolder(std::span<const Variable> variables, std::size_t i)
{
    return std::none_of(variables.begin(), variables.begin() + i, [&](const Variable& v) {
        return std::strncmp(v.folder, variables[i].folder, kNameSize) == 0;
    });
}

// Puts the first 8 bytes of `name`, up to its NUL, at `at`, which is zeroed.
void PutName(unsigned char* at, const char* name)
{
    for (std::size_t i = 0; i < kNameSize && name[i] != '\0'; ++i)
        at[i] = static_cast<unsigned char>(name[i]);
}

// Puts at `entry` an entry of the file's list: the offset of its data block, `name` (its
// first 8 bytes, zero-padded), its type and attribute, and `count`, the variables a folder holds.
void PutEntry(unsigned char* entry, std::size_t block, const char* name, unsigned char type,
              unsigned char attribute, std::uint32_t count)
{
    PutLE32(entry, static_cast<std::uint32_t>(block));
    std::memset(entry + kName - kDataOffset, 0, kNameSize);
    PutName(entry + kName - kDataOffset, name);
    entry[kType - kDataOffset] = type;
    entry[kAttribute - kDataOffset] = attribute;
    PutLE16(entry + kEntryEnd - kDataOffset, count);
}

// Puts `data` at offset `block` of `image` as a data block (four zero bytes, the big-endian
// size, the data, the checksum of the size field and data) and returns the offset after it.
std::size_t PutDataBlock(unsigned char* image, std::size_t block, std::span<const unsigned char> data)
{
    unsigned char* const at = image + block - kDataBlock;  // so that the offsets above apply
    const std::size_t length = data.size();
    std::memset(at + kDataBlock, 0, kDataSize - kDataBlock);
    PutBE16(at + kDataSize, static_cast<std::uint32_t>(length));
    const std::uint64_t sum = at[kDataSize] + at[kDataSize + 1] + SumBytes(data.data(), length, at + kData);
    PutLE16(at + kData + length, sum & 0xFFFF);
    return block + kBlockFrame + length;
}

} // namespace

unsigned char* TextVariableFile(const char* name, std::span<const unsigned char> data, std::uint32_t& image_size,
                                ImageFailure& failure, const Model& model, const char* folder, unsigned char attribute)
{
    Variable v = {{}, {}, kTextType, attribute, data};
    std::strncpy(v.folder, folder, kNameSize);
    std::strncpy(v.name, name, kNameSize);
    unsigned char* const image = Variables2GroupBuffer({&v, 1}, image_size, failure, model);
    // A one-variable file carries 0x03 at byte 74, where libtifiles2 writes 0.
    if (image)
        image[kEntryEnd] = 0x03;
    return image;
}

unsigned char* Variables2GroupBuffer(std::span<const Variable> variables, std::uint32_t& image_size,
                                     ImageFailure& failure, const Model& model)
{
    const std::size_t n = variables.size();
    std::size_t entries = n, blocks = 0;
    for (std::size_t i = 0; i < n; ++i) {
        entries += n > 1 && OpensFolder(variables, i);
        blocks += kBlockFrame + variables[i].data.size();
        if (variables[i].data.size() > kMaxUserDataSize)
            entries = SIZE_MAX;
    }
    if (n == 0 || entries > kMaxEntries) {
        failure = ImageFailure::too_long;
        return nullptr;
    }
    const std::size_t first_block = kDataBlock + (entries - 1) * kEntrySize;
    auto* const image = static_cast<unsigned char*>(std::malloc(first_block + blocks));
    if (!image) {
        failure = ImageFailure::no_memory;
        return nullptr;
    }
    image_size = static_cast<std::uint32_t>(first_block + blocks);

    std::memset(image, 0, first_block);
    std::memcpy(image + kSignature, model.signature, 8);
    image[kFormat] = 0x01;
    PutName(image + kFolder, n == 1 ? variables[0].folder : "main");
    PutLE16(image + kVarCount, static_cast<std::uint32_t>(entries));
    unsigned char* const size_field = image + first_block - (kDataBlock - kFileSize);
    PutLE32(size_field, image_size);
    size_field[kMarker - kFileSize] = 0xA5;
    size_field[kMarker - kFileSize + 1] = 0x5A;

    unsigned char* entry = image + kDataOffset;
    std::size_t block = first_block;
    for (std::size_t i = 0; i < n; ++i) {
        if (!OpensFolder(variables, i))
            continue;
        unsigned char* const folder_entry = entry;
        const std::size_t folder_block = block;
        entry += n > 1 ? kEntrySize : 0;
        std::uint32_t count = 0;
        for (std::size_t k = i; k < n; ++k) {
            const Variable& v = variables[k];
            if (std::strncmp(v.folder, variables[i].folder, kNameSize) != 0)
                continue;
            PutEntry(entry, block, v.name, v.type, v.attribute, 0);
            entry += kEntrySize;
            block = PutDataBlock(image, block, v.data);
            ++count;
        }
        if (n > 1)
            PutEntry(folder_entry, folder_block, variables[i].folder, kFolderType, 0, count);
    }
    failure = ImageFailure::none;
    return image;
}

bool HasSignature(std::span<const unsigned char> file)
{
    const auto opens = [&](const char* s) { return s[0] && !std::memcmp(file.data() + kSignature, s, kSignatureSize); };
    return file.size() >= kSignatureSize &&
           std::any_of(std::begin(kModels), std::end(kModels),
                       [&](const Model& m) { return opens(m.signature) || opens(m.read_signature); });
}

std::size_t VarFileEntryCount(std::span<const unsigned char> file)
{
    if (file.size() < kDataOffset)
        return 0;
    const std::size_t count = GetLE16(file.data() + kVarCount);
    return count && file.size() >= kDataBlock + (count - 1) * kEntrySize ? count : 0;
}

const char* ParseVarFile(std::span<const unsigned char> file, std::span<Variable> entries)
{
    const unsigned char* const f = file.data();
    const std::size_t size = file.size();
    if (size < kDataOffset)
        return "shorter than its header";
    if (!HasSignature(file))
        return "unknown signature";
    const std::size_t count = GetLE16(f + kVarCount);
    if (count == 0)
        return "no entry";
    if (size < kDataBlock + (count - 1) * kEntrySize)
        return "shorter than its header";
    if (count == 1 && GetLE32(f + kFileSize) != size)
        return "file size field disagrees with the file's length";
    if (entries.size() < count)
        return "more entries than room for them";

    // Each data block begins where the one before it ended, and the last ends the file; the
    // checksum that follows each data sums its size field and its bytes.
    char folder[9];
    GetName(f + kFolder, folder);
    std::size_t end = 0;  // of the last data block so far; 0 before the first
    bool sums_agree = true;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* const entry = f + i * kEntrySize;
        Variable& v = entries[i];
        GetName(entry + kName, v.name);
        v.type = entry[kType];
        v.attribute = entry[kAttribute];
        v.data = {};
        if (v.type == kFolderType) {
            std::memcpy(folder, v.name, sizeof folder);
            std::memcpy(v.folder, v.name, sizeof folder);
            continue;
        }
        std::memcpy(v.folder, folder, sizeof folder);
        const std::size_t block = GetLE32(entry + kDataOffset);
        if (block > size || size - block < kBlockFrame)
            return "data block outside the file";
        const std::size_t length = GetBE16(f + block + kDataSize - kDataBlock);
        if (size - block - kBlockFrame < length)
            return "data block outside the file";
        if (end != 0 && block != end)
            return "data block out of place";
        end = block + kBlockFrame + length;
        v.data = file.subspan(block + kData - kDataBlock, length);
        const unsigned char* const data = v.data.data();
        sums_agree = sums_agree && GetLE16(data + length) == (SumBytes(data - 2, length + 2) & 0xFFFF);
    }
    if (end != 0 && end != size)
        return "data size disagrees with the file's length";
    if (GetLE32(f + kFileSize + (count - 1) * kEntrySize) != size)
        return "file size field disagrees with the file's length";
    return sums_agree ? nullptr : "wrong checksum";
}

bool IsTextVariable(const Variable& v)
{
    return (v.type == kTextType || v.type == kOtherTextType) && IsTextData(v.data);
}
