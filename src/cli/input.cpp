#include "cli/input.h"

#include "app/system.h"
#include "cli/platform.h"

std::FILE* OpenInput(const char* path, bool text_mode)
{
    return OpenFile(path, text_mode && !kTextAsOnDisk ? "rt" : "rb");
}

bool ReadUpTo(std::FILE* file, FileBytes& in, std::size_t most)
{
    // The block is of `most` bytes at once when that is at most 1 MiB: only the pages the file
    // fills are touched, and nothing is copied. A larger one grows from 64 KiB by doubling, so
    // that a small file costs little.
    std::size_t room = in.size;
    while (in.size < most && !in.ended && !in.failed) {
        if (in.size == room || !in.bytes) {
            room = most <= (1 << 20) ? most : in.size < 32768 ? 65536 : 2 * in.size;
            room = room < most ? room : most;
            if (!Grow(in.bytes, room))
                return false;
        }
        const std::size_t want = room - in.size;
        const std::size_t got = std::fread(in.bytes.get() + in.size, 1, want, file);
        in.size += got;
        if (got < want) {
            in.failed = std::ferror(file);
            in.ended = !in.failed;
        }
    }
    return true;
}
