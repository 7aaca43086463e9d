#pragma once

// The UTF-8 encoder's kernels, each reachable on its own so that tests can run every one.

#include "core/utf8_encoder.h"

#include <cstddef>
#include <cstdint>
#include <span>

// Text positions and data positions as a UTF-8 text is stored.
struct Utf8Cursor {
    std::size_t pos;
    std::uint32_t p;
};

// Where the stored text ends at the most: past it, the text is too big.
inline constexpr std::uint32_t kStoredEnd = sizeof kDataOpening + kMaxStoredText;

// The AVX2 kernel: stores blocks of the text from `at` (pos at least 1, each block looks one
// byte back for a CR) while they surely fit, and stops before the first character the general
// path must take, or near the end of the text or of the room (kStoredEnd). A CR LF pair is never
// left half stored.
Utf8Cursor StoreUtf8BlocksAvx2(const unsigned char* text, std::size_t end, unsigned char* data,
                               Utf8Cursor at);
