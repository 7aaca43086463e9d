#pragma once

// The UTF-8 encoder's kernels, each reachable on its own so that tests can run every one.

#include "core/utf8_encoder.h"

// one_at_a_time takes every character through the exact, general path; words takes runs of
// plain text and common characters a word at a time. Both give the same data or refusal.
enum class Utf8Kernel { one_at_a_time, words };

EncodeResult Utf8File2DataBuffer(std::span<const unsigned char> text,
                                 std::span<unsigned char, kDataBufferSize> data, Utf8Problem& problem,
                                 Utf8Kernel kernel);
