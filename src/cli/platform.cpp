#include "cli/platform.h"

#ifdef _WIN32
#include "app/file_names.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

// `wide` in code page `to`, in a new block that lives until the process ends.
char* FromWide(const wchar_t* wide, unsigned to)
{
    const int size = WideCharToMultiByte(to, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    char* out = static_cast<char*>(std::calloc(size > 0 ? size : 1, 1));
    if (out && size > 0)
        WideCharToMultiByte(to, 0, wide, -1, out, size, nullptr, nullptr);
    return out;
}

} // namespace

std::wstring Utf8ToWide(const char* utf8)
{
    return Wide(utf8, CP_UTF8, MB_ERR_INVALID_CHARS);
}

std::FILE* OpenFile(const char* path, const char* mode)
{
    const std::wstring wide = Utf8ToWide(path);
    wchar_t wmode[8] = {};
    for (int i = 0; i < 7 && mode[i]; ++i)
        wmode[i] = static_cast<unsigned char>(mode[i]);
    return wide.empty() && *path ? nullptr : _wfopen(wide.c_str(), wmode);
}

bool RegularFileId(const char* path, FileId& id)
{
    const std::wstring wide = Utf8ToWide(path);
    if (wide.empty())
        return false;
    // Opened for no access at all: a directory does not open so.
    HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                         !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(file);
    if (regular)
        id = {info.dwVolumeSerialNumber, std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
    return regular;
}

char** Utf8Arguments(int argc, wchar_t** wargv)
{
    char** argv = static_cast<char**>(std::calloc(argc + 1, sizeof *argv));
    for (int i = 0; argv && i < argc; ++i)
        argv[i] = FromWide(wargv[i], CP_UTF8);
    return argv;
}

const char* LegacyForm(const char* arg)
{
    return FromWide(Wide(arg, CP_UTF8, 0).c_str(), CP_ACP);
}

const char* LegacyPath(const char* legacy)
{
    return FromWide(Wide(legacy, CP_ACP, 0).c_str(), CP_UTF8);
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

bool RegularFileId(const char* path, FileId& id)
{
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
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
