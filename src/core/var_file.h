#pragma once

// The calculator's variable files: one variable (.89t, ...) or a group of them (.89g, ...),
// each variable's data framed by a big-endian size and a checksum, behind a header that lists
// every variable and folder.

#include "core/model.h"

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr unsigned char kTextType = 0x0C;
// The attribute byte of an archived variable, as TiLP's libtifiles2 writes it (it takes 0x02
// as archived too).
inline constexpr unsigned char kArchived = 0x03;

// Bytes a one-variable file holds besides its variable's data.
inline constexpr std::uint32_t kVarFileFrame = 90;

// The largest variable file taken: more than the memory of any calculator of the family (the
// largest keep 2.7 MB of archive and 256 KB of RAM), though the format could describe one of
// 4 GiB.
inline constexpr std::size_t kMaxVarFileSize = 4 << 20;

// The bytes of the signature that opens a variable file.
inline constexpr std::size_t kSignatureSize = 8;

// One entry of a variable file: a folder, or a variable with its folder, its name (the entry's
// 8 bytes up to the first NUL), its type and attribute bytes, and its data (the bytes between
// the big-endian size field and the checksum).
struct Variable {
    char folder[9];
    char name[9];
    unsigned char type;
    unsigned char attribute;              // 0, or kArchived
    std::span<const unsigned char> data;  // empty for a folder
};

enum class ImageFailure { none, too_long, no_memory };

// Returns a new malloc'd block holding the complete file of calculator `model` with one text
// variable named `name` (its first 8 bytes) in folder `folder` (its first 8 bytes) whose
// attribute byte is `attribute` and whose data are `data`, and its size in `image_size`; null,
// with `failure` saying why, when the data are longer than kMaxUserDataSize or no memory is left.
unsigned char* TextVariableFile(const char* name, std::span<const unsigned char> data, std::uint32_t& image_size,
                                ImageFailure& failure, const Model& model = kModels[0], const char* folder = "main",
                                unsigned char attribute = 0);

// Returns a new malloc'd block holding the complete file of calculator `model` with
// `variables`, byte for byte as TiLP's libtifiles2 writes them: one variable as a one-variable
// file naming its folder; more as a group file whose default folder is main and whose entries
// give each folder, in the order the variables first name it, followed by its variables in
// their order. Its size goes to `image_size`. Null, with `failure` saying why, when there is
// no variable, one's data are longer than kMaxUserDataSize, the file would need more than
// 65,535 entries (too_long), or no memory is left.
unsigned char* Variables2GroupBuffer(std::span<const Variable> variables, std::uint32_t& image_size,
                                     ImageFailure& failure, const Model& model = kModels[0]);

// True when `file` begins with the signature of a calculator of the family.
bool HasSignature(std::span<const unsigned char> file);

// The number of entries, folders included, that the header of variable file `file` lists; 0
// when the file is too short to hold them.
std::size_t VarFileEntryCount(std::span<const unsigned char> file);

// Reads the variable file `file` (of any model of the family, single variable or group) in one
// pass into `entries`, which has room for VarFileEntryCount: returns nullptr, or why the file is
// refused (a short lowercase phrase), reading nothing outside `file` whatever its fields say.
const char* ParseVarFile(std::span<const unsigned char> file, std::span<Variable> entries);

// True when entry `v` is a text variable.
bool IsTextVariable(const Variable& v);
