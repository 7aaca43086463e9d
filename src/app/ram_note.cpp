#include "app/ram_note.h"

#include <cstddef>

Message RamNote(std::size_t variables, std::size_t bytes, const Model& model, const char* shown)
{
    if (bytes <= std::size_t{model.ram_kb} * 1024)
        return {};
    Message note = Say(MessageCode::ram, shown);
    note.numbers[0] = static_cast<std::uint32_t>(variables);
    note.numbers[1] = static_cast<std::uint32_t>(bytes);
    note.model = &model;
    return note;
}

std::size_t RamBytes(std::span<const Variable> variables)
{
    std::size_t bytes = 0;
    for (const Variable& v : variables)
        bytes += v.data.size() + 2;
    return bytes;
}
