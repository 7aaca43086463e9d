#pragma once

// Blocks from malloc, freed when their owner goes.

#include <cstdlib>
#include <memory>

struct FreeBlock {
    void operator()(void* block) const { std::free(block); }
};

template <typename T>
using Owned = std::unique_ptr<T, FreeBlock>;
