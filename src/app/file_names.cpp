#include "app/file_names.h"

#include "app/system.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>

std::wstring Wide(const char* text, unsigned code_page, unsigned long flags)
{
    const int size = MultiByteToWideChar(code_page, flags, text, -1, nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring wide(size, L'\0');
    MultiByteToWideChar(code_page, flags, text, -1, wide.data(), size);
    wide.resize(size - 1);
    return wide;
}

bool IsDeviceName(const char* path)
{
    const char* file_name = path + std::strlen(path);
    while (file_name > path && !std::strchr("/\\:", file_name[-1]))
        --file_name;
    const std::size_t base = std::strcspn(file_name, ". ");
    const char* const rest = file_name + base;
    if (*rest == ' ' && rest[std::strspn(rest, " ")] != '\0' && rest[std::strspn(rest, " ")] != '.')
        return false;
    const auto is = [&](const char* device) { return base == 3 && !_strnicmp(file_name, device, 3); };
    const bool numbered = base == 4 && file_name[3] >= '1' && file_name[3] <= '9';
    return is("con") || is("prn") || is("aux") || is("nul") ||
           (numbered && (!_strnicmp(file_name, "com", 3) || !_strnicmp(file_name, "lpt", 3)));
}

int CompareFileNames(const char* a, const char* b)
{
    const std::wstring wa = Wide(a, CP_UTF8), wb = Wide(b, CP_UTF8);
    return CompareStringOrdinal(wa.c_str(), -1, wb.c_str(), -1, TRUE) - CSTR_EQUAL;
}

#else

bool IsDeviceName(const char*)
{
    return false;
}

int CompareFileNames(const char* a, const char* b)
{
    return std::strcmp(a, b);
}

#endif

bool IsSafeFileName(const char* name, const char* file_name)
{
    if (!*name || !std::strcmp(name, ".") || !std::strcmp(name, "..") || IsDeviceName(file_name))
        return false;
    for (; *name; ++name) {
        const auto c = static_cast<unsigned char>(*name);
        if (c < 0x20 || c == 0x7F || std::strchr(kUnsafeInNames, c))
            return false;
    }
    return true;
}
