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
    // One block of the most that may be read: only the pages the file fills are ever touched.
    in.bytes = static_cast<unsigned char*>(std::malloc(most ? most : 1));
    if (in.bytes) {
        in.size = std::fread(in.bytes, 1, most, file);
        in.failed = in.size < most && std::ferror(file);
    }
    std::fclose(file);
    return in;
}
