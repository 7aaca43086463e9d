#pragma once

#include <cstdint>

// The most variable data one file can hold.
inline constexpr std::uint32_t kMaxUserDataSize = 65512;

// A calculator model as the command line names it, with the signature that opens its files
// and the extension of its text variable files.
struct Model {
    const char* option;
    const char* signature;  // 8 bytes
    const char* extension;
};
inline constexpr Model kModels[] = {
    {"89", "**TI89**", ".89t"},     // TI-89 and TI-89 Titanium
    {"92", "**TI92**", ".92t"},     // TI-92
    {"92p", "**TI92P*", ".9xt"},    // TI-92 Plus
    {"v200", "**TI92P*", ".v2t"},   // Voyage 200
};

// Returns a new malloc'd block holding the complete image of a file of calculator `model`
// with one variable named `name` (its first 8 bytes) whose data are the `length`
// bytes at `data`, and stores the image's size in *image_size; on failure
// prints the reason on standard error, returns null and leaves *image_size alone.
unsigned char* DataBuffer2OTHBuffer(const char* name, std::uint32_t length,
                                    const unsigned char* data, std::uint32_t* image_size,
                                    const Model& model = kModels[0]);
