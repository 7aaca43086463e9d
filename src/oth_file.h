#pragma once

#include <cstdint>

// The most variable data one file can hold.
inline constexpr std::uint32_t kMaxUserDataSize = 65512;

// Returns a new malloc'd block holding the complete image of a TI-89 file with
// one variable named `name` (its first 8 bytes) whose data are the `length`
// bytes at `data`, and stores the image's size in *image_size; on failure
// prints the reason on standard error, returns null and leaves *image_size alone.
unsigned char* DataBuffer2OTHBuffer(const char* name, std::uint32_t length,
                                    const unsigned char* data, std::uint32_t* image_size);
