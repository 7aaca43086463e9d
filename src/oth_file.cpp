#include "oth_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace {

// A one-variable file, by offset; `length` is the number of data bytes.
constexpr std::size_t kSignature = 0;   // 8 bytes "**TI89**", no terminator
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

// The sum of `size` bytes from `bytes`, each taken as unsigned.
std::uint64_t SumBytes(const unsigned char* bytes, std::size_t size)
{
    std::uint64_t sum = 0;
    std::size_t i = 0;
#if defined(__x86_64__) || defined(_M_X64)
    const __m128i zero = _mm_setzero_si128();
    auto sum16 = [&](std::size_t at) {
        return _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at)), zero);
    };
    __m128i sums = zero;
    for (; i + 64 <= size; i += 64)
        sums = _mm_add_epi64(_mm_add_epi64(sums, _mm_add_epi64(sum16(i), sum16(i + 16))),
                             _mm_add_epi64(sum16(i + 32), sum16(i + 48)));
    sum = static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
          static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
#endif
    for (; i < size; ++i)
        sum += bytes[i];
    return sum;
}

} // namespace

unsigned char* DataBuffer2OTHBuffer(const char* name, std::uint32_t length,
                                    const unsigned char* data, std::uint32_t* image_size)
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
    std::memcpy(image + kSignature, "**TI89**", 8);
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
    if (length > 0)
        std::memcpy(image + kData, data, length);

    PutLE16(image + kData + length, SumBytes(image + kDataSize, length + 2) & 0xFFFF);
    return image;
}
