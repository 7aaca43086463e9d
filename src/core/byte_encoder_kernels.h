#pragma once

// The byte encoder's kernels, each reachable on its own so that tests can run every one.

#include "core/byte_encoder.h"

#include <cstddef>
#include <span>

enum class ByteKernel { portable, ssse3 };

// The kernels this build has and this machine runs, the fastest last.
std::span<const ByteKernel> ByteKernels();

// Text positions i and data positions p as the text is stored.
struct Cursor {
    std::size_t i;
    std::size_t p;
};

// Stores `text` from `from` in the data from position 3 on, as TextFile2DataBuffer does, by
// `kernel`, and returns where it stopped: at the text's end, or past kMaxTextSize stored bytes
// (it does not fit); the data past position 65,531 stay untouched.
Cursor StoreText(std::span<const unsigned char> text, std::size_t from, LineBreaks breaks, ByteKernel kernel,
                 std::span<unsigned char, kDataBufferSize> data);

inline constexpr unsigned char kLF = 0x0A;
inline constexpr unsigned char kCR = 0x0D;
inline constexpr std::size_t kTextStart = 3;                      // after 0x00 0x01 0x20
inline constexpr std::size_t kTextEnd = kTextStart + kMaxTextSize; // past the largest text

// The SSSE3 kernel's blocks: from text position 1 on (each looks one byte back for a CR), while
// their bytes surely fit; where it stops, the portable kernel goes on. `pairs` when CR LF pairs
// reach it.
Cursor StoreBlocksSsse3(const unsigned char* text, std::size_t end, bool pairs, unsigned char* data,
                        Cursor at);
