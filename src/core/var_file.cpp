#include "core/var_file.h"

#include "core/bytes.h"
#include "core/text_data.h"

#include <algorithm>
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

// The types of the variables that hold text: a text, and a string.
constexpr unsigned char kTextType = 0x0C;
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

} // namespace

unsigned char* DataBuffer2OTHBuffer(const char* name, std::span<const unsigned char> data,
                                    std::uint32_t& image_size, ImageFailure& failure,
                                    const Model& model)
{
    const std::size_t length = data.size();
    if (length > kMaxUserDataSize) {
        failure = ImageFailure::too_long;
        return nullptr;
    }
    const std::uint32_t size = static_cast<std::uint32_t>(length) + kVarFileFrame;
    auto* image = static_cast<unsigned char*>(std::malloc(size));
    if (!image) {
        failure = ImageFailure::no_memory;
        return nullptr;
    }
    image_size = size;

    std::memset(image, 0, kData);
    std::memcpy(image + kSignature, model.signature, 8);
    image[kFormat] = 0x01;
    std::memcpy(image + kFolder, "main", 4);
    PutLE16(image + kVarCount, 1);
    PutLE32(image + kDataOffset, kDataBlock);
    for (std::size_t i = 0; i < kNameSize && name[i] != '\0'; ++i)
        image[kName + i] = static_cast<unsigned char>(name[i]);
    image[kType] = kTextType;
    image[kAttribute] = 0x00;
    image[kEntryEnd] = 0x03;
    PutLE32(image + kFileSize, size);
    image[kMarker] = 0xA5;
    image[kMarker + 1] = 0x5A;
    PutBE16(image + kDataSize, static_cast<std::uint32_t>(length));

    const std::uint64_t sum = image[kDataSize] + image[kDataSize + 1] +
                              SumBytes(data.data(), length, image + kData);
    PutLE16(image + kData + length, sum & 0xFFFF);
    failure = ImageFailure::none;
    return image;
}

unsigned char* Variables2GroupBuffer(std::span<const Variable> vars, std::uint32_t& image_size,
                                     ImageFailure& failure, const Model& model)
{
    // The entries, the folder's first, move the fields after the first entry on by kEntrySize each.
    const std::size_t shift = vars.size() * kEntrySize;
    const std::size_t first_block = kDataBlock + shift;
    std::uint64_t size = first_block;
    bool too_long = vars.size() >= 0xFFFF;
    for (const Variable& v : vars) {
        size += kBlockFrame + v.data.size();
        too_long = too_long || v.data.size() > kMaxUserDataSize;
    }
    if (too_long || size > UINT32_MAX) {
        failure = ImageFailure::too_long;
        return nullptr;
    }
    auto* image = static_cast<unsigned char*>(std::calloc(size, 1));
    if (!image) {
        failure = ImageFailure::no_memory;
        return nullptr;
    }
    image_size = static_cast<std::uint32_t>(size);

    std::memcpy(image + kSignature, model.signature, 8);
    image[kFormat] = 0x01;
    std::memcpy(image + kFolder, "main", 4);
    PutLE16(image + kVarCount, static_cast<std::uint32_t>(vars.size() + 1));
    PutLE32(image + kDataOffset, static_cast<std::uint32_t>(first_block));
    std::memcpy(image + kName, "main", 4);
    image[kType] = kFolderType;
    PutLE16(image + kEntryEnd, static_cast<std::uint32_t>(vars.size()));  // the folder's variables
    std::size_t block = first_block;
    for (std::size_t i = 0; i < vars.size(); ++i) {
        unsigned char* const entry = image + (i + 1) * kEntrySize;
        const std::span<const unsigned char> data = vars[i].data;
        PutLE32(entry + kDataOffset, static_cast<std::uint32_t>(block));
        std::memcpy(entry + kName, vars[i].name, std::find(vars[i].name, vars[i].name + kNameSize, '\0') - vars[i].name);
        entry[kType] = vars[i].type;
        unsigned char* const size_field = image + block + kDataSize - kDataBlock;
        PutBE16(size_field, static_cast<std::uint32_t>(data.size()));
        const std::uint64_t sum = size_field[0] + size_field[1] + SumBytes(data.data(), data.size(), size_field + 2);
        PutLE16(size_field + 2 + data.size(), sum & 0xFFFF);
        block += kBlockFrame + data.size();
    }
    PutLE32(image + kFileSize + shift, image_size);
    image[kMarker + shift] = 0xA5;
    image[kMarker + shift + 1] = 0x5A;
    failure = ImageFailure::none;
    return image;
}

bool HasSignature(std::span<const unsigned char> file)
{
    return file.size() >= kSignatureSize &&
           std::any_of(std::begin(kSignatures), std::end(kSignatures), [&](const char* s) {
               return std::memcmp(file.data() + kSignature, s, kSignatureSize) == 0;
           });
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
