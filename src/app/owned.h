#pragma once

// Arrays in blocks from malloc, freed when their owner goes: the one way the program owns memory.

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <type_traits>

struct FreeBlock {
    void operator()(void* block) const { std::free(block); }
};

template <typename T>
    requires std::is_unbounded_array_v<T>
using Owned = std::unique_ptr<T, FreeBlock>;

// Makes `block` hold room for `count` items (at least one), keeping those it holds; false, with
// the block as it was, when no memory is left.
template <typename T>
bool Grow(Owned<T[]>& block, std::size_t count)
{
    static_assert(std::is_trivially_copyable_v<T>, "realloc moves the items as bytes");
    T* const more = static_cast<T*>(std::realloc(block.get(), (count ? count : 1) * sizeof(T)));
    if (!more)
        return false;
    (void)block.release();
    block.reset(more);
    return true;
}
