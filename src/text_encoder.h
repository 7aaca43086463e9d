#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

// The driver's data buffer; the encoder never stores beyond its first 65,532 bytes.
inline constexpr std::size_t kDataBufferSize = 65536;
using DataBuffer = std::array<unsigned char, kDataBufferSize>;

enum class EncodeStatus { ok, too_big, read_failed, refused };

struct EncodeResult {
    EncodeStatus status;
    std::uint32_t length;  // bytes of the buffer filled, when status is ok
};

// Opens path as a text file for TextFile2DataBuffer; null if it cannot be opened
// or names a directory.
std::FILE* OpenTextFile(const char* path);

// Encodes the rest of the text stream `in` as the data of a calculator text
// variable; the stream is left open whatever the result.
EncodeResult TextFile2DataBuffer(std::FILE* in, std::span<unsigned char, kDataBufferSize> data);
