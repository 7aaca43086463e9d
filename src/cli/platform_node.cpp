// What the console program for Node.js needs of the system beyond what Emscripten gives it.
#include <emscripten.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The program starts with the umask of the Node.js process, as a Linux program starts with its
// parent's: Emscripten's own starts at 0777, which would leave every new file without a permission.
[[gnu::constructor]] void InheritUmask()
{
    umask(static_cast<mode_t>(EM_ASM_INT(return process.umask())));
}

} // namespace

// link(2) through Node.js, as Emscripten's file system has none: a second name for a file, refused
// with EEXIST where the name is taken. Node.js gives the error's number as Linux numbers it.
extern "C" int link(const char* from, const char* to)
{
    const int linux_errno = EM_ASM_INT({
        try {
            require("fs").linkSync(UTF8ToString($0), UTF8ToString($1));
            return 0;
        } catch (e) {
            return -e.errno || 5;
        }
    }, from, to);
    switch (linux_errno) {
    case 0: return 0;
    case 1: errno = EPERM; break;
    case 2: errno = ENOENT; break;
    case 13: errno = EACCES; break;
    case 17: errno = EEXIST; break;
    default: errno = EIO; break;
    }
    return -1;
}
