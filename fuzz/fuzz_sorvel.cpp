// One fuzz target for the whole converter, each result checked against a model built byte by
// byte. The first input byte picks what the rest is and how it is taken:
//   bits 0-1  0: a text file's bytes, through both text encoders, the writer and the reader;
//             1: calculator bytes, written as UTF-8 text and encoded back;
//             2: arbitrary bytes as UTF-8 text and as a variable name, and as UTF-16;
//             3: arbitrary bytes as a variable file.
//   bits 2-5  mode 0: the variable name's length, its bytes taken first from the rest (the low
//             two bits also pick the model); mode 1: the line break ("\n", "\r\n", "\r"), and
//             with bit 5, -r: a 0x00 byte and the next one as one of kSpecials.
//   bit 7     stretches what follows by repeating it to 65,300 to 65,810 bytes, doubled by
//             bit 6, so that runs reach the size limits.
#include "core/charset.h"
#include "core/utf8_encoder_kernels.h"
#include "core/var_file.h"
#include "core/byte_encoder_kernels.h"
#include "core/text_decoder.h"
#include "core/text_encoding.h"
#include "require.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

using namespace std::string_literals;

namespace {

using Bytes = std::vector<unsigned char>;

// The text variable's data for a file's bytes `raw`, taken as the Windows runtime's text mode
// delivers them (CR LF as LF) if `crlf`, and up to a Ctrl-Z if `ctrl_z_ends`: each LF as
// 0x0D 0x20, 0xFF as 0x00, the read past the end as 0x00, then 0xE0. More than 65,532 bytes
// means it does not fit.
Bytes DataModel(const Bytes& raw, bool crlf, bool ctrl_z_ends)
{
    Bytes data = {0x00, 0x01, 0x20};
    for (std::size_t i = 0; i < raw.size() && !(ctrl_z_ends && raw[i] == 0x1A); ++i)
        if (raw[i] == '\n')
            data.insert(data.end(), {0x0D, 0x20});
        else if (!(crlf && raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n'))
            data.push_back(raw[i] == 0xFF ? 0x00 : raw[i]);
    data.insert(data.end(), {0x00, 0xE0});
    return data;
}

const Bytes kTooBig = {static_cast<unsigned char>(EncodeStatus::too_big)};

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The data that the text encoder as the Linux program runs it, or with `utf8` the UTF-8 one by
// `kernel` (with `replace`, replacing, then how many replacements, kinds, and the kinds named),
// makes of `text`; when its status is not ok, one byte holding that status, then where and why
// refused.
Bytes Encode(const std::string& text, bool utf8, Utf8Kernel kernel = Utf8Kernels().back(), bool replace = false)
{
    static DataBuffer buffer;
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    Utf8Problem problem;
    ReplacementTally tally;
    const EncodeResult result = utf8 ? Utf8File2DataBuffer(bytes, buffer, problem, replace ? &tally : nullptr, 0, kernel)
                                     : TextFile2DataBuffer(TextUpToCtrlZ(bytes), LineBreaks::crlf_or_lf, buffer);
    Utf8Replacements r;
    SummarizeReplacements(tally, r);
    std::string note = replace ? std::to_string(r.count) + " replaced, " + std::to_string(r.kinds) + " kinds:" : "";
    for (const ReplacedKind& k : r.most)
        note += k.count ? " " + std::to_string(k.count) + " " + std::string(k.from, k.from_size) + " as " + std::string(k.to, k.to + k.to_size) : "";
    if (result.status == EncodeStatus::ok)
        return Bytes(buffer.begin(), buffer.begin() + result.length) + Bytes(note.begin(), note.end());
    const std::string why = std::to_string(problem.line) + ":" + std::to_string(problem.column) + problem.what;
    Bytes failed = {static_cast<unsigned char>(result.status)};
    if (result.status == EncodeStatus::refused)
        failed.insert(failed.end(), why.begin(), why.end());
    return failed;
}

// Text variable data `data` back to text, written into a heap block of exactly the room
// DataBuffer2Text may take, so that the sanitizer sees any overrun.
std::string Text(std::span<const unsigned char> data, bool utf8, const char* line_break)
{
    Bytes out(data.size() * kTextBytesPerDataByte);
    return std::string(out.begin(), out.begin() + DataBuffer2Text(data, utf8, line_break, out.data()));
}

// `text` cut into parts where its encoder (a UTF-8 kernel picked by its size) says one variable
// is full: each part gives the data it gives alone, and one cut at a line break could not hold
// the next line too; with `replace`, each replacement counted once.
void CheckParts(const std::string& text, bool utf8, bool replace = false)
{
    static DataBuffer buffer;
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    const Utf8Kernel kernel = Utf8Kernels()[text.size() % Utf8Kernels().size()];
    ReplacementTally tally, scratch;
    const auto encode = [&](std::span<const unsigned char> part, std::size_t start, Utf8Problem& problem, ReplacementTally& t) {
        return utf8 ? Utf8File2DataBuffer(part, buffer, problem, replace ? &t : nullptr, start, kernel)
                    : TextPart2DataBuffer(part, LineBreaks::crlf_or_lf, buffer, start);
    };
    std::uint32_t alone = 0;  // what the parts replace alone
    for (std::size_t start = 0, end = 0, once = 1; once || end < text.size(); start = end, once = 0) {
        Utf8Problem problem;
        const EncodeResult result = encode(bytes, start, problem, tally);
        end = result.end;
        if (result.status == EncodeStatus::refused || (end == start && start < text.size()))
            return;  // or a run of superscripts longer than a variable
        const Bytes data = Encode(text.substr(start, end - start), utf8, kernel, replace);
        const auto note = std::mismatch(data.begin(), data.end(), buffer.begin(), buffer.begin() + result.length);
        Require((end > start || text.empty()) && result.length <= kMaxUserDataSize && note.second == buffer.begin() + result.length,
                "each part fits in a variable, and gives the data it gives alone");
        alone += note.first == data.end() ? 0 : std::stoul(std::string(note.first, data.end()));
        const std::size_t next = std::min(text.find_first_of(utf8 ? "\r\n" : "\n", end), text.size());
        const bool at_break = end < text.size() && (text[end - 1] == '\n' || (utf8 && text[end - 1] == '\r'));
        const auto with_next = bytes.subspan(start, next + (next < text.size()) + !text.compare(next, 2, "\r\n") - start);
        Require(!at_break || encode(with_next, 0, problem, scratch).status == EncodeStatus::too_big,
                "a part cut at a line break cannot hold the next line");
    }
    Require(tally.count == alone, "the parts count each replacement once");
}

// Characters that -r stores otherwise than as themselves, by hand: as written, as stored, and
// what they are: ^ a superscript the calculator lacks, / a vulgar fraction, . any other.
constexpr const char* kSpecials[][3] = {
    {"⁰", "0", "^"}, {"⁴", "4", "^"}, {"⁷", "7", "^"}, {"⁻", "-", "^"}, {"⁽", "(", "^"}, {"⁾", ")", "^"},
    {"ⁿ", "n", "^"}, {"ˣ", "x", "^"}, {"₀", "0", "."}, {"₋", "-", "."}, {"½", "1/2", "/"}, {"⅒", "1/10", "/"},
    {"⅟", "1/", "/"}, {"€", "?", "."}, {"\u200B", "", "."}, {"ř", "r", "."}, {"═", "=", "."}, {"ĳ", "ij", "."}};

// A character of a text made of calculator characters and kSpecials: as written, as -u stores it
// (a superscript: its plain form too), and what it is: b a line break, k a superscript the
// calculator has, c any other of its characters, or a kSpecials kind.
struct Char {
    std::string utf8, stored, plain;
    char kind;
};

// The data that -r makes of `chars`, and in `note` how many replacements, kinds (the first 64,
// and whether there are more), and the kinds named.
Bytes ReplacedModel(const std::vector<Char>& chars, std::string& note)
{
    Bytes data = {0x00, 0x01, 0x20};
    std::vector<std::tuple<std::uint32_t, std::string, std::string>> kinds;  // how many, from, to; first met first
    std::uint32_t total = 0, more = 0;
    const auto count = [&](std::string from, const std::string& to) {
        from = from == "\u200B" ? "U+200B" : from;
        const auto k = std::find_if(kinds.begin(), kinds.end(), [&](const auto& t) { return std::get<1>(t) == from; });
        ++total;
        if (k != kinds.end())
            ++std::get<0>(*k);
        else if (kinds.size() < kTalliedKinds && from.size() <= kReplacedSize && to.size() <= kReplacedSize)
            kinds.emplace_back(1, from, to);
        else
            more = 1;
    };
    for (std::size_t i = 0, line_start = 1; i < chars.size(); line_start = chars[i++].kind == 'b') {
        std::string from, plain, stored = chars[i].stored;
        bool lacking = false;
        for (; i < chars.size() && (chars[i].kind == 'k' || chars[i].kind == '^'); lacking |= chars[i++].kind == '^') {
            if (from.empty())  // a run of superscripts, appended in place: a run may be 65,000 long
                stored = chars[i].stored;
            else
                stored += chars[i].stored;
            from += chars[i].utf8;
            plain += chars[i].plain;
        }
        if (!from.empty()) {
            const std::size_t sign = plain.size() > 1 && (plain[0] == '-' || plain[0] == '+');
            std::size_t closes = 0;  // where the parentheses open at the start first close
            for (int k = 0, depth = 0; plain[0] == '(' && !closes && k < int(plain.size()); ++k)
                closes = (depth += (plain[k] == '(') - (plain[k] == ')')) ? 0 : k + 1;
            const bool one = plain.size() - sign == 1 || plain.find_first_not_of("0123456789", sign) == std::string::npos ||
                             closes == plain.size();
            stored = lacking ? "^" + (one ? plain : "(" + plain + ")") : stored;
            if (lacking)
                count(from, stored);
            --i;
        } else if (chars[i].utf8 == "\f" && line_start) {
            stored = "";
            data.back() = 0x0C;
        } else if (chars[i].kind == '/' || chars[i].kind == '.') {
            stored = (chars[i].kind == '/' && data.back() >= '0' && data.back() <= '9' ? "+" : "") + stored;
            count(chars[i].utf8, chars[i].stored);
        }
        data.insert(data.end(), stored.begin(), stored.end());
    }
    data.insert(data.end(), {0x00, 0xE0});
    note = std::to_string(total) + " replaced, " + std::to_string(kinds.size() + more) + " kinds:";
    std::stable_sort(kinds.begin(), kinds.end(), [](const auto& a, const auto& b) { return std::get<0>(a) > std::get<0>(b); });
    for (std::size_t k = 0; k < std::min(kinds.size(), kNamedKinds); ++k)
        note += " " + std::to_string(std::get<0>(kinds[k])) + " " + std::get<1>(kinds[k]) + " as " + std::get<2>(kinds[k]);
    return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size == 0)
        return 0;
    const unsigned mode = bytes[0] & 3, flags = bytes[0] >> 2 & 15;
    const std::size_t name_length = mode == 0 ? std::min<std::size_t>(flags, size - 1) : 0;
    const std::string name = std::string(reinterpret_cast<const char*>(bytes + 1), name_length).c_str();
    Bytes raw(bytes + 1 + name_length, bytes + size);
    if ((bytes[0] & 0x80) && !raw.empty())
        for (std::size_t i = 0, n = (65300 + 2 * raw[0]) << (bytes[0] >> 6 & 1); raw.size() < n; ++i)
            raw.push_back(raw[i]);
    const std::string as_text(raw.begin(), raw.end());

    if (mode == 0) {
        static DataBuffer buffer;
        for (const LineBreaks breaks : {LineBreaks::crlf_or_lf, LineBreaks::lf}) {
            const Bytes expected = DataModel(raw, breaks == LineBreaks::crlf_or_lf, false);
            for (const ByteKernel kernel : ByteKernels()) {
                std::memset(buffer.data() + 65532, 0xA5, 4);
                const std::size_t stored = StoreText(raw, 0, breaks, kernel, buffer).p - 3;
                Require(!std::memcmp(buffer.data() + 65532, "\xA5\xA5\xA5\xA5", 4) &&
                            (expected.size() > 65532 ? stored > kMaxTextSize
                                                     : stored == expected.size() - 5 &&
                                                           !std::memcmp(buffer.data() + 3, expected.data() + 3, stored)),
                        "a kernel stores the model's bytes, or is too big, and nothing past 65,531");
            }
        }
        CheckParts(as_text.substr(0, as_text.find('\x1A')), false);
        const Bytes data = Encode(as_text, false), expected = DataModel(raw, true, true);
        Require(data == (expected.size() > 65532 ? kTooBig : expected), "the file gives the model's data, or is too big");
        if (expected.size() > 65532)
            return 0;
        const Model& model = kModels[flags % std::size(kModels)];
        std::uint32_t image_size = 0;
        ImageFailure failure;
        unsigned char* image = TextVariableFile(name.c_str(), data, image_size, failure, model);
        Require((expected.size() <= 65512) == (image != nullptr), "the writer takes up to 65,512 bytes of data");
        if (!image)
            return 0;
        Variable v[1];
        Require(VarFileEntryCount({image, image_size}) == 1 && !ParseVarFile({image, image_size}, v) &&
                    v->name == name.substr(0, 8) && Bytes(v->data.begin(), v->data.end()) == data,
                "the writer's file reads back to the name and the data");
        // The text back, its line breaks LF: a lone CR ends a calculator line too, and the line's
        // type byte follows it, a space there dropped.
        std::string back;
        for (std::size_t i = 0; i < raw.size() && raw[i] != 0x1A; ++i)
            if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) {
                back += raw[i] == '\r' ? '\n' : raw[i] == 0xFF ? '\0' : char(raw[i]);
                i += raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == ' ';
            }
        Require(Text(v->data, false, "\n") == back, "the text comes back");
        std::free(image);
        // The data twice in a group, a variable of another folder between: read back as each
        // folder's entry, then its variables, each with its name, type, attribute and data.
        Variable group[3] = {{"w", "x", kTextType, kArchived, data}, {"main", "", 4, 0, {}}, {"w", "y", kTextType, 0, data}}, read[5];
        std::strncpy(group[1].name, name.c_str(), 8);
        image = Variables2GroupBuffer(group, image_size, failure, model);
        Require(image && VarFileEntryCount({image, image_size}) == 5 && !ParseVarFile({image, image_size}, read), "the group reads back");
        for (int i = 0, order[] = {-1, 0, 2, -1, 1}; i < 5; ++i) {  // folder w, x, y, folder main, the name
            const Variable &r = read[i], &w = group[order[i] < 0 ? order[i + 1] : order[i]];
            Require(!std::strcmp(r.name, order[i] < 0 ? w.folder : w.name) && (order[i] < 0 ? r.type == 0x1F : !std::strcmp(r.folder, w.folder) && r.type == w.type && r.attribute == w.attribute && std::ranges::equal(r.data, w.data)),
                    "each folder's entry comes before its variables, each as written");
        }
        std::free(image);
    } else if (mode == 1) {
        const char* const line_break = flags % 3 == 0 ? "\n" : flags % 3 == 1 ? "\r\n" : "\r";
        const bool replace = flags & 8;
        std::vector<Char> chars;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            const unsigned char b = raw[i];
            const char* const sup = b == 0xB9 ? "1" : b == 0xB2 ? "2" : b == 0xB3 ? "3" : b == 0xB8 ? "+" : b == 0xB4 ? "-1" : "";
            if (b == 0x0D || b == 0x0A)  // 0x0A's UTF-8 form is a line break too
                chars.push_back({line_break, "\r ", "", 'b'});
            else if (b == 0x00 && replace && i + 1 < raw.size()) {
                const auto& c = kSpecials[raw[++i] % std::size(kSpecials)];
                if (c[1] == "-"s && c[2] == "^"s && i + 1 < raw.size() && raw[i + 1] == 0xB9)  // ⁻ and ¹, the inverse
                    chars.push_back({c[0] + std::string(CalcByte2Utf8(raw[++i])), "\xB4", "-1", 'k'});
                else
                    chars.push_back({c[0], c[1], c[1], c[2][0]});
            } else if (b != 0x00)
                chars.push_back({b == 0x0C ? "\f" : std::string(CalcByte2Utf8(b)), std::string(1, char(b)), sup, *sup ? 'k' : 'c'});
        }
        std::string text;
        for (const Char& c : chars)
            text += c.utf8;
        std::string note;
        const Bytes expected = ReplacedModel(chars, note);
        const bool too_big = expected.size() - 5 > 65507;  // stored bytes, each line break counting two
        for (const Utf8Kernel kernel : Utf8Kernels())
            Require(Encode(text, true, kernel, replace) == (too_big ? kTooBig : replace ? expected + Bytes(note.begin(), note.end()) : expected),
                    "the UTF-8 text gives the bytes, or is too big");
        Require(replace || too_big || Text(expected, true, line_break) == text, "the bytes give the UTF-8 text back");
        CheckParts(text, true, replace);
    } else if (mode == 2) {
        char var_name[9], what[kUtf8WhatSize];
        std::size_t used = 0;
        const std::string_view prefix(as_text.data(), std::min<std::size_t>(as_text.size(), 24));
        Require(!Utf8Name2VarName(prefix, var_name, used, what) ||
                    (used <= prefix.size() && (std::strlen(var_name) == 8 || used == prefix.size())),
                "a name ends after 8 characters or where the name does");
        const Bytes data = Encode(as_text, true, Utf8Kernel::one_at_a_time);
        const Bytes replaced = Encode(as_text, true, Utf8Kernel::one_at_a_time, true);
        for (const Utf8Kernel kernel : Utf8Kernels())
            Require(data == Encode(as_text, true, kernel) && replaced == Encode(as_text, true, kernel, true),
                    "every UTF-8 kernel gives the same data, or refusal, and replaces the same");
        const std::string why(replaced.begin() + 1, replaced.end());
        Require(replaced[0] != static_cast<unsigned char>(EncodeStatus::refused) || why.find("malformed UTF-8") != std::string::npos ||
                    why.find("NUL would") != std::string::npos, "with replacements, only malformed UTF-8 or a NUL is refused");
        const std::string none = "0 replaced, 0 kinds:";
        Require(!IsTextData(data) || replaced == data + Bytes(none.begin(), none.end()),
                "a text taken as it is is taken so with replacements, none made");
        CheckParts(as_text, true, true);
        Require(!IsTextData(data) || Encode(Text(data, true, "\n"), true) == data,
                "the stored data decode back to the same characters");
        const bool malformed = replaced[0] == 2 && why.find("malformed") != std::string::npos;
        Require(replaced == kTooBig || (replaced[0] == 2 && !malformed) || (DetectEncoding(raw, false) != Encoding::utf8) == malformed, "found UTF-8 as the encoder finds it");
        // As UTF-16: with no lone unit, its characters back to its bytes, in the order its mark gives.
        char bad[kUtf8WhatSize] = "";
        Bytes u(Utf8Room(raw.size())), back;
        u.resize(Utf8Of(raw, Encoding::utf16, u.data(), bad));
        const bool big = raw.size() >= 2 && raw[0] == 0xFE && raw[1] == 0xFF;
        for (std::size_t i = 0, k = 0; i < u.size() && u[i] != 0xFF; i += k) {
            std::uint32_t cp = 0x110000;  // no character: malformed UTF-8 does not come back
            k = std::max(DecodeUtf8(&u[i], u.data() + u.size(), cp), 1);
            const std::uint32_t units[] = {cp < 0x10000 ? cp : 0xD800 + ((cp - 0x10000) >> 10), 0xDC00 + (cp & 0x3FF)};
            for (std::size_t j = 0; j <= (cp >= 0x10000); ++j)
                back.insert(back.end(), {static_cast<unsigned char>(units[j] >> (big ? 8 : 0)), static_cast<unsigned char>(units[j] >> (big ? 0 : 8))});
        }
        Require(std::find(u.begin(), u.end(), 0xFF) != u.end() || back == raw, "UTF-16 comes back to its bytes");
    } else {
        raw.shrink_to_fit();  // a heap block of exactly the file's size
        std::vector<Variable> entries(VarFileEntryCount(raw));
        if (ParseVarFile(raw, entries))
            return 0;
        for (const Variable& v : entries) {
            Require(v.data.empty() || (v.data.data() >= raw.data() &&
                                       v.data.data() + v.data.size() <= raw.data() + raw.size()),
                    "the data lie in the file");
            if (IsTextVariable(v))  // the sanitizer checks that the text stays in its room
                for (const bool utf8 : {false, true})
                    Text(v.data, utf8, utf8 ? "\n" : "\r\n");
        }
    }
    return 0;
}
