// The console program for Node.js starts with the umask of the Node.js process, as a Linux
// program starts with its parent's: Emscripten's own starts at 0777, which would leave every new
// file without a permission.
#include <emscripten.h>
#include <sys/stat.h>

namespace {

[[gnu::constructor]] void InheritUmask()
{
    umask(static_cast<mode_t>(EM_ASM_INT(return process.umask())));
}

} // namespace
