#include "core/reserved_names.h"

#include <array>
#include <cstdint>

namespace {

#include "core/reserved_names_table.inc"

// How many names kReservedNames holds, and where each begins (one more: where the list ends), so
// that a name is found by halving rather than by reading the list.
constexpr std::size_t kNameCount = [] {
    std::size_t n = 0;
    for (std::size_t i = 0; kReservedNames[i]; i += std::string_view(kReservedNames + i).size() + 1)
        ++n;
    return n;
}();
constexpr auto kNameAt = [] {
    std::array<std::uint16_t, kNameCount + 1> at{};
    std::size_t k = 0, i = 0;
    for (; kReservedNames[i]; i += std::string_view(kReservedNames + i).size() + 1)
        at[k++] = static_cast<std::uint16_t>(i);
    at[k] = static_cast<std::uint16_t>(i);
    return at;
}();

// The `k`th name of kReservedNames.
std::string_view NameAt(std::size_t k)
{
    return {kReservedNames + kNameAt[k], kNameAt[k + 1] - kNameAt[k] - 1u};
}

// Calls `each` with every name of `list`, names closed by a NUL and the list by an empty one,
// until it returns true; returns whether it did.
template <typename Each>
bool AnyOf(const char* list, Each each)
{
    for (std::string_view name = list; !name.empty(); name = name.data() + name.size() + 1)
        if (each(name))
            return true;
    return false;
}

// True when `s` is a number the numbered names take: 1 to 99, with no leading 0.
bool IsPartNumber(std::string_view s)
{
    return (s.size() == 1 && s[0] >= '1' && s[0] <= '9') ||
           (s.size() == 2 && s[0] >= '1' && s[0] <= '9' && s[1] >= '0' && s[1] <= '9');
}

// What follows the first `n` bytes of `s` (n <= s.size()), without substr, whose range check would
// bring in the C++ runtime's exceptions.
std::string_view After(std::string_view s, std::size_t n)
{
    return {s.data() + n, s.size() - n};
}

} // namespace

bool IsReservedName(std::string_view name)
{
    // The names are in byte order, as string_view compares them.
    std::size_t low = 0, high = kNameCount;
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        if (NameAt(middle) < name)
            low = middle + 1;
        else
            high = middle;
    }
    return (low < kNameCount && NameAt(low) == name) ||
           AnyOf(kReservedStems, [&](std::string_view stem) {
               return name.starts_with(stem) && IsPartNumber(After(name, stem.size()));
           });
}

bool ReservedWithNumber(std::string_view name)
{
    return AnyOf(kReservedStems, [&](std::string_view stem) { return stem == name; }) ||
           AnyOf(kReservedNames, [&](std::string_view r) {
               return r.size() > name.size() && r.starts_with(name) && IsPartNumber(After(r, name.size()));
           });
}
