#include "core/var_name.h"

#include "core/charset.h"
#include "core/reserved_names.h"

#include <cstdint>
#include <cstring>

namespace {

// The lower-case calculator byte of calculator byte `byte`, or `byte`.
int Lower(int byte)
{
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7))
        return byte + 0x20;
    switch (byte) {
    case 0x82: return 0x83;  // Γ
    case 0x84: return 0x85;  // Δ
    case 0x8E: return 0x8F;  // Σ
    case 0x93: return 0x94;  // Ω
    default: return byte;
    }
}

// True when calculator byte `byte` is a lower-case letter a name may hold: a to z, α to ω as
// the calculator has them (π, a constant, left out) and à to ÿ with ß (÷ left out).
bool IsLetter(int byte)
{
    if (byte >= 'a' && byte <= 'z')
        return true;
    switch (byte) {
    case 0x80: case 0x81: case 0x83: case 0x85: case 0x86: case 0x87: case 0x88: case 0x89:
    case 0x8A: case 0x8D: case 0x8F: case 0x90: case 0x91: case 0x92: case 0x94:
        return true;
    default:
        return byte >= 0xDF && byte != 0xF7;
    }
}

bool IsDigit(int byte) { return byte >= '0' && byte <= '9'; }

// The calculator byte that code point `cp` stands for on its own, or -1.
int ByteOf(std::uint32_t cp)
{
    unsigned char utf8[4];
    int n = 0;
    if (cp < 0x80) {
        utf8[n++] = static_cast<unsigned char>(cp);
    } else if (cp < 0x800) {
        utf8[n++] = static_cast<unsigned char>(0xC0 | cp >> 6);
        utf8[n++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else {
        return -1;
    }
    const CharMatch m = MatchChar(utf8, utf8 + n);
    return m.length == n ? m.byte : -1;
}

// Puts in `out` the calculator bytes, lower-case, that the character matched by `m` gives in a
// name and returns how many: 1 or 2, 0 for a mark (dropped), -1 for a character that is neither
// a letter, a digit nor _.
int NameBytes(const CharMatch& m, unsigned char (&out)[2])
{
    if (m.byte >= 0) {
        const int b = Lower(m.byte);
        if (!IsLetter(b) && !IsDigit(b) && b != '_')
            return -1;
        out[0] = static_cast<unsigned char>(b);
        return 1;
    }
    if (m.code_points == 0)
        return -1;
    std::uint32_t cp = m.cp;
    if (cp >= 0x391 && cp <= 0x3A9)  // a Greek capital the calculator lacks
        cp += 0x20;
    else if (cp == 0x3C2)  // final sigma
        cp = 0x3C3;
    if (const int b = ByteOf(cp); b >= 0 && IsLetter(b)) {
        out[0] = static_cast<unsigned char>(b);
        return 1;
    }
    unsigned char bytes[2];
    const int n = ReplacementBytes(m.cp, bytes);
    if (n == 0)
        return 0;  // a mark, dropped
    for (int i = 0; i < n; ++i) {
        out[i] = static_cast<unsigned char>(Lower(bytes[i]));
        if (!IsLetter(out[i]))
            return -1;
    }
    return n;
}

// Puts in `out` the ASCII letters of lower-case calculator letter `byte` (its letter without
// its marks; æ as ae, þ as th, ß as ss) and returns how many, 0 for a Greek letter.
int AsciiLetters(unsigned char byte, unsigned char (&out)[2])
{
    // à to ÿ; ÷ (F7) is no letter.
    static constexpr char kBase[] = "aaaaaa.ceeeeiiiidnooooo.ouuuuy.y";
    if (byte < 0x80) {
        out[0] = byte;
        return 1;
    }
    const char* const pair = byte == 0xE6 ? "ae" : byte == 0xFE ? "th" : byte == 0xDF ? "ss" : nullptr;
    if (pair) {
        out[0] = pair[0];
        out[1] = pair[1];
        return 2;
    }
    if (byte < 0xE0)
        return 0;
    out[0] = kBase[byte - 0xE0];
    return 1;
}

} // namespace

void ProposeVarName(std::string_view file_name, char (&name)[kVarNameSize], bool ascii, char* passed_over)
{
    if (passed_over)
        *passed_over = '\0';
    // Taken apart without substr, whose range check would bring in the C++ runtime's exceptions.
    std::string_view stem = file_name;
    stem.remove_prefix(file_name.find_last_of("/\\") + 1);  // npos + 1 is 0: no directory
    if (const std::size_t dot = stem.rfind('.'); dot != std::string_view::npos && dot > 0)
        stem = {stem.data(), dot};

    // The stem's name characters, a run of others as one _, from its first letter on: room for
    // 8 and as many digits as may follow them.
    unsigned char chars[32];
    std::size_t count = 0, letters = 0;
    unsigned char first_digits[8];
    std::size_t digit_count = 0;
    bool gap = false;
    const auto* s = reinterpret_cast<const unsigned char*>(stem.data());
    const auto* const end = s + stem.size();
    while (s < end && count < sizeof chars - 2) {
        const CharMatch m = MatchChar(s, end);
        s += m.length;
        unsigned char got[2];
        int n = NameBytes(m, got);
        if (ascii && n == 1 && got[0] >= 0x80 && !(n = AsciiLetters(got[0], got)))
            n = -1;
        if (n < 0 || (n == 1 && got[0] == '_')) {
            gap = letters > 0;
            continue;
        }
        for (int i = 0; i < n; ++i) {
            if (IsDigit(got[i])) {
                if (digit_count < sizeof first_digits && !letters)
                    first_digits[digit_count++] = got[i];
                if (!letters)
                    continue;
            } else {
                ++letters;
            }
            if (gap) {
                chars[count++] = '_';
                gap = false;
            }
            chars[count++] = got[i];
        }
    }

    if (!letters) {
        chars[0] = digit_count ? 't' : 0;
        count = digit_count ? 1 : 0;
        for (std::size_t i = 0; i < digit_count && count < 8; ++i)
            chars[count++] = first_digits[i];
        if (!count) {
            std::memcpy(name, "text1", 6);  // text is a command's name
            return;
        }
    }
    if (count > 8) {
        // Keep a closing run of digits (up to 4), cutting before it.
        std::size_t digits = 0;
        while (digits < count && IsDigit(chars[count - 1 - digits]))
            ++digits;
        if (digits > 0 && digits <= 4 && s == end)
            std::memmove(chars + 8 - digits, chars + count - digits, digits);
        count = 8;
    }
    while (chars[count - 1] == '_')
        --count;

    // The first `keep` characters as UTF-8, then `number` unless it is 0.
    const auto write = [&](std::size_t keep, unsigned number) {
        char* out = name;
        for (std::size_t i = 0; i < keep; ++i) {
            const std::string_view utf8 = CalcByte2Utf8(chars[i]);
            std::memcpy(out, utf8.data(), utf8.size());
            out += utf8.size();
        }
        char digits[4];
        std::size_t n = 0;
        for (; number; number /= 10)
            digits[n++] = static_cast<char>('0' + number % 10);
        while (n)
            *out++ = digits[--n];
        *out = '\0';
    };
    const auto kept = [&] { return IsReservedName(name) || ReservedWithNumber(name); };
    write(count, 0);
    if (!kept())
        return;
    if (passed_over)
        std::memcpy(passed_over, name, kVarNameSize);
    for (unsigned number = 1;; ++number) {
        const std::size_t digits = number < 10 ? 1 : number < 100 ? 2 : 3;
        write(count < 8 - digits ? count : 8 - digits, number);
        if (!kept())
            return;
    }
}

const char* VarNameProblem(std::string_view name)
{
    if (name.empty())
        return "is empty";
    const auto* s = reinterpret_cast<const unsigned char*>(name.data());
    const auto* const end = s + name.size();
    for (int count = 0; s < end; ++count) {
        if (count == 8)
            return "is longer than 8 characters";
        const CharMatch m = MatchChar(s, end);
        s += m.length;
        const int b = m.byte;
        if (count == 0 && !IsLetter(b))
            return "does not begin with a lower-case letter";
        if (!IsLetter(b) && !IsDigit(b) && b != '_')
            return "holds a character other than lower-case letters, digits and _";
    }
    return IsReservedName(name) ? "is a name the calculator keeps for itself" : nullptr;
}
