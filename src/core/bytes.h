#pragma once

// Numbers in byte buffers, in either byte order, and eight bytes as one word.

#include <bit>
#include <cstdint>
#include <cstring>

inline std::uint32_t GetLE16(const unsigned char* at)
{
    return at[0] | at[1] << 8;
}

inline std::uint32_t GetLE32(const unsigned char* at)
{
    return GetLE16(at) | GetLE16(at + 2) << 16;
}

inline std::uint32_t GetBE16(const unsigned char* at)
{
    return at[0] << 8 | at[1];
}

inline std::uint32_t GetBE32(const unsigned char* at)
{
    return GetBE16(at) << 16 | GetBE16(at + 2);
}

inline void PutLE16(unsigned char* at, std::uint32_t value)
{
    at[0] = value & 0xFF;
    at[1] = (value >> 8) & 0xFF;
}

inline void PutLE32(unsigned char* at, std::uint32_t value)
{
    PutLE16(at, value & 0xFFFF);
    PutLE16(at + 2, value >> 16);
}

inline void PutBE16(unsigned char* at, std::uint32_t value)
{
    at[0] = (value >> 8) & 0xFF;
    at[1] = value & 0xFF;
}

inline void PutBE32(unsigned char* at, std::uint32_t value)
{
    PutBE16(at, value >> 16);
    PutBE16(at + 2, value & 0xFFFF);
}

// Eight bytes as a number, the first in the low bits whatever the machine's byte order.
inline std::uint64_t LoadLE64(const unsigned char* at)
{
    std::uint64_t w = 0;
    if constexpr (std::endian::native == std::endian::little)
        std::memcpy(&w, at, 8);
    else
        for (int k = 0; k < 8; ++k)
            w |= std::uint64_t{at[k]} << 8 * k;
    return w;
}

// The eight bytes of w at `at`, the low ones first, as LoadLE64 reads them.
inline void StoreLE64(unsigned char* at, std::uint64_t w)
{
    if constexpr (std::endian::native == std::endian::little)
        std::memcpy(at, &w, 8);
    else
        for (int k = 0; k < 8; ++k)
            at[k] = static_cast<unsigned char>(w >> 8 * k);
}

// A byte repeated in each of eight, and the high bit of each.
inline constexpr std::uint64_t kOnes = 0x0101010101010101;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080;
