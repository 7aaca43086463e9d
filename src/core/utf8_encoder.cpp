#include "core/utf8_encoder.h"

#include "core/bytes.h"
#include "core/charset.h"
#include "core/utf8_encoder_kernels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iterator>

namespace {

// The bytes that map to themselves and need no other care: 0x01..0x09 and 0x20..0x7E.
constexpr auto kPlain = [] {
    std::array<bool, 256> table{};
    for (int b = 0x01; b <= 0x7E; ++b)
        table[b] = b <= 0x09 || b >= 0x20;
    return table;
}();

// How many of the 8 bytes at s, from the first on, are within 0x20..0x7E.
std::size_t PrintableAsciiRun(const unsigned char* s)
{
    const std::uint64_t w = LoadLE64(s);
    // The lowest high bit set here is that of the first byte out of range; a borrow or carry
    // only reaches the bytes above the one that made it.
    const std::uint64_t out = ((w - kOnes * 0x20) | (w + kOnes) | w) & kHighBits;
    return out ? std::countr_zero(out) / 8 : 8;
}

// The byte that the character at s, of two UTF-8 bytes or of three beginning E2, stands for on
// its own (`left` bytes of text from s), its length in `length`; 0 for none or any other.
unsigned char TableByte(const unsigned char* s, std::ptrdiff_t left, int& length)
{
    const unsigned c = s[0];
    if (c >= 0xC2 && c < 0xE0 && left > 1 && (s[1] & 0xC0) == 0x80) {
        length = 2;
        return kTwoByteChars[(c - 0xC2) << 6 | (s[1] & 0x3F)];
    }
    if (c == 0xE2 && left > 2 && (s[1] & 0xC0) == 0x80 && (s[2] & 0xC0) == 0x80) {
        length = 3;
        return kE2Chars[(s[1] & 0x3F) << 6 | (s[2] & 0x3F)];
    }
    return 0;
}

// The portable kernel: runs of plain text, line breaks and the characters TableByte finds, from
// `at`; stops before the first character the general path must take, at the end of the text, or
// 2 bytes before the end of the room. It reads and stores 8 bytes at a time while 16 are left in
// the text and 8 in the room.
Utf8Cursor StoreWords(const unsigned char* text, std::size_t end, unsigned char* data, Utf8Cursor at)
{
    const unsigned char* s = text + at.pos;
    const unsigned char* const last = text + end;
    unsigned char* q = data + at.p;
    unsigned char* const room_end = data + kStoredEnd;
    while (s < last && q + 2 <= room_end) {
        if (last - s >= 16 && q + 8 <= room_end) {
            const std::size_t run = PrintableAsciiRun(s);
            std::memcpy(q, s, 8);  // what follows the run is written over or lies past the end
            s += run;
            q += run;
            if (run == 8)
                continue;
            if (q + 2 > room_end)  // the run may have taken the room the next character needs
                break;
        }
        const unsigned char c = *s;
        const std::ptrdiff_t left = last - s;
        if (c == '\n' || c == '\r') {
            q[0] = kLineEnd;
            q[1] = kPlainLine;
            q += 2;
            s += c == '\r' && left > 1 && s[1] == '\n' ? 2 : 1;
        } else if (kPlain[c]) {
            *q++ = c;
            s += 1;
        } else if (int length; const unsigned char byte = TableByte(s, left, length)) {
            *q++ = byte;
            s += length;
        } else {
            break;
        }
    }
    return {static_cast<std::size_t>(s - text), static_cast<std::uint32_t>(q - data)};
}

// The line and column, from 1, of the character at `at` of `text`, whose characters begin at
// `start` and are well-formed before `at`: the line breaks before it, then the code points
// since the last.
void Locate(const unsigned char* text, std::size_t start, std::size_t at, Utf8Problem& where)
{
    std::uint32_t line = 1;
    std::size_t from = start;
    for (std::size_t i = start; i < at; ++i) {
        if (text[i] == '\r' || (text[i] == '\n' && (i == start || text[i - 1] != '\r')))
            ++line;
        if (text[i] == '\r' || text[i] == '\n')
            from = i + 1;
    }
    std::uint32_t column = 1;
    for (std::size_t i = from; i < at; ++i)
        column += (text[i] & 0xC0) != 0x80;
    where.line = line;
    where.column = column;
}

#ifdef SORVEL_AVX2
constexpr Utf8Kernel kKernels[] = {Utf8Kernel::one_at_a_time, Utf8Kernel::words, Utf8Kernel::avx2};

bool Runs(Utf8Kernel kernel)
{
    return kernel != Utf8Kernel::avx2 || (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                                          __builtin_cpu_supports("popcnt"));
}
#else
constexpr Utf8Kernel kKernels[] = {Utf8Kernel::one_at_a_time, Utf8Kernel::words};

bool Runs(Utf8Kernel kernel)
{
    return kernel != Utf8Kernel::avx2;
}
#endif

// Code points that show nothing on their own: controls, combining marks, format characters,
// separators, private use and noncharacters.
constexpr std::uint32_t kUnprintable[][2] = {
    {0x0000, 0x001F}, {0x007F, 0x009F}, {0x00AD, 0x00AD}, {0x0300, 0x036F}, {0x0483, 0x0489},
    {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x2028, 0x202E}, {0x2060, 0x206F},
    {0x20D0, 0x20FF}, {0xD800, 0xF8FF}, {0xFDD0, 0xFDEF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
    {0xFEFF, 0xFEFF}, {0xFFF0, 0xFFFB}, {0xE0000, 0x10FFFF},
};

bool Printable(std::uint32_t cp)
{
    if ((cp & 0xFFFE) == 0xFFFE)
        return false;
    for (const auto& range : kUnprintable)
        if (cp >= range[0] && cp <= range[1])
            return false;
    return true;
}

// Appends `s` to the text in `what`, as much of it as fits.
void Append(char (&what)[kUtf8WhatSize], std::string_view s)
{
    const std::size_t at = std::strlen(what);
    const std::size_t n = std::min(s.size(), kUtf8WhatSize - 1 - at);
    std::memcpy(what + at, s.data(), n);
    what[at + n] = '\0';
}

// Appends `value` in upper-case hexadecimal, at least `digits` digits.
void AppendHex(char (&what)[kUtf8WhatSize], std::uint32_t value, int digits)
{
    char hex[8];
    int n = 0;
    for (; n < 8 && (n < digits || value >> 4 * n); ++n)
        hex[7 - n] = "0123456789ABCDEF"[value >> 4 * n & 0xF];
    Append(what, {hex + 8 - n, static_cast<std::size_t>(n)});
}

// Appends the character matched as `m` at s: "U+20AC (€)", or "U+0301" for one that shows
// nothing on its own.
void AppendCodePoint(const CharMatch& m, const unsigned char* s, char (&what)[kUtf8WhatSize])
{
    Append(what, "U+");
    AppendHex(what, m.cp, 4);
    if (Printable(m.cp)) {
        Append(what, " (");
        Append(what, {reinterpret_cast<const char*>(s), static_cast<std::size_t>(m.length)});
        Append(what, ")");
    }
}

// Writes in `what` why the character matched as `m` at s cannot be stored; returns the kind.
Utf8Refusal Describe(const CharMatch& m, const unsigned char* s, char (&what)[kUtf8WhatSize])
{
    what[0] = '\0';
    if (m.code_points == 0) {
        Append(what, "malformed UTF-8:");
        for (int i = 0; i < m.length; ++i) {
            Append(what, " ");
            AppendHex(what, s[i], 2);
        }
        return Utf8Refusal::malformed;
    }
    if (m.cp == 0) {
        Append(what, "NUL would end the text on the calculator");
        return Utf8Refusal::nul;
    }
    Append(what, "no calculator character for ");
    AppendCodePoint(m, s, what);
    return Utf8Refusal::no_character;
}

// Whether `b` from `at` to `end` holds a line break.
bool HasLineBreak(const unsigned char* b, std::size_t at, std::size_t end)
{
    return at < end && (std::memchr(b + at, '\n', end - at) || std::memchr(b + at, '\r', end - at));
}

// Counts what stands pending in `tally` as replaced.
void Commit(ReplacementTally& tally)
{
    if (!tally.pending)
        return;
    tally.count += tally.pending;
    tally.pending = 0;
    for (std::uint32_t k = 0; k < tally.kinds; ++k) {
        tally.kind[k].count += tally.kind_pending[k];
        tally.kind_pending[k] = 0;
    }
}

// The kind of replacement in `tally` whose `from` is the `size` bytes `from`, or tally.kinds.
std::uint32_t KindOf(ReplacementTally& tally, const char* from, std::size_t size)
{
    if (tally.kinds == 0)
        return 0;
    const auto same = [&](std::uint32_t k) {
        const ReplacedKind& kind = tally.kind[k];
        if (kind.from_size != size || kind.from[0] != from[0])
            return false;
        std::size_t i = 1;
        while (i < size && kind.from[i] == from[i])
            ++i;
        return i == size;
    };
    std::uint8_t& recent = tally.recent[(static_cast<unsigned char>(from[size - 1]) + 3 * size) % kTalliedKinds];
    if (recent < tally.kinds && same(recent))
        return recent;
    std::uint32_t k = 0;
    while (k < tally.kinds && !same(k))
        ++k;
    if (k < kTalliedKinds)
        recent = static_cast<std::uint8_t>(k);
    return k;
}

// Counts in `tally` the replacement of b[from, next) by the `size` bytes `to`, as one kind with
// every other of the same text.
void Count(ReplacementTally& tally, const unsigned char* b, std::size_t from, std::size_t next,
           const unsigned char* to, std::size_t size)
{
    // Those before a line break are surely stored: the text is cut at line breaks.
    if (HasLineBreak(b, tally.mark, from))
        Commit(tally);
    tally.mark = next;
    ++tally.pending;

    const std::size_t length = next - from;
    if (length > kReplacedSize || size > kReplacedSize) {  // a long run of superscripts
        tally.more_kinds = true;
        return;
    }
    std::uint32_t k = KindOf(tally, reinterpret_cast<const char*>(b + from), length);
    if (k == tally.kinds) {  // unless it is shown otherwise than as written
        ReplacedKind kind{};
        std::uint32_t cp;
        if (DecodeUtf8(b + from, b + next, cp) == static_cast<int>(length) && !Printable(cp)) {
            char code[kUtf8WhatSize] = "U+";
            AppendHex(code, cp, 4);
            kind.from_size = static_cast<std::uint8_t>(std::strlen(code));
            std::memcpy(kind.from, code, kind.from_size);
        } else {
            kind.from_size = static_cast<std::uint8_t>(length);
            std::memcpy(kind.from, b + from, length);
        }
        kind.to_size = static_cast<std::uint8_t>(size);
        std::memcpy(kind.to, to, size);
        k = KindOf(tally, kind.from, kind.from_size);
        if (k == kTalliedKinds) {
            tally.more_kinds = true;
            return;
        }
        if (k == tally.kinds) {
            if (k == 0)
                std::memset(tally.recent, 0, sizeof tally.recent);
            tally.kind[k] = kind;
            tally.kind_pending[k] = 0;
            ++tally.kinds;
        }
    }
    ++tally.kind_pending[k];
}

// The start of the superscripts the calculator has (¹ ² ³ ⁺, and ⁻¹) that end at `pos`, no
// further back than `begin`, and in `stored` how many bytes they were stored as.
std::size_t StoredSuperscripts(const unsigned char* b, std::size_t begin, std::size_t pos, std::uint32_t& stored)
{
    stored = 0;
    while (pos > begin) {
        std::size_t lead = pos - 1;
        while (lead > begin && pos - lead < 4 && (b[lead] & 0xC0) == 0x80)
            --lead;
        std::uint32_t cp;
        if (DecodeUtf8(b + lead, b + pos, cp) != static_cast<int>(pos - lead) || SuperscriptPlain(cp) < 0)
            break;
        stored += cp != 0x207B;  // the minus of an inverse shares the byte of the one after it
        pos = lead;
    }
    return pos;
}

// Whether `n` plain bytes from `s` read as one exponent after a ^: one character, a number with
// or without its sign, or a parenthesis closed at the end.
bool OneExponent(const unsigned char* s, std::size_t n)
{
    const std::size_t sign = n > 1 && (s[0] == '-' || s[0] == '+');
    if (n - sign == 1 || std::all_of(s + sign, s + n, [](unsigned char c) { return c >= '0' && c <= '9'; }))
        return true;
    int depth = 0;
    for (std::size_t i = 0; i < n && s[0] == '('; ++i) {
        depth += (s[i] == '(') - (s[i] == ')');
        if (depth == 0)
            return i == n - 1;
    }
    return false;
}

// Stores at `at` what stands for the character matched as `m`, which the calculator lacks, and
// counts it in `tally`; a superscript with those stored just before it, from `begin` on, and
// those after it. False when that does not fit: `at` is then where it begins.
[[gnu::noinline]] bool StoreReplacement(const unsigned char* b, std::size_t begin, std::size_t end, unsigned char* d,
                      Utf8Cursor& at, const CharMatch& m, ReplacementTally& tally)
{
    std::size_t from = at.pos, next = at.pos + m.length;
    std::uint32_t p = at.p, q;
    const CharReplacement r = ReplacementOf(m.cp);
    if (r.superscript) {
        // With the superscripts before it that the calculator has, and those after it.
        std::uint32_t stored, cp;
        from = StoredSuperscripts(b, begin, at.pos, stored);
        p -= stored;
        q = p + 1;  // after the ^
        int n, plain;
        for (next = from; next < end && (n = DecodeUtf8(b + next, b + end, cp)) > 0 &&
                          (plain = SuperscriptPlain(cp)) >= 0;
             next += n) {
            if (q + 1 > kStoredEnd) {  // q is past it when the ^ fills the room
                at = {from, p};
                return false;
            }
            d[q++] = static_cast<unsigned char>(plain);
        }
        if (!OneExponent(d + p + 1, q - p - 1)) {
            if (q + 2 > kStoredEnd) {
                at = {from, p};
                return false;
            }
            std::memmove(d + p + 2, d + p + 1, q - p - 1);
            d[p + 1] = '(';
            d[q + 1] = ')';
            q += 2;
        }
        d[p] = '^';
    } else {
        const bool plus = r.fraction && d[p - 1] >= '0' && d[p - 1] <= '9';  // 1½ as 1+1/2
        if (p + plus + r.size > kStoredEnd)
            return false;
        if (plus)
            d[p++] = '+';
        std::memcpy(d + p, r.bytes, sizeof r.bytes);  // the buffer has room past kStoredEnd
        q = p + r.size;
    }
    Count(tally, b, from, next, d + p, q - p);
    at = {next, q};
    return true;
}

// The part of text `b` from `from` that one variable holds, its data stored up to `at` where
// the encoder stopped for want of room: after its last line break, or at `at` when it has none;
// closes its data, and counts in `tally` what it replaced.
[[gnu::noinline]] EncodeResult PartThatFits(const unsigned char* b, std::size_t from, unsigned char* d, Utf8Cursor at,
                          ReplacementTally* tally)
{
    std::size_t end = at.pos;
    std::uint32_t p = at.p;
    while (end > from && b[end - 1] != '\n' && b[end - 1] != '\r')
        --end;
    if (end > from) {
        while (d[p - 1] != kLineEnd)  // each line break stored as 0x0D and the line's type
            --p;
        d[p++] = kPlainLine;
    } else {
        end = at.pos;
    }
    if (tally && tally->mark > end) {  // those pending lie after the cut
        tally->pending = 0;
        std::fill(tally->kind_pending, tally->kind_pending + tally->kinds, 0);
    }
    if (tally)
        Commit(*tally);
    std::memcpy(d + p, kDataClose, sizeof kDataClose);
    return {EncodeStatus::too_big, static_cast<std::uint32_t>(p + sizeof kDataClose), end};
}

} // namespace

std::span<const Utf8Kernel> Utf8Kernels()
{
    static const std::size_t count = Runs(std::end(kKernels)[-1]) ? std::size(kKernels) : std::size(kKernels) - 1;
    return {kKernels, count};
}

void SummarizeReplacements(const ReplacementTally& tally, Utf8Replacements& replaced)
{
    replaced = {};
    replaced.count = tally.count;
    bool named[kTalliedKinds] = {};
    for (std::uint32_t k = 0; k < tally.kinds; ++k)
        replaced.kinds += tally.kind[k].count > 0;
    replaced.kinds += tally.more_kinds;
    for (std::size_t n = 0; n < kNamedKinds; ++n) {
        std::uint32_t best = tally.kinds;
        for (std::uint32_t k = 0; k < tally.kinds; ++k)
            if (!named[k] && tally.kind[k].count && (best == tally.kinds || tally.kind[k].count > tally.kind[best].count))
                best = k;
        if (best == tally.kinds)
            break;
        named[best] = true;
        replaced.most[n] = tally.kind[best];
    }
}

EncodeResult Utf8File2DataBuffer(std::span<const unsigned char> text,
                                 std::span<unsigned char, kDataBufferSize> data, Utf8Problem& problem,
                                 ReplacementTally* replaced, std::size_t from, Utf8Kernel kernel)
{
    unsigned char* const d = data.data();
    std::memcpy(d, kDataOpening, sizeof kDataOpening);
    std::uint32_t p = sizeof kDataOpening;  // never past kStoredEnd
    std::uint32_t line = 1, column = 1;    // counted by the one_at_a_time kernel alone, from the start

    const unsigned char* const b = text.data();
    const std::size_t end = text.size();
    const std::size_t start = ByteOrderMarkSize(text), begin = std::max(start, from);
    std::size_t pos = begin;
    while (pos < end) {
        // The AVX2 kernel looks one byte back: the general path takes the text's first character.
        if (kernel == Utf8Kernel::words || (kernel == Utf8Kernel::avx2 && pos > 0)) {
            Utf8Cursor at = {pos, p};
#ifdef SORVEL_AVX2
            if (kernel == Utf8Kernel::avx2)
                at = StoreUtf8BlocksAvx2(b, end, d, at);
#endif
            at = StoreWords(b, end, d, at);
            pos = at.pos;
            p = at.p;
            if (pos == end)
                break;
        }

        // One character of any kind.
        const unsigned char c = b[pos];
        const bool line_start = pos == begin || b[pos - 1] == '\n' || b[pos - 1] == '\r';
        if (c == '\n' || c == '\r') {
            if (p + 2 > kStoredEnd)
                return PartThatFits(b, begin, d, {pos, p}, replaced);
            d[p++] = kLineEnd;
            d[p++] = kPlainLine;  // the line type of the next line
            pos += c == '\r' && pos + 1 < end && b[pos + 1] == '\n' ? 2 : 1;
            ++line;
            column = 1;
            continue;
        }
        if (c == 0x0C && line_start) {
            d[p - 1] = kPageBreak;  // this line is a page break
            ++pos;
            ++column;
            continue;
        }
        const CharMatch m = MatchChar(b + pos, b + end);
        if (m.byte < 0 && m.code_points == 1 && !line_start && b[pos - 1] < 0x80) {
            // Completes a pair begun by the ASCII character before, stored last (x̄ is x, U+0305).
            if (const int pair = AsciiPairByte(b[pos - 1], m.cp); pair >= 0) {
                d[p - 1] = static_cast<unsigned char>(pair);
                pos += m.length;
                ++column;
                continue;
            }
        }
        if (m.byte < 0 && m.code_points == 1 && replaced) {
            // A character the calculator lacks: stored as the closest it has, or dropped.
            Utf8Cursor at = {pos, p};
            if (!StoreReplacement(b, begin, end, d, at, m, *replaced))
                return PartThatFits(b, begin, d, at, replaced);
            for (; kernel == Utf8Kernel::one_at_a_time && pos < at.pos; ++pos)
                column += (b[pos] & 0xC0) != 0x80;
            pos = at.pos;
            p = at.p;
            continue;
        }
        if (m.byte <= 0) {
            problem.line = line;
            problem.column = column;
            if (kernel != Utf8Kernel::one_at_a_time || begin != start)
                Locate(b, start, pos, problem);
            problem.kind = Describe(m, b + pos, problem.what);
            return {EncodeStatus::refused, 0, pos};
        }
        if (p == kStoredEnd)
            return PartThatFits(b, begin, d, {pos, p}, replaced);
        d[p++] = static_cast<unsigned char>(m.byte);
        pos += m.length;
        column += m.code_points;
    }
    if (replaced)
        Commit(*replaced);
    std::memcpy(d + p, kDataClose, sizeof kDataClose);
    return {EncodeStatus::ok, static_cast<std::uint32_t>(p + sizeof kDataClose), end};
}


bool Utf8Name2VarName(std::string_view name, char (&var_name)[9], std::size_t& used,
                      char (&what)[kUtf8WhatSize])
{
    const auto* const s = reinterpret_cast<const unsigned char*>(name.data());
    const auto* const end = s + name.size();
    std::size_t n = 0, at = 0;
    for (; n < 8 && at < name.size(); ++n) {
        const CharMatch m = MatchChar(s + at, end);
        if (m.code_points && m.cp < 0x20) {
            what[0] = '\0';
            Append(what, "control character U+");
            AppendHex(what, m.cp, 4);
            return false;
        }
        if (m.byte <= 0) {
            Describe(m, s + at, what);
            return false;
        }
        var_name[n] = static_cast<char>(m.byte);
        at += m.length;
    }
    var_name[n] = '\0';
    used = at;
    return true;
}

void Utf8Locate(std::span<const unsigned char> text, std::size_t at, Utf8Problem& where)
{
    Locate(text.data(), ByteOrderMarkSize(text), at, where);
}
