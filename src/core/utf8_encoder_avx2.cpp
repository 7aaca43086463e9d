// The UTF-8 encoder's AVX2 kernel. This file alone is compiled for AVX2, BMI and POPCNT, and is
// run only where the machine has them; it uses no inline function or template shared with other
// files, which could then be taken from here.
#include "core/charset.h"
#include "core/utf8_encoder_kernels.h"

#include <immintrin.h>

namespace {

// For each 8 bits k, the indices of the bytes whose bit is set in k, first in the low 8 bytes
// (`low`), then plus 8 (`high`): the pshufb patterns that pack the bytes of a half block kept.
struct Packs {
    unsigned char low[256][8];
    unsigned char high[256][8];
};

constexpr Packs MakePacks()
{
    Packs packs{};
    for (unsigned k = 0; k < 256; ++k) {
        unsigned at = 0;
        for (unsigned i = 0; i < 8; ++i)
            if (k >> i & 1) {
                packs.low[k][at] = static_cast<unsigned char>(i);
                packs.high[k][at++] = static_cast<unsigned char>(8 + i);
            }
    }
    return packs;
}

constexpr Packs kPacks = MakePacks();

// Stores the bytes of v whose bit is set in `keep` at q, in order, and returns their end;
// writes 16 bytes whatever that end.
unsigned char* Pack16(unsigned char* q, __m128i v, unsigned keep)
{
    const std::size_t low = keep & 0xFF, high = keep >> 8 & 0xFF;
    const unsigned char* const packs = kPacks.low[0];
    const __m128i pattern = _mm_castps_si128(
        _mm_loadh_pi(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(packs + 8 * low))),
                     reinterpret_cast<const __m64*>(packs + sizeof kPacks.low + 8 * high)));
    const __m128i packed = _mm_shuffle_epi8(v, pattern);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(q), packed);
    q += __builtin_popcount(low);
    _mm_storeh_pi(reinterpret_cast<__m64*>(q), _mm_castsi128_ps(packed));
    return q + __builtin_popcount(high);
}

} // namespace

Utf8Cursor StoreUtf8BlocksAvx2(const unsigned char* text, std::size_t end, unsigned char* data,
                               Utf8Cursor at)
{
    const unsigned char* s = text + at.pos;
    unsigned char* q = data + at.p;
    const unsigned char* const table = kWordChars.bytes + kWordCharsPad;
    const __m256i e2 = _mm256_set1_epi8(static_cast<char>(0xE2)), lf = _mm256_set1_epi8('\n'),
                  zero = _mm256_setzero_si256();
    const __m256i min_lead = _mm256_set1_epi8(-64);  // 0xC0: continuation bytes are less, signed
    // Byte k of each 4 from the k-th of 4 gathers, and the order that takes them back to the
    // bytes' own: gather k holds bytes 4l + k of each 16 in its lane l.
    const __m256i from1 = _mm256_set1_epi32(0x0000FF00), from2 = _mm256_set1_epi32(0x00FF0000),
                  from3 = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i order = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,
                                           0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    // A block reads from s - 1 to s + 33 and stores at most 34 bytes.
    if (end < at.pos + 34 || at.p + 34 > kStoredEnd)
        return at;
    const unsigned char* const last = text + end - 34;
    unsigned char* const last_q = data + kStoredEnd - 34;
    while (s <= last && q <= last_q) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 1));
        const __m256i third = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 2));
        const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s - 1));

        // Bit i for byte i taken by the lead of a character before it: a lead (C0 and up) takes
        // the byte after it, and E2 the two after it; up to bit 33.
        const __m256i continuation = _mm256_cmpgt_epi8(min_lead, v);
        const __m256i is_e2 = _mm256_cmpeq_epi8(v, e2);
        const unsigned lead = _mm256_movemask_epi8(_mm256_andnot_si256(continuation, v));
        const unsigned long long taken = static_cast<unsigned long long>(lead) << 1 |
                                         static_cast<unsigned long long>(static_cast<unsigned>(_mm256_movemask_epi8(is_e2))) << 2;
        const unsigned starts = ~static_cast<unsigned>(taken);

        // Each byte's entry in kWordChars, by the word of it and the next byte (an LF: the byte
        // before), or for an E2 lead of the two after it; gathered 8 at a time, 4 bytes each, the
        // one wanted at byte k of the k-th gather.
        const __m256i low = _mm256_blendv_epi8(v, third, is_e2);
        const __m256i high = _mm256_blendv_epi8(next, before, _mm256_cmpeq_epi8(v, lf));
        const __m256i words_lo = _mm256_unpacklo_epi8(low, high), words_hi = _mm256_unpackhi_epi8(low, high);
        const auto* base = reinterpret_cast<const int*>(table);
        const __m256i g0 = _mm256_i32gather_epi32(base, _mm256_unpacklo_epi16(words_lo, zero), 1);
        const __m256i g1 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table - 1),
                                                  _mm256_unpackhi_epi16(words_lo, zero), 1);
        const __m256i g2 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table - 2),
                                                  _mm256_unpacklo_epi16(words_hi, zero), 1);
        const __m256i g3 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table - 3),
                                                  _mm256_unpackhi_epi16(words_hi, zero), 1);
        // In byte order; none for a continuation byte (one no lead takes starts a character
        // here), or an E2 lead whose third byte does not continue it.
        const __m256i bad = _mm256_or_si256(continuation, _mm256_andnot_si256(_mm256_cmpgt_epi8(min_lead, third), is_e2));
        const __m256i bytes = _mm256_andnot_si256(
            bad, _mm256_shuffle_epi8(_mm256_blendv_epi8(_mm256_blendv_epi8(_mm256_blendv_epi8(g0, g1, from1), g2, from2), g3, from3),
                                     order));

        // A block stops at its first character the general path must take: one with no entry
        // (a bare LF or lone CR among them, stored here).
        const unsigned stop = starts & static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, zero)));
        const unsigned keep = starts & ~stop & (stop - 1);  // the characters before the stop
        q = Pack16(q, _mm256_castsi256_si128(bytes), keep & 0xFFFF);
        q = Pack16(q, _mm256_extracti128_si256(bytes, 1), keep >> 16);
        if (!stop) {
            s += 32 + __builtin_popcountll(taken >> 32);
            continue;
        }
        s += __builtin_ctz(stop);
        if (*s != '\n' && *s != '\r')
            break;
        q[0] = kLineEnd;
        q[1] = kPlainLine;
        q += 2;
        s += 1;
    }
    // A CR stored as the last of a block is one of a CR LF pair: the LF gives the line's type.
    if (s[-1] == '\r' && static_cast<std::size_t>(s - text) < end && *s == '\n') {
        *q++ = kPlainLine;
        ++s;
    }
    return {static_cast<std::size_t>(s - text), static_cast<std::uint32_t>(q - data)};
}
