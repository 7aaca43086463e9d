// The byte encoder's SSSE3 kernel. This file alone is compiled for SSSE3 and POPCNT, and is run
// only where the machine has both; it uses no inline function shared with other files, which
// could then be taken from here.
#include "core/byte_encoder_kernels.h"

#include <tmmintrin.h>

namespace {

// For each mark byte m, the pshufb pattern that spreads 8 bytes (with CRs in bytes 8 to 15 of
// the register) with a CR before each byte marked, and the bytes it yields.
struct Spreads {
    alignas(16) unsigned char pattern[256][16];
    unsigned char size[256];
};

constexpr Spreads MakeSpreads()
{
    Spreads s{};
    for (unsigned m = 0; m < 256; ++m) {
        unsigned at = 0;
        for (unsigned k = 0; k < 8; ++k) {
            if (m >> k & 1)
                s.pattern[m][at++] = 8; // a CR
            s.pattern[m][at++] = static_cast<unsigned char>(k);
        }
        s.size[m] = static_cast<unsigned char>(at);
        while (at < 16)
            s.pattern[m][at++] = 0x80; // zero
    }
    return s;
}

constexpr Spreads kSpreads = MakeSpreads();

// The blocks' work is done inline, in the loops that call it.
#define SORVEL_INLINE [[gnu::always_inline]] inline

SORVEL_INLINE __m128i Load128(const unsigned char* at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

SORVEL_INLINE void Store128(unsigned char* at, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v);
}

// Stores the low 8 bytes of v at d, a CR (from v's high bytes) before each byte marked in marks,
// and returns the end; writes 16 bytes whatever that end.
SORVEL_INLINE unsigned char* Spread8(unsigned char* d, __m128i v, unsigned marks)
{
    const auto* pattern = reinterpret_cast<const __m128i*>(kSpreads.pattern[marks]);
    Store128(d, _mm_shuffle_epi8(v, _mm_load_si128(pattern)));
    return d + kSpreads.size[marks];
}

// Stores the 16 text bytes v from text position i at data position p, and returns the end;
// writes 32 bytes whatever the end.
template <bool Pairs>
SORVEL_INLINE std::size_t StoreBlock(const unsigned char* text, std::size_t i, unsigned char* data,
                       std::size_t p, __m128i v)
{
    const __m128i is_lf = _mm_cmpeq_epi8(v, _mm_set1_epi8(kLF));
    const __m128i is_ff = _mm_cmpeq_epi8(v, _mm_set1_epi8(-1));
    if (!_mm_movemask_epi8(_mm_or_si128(is_lf, is_ff))) {
        Store128(data + p, v);
        return p + 16;
    }
    const __m128i out = _mm_xor_si128(_mm_andnot_si128(is_ff, v),
                                      _mm_and_si128(is_lf, _mm_set1_epi8(kLF ^ 0x20)));
    const __m128i cr = _mm_set1_epi8(kCR);
    const __m128i bare =
        Pairs ? _mm_andnot_si128(_mm_cmpeq_epi8(Load128(text + i - 1), cr), is_lf) : is_lf;
    const unsigned marks = _mm_movemask_epi8(bare);
    if (!marks) {
        Store128(data + p, out);
        return p + 16;
    }
    unsigned char* d = Spread8(data + p, _mm_unpacklo_epi64(out, cr), marks & 0xFF);
    return Spread8(d, _mm_unpackhi_epi64(out, cr), marks >> 8) - data;
}

// Rewrites the bytes marked in `work`, LF and 0xFF ones, of the 64 text bytes from position i
// that are stored unchanged at p, and returns the end; writes up to 132 bytes and reads text up
// to i + 126.
template <bool Pairs>
SORVEL_INLINE std::size_t FixBytes(const unsigned char* text, std::size_t i, unsigned char* data, std::size_t p,
                     unsigned long long work)
{
    unsigned char* d = data + p; // where byte 0 would go: the bytes from j are at d + j
    for (; work; work &= work - 1) {
        const int j = __builtin_ctzll(work);
        if (text[i + j] == 0xFF) {
            d[j] = 0x00;
            continue;
        }
        if (!Pairs || text[i + j - 1] != kCR) {
            d[j] = kCR;
            ++d;
            // The rest of the 64 bytes, moved up by one.
            Store128(d + j, Load128(text + i + j));
            Store128(d + j + 16, Load128(text + i + j + 16));
            Store128(d + j + 32, Load128(text + i + j + 32));
            Store128(d + j + 48, Load128(text + i + j + 48));
        }
        d[j] = 0x20;
    }
    return d + 64 - data;
}

// How many whole rounds of `step` fit between `from` and `to`, after `reserve` bytes.
std::size_t Rounds(std::size_t from, std::size_t to, std::size_t reserve, std::size_t step)
{
    return to >= from + reserve ? (to - from - reserve) / step : 0;
}

// 64 text bytes at a time: unchanged if none needs work, a few rewritten one by one, or 16 at a
// time; then 16 at a time.
template <bool Pairs>
Cursor StoreBlocks(const unsigned char* text, std::size_t end, unsigned char* data, Cursor at)
{
    const __m128i lf = _mm_set1_epi8(kLF), ff = _mm_set1_epi8(-1);
    auto [i, p] = at;
    // Rounds of 64 text bytes that surely fit: each reads up to 64 bytes past its own and
    // writes up to 132 bytes, and the data grows by at most 128.
    for (;;) {
        std::size_t rounds = Rounds(i, end, 64, 64);
        if (const std::size_t room = Rounds(p, kTextEnd, 64, 128); room < rounds)
            rounds = room;
        if (!rounds)
            break;
        for (; rounds; --rounds, i += 64) {
            __m128i v[4];
            unsigned long long work = 0;
            for (int k = 0; k < 4; ++k) {
                v[k] = Load128(text + i + 16 * k);
                const __m128i marked = _mm_or_si128(_mm_cmpeq_epi8(v[k], lf), _mm_cmpeq_epi8(v[k], ff));
                work |= static_cast<unsigned long long>(static_cast<unsigned>(_mm_movemask_epi8(marked))) << 16 * k;
            }
            if (__builtin_popcountll(work) > 4) {
                for (int k = 0; k < 4; ++k)
                    p = StoreBlock<Pairs>(text, i + 16 * k, data, p, v[k]);
                continue;
            }
            for (int k = 0; k < 4; ++k)
                Store128(data + p + 16 * k, v[k]);
            if (work)
                p = FixBytes<Pairs>(text, i, data, p, work);
            else
                p += 64;
        }
    }
    for (; i + 16 <= end && p + 32 <= kTextEnd; i += 16)
        p = StoreBlock<Pairs>(text, i, data, p, Load128(text + i));
    return {i, p};
}

} // namespace

Cursor StoreBlocksSsse3(const unsigned char* text, std::size_t end, bool pairs, unsigned char* data,
                        Cursor at)
{
    return pairs ? StoreBlocks<true>(text, end, data, at) : StoreBlocks<false>(text, end, data, at);
}
