#pragma once

// The calculator's variable files: one variable (.89t, ...) or a group of them (.89g, ...),
// each variable's data framed by a big-endian size and a checksum, behind a header that lists
// every variable and folder.

#include <cstddef>
#include <cstdint>
#include <span>

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

// Bytes a one-variable file holds besides its variable's data.
inline constexpr std::uint32_t kVarFileFrame = 90;

// The largest variable file taken: more than the memory of any calculator of the family (the
// TI-89 Titanium and the Voyage 200 keep 2.7 MB of archive and 256 KB of RAM), though the
// format could describe one of 4 GiB.
inline constexpr std::size_t kMaxVarFileSize = 4 << 20;

// The signatures that open the files of the calculators of the family.
inline constexpr const char* kSignatures[] = {"**TI89**", "**TI92**", "**TI92P*", "**V200**"};
inline constexpr std::size_t kSignatureSize = 8;

enum class ImageFailure { none, too_long, no_memory };

// Returns a new malloc'd block holding the complete file of calculator `model` with one
// variable named `name` (its first 8 bytes) whose data are `data`, and its size in `image_size`;
// null, with `failure` saying why, when the data are longer than kMaxUserDataSize or no memory
// is left.
unsigned char* DataBuffer2OTHBuffer(const char* name, std::span<const unsigned char> data,
                                    std::uint32_t& image_size, ImageFailure& failure,
                                    const Model& model = kModels[0]);

// One entry of a variable file: a folder, or a variable with its folder, its name (the entry's
// 8 bytes up to the first NUL), its type byte, and its data (the bytes between the big-endian
// size field and the checksum).
struct Variable {
    char folder[9];
    char name[9];
    unsigned char type;
    std::span<const unsigned char> data;  // empty for a folder
};

// Returns a new malloc'd block holding a group file of calculator `model` with the variables
// `vars`, each with its name, type and data, all in folder main behind that folder's entry, and
// its size in `image_size`; null, with `failure` saying why, when a variable's data are longer
// than kMaxUserDataSize, the file would pass 4 GiB or 65,534 variables, or no memory is left.
unsigned char* Variables2GroupBuffer(std::span<const Variable> vars, std::uint32_t& image_size,
                                     ImageFailure& failure, const Model& model = kModels[0]);

// True when `file` begins with the signature of a calculator of the family.
bool HasSignature(std::span<const unsigned char> file);

// The number of entries, folders included, that the header of variable file `file` lists; 0
// when the file is too short to hold them.
std::size_t VarFileEntryCount(std::span<const unsigned char> file);

// Reads the variable file `file` (any of "**TI89**", "**TI92**", "**TI92P*", "**V200**",
// single variable or group) in one pass into `entries`, which has room for VarFileEntryCount:
// returns nullptr, or why the file is refused (a short lowercase phrase), reading nothing
// outside `file` whatever its fields say.
const char* ParseVarFile(std::span<const unsigned char> file, std::span<Variable> entries);

// True when entry `v` is a text variable.
bool IsTextVariable(const Variable& v);
