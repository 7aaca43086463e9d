#include "platform.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

// `text` (a NUL-terminated string in code page `from`) in code page `to`, in a new block.
char* Recode(const char* text, unsigned from, unsigned to)
{
    const int wide = MultiByteToWideChar(from, 0, text, -1, nullptr, 0);
    std::wstring w(wide > 0 ? wide : 1, L'\0');
    MultiByteToWideChar(from, 0, text, -1, w.data(), wide);
    const int size = WideCharToMultiByte(to, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    char* out = static_cast<char*>(std::calloc(size > 0 ? size : 1, 1));
    if (out && size > 0)
        WideCharToMultiByte(to, 0, w.c_str(), -1, out, size, nullptr, nullptr);
    return out;
}

} // namespace

std::wstring Utf8ToWide(const char* utf8)
{
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring wide(size, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide.data(), size);
    wide.resize(size - 1);
    return wide;
}

std::FILE* OpenFile(const char* path, const char* mode)
{
    const std::wstring wide = Utf8ToWide(path);
    wchar_t wmode[8] = {};
    for (int i = 0; i < 7 && mode[i]; ++i)
        wmode[i] = static_cast<unsigned char>(mode[i]);
    return wide.empty() && *path ? nullptr : _wfopen(wide.c_str(), wmode);
}

char** Utf8Arguments(int argc, wchar_t** wargv)
{
    char** argv = static_cast<char**>(std::calloc(argc + 1, sizeof *argv));
    for (int i = 0; argv && i < argc; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
        argv[i] = static_cast<char*>(std::calloc(size > 0 ? size : 1, 1));
        if (argv[i] && size > 0)
            WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, argv[i], size, nullptr, nullptr);
    }
    return argv;
}

const char* LegacyForm(const char* arg)
{
    return Recode(arg, CP_UTF8, CP_ACP);
}

const char* LegacyPath(const char* legacy)
{
    return Recode(legacy, CP_ACP, CP_UTF8);
}

#else

#include <sys/stat.h>

std::FILE* OpenFile(const char* path, const char* mode)
{
    // A directory opens for reading here, unlike on Windows: refuse it as Windows does.
    std::FILE* file = std::fopen(path, mode);
    struct stat st;
    if (file && *mode == 'r' && (fstat(fileno(file), &st) != 0 || S_ISDIR(st.st_mode))) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

const char* LegacyForm(const char* arg)
{
    return arg;
}

const char* LegacyPath(const char* legacy)
{
    return legacy;
}

#endif
