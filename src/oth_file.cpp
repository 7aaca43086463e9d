#include "oth_file.h"

#include <algorithm>
#include <cstdio>
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
constexpr std::size_t kFrameSize = kData + 2;
constexpr std::size_t kNameSize = 8;

// A group file has one entry per variable and per folder, each kEntrySize bytes
// laid out as the one above: each entry after the first moves the fields that
// follow the entries on by kEntrySize. A folder's entry has no data block.
constexpr std::size_t kEntrySize = kFileSize - kDataOffset;
constexpr unsigned char kFolderType = 0x1F;
// A data block: kData - kDataBlock bytes before the data, 2 after it.
constexpr std::size_t kBlockFrame = kFrameSize - kDataBlock;

void PutLE16(unsigned char* at, std::uint32_t value)
{
    at[0] = value & 0xFF;
    at[1] = (value >> 8) & 0xFF;
}

void PutLE32(unsigned char* at, std::uint32_t value)
{
    PutLE16(at, value & 0xFFFF);
    PutLE16(at + 2, value >> 16);
}

void PutBE16(unsigned char* at, std::uint32_t value)
{
    at[0] = (value >> 8) & 0xFF;
    at[1] = value & 0xFF;
}

std::uint32_t GetLE16(const unsigned char* at)
{
    return at[0] | at[1] << 8;
}

std::uint32_t GetLE32(const unsigned char* at)
{
    return GetLE16(at) | GetLE16(at + 2) << 16;
}

std::uint32_t GetBE16(const unsigned char* at)
{
    return at[0] << 8 | at[1];
}

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

} // namespace

unsigned char* DataBuffer2OTHBuffer(const char* name, std::uint32_t length,
                                    const unsigned char* data, std::uint32_t* image_size,
                                    const Model& model)
{
    if (length > kMaxUserDataSize) {
        std::fprintf(stderr, "ERROR: length (%u) exceeds max. user data size (%u)\n",
                     static_cast<unsigned>(length), static_cast<unsigned>(kMaxUserDataSize));
        return nullptr;
    }
    const std::uint32_t size = length + kFrameSize;
    auto* image = static_cast<unsigned char*>(std::malloc(size));
    if (!image) {
        std::fprintf(stderr, "ERROR: cannot allocate %u bytes of memory\n",
                     static_cast<unsigned>(size));
        return nullptr;
    }
    *image_size = size;

    std::memset(image, 0, kData);
    std::memcpy(image + kSignature, model.signature, 8);
    image[kFormat] = 0x01;
    std::memcpy(image + kFolder, "main", 4);
    PutLE16(image + kVarCount, 1);
    PutLE32(image + kDataOffset, kDataBlock);
    for (std::size_t i = 0; i < kNameSize && name[i] != '\0'; ++i)
        image[kName + i] = static_cast<unsigned char>(name[i]);
    image[kType] = 0x0C;
    image[kAttribute] = 0x00;
    image[kEntryEnd] = 0x03;
    PutLE32(image + kFileSize, size);
    image[kMarker] = 0xA5;
    image[kMarker + 1] = 0x5A;
    PutBE16(image + kDataSize, length);

    const std::uint64_t sum = image[kDataSize] + image[kDataSize + 1] + SumBytes(data, length, image + kData);
    PutLE16(image + kData + length, sum & 0xFFFF);
    return image;
}

namespace {

// Entry `index` of `file`, which holds the entries up to it; for a variable, `block` gets
// where its data block starts and `data` the size its field gives, both unchecked.
Variable EntryAt(std::span<const unsigned char> file, std::size_t index, std::size_t& block,
                 std::size_t& length)
{
    const unsigned char* const entry = file.data() + index * kEntrySize;
    Variable var{{}, entry[kType], {}};
    for (std::size_t i = 0; i < kNameSize && entry[kName + i] != 0; ++i)
        var.name[i] = static_cast<char>(entry[kName + i]);
    block = GetLE32(entry + kDataOffset);
    length = 0;
    if (var.type != kFolderType && block <= file.size() && file.size() - block >= kBlockFrame)
        length = GetBE16(file.data() + block + kDataSize - kDataBlock);
    return var;
}

} // namespace

const char* CheckOTHBuffer(std::span<const unsigned char> file, std::size_t& count)
{
    const unsigned char* const f = file.data();
    const std::size_t size = file.size();
    if (size < kDataOffset)
        return "shorter than its header";
    const char* const signatures[] = {"**TI89**", "**TI92**", "**TI92P*", "**V200**"};
    if (std::none_of(std::begin(signatures), std::end(signatures),
                     [f](const char* s) { return std::memcmp(f + kSignature, s, 8) == 0; }))
        return "unknown signature";
    count = GetLE16(f + kVarCount);
    if (count == 0)
        return "no entry";
    if (size < kDataBlock + (count - 1) * kEntrySize)
        return "shorter than its header";
    if (count == 1 && GetLE32(f + kFileSize) != size)
        return "file size field disagrees with the file's length";

    // Each data block begins where the one before it ended; the last ends the file.
    std::size_t end = 0;  // of the last data block so far; 0 before the first
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t block, length;
        if (EntryAt(file, i, block, length).type == kFolderType)
            continue;
        if (block > size || size - block < kBlockFrame || size - block - kBlockFrame < length)
            return "data block outside the file";
        if (end != 0 && block != end)
            return "data block out of place";
        end = block + kBlockFrame + length;
    }
    if (end != 0 && end != size)
        return "data size disagrees with the file's length";

    // The checksum follows the data and sums its size field and its bytes.
    for (std::size_t i = 0; i < count; ++i) {
        const Variable var = OTHBuffer2Variable(file, i);
        if (var.type == kFolderType)
            continue;
        const unsigned char* const data = var.data.data();
        if (GetLE16(data + var.data.size()) != (SumBytes(data - 2, var.data.size() + 2) & 0xFFFF))
            return "wrong checksum";
    }
    return nullptr;
}

Variable OTHBuffer2Variable(std::span<const unsigned char> file, std::size_t index)
{
    std::size_t block, length;
    Variable var = EntryAt(file, index, block, length);
    if (var.type != kFolderType)
        var.data = file.subspan(block + kData - kDataBlock, length);
    return var;
}

bool IsTextData(std::span<const unsigned char> data)
{
    const std::size_t n = data.size();
    return n >= 4 && data[n - 2] == 0x00 && data[n - 1] == 0xE0;
}
