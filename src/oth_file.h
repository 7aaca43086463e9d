#pragma once

#include <cstdint>
#include <span>

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

// One variable of a variable file: its name (the entry's 8 bytes up to the first NUL), its
// type byte, and its data (the bytes between the big-endian size field and the checksum).
struct Variable {
    char name[9];
    unsigned char type;
    std::span<const unsigned char> data;  // empty for a folder
};

// Checks the variable file `file` (any of "**TI89**", "**TI92**", "**TI92P*", "**V200**",
// single variable or group): returns nullptr and the number of its entries, folders
// included, in `count`; or returns why the file is refused (a short lowercase phrase),
// reading nothing outside `file` whatever its fields say.
const char* CheckOTHBuffer(std::span<const unsigned char> file, std::size_t& count);

// Entry `index` of a file that CheckOTHBuffer accepted.
Variable OTHBuffer2Variable(std::span<const unsigned char> file, std::size_t index);

// True when `data` is a text variable's data (at least 4 bytes, ending in 0x00 0xE0).
bool IsTextData(std::span<const unsigned char> data);
