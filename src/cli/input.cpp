#include "cli/input.h"

#include "cli/platform.h"

#include <cstdlib>

std::FILE* OpenInput(const char* path, bool text_mode)
{
#ifdef _WIN32
    return OpenFile(path, text_mode ? "rt" : "rb");
#else
    (void)text_mode;
    return OpenFile(path, "rb");
#endif
}

bool ReadUpTo(std::FILE* file, FileBytes& in, std::size_t most)
{
    // The block grows from 64 KiB by doubling, so that a small file costs little.
    std::size_t room = in.size;
    while (in.size < most && !in.ended && !in.failed) {
        if (in.size == room || !in.bytes) {
            room = in.size < 32768 ? 65536 : 2 * in.size;
            room = room < most ? room : most;
            auto* more = static_cast<unsigned char*>(std::realloc(in.bytes, room));
            if (!more)
                return false;
            in.bytes = more;
        }
        const std::size_t want = room - in.size;
        const std::size_t got = std::fread(in.bytes + in.size, 1, want, file);
        in.size += got;
        if (got < want) {
            in.failed = std::ferror(file);
            in.ended = !in.failed;
        }
    }
    return true;
}
