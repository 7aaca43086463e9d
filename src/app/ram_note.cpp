#include "app/ram_note.h"

#include <cstddef>

Message RamNote(std::span<const Variable> variables, const Model& model, const char* shown)
{
    // A text variable takes its data and their 2-byte size in RAM.
    std::size_t bytes = 0;
    for (const Variable& v : variables)
        bytes += v.data.size() + 2;
    if (bytes <= std::size_t{model.ram_kb} * 1024)
        return {};
    Message note = Say(MessageCode::ram, shown);
    note.numbers[0] = static_cast<std::uint32_t>(variables.size());
    note.numbers[1] = static_cast<std::uint32_t>(bytes);
    note.model = &model;
    return note;
}
