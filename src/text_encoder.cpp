#include "text_encoder.h"

#include "charset.h"
#include "platform.h"

#include <algorithm>
#include <cstring>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

constexpr unsigned char kLF = 0x0A;
constexpr unsigned char kCR = 0x0D;
constexpr unsigned char kCtrlZ = 0x1A;

// Every read, the one that finds the end included, fails once the text has
// filled the data past this position.
constexpr std::uint32_t kLastFreePosition = 65530;

struct TextSource {
    std::FILE* file;
    bool ended = false;   // the end of the text was delivered
    bool failed = false;  // a read failed before the end
    bool cr_held = false; // a CR whose successor is not read yet
};

// The index of the first `byte` in text[from, end), or end if there is none.
std::size_t Find(const unsigned char* text, unsigned char byte, std::size_t from, std::size_t end)
{
    const void* at = std::memchr(text + from, byte, end - from);
    return at ? static_cast<const unsigned char*>(at) - text : end;
}

// Fills the start of `out` with the next bytes of the text as the Windows
// runtime's text mode delivers them and returns how many; sets `ended` or
// `failed` once no more will come.
std::size_t ReadText(TextSource& src, std::span<unsigned char> out)
{
#ifdef _WIN32
    // The stream is in the runtime's own text mode, which does the work.
    const std::size_t got = std::fread(out.data(), 1, out.size(), src.file);
    if (got < out.size()) {
        src.failed = std::ferror(src.file) != 0;
        src.ended = !src.failed;
    }
    return got;
#else
    // A CR LF pair becomes LF, a lone CR stays, and a Ctrl-Z ends the text.
    unsigned char* const text = out.data();
    std::size_t end = 0;
    if (src.cr_held) {
        text[end++] = kCR;
        src.cr_held = false;
    }
    const std::size_t asked = out.size() - end;
    const std::size_t got = std::fread(text + end, 1, asked, src.file);
    bool more = got == asked;
    if (!more) {
        src.failed = std::ferror(src.file) != 0;
        src.ended = !src.failed;
    }
    if (const std::size_t z = Find(text, kCtrlZ, end, end + got); z < end + got) {
        end = z;
        src.ended = true;
        src.failed = false;
        more = false;
    } else {
        end += got;
    }
    // Drop the CR of each CR LF pair by moving the runs between them down.
    std::size_t kept = 0, run = 0;
    for (std::size_t cr = Find(text, kCR, 0, end); cr < end; cr = Find(text, kCR, cr + 1, end)) {
        if (cr + 1 == end || text[cr + 1] != kLF)
            continue;
        std::memmove(text + kept, text + run, cr - run);
        kept += cr - run;
        run = cr + 1;
    }
    std::memmove(text + kept, text + run, end - run);
    kept += end - run;
    if (more && kept > 0 && text[kept - 1] == kCR) {
        --kept;
        src.cr_held = true;
    }
    return kept;
#endif
}

// Stores `text` in the data from position p on, each LF as 0x0D 0x20 and each
// 0xFF as 0x00, and advances p; false, storing nothing more, as soon as a byte
// is met with the data filled past kLastFreePosition.
bool StoreText(std::span<const unsigned char> text, std::span<unsigned char, kDataBufferSize> data,
               std::uint32_t& p)
{
    // Ordinary bytes go in runs; each LF and 0xFF is rewritten on its own.
    const std::size_t end = text.size();
    std::size_t next_lf = Find(text.data(), kLF, 0, end);
    std::size_t next_ff = Find(text.data(), 0xFF, 0, end);
    for (std::size_t i = 0; i < end;) {
        if (next_lf < i)
            next_lf = Find(text.data(), kLF, i, end);
        if (next_ff < i)
            next_ff = Find(text.data(), 0xFF, i, end);
        if (const std::size_t run = std::min(next_lf, next_ff) - i; run > 0) {
            if (p + run - 1 > kLastFreePosition) // the run's last byte goes to p + run - 1
                return false;
            std::memcpy(&data[p], &text[i], run);
            p += run;
            i += run;
            continue;
        }
        if (p > kLastFreePosition)
            return false;
        if (text[i++] == kLF) {
            data[p++] = kCR;
            data[p++] = 0x20; // the space that opens the next line
        } else {
            data[p++] = 0x00; // for 0xFF
        }
    }
    return true;
}

} // namespace

std::FILE* OpenTextFile(const char* path)
{
#ifdef _WIN32
    return OpenFile(path, "rt");
#else
    std::FILE* file = OpenFile(path, "rb");
    struct stat st;
    if (file && (fstat(fileno(file), &st) != 0 || S_ISDIR(st.st_mode))) {
        std::fclose(file);
        return nullptr;
    }
    return file;
#endif
}

EncodeResult TextFile2DataBuffer(std::FILE* in, std::span<unsigned char, kDataBufferSize> data)
{
    data[0] = 0x00;
    data[1] = 0x01;
    data[2] = 0x20; // the space that opens the first line
    std::uint32_t p = 3;

    TextSource src{in};
    std::array<unsigned char, 16384> chunk;
    while (!src.ended && !src.failed) {
        const std::size_t got = ReadText(src, chunk);
        if (!StoreText(std::span(chunk).first(got), data, p))
            return {EncodeStatus::too_big, 0};
    }
    if (src.failed)
        return {EncodeStatus::read_failed, 0};
    if (p > kLastFreePosition)
        return {EncodeStatus::too_big, 0};
    data[p++] = 0x00; // end of the text
    data[p++] = 0xE0; // closes a text variable's data
    return {EncodeStatus::ok, p};
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
