#include "core/reserved_names.h"

namespace {

#include "core/reserved_names_table.inc"

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
    return AnyOf(kReservedNames, [&](std::string_view r) { return r == name; }) ||
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
