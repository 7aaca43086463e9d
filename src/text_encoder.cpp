#include "text_encoder.h"

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

// Fills `out` with the next bytes of the text as the Windows runtime's text
// mode delivers them and returns how many; fewer than asked only when it sets
// `ended` or `failed`, and never more than it has read.
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
    std::size_t kept = 0;
    if (src.cr_held) {
        out[kept++] = kCR;
        src.cr_held = false;
    }
    const std::size_t asked = out.size() - kept;
    const std::size_t end = kept + std::fread(out.data() + kept, 1, asked, src.file);
    bool more = end - kept == asked;
    if (!more) {
        src.failed = std::ferror(src.file) != 0;
        src.ended = !src.failed;
    }
    for (std::size_t i = kept; i < end; ++i) {
        const unsigned char b = out[i];
        if (b == kCtrlZ) {
            src.ended = true;
            src.failed = false;
            more = false;
            break;
        }
        if (b == kLF && kept > 0 && out[kept - 1] == kCR)
            out[kept - 1] = kLF;
        else
            out[kept++] = b;
    }
    if (more && kept > 0 && out[kept - 1] == kCR) {
        --kept;
        src.cr_held = true;
    }
    return kept;
#endif
}

} // namespace

std::FILE* OpenTextFile(const char* path)
{
#ifdef _WIN32
    return std::fopen(path, "rt");
#else
    std::FILE* file = std::fopen(path, "rb");
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
        for (std::size_t i = 0; i < got; ++i) {
            if (p > kLastFreePosition)
                return {EncodeStatus::too_big, 0};
            unsigned char b = chunk[i];
            if (b == 0xFF) {
                b = 0x00;
            } else if (b == kLF) {
                data[p++] = kCR;
                b = 0x20; // the space that opens the next line
            }
            data[p++] = b;
        }
    }
    if (src.failed)
        return {EncodeStatus::read_failed, 0};
    if (p > kLastFreePosition)
        return {EncodeStatus::too_big, 0};
    data[p++] = 0x00; // end of the text
    data[p++] = 0xE0; // closes a text variable's data
    return {EncodeStatus::ok, p};
}
