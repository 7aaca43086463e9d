#pragma once

// The UTF-8 encoder's kernels, each reachable on its own so that tests can run every one.

#include "core/utf8_encoder.h"

#include <cstddef>
#include <cstdint>
#include <span>

// one_at_a_time takes every character through the exact, general path, counting lines and
// columns as it goes; words takes runs of plain text, line breaks and common characters a word
// at a time, avx2 32 bytes at a time, each handing the rest to the general path. All give the
// same data or refusal.
enum class Utf8Kernel { one_at_a_time, words, avx2 };

// The kernels this build has and this machine runs, the fastest last.
std::span<const Utf8Kernel> Utf8Kernels();

EncodeResult Utf8File2DataBuffer(std::span<const unsigned char> text,
                                 std::span<unsigned char, kDataBufferSize> data, Utf8Problem& problem,
                                 ReplacementTally* replaced, std::size_t from, Utf8Kernel kernel);

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
