#include "text_encoder.h"

#include "charset.h"
#include "platform.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
#include <tmmintrin.h>
#define SORVEL_SSSE3 1
#endif


namespace {

constexpr unsigned char kLF = 0x0A;
constexpr unsigned char kCR = 0x0D;
constexpr unsigned char kCtrlZ = 0x1A;
constexpr unsigned char kSpace = 0x20; // opens every line, the first included

constexpr std::size_t kTextStart = 3;                    // after 0x00 0x01 0x20
constexpr std::size_t kTextEnd = kTextStart + kMaxTextSize; // first byte past the largest text

// Text positions i and data positions p as the text is stored.
struct Cursor {
    std::size_t i;
    std::size_t p;
};

// Stores text[at.i, end) byte by byte; stops, with at.p past kTextEnd, as soon
// as a byte would start past it.
Cursor StoreBytes(const unsigned char* text, std::size_t end, bool pairs, unsigned char* data,
                  Cursor at)
{
    auto [i, p] = at;
    for (; i < end && p <= kTextEnd; ++i) {
        unsigned char b = text[i];
        if (b == kLF) {
            if (!pairs || i == 0 || text[i - 1] != kCR)
                data[p++] = kCR;
            b = kSpace;
        } else if (b == 0xFF) {
            b = 0x00;
        }
        data[p++] = b;
    }
    return {i, p};
}

// The eight bytes of w at `at`, the low ones first, as LoadLE64 reads them.
void Store64(unsigned char* at, std::uint64_t w)
{
    if constexpr (std::endian::native == std::endian::little)
        std::memcpy(at, &w, 8);
    else
        for (int k = 0; k < 8; ++k)
            at[k] = static_cast<unsigned char>(w >> 8 * k);
}

constexpr std::uint64_t kHighBits = 0x8080808080808080;

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

// Stores the four bytes of w4 at d, with a CR inserted before each byte k whose
// bit k is set in marks, and returns the end; writes 8 bytes whatever that end.
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
    Store64(d, out);
    return d + shift / 8;
}

// Spread4 for eight bytes; writes 16 bytes whatever the end.
unsigned char* Spread8(unsigned char* d, std::uint64_t w, unsigned marks)
{
    return Spread4(Spread4(d, w & 0xFFFFFFFF, marks), w >> 32, marks >> 4);
}

// The portable blocks: 8 text bytes at a time, from text position 1 on (each
// looks one byte back for a CR), while their bytes surely fit.
Cursor StoreWords(const unsigned char* text, std::size_t end, bool pairs, unsigned char* data,
                  Cursor at)
{
    auto [i, p] = at;
    for (; i + 8 <= end && p + 16 <= kTextEnd; i += 8) {
        const std::uint64_t w = LoadLE64(text + i);
        const std::uint64_t lf = Equal(w, kLF), ff = Equal(w, 0xFF);
        if (!(lf | ff)) {
            Store64(data + p, w);
            p += 8;
            continue;
        }
        const std::uint64_t out = (w & ~((ff >> 7) * 0xFF)) ^ ((lf >> 7) * (kLF ^ kSpace));
        const std::uint64_t bare = pairs ? lf & ~Equal(LoadLE64(text + i - 1), kCR) : lf;
        if (bare) {
            p = Spread8(data + p, out, Bits(bare)) - data;
        } else {
            Store64(data + p, out);
            p += 8;
        }
    }
    return {i, p};
}

#ifdef SORVEL_SSSE3
// For each mark byte m, the pshufb pattern that spreads 8 bytes (with CRs in
// bytes 8 to 15 of the register) as Spread4 does twice, and the bytes it yields.
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

#define SORVEL_TARGET [[gnu::target("ssse3,popcnt")]]
#define SORVEL_INLINE [[gnu::target("ssse3,popcnt"), gnu::always_inline]] inline

SORVEL_INLINE __m128i Load128(const unsigned char* at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

SORVEL_INLINE void Store128(unsigned char* at, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v);
}

// Stores the low 8 bytes of v at d, a CR (from v's high bytes) before each byte
// marked in marks, and returns the end; writes 16 bytes whatever that end.
SORVEL_INLINE unsigned char* Spread8(unsigned char* d, __m128i v, unsigned marks)
{
    const auto* pattern = reinterpret_cast<const __m128i*>(kSpreads.pattern[marks]);
    Store128(d, _mm_shuffle_epi8(v, _mm_load_si128(pattern)));
    return d + kSpreads.size[marks];
}

// Stores the 16 text bytes v from text position i at data position p, and
// returns the end; writes 32 bytes whatever the end.
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
                                      _mm_and_si128(is_lf, _mm_set1_epi8(kLF ^ kSpace)));
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

// Rewrites the bytes marked in `work`, LF and 0xFF ones, of the 64 text bytes
// from position i that are stored unchanged at p, and returns the end; writes
// up to 132 bytes and reads text up to i + 126.
template <bool Pairs>
SORVEL_INLINE std::size_t FixBytes(const unsigned char* text, std::size_t i, unsigned char* data,
                                   std::size_t p, std::uint64_t work)
{
    unsigned char* d = data + p; // where byte 0 would go: the bytes from j are at d + j
    for (; work; work &= work - 1) {
        const int j = std::countr_zero(work);
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
        d[j] = kSpace;
    }
    return d + 64 - data;
}

// StoreWords with SSSE3, 64 text bytes at a time: unchanged if none needs work,
// a few rewritten one by one, or 16 at a time; then 16 at a time.
template <bool Pairs>
SORVEL_TARGET Cursor StoreBlocksSsse3(const unsigned char* text, std::size_t end,
                                      unsigned char* data, Cursor at)
{
    const __m128i lf = _mm_set1_epi8(kLF), ff = _mm_set1_epi8(-1);
    auto [i, p] = at;
    // Rounds of 64 text bytes that surely fit: each reads up to 64 bytes past
    // its own and writes up to 132 bytes, and the data grows by at most 128.
    while (std::size_t rounds = std::min((std::max(end, i + 64) - i - 64) / 64,
                                         (std::max(kTextEnd, p + 64) - p - 64) / 128)) {
        for (; rounds; --rounds, i += 64) {
            __m128i v[4];
            std::uint64_t work = 0;
            for (int k = 0; k < 4; ++k) {
                v[k] = Load128(text + i + 16 * k);
                const __m128i marked = _mm_or_si128(_mm_cmpeq_epi8(v[k], lf), _mm_cmpeq_epi8(v[k], ff));
                work |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(marked))} << 16 * k;
            }
            if (std::popcount(work) > 4) {
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

#endif

} // namespace

std::size_t TextBytes2DataBuffer(std::span<const unsigned char> text, LineBreaks breaks,
                                 Kernel kernel, std::span<unsigned char, kDataBufferSize> data)
{
    const bool pairs = breaks == LineBreaks::crlf_or_lf;
    const std::size_t end = text.size();
    Cursor at = StoreBytes(text.data(), end < 1 ? end : 1, pairs, data.data(), {0, kTextStart});
#ifdef SORVEL_SSSE3
    if (kernel == Kernel::fastest && __builtin_cpu_supports("ssse3") &&
        __builtin_cpu_supports("popcnt"))
        at = pairs ? StoreBlocksSsse3<true>(text.data(), end, data.data(), at)
                   : StoreBlocksSsse3<false>(text.data(), end, data.data(), at);
#endif
    at = StoreWords(text.data(), end, pairs, data.data(), at);
    at = StoreBytes(text.data(), end, pairs, data.data(), at);
    return at.p - kTextStart;
}

std::FILE* OpenTextFile(const char* path)
{
#ifdef _WIN32
    return OpenFile(path, "rt");
#else
    return OpenFile(path, "rb");
#endif
}

EncodeResult TextFile2DataBuffer(std::FILE* in, std::span<unsigned char, kDataBufferSize> data)
{
    // Every text byte takes at least one byte of the data, so one byte past the
    // largest text tells that it is too big.
    std::array<unsigned char, kMaxTextSize + 1> text;
    std::size_t n = std::fread(text.data(), 1, text.size(), in);
    bool failed = n < text.size() && std::ferror(in);
#ifdef _WIN32
    // The stream is in the runtime's own text mode, which does that work.
    const LineBreaks breaks = LineBreaks::lf;
#else
    // As the Windows runtime's text mode does, a Ctrl-Z ends the text, and the
    // CR of a CR LF pair is kept for the 0x0D that the line break is stored as.
    const LineBreaks breaks = LineBreaks::crlf_or_lf;
    if (const void* z = std::memchr(text.data(), kCtrlZ, n)) {
        n = static_cast<const unsigned char*>(z) - text.data();
        failed = false;
    }
#endif
    if (n > kMaxTextSize)
        return {EncodeStatus::too_big, 0};
    data[0] = 0x00;
    data[1] = 0x01;
    data[2] = kSpace;
    const std::size_t stored = TextBytes2DataBuffer(std::span(text).first(n), breaks, Kernel::fastest, data);
    if (stored > kMaxTextSize)
        return {EncodeStatus::too_big, 0};
    if (failed)
        return {EncodeStatus::read_failed, 0};
    std::size_t p = kTextStart + stored;
    data[p++] = 0x00; // end of the text
    data[p++] = 0xE0; // closes a text variable's data
    return {EncodeStatus::ok, static_cast<std::uint32_t>(p)};
}

std::size_t DataBuffer2Text(std::span<const unsigned char> data, bool utf8,
                            std::string_view line_break, unsigned char* text)
{
    unsigned char* out = text;
    const auto put = [&](const unsigned char* from, const unsigned char* to) {
        if (!utf8) {
            std::memcpy(out, from, to - from);
            out += to - from;
            return;
        }
        for (; from < to; ++from) {
            const std::string_view c = CalcByte2Utf8(*from);
            std::memcpy(out, c.data(), c.size());
            out += c.size();
        }
    };
    // Past the cursor position, up to the 0x00 0xE0 that close the data.
    const unsigned char* line = data.data() + 2;
    const unsigned char* const end = data.data() + data.size() - 2;
    for (;;) {
        const void* cr = std::memchr(line, 0x0D, end - line);
        const auto* line_end = cr ? static_cast<const unsigned char*>(cr) : end;
        if (line < line_end) {
            if (*line == 0x0C)
                *out++ = '\f';
            else if (*line != 0x20)
                put(line, line + 1);
            put(line + 1, line_end);
        }
        if (line_end == end)
            return out - text;
        std::memcpy(out, line_break.data(), line_break.size());
        out += line_break.size();
        line = line_end + 1;
    }
}
