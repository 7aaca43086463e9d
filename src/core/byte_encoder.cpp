#include "core/byte_encoder.h"

#include "core/byte_encoder_kernels.h"
#include "core/bytes.h"

#include <cstring>

namespace {

constexpr unsigned char kCtrlZ = 0x1A;

// Stores text[at.i, end) byte by byte; stops, with at.p past kTextEnd, as soon as a byte would
// start past it.
Cursor StoreBytes(const unsigned char* text, std::size_t end, bool pairs, unsigned char* data,
                  Cursor at)
{
    auto [i, p] = at;
    for (; i < end && p <= kTextEnd; ++i) {
        unsigned char b = text[i];
        if (b == kLF) {
            if (!pairs || i == 0 || text[i - 1] != kCR)
                data[p++] = kCR;
            b = kPlainLine;
        } else if (b == 0xFF) {
            b = 0x00;
        }
        data[p++] = b;
    }
    return {i, p};
}

// 0x80 in each byte of w that equals b, 0x00 in the others.
std::uint64_t Equal(std::uint64_t w, unsigned char b)
{
    const std::uint64_t t = w ^ (kOnes * b);
    return ~(((t & ~kHighBits) + ~kHighBits) | t) & kHighBits;
}

// Bit k set for each byte k of m that is 0x80 (m holds only 0x80 and 0x00).
unsigned Bits(std::uint64_t m)
{
    return static_cast<unsigned>((m >> 7) * 0x0102040810204080 >> 56);
}

// Stores the four bytes of w4 at d, with a CR inserted before each byte k whose bit k is set in
// marks, and returns the end; writes 8 bytes whatever that end.
unsigned char* Spread4(unsigned char* d, std::uint64_t w4, unsigned marks)
{
    std::uint64_t out = 0;
    unsigned shift = 0;
    for (unsigned k = 0; k < 4; ++k) {
        if (marks >> k & 1) {
            out |= std::uint64_t{kCR} << shift;
            shift += 8;
        }
        out |= (w4 >> 8 * k & 0xFF) << shift;
        shift += 8;
    }
    StoreLE64(d, out);
    return d + shift / 8;
}

// Spread4 for eight bytes; writes 16 bytes whatever the end.
unsigned char* Spread8(unsigned char* d, std::uint64_t w, unsigned marks)
{
    return Spread4(Spread4(d, w & 0xFFFFFFFF, marks), w >> 32, marks >> 4);
}

// The portable kernel's blocks: 8 text bytes at a time, from text position 1 on (each looks one
// byte back for a CR), while their bytes surely fit.
Cursor StoreWords(const unsigned char* text, std::size_t end, bool pairs, unsigned char* data,
                  Cursor at)
{
    auto [i, p] = at;
    for (; i + 8 <= end && p + 16 <= kTextEnd; i += 8) {
        const std::uint64_t w = LoadLE64(text + i);
        const std::uint64_t lf = Equal(w, kLF), ff = Equal(w, 0xFF);
        if (!(lf | ff)) {
            StoreLE64(data + p, w);
            p += 8;
            continue;
        }
        const std::uint64_t out = (w & ~((ff >> 7) * 0xFF)) ^ ((lf >> 7) * (kLF ^ kPlainLine));
        const std::uint64_t bare = pairs ? lf & ~Equal(LoadLE64(text + i - 1), kCR) : lf;
        if (bare) {
            p = Spread8(data + p, out, Bits(bare)) - data;
        } else {
            StoreLE64(data + p, out);
            p += 8;
        }
    }
    return {i, p};
}

#ifdef SORVEL_SSSE3
constexpr ByteKernel kKernels[] = {ByteKernel::portable, ByteKernel::ssse3};

bool Runs(ByteKernel kernel)
{
    return kernel == ByteKernel::portable ||
           (__builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt"));
}
#else
constexpr ByteKernel kKernels[] = {ByteKernel::portable};

bool Runs(ByteKernel kernel)
{
    return kernel == ByteKernel::portable;
}
#endif

// The part of `text` from `from` that one variable holds, the kernels having stored it up to `at`,
// past that: back to where it fits, never between a CR and its LF, then back to its last line
// break, if it has one; closes its data.
EncodeResult PartThatFits(std::span<const unsigned char> text, std::size_t from, LineBreaks breaks, unsigned char* data,
                          Cursor at)
{
    const unsigned char* const t = text.data();
    const bool pairs = breaks == LineBreaks::crlf_or_lf;
    const auto taken = [&](std::size_t k) { return t[k] == kLF && !(pairs && k > 0 && t[k - 1] == kCR) ? 2 : 1; };
    auto [i, p] = at;
    while (p > kTextStart + kMaxStoredText)
        p -= taken(--i);
    if (pairs && i < text.size() && t[i] == kLF && t[i - 1] == kCR)
        p -= taken(--i);
    std::size_t line = i, q = p;
    while (line > from && t[line - 1] != kLF)
        q -= taken(--line);
    if (line > from) {
        i = line;
        p = q;
    }
    std::memcpy(data + p, kDataClose, sizeof kDataClose);
    return {EncodeStatus::too_big, static_cast<std::uint32_t>(p + sizeof kDataClose), i};
}

} // namespace

std::span<const ByteKernel> ByteKernels()
{
    static const std::size_t count = Runs(std::end(kKernels)[-1]) ? std::size(kKernels) : 1;
    return {kKernels, count};
}

Cursor StoreText(std::span<const unsigned char> text, std::size_t from, LineBreaks breaks,
                 [[maybe_unused]] ByteKernel kernel, std::span<unsigned char, kDataBufferSize> data)
{
    const bool pairs = breaks == LineBreaks::crlf_or_lf;
    const std::size_t end = text.size();
    // The first byte alone: the blocks look one byte back.
    Cursor at = StoreBytes(text.data(), end < from + 1 ? end : from + 1, pairs, data.data(), {from, kTextStart});
#ifdef SORVEL_SSSE3
    if (kernel == ByteKernel::ssse3)
        at = StoreBlocksSsse3(text.data(), end, pairs, data.data(), at);
#endif
    at = StoreWords(text.data(), end, pairs, data.data(), at);
    return StoreBytes(text.data(), end, pairs, data.data(), at);
}

std::span<const unsigned char> TextUpToCtrlZ(std::span<const unsigned char> file)
{
    const void* z = std::memchr(file.data(), kCtrlZ, file.size());
    return z ? file.first(static_cast<const unsigned char*>(z) - file.data()) : file;
}

EncodeResult TextFile2DataBuffer(std::span<const unsigned char> text, LineBreaks breaks,
                                 std::span<unsigned char, kDataBufferSize> data)
{
    // Every text byte takes at least one byte of the data.
    if (text.size() > kMaxTextSize)
        return {EncodeStatus::too_big, 0, 0};
    std::memcpy(data.data(), kDataOpening, sizeof kDataOpening);
    const auto [i, p] = StoreText(text, 0, breaks, ByteKernels().back(), data);
    if (p - kTextStart > kMaxTextSize)
        return {EncodeStatus::too_big, 0, 0};
    std::memcpy(data.data() + p, kDataClose, sizeof kDataClose);
    return {EncodeStatus::ok, static_cast<std::uint32_t>(p + sizeof kDataClose), i};
}

EncodeResult TextPart2DataBuffer(std::span<const unsigned char> text, LineBreaks breaks,
                                 std::span<unsigned char, kDataBufferSize> data, std::size_t from)
{
    std::memcpy(data.data(), kDataOpening, sizeof kDataOpening);
    const Cursor at = StoreText(text, from, breaks, ByteKernels().back(), data);
    if (at.i < text.size() || at.p - kTextStart > kMaxStoredText)
        return PartThatFits(text, from, breaks, data.data(), at);
    std::memcpy(data.data() + at.p, kDataClose, sizeof kDataClose);
    return {EncodeStatus::ok, static_cast<std::uint32_t>(at.p + sizeof kDataClose), at.i};
}
