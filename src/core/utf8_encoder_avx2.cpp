// The UTF-8 encoder's AVX2 kernel. This file alone is compiled for AVX2, BMI and POPCNT, and is
// run only where the machine has them; it uses no inline function or template shared with other
// files, which could then be taken from here.
#include "core/charset.h"
#include "core/utf8_encoder_kernels.h"

#include <immintrin.h>

namespace {

// For each 8 bits k, the indices plus `first` of the bits set in k, zeros (0x80) after them: the
// pshufb patterns that pack the bytes of 8 from `first` whose bits are set in k.
struct PackPatterns {
    unsigned char of[256][8];
};

constexpr PackPatterns MakePackPatterns(unsigned char first)
{
    PackPatterns patterns{};
    for (unsigned k = 0; k < 256; ++k) {
        unsigned at = 0;
        for (unsigned i = 0; i < 8; ++i)
            if (k >> i & 1)
                patterns.of[k][at++] = static_cast<unsigned char>(first + i);
        for (; at < 8; ++at)
            patterns.of[k][at] = 0x80;
    }
    return patterns;
}

constexpr PackPatterns kPackLow = MakePackPatterns(0), kPackHigh = MakePackPatterns(8);

// For each 8 bits k, the pshufb pattern that spreads 8 bytes with the byte at index 8 put after
// each whose bit is set in k.
struct SpreadPatterns {
    alignas(16) unsigned char of[256][16];
};

constexpr SpreadPatterns MakeSpreadPatterns()
{
    SpreadPatterns patterns{};
    for (unsigned k = 0; k < 256; ++k) {
        unsigned at = 0;
        for (unsigned i = 0; i < 8; ++i) {
            patterns.of[k][at++] = static_cast<unsigned char>(i);
            if (k >> i & 1)
                patterns.of[k][at++] = 8;
        }
        for (; at < 16; ++at)
            patterns.of[k][at] = 0x80;
    }
    return patterns;
}

constexpr SpreadPatterns kSpreads = MakeSpreadPatterns();

// The pattern that packs the bytes of a half block marked in `keep`.
__m128i PackPattern(unsigned keep)
{
    const std::size_t low = keep & 0xFF, high = keep >> 8 & 0xFF;
    return _mm_castps_si128(
        _mm_loadh_pi(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackLow.of[low]))),
                     reinterpret_cast<const __m64*>(kPackHigh.of[high])));
}

// Stores the bytes of v marked in `keep` at q, in order, and returns their end; writes 16 bytes
// whatever that end.
unsigned char* Pack16(unsigned char* q, __m128i v, unsigned keep)
{
    const __m128i packed = _mm_shuffle_epi8(v, PackPattern(keep));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(q), packed);
    q += __builtin_popcount(keep & 0xFF);
    _mm_storeh_pi(reinterpret_cast<__m64*>(q), _mm_castsi128_ps(packed));
    return q + __builtin_popcount(keep >> 8 & 0xFF);
}

// Stores the 8 bytes in the low half of v at q, `after` put after those marked in `marks`, and
// returns the end of the first `count` of them and those put; writes 16 bytes whatever the end.
unsigned char* Spread8(unsigned char* q, __m128i v, __m128i after, unsigned marks, unsigned count)
{
    const __m128i pattern = _mm_load_si128(reinterpret_cast<const __m128i*>(kSpreads.of[marks]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm_shuffle_epi8(_mm_unpacklo_epi64(v, after), pattern));
    return q + count + __builtin_popcount(marks);
}

// Pack16 for a half block that holds bare LFs, marked in `bare` (0xFF bytes) and stored as 0x0D
// in v: 0x20, the type of the line they begin, is put after each.
unsigned char* PackLines16(unsigned char* q, __m128i v, __m128i bare, unsigned keep)
{
    const __m128i pattern = PackPattern(keep);
    const __m128i packed = _mm_shuffle_epi8(v, pattern), after = _mm_set1_epi8(kPlainLine);
    const unsigned marks = _mm_movemask_epi8(_mm_shuffle_epi8(bare, pattern));
    q = Spread8(q, packed, after, marks & 0xFF, __builtin_popcount(keep & 0xFF));
    return Spread8(q, _mm_unpackhi_epi64(packed, packed), after, marks >> 8, __builtin_popcount(keep >> 8 & 0xFF));
}

// The constants a block is read with.
struct Constants {
    __m256i e2 = _mm256_set1_epi8(static_cast<char>(0xE2)), lf = _mm256_set1_epi8('\n'), zero = _mm256_setzero_si256();
    __m256i min_lead = _mm256_set1_epi8(-64);  // 0xC0: continuation bytes are less, signed
    // Byte k of each 4 from the k-th of 4 gathers (the odd bytes from the odd gathers), and the
    // order that takes them back to the bytes' own: gather k holds bytes 4l + k of each 16 in
    // its lane l.
    __m256i odd = _mm256_set1_epi16(static_cast<short>(0xFF00));
    __m256i order = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,
                                     0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
};

// The 32 bytes from s, read as characters.
struct Block {
    __m256i bytes;             // each character's byte, at its first byte; 0 for none
    __m256i lfs;               // 0xFF for each LF
    unsigned starts;           // bit i for byte i that begins a character
    unsigned none;             // those of them without a byte
    unsigned long long taken;  // bit i for byte i taken by the lead of a character before it
};

// Reads the block at s (s - 1 to s + 33): each byte's entry in kWordChars, by the word of it and
// the next byte (an LF: the byte before), or for an E2 lead of the two after it, gathered 8 at a
// time, 4 bytes each, the one wanted at byte k of the k-th gather. A lead (C0 and up) takes the
// byte after it, and E2 the two after it.
[[gnu::always_inline]] inline Block ReadBlock(const unsigned char* s, const Constants& c)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 1));
    const __m256i third = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 2));
    const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s - 1));
    const __m256i continuation = _mm256_cmpgt_epi8(c.min_lead, v);
    const __m256i is_e2 = _mm256_cmpeq_epi8(v, c.e2);
    const unsigned lead = _mm256_movemask_epi8(_mm256_andnot_si256(continuation, v));
    Block block;
    block.taken = static_cast<unsigned long long>(lead) << 1 |
                  static_cast<unsigned long long>(static_cast<unsigned>(_mm256_movemask_epi8(is_e2))) << 2;
    block.starts = ~static_cast<unsigned>(block.taken);

    const __m256i low = _mm256_blendv_epi8(v, third, is_e2);
    block.lfs = _mm256_cmpeq_epi8(v, c.lf);
    const __m256i high = _mm256_blendv_epi8(next, before, block.lfs);
    const __m256i words_lo = _mm256_unpacklo_epi8(low, high), words_hi = _mm256_unpackhi_epi8(low, high);
    const unsigned char* const table = kWordChars.bytes + kWordCharsPad;
    const __m256i g0 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table),
                                              _mm256_unpacklo_epi16(words_lo, c.zero), 1);
    const __m256i g1 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table - 1),
                                              _mm256_unpackhi_epi16(words_lo, c.zero), 1);
    const __m256i g2 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table - 2),
                                              _mm256_unpacklo_epi16(words_hi, c.zero), 1);
    const __m256i g3 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table - 3),
                                              _mm256_unpackhi_epi16(words_hi, c.zero), 1);
    // None for a continuation byte (one no lead takes begins a character here), or an E2 lead
    // whose third byte does not continue it.
    const __m256i bad = _mm256_or_si256(continuation, _mm256_andnot_si256(_mm256_cmpgt_epi8(c.min_lead, third), is_e2));
    block.bytes = _mm256_andnot_si256(
        bad, _mm256_shuffle_epi8(_mm256_blendv_epi8(_mm256_blend_epi16(g0, g2, 0xAA), _mm256_blend_epi16(g1, g3, 0xAA), c.odd),
                                 c.order));
    block.none = block.starts & static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(block.bytes, c.zero)));
    return block;
}

} // namespace

Utf8Cursor StoreUtf8BlocksAvx2(const unsigned char* text, std::size_t end, unsigned char* data,
                               Utf8Cursor at)
{
    // A block reads from s - 1 to s + 33 and stores at most 64 bytes, writing up to 72.
    if (end < at.pos + 34 || at.p + 72 > kStoredEnd)
        return at;
    const unsigned char* s = text + at.pos;
    unsigned char* q = data + at.p;
    const unsigned char* const last = text + end - 34;
    unsigned char* const last_q = data + kStoredEnd - 72;
    const Constants c;
    for (;;) {
        // Blocks whose every character has a byte.
        Block block;
        for (;;) {
            if (s > last || q > last_q)
                goto out;
            block = ReadBlock(s, c);
            if (block.none) [[unlikely]]
                break;
            q = Pack16(q, _mm256_castsi256_si128(block.bytes), block.starts & 0xFFFF);
            q = Pack16(q, _mm256_extracti128_si256(block.bytes, 1), block.starts >> 16);
            s += 32 + __builtin_popcountll(block.taken >> 32);
        }
        // A bare LF (one after no CR has no byte) is stored here as 0x0D 0x20; before any other
        // character without a byte the block stops, but for a lone CR, stored as 0x0D 0x20 too.
        const unsigned stop = block.none & ~static_cast<unsigned>(_mm256_movemask_epi8(block.lfs));
        const unsigned keep = block.starts & ~stop & (stop - 1);
        const __m256i bare = _mm256_and_si256(block.lfs, _mm256_cmpeq_epi8(block.bytes, c.zero));
        const __m256i lines = _mm256_max_epu8(block.bytes, _mm256_and_si256(block.lfs, _mm256_set1_epi8(kLineEnd)));
        const unsigned bare_lfs = block.none & ~stop & keep;
        if (bare_lfs & (bare_lfs - 1)) [[unlikely]] {
            q = PackLines16(q, _mm256_castsi256_si128(lines), _mm256_castsi256_si128(bare), keep & 0xFFFF);
            q = PackLines16(q, _mm256_extracti128_si256(lines, 1), _mm256_extracti128_si256(bare, 1), keep >> 16);
        } else {
            // One LF at most: the bytes after it moved on by one for the 0x20.
            unsigned char* const at = q + __builtin_popcount(keep & (bare_lfs - 1)) + 1;
            q = Pack16(q, _mm256_castsi256_si128(lines), keep & 0xFFFF);
            q = Pack16(q, _mm256_extracti128_si256(lines, 1), keep >> 16);
            if (bare_lfs) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(at + 1), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)));
                *at = kPlainLine;
                ++q;
            }
        }
        if (!stop) {
            s += 32 + __builtin_popcountll(block.taken >> 32);
            continue;
        }
        s += __builtin_ctz(stop);
        if (*s != '\r')
            break;
        q[0] = kLineEnd;
        q[1] = kPlainLine;
        q += 2;
        s += 1;
    }
out:
    // A CR stored as the last of a block is one of a CR LF pair: the LF gives the line's type.
    if (s[-1] == '\r' && static_cast<std::size_t>(s - text) < end && *s == '\n') {
        *q++ = kPlainLine;
        ++s;
    }
    return {static_cast<std::size_t>(s - text), static_cast<std::uint32_t>(q - data)};
}

