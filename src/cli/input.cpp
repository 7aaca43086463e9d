#include "cli/input.h"

#include "cli/platform.h"

#include <cstdio>
#include <cstdlib>

FileBytes ReadFile(const char* path, bool text_mode, std::size_t most)
{
    FileBytes in;
#ifdef _WIN32
    std::FILE* file = OpenFile(path, text_mode ? "rt" : "rb");
#else
    (void)text_mode;
    std::FILE* file = OpenFile(path, "rb");
#endif
    if (!file)
        return in;
    in.opened = true;
    // One block of `most` bytes when that is at most 1 MiB (only the pages the file fills are
    // ever touched), else a block grown as it fills.
    std::size_t room = most <= (1 << 20) ? most : 65536;
    for (;;) {
        auto* more = static_cast<unsigned char*>(std::realloc(in.bytes, room ? room : 1));
        if (!more) {
            std::free(in.bytes);
            in.bytes = nullptr;
            break;
        }
        in.bytes = more;
        in.size += std::fread(in.bytes + in.size, 1, room - in.size, file);
        if (in.size < room || room == most) {
            in.failed = in.size < room && std::ferror(file);
            break;
        }
        room = most - room < room ? most : 2 * room;
    }
    std::fclose(file);
    return in;
}
