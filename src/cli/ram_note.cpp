#include "cli/ram_note.h"

#include "cli/status.h"

#include <cstddef>
#include <iterator>

namespace {

// The RAM left to the user, in KB of 1,024 bytes, as Texas Instruments publishes it for the
// models: 188K bytes on the TI-89 (and TI-89 Titanium), the TI-92 Plus and the
// Voyage 200, which keep the rest in their archive (flash); 68K bytes on the TI-92, which has
// no archive.
constexpr unsigned kRamKb89 = 188, kRamKb92 = 68;

} // namespace

void NoteRam(std::span<const Variable> variables, const Model& model, const char* shown)
{
    // A text variable takes its data and their 2-byte size in RAM.
    std::size_t bytes = 0;
    for (const Variable& v : variables)
        bytes += v.data.size() + 2;
    static const char* const kNames[] = {"TI-89", "TI-92", "TI-92 Plus", "Voyage 200"};
    static_assert(std::size(kNames) == std::size(kModels));
    const std::size_t which = &model - kModels;
    const bool ti92 = which == 1;
    const unsigned kb = ti92 ? kRamKb92 : kRamKb89;
    if (bytes <= std::size_t{kb} * 1024)
        return;
    Note("%s: %u variables of %u bytes in all, more than the %u KB of RAM a %s leaves free; %s\n", shown,
         static_cast<unsigned>(variables.size()), static_cast<unsigned>(bytes), kb, kNames[which],
         ti92 ? "it has no archive: send fewer at a time" : "add -a to store them in the archive");
}
