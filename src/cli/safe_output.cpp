#include "cli/safe_output.h"

#include "cli/platform.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Writes `bytes` to the file at `path`, created or emptied, as the one attempt there is.
OutputStatus WriteInPlace(const char* path, std::span<const unsigned char> bytes)
{
    std::FILE* out = OpenFile(path, "wb");
    if (!out)
        return OutputStatus::not_created;
    // A stream's close may drop the error of its last flush, so flush first.
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    ok = std::fflush(out) == 0 && !std::ferror(out) && ok;
    ok = std::fclose(out) == 0 && ok;
    return ok ? OutputStatus::written : OutputStatus::not_written;
}

#ifdef _WIN32

bool WriteAll(HANDLE file, std::span<const unsigned char> bytes)
{
    while (!bytes.empty()) {
        DWORD done = 0;
        const DWORD ask = bytes.size() > 1u << 30 ? 1u << 30 : static_cast<DWORD>(bytes.size());
        if (!WriteFile(file, bytes.data(), ask, &done, nullptr) || done == 0)
            return false;
        bytes = bytes.subspan(done);
    }
    return true;
}

} // namespace

OutputStatus Bytes2File(const char* path, std::span<const unsigned char> bytes)
{
    std::wstring target = Utf8ToWide(path);
    if (target.empty())
        return OutputStatus::not_created;
    // Open what is there as the old program did, to refuse what it refused.
    HANDLE old = CreateFileW(target.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool exists = old != INVALID_HANDLE_VALUE;
    if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND)
        return OutputStatus::not_created;
    if (exists) {
        const bool device = GetFileType(old) != FILE_TYPE_DISK;
        // A link is followed: the file it names is the one replaced.
        wchar_t final_path[32768];
        const DWORD size = device ? 0 : GetFinalPathNameByHandleW(old, final_path, 32768, 0);
        if (size > 0 && size < 32768)
            target = final_path;
        CloseHandle(old);
        if (device)
            return WriteInPlace(path, bytes);
    }

    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned n = 0; file == INVALID_HANDLE_VALUE && n < 100; ++n) {
        temp = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(n) + L".tmp";
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return WriteInPlace(path, bytes);
    }
    if (file == INVALID_HANDLE_VALUE)
        return WriteInPlace(path, bytes);
    // An old file is about to be replaced: its new content must be on the disk first.
    bool ok = WriteAll(file, bytes) && (!exists || FlushFileBuffers(file));
    ok = CloseHandle(file) && ok;
    ok = ok && MoveFileExW(temp.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        DeleteFileW(temp.c_str());
        return OutputStatus::not_written;
    }
    return OutputStatus::written;
}

#else

bool WriteAll(int fd, std::span<const unsigned char> bytes)
{
    while (!bytes.empty()) {
        const ssize_t done = write(fd, bytes.data(), bytes.size());
        if (done <= 0)
            return false;
        bytes = bytes.subspan(done);
    }
    return true;
}

// Puts in `target` the path that the chain of links at `path` ends in (`path` itself when it
// names no link); false when the chain is too long.
bool FollowLinks(const char* path, char (&target)[PATH_MAX])
{
    if (std::snprintf(target, PATH_MAX, "%s", path) >= PATH_MAX)
        return false;
    for (int hops = 0; hops < 40; ++hops) {
        char link[PATH_MAX];
        const ssize_t size = readlink(target, link, sizeof link - 1);
        if (size < 0)
            return true;
        link[size] = '\0';
        // A relative link is relative to the directory that holds it.
        const char* slash = std::strrchr(target, '/');
        const int dir = link[0] == '/' || !slash ? 0 : static_cast<int>(slash - target + 1);
        char next[PATH_MAX];
        if (std::snprintf(next, sizeof next, "%.*s%s", dir, target, link) >= PATH_MAX)
            return false;
        std::memcpy(target, next, sizeof next);
    }
    return false;
}

} // namespace

OutputStatus Bytes2File(const char* path, std::span<const unsigned char> bytes)
{
    char target[PATH_MAX];
    if (!FollowLinks(path, target))
        return OutputStatus::not_created;
    struct stat old;
    const bool exists = stat(target, &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return WriteInPlace(target, bytes);
    if (exists) {
        // Replace only a file that the user may open for writing.
        const int fd = open(target, O_WRONLY | O_NOCTTY);
        if (fd < 0)
            return OutputStatus::not_created;
        close(fd);
    }

    char temp[PATH_MAX];
    const char* slash = std::strrchr(target, '/');
    const int dir = slash ? static_cast<int>(slash - target + 1) : 0;
    if (std::snprintf(temp, sizeof temp, "%.*s.%s.XXXXXX", dir, target, target + dir) >= PATH_MAX)
        return WriteInPlace(target, bytes);
    const int fd = mkstemp(temp);
    if (fd < 0)
        return WriteInPlace(target, bytes);
    // A new file gets 0666 less the umask, as fopen gives it; an old one keeps its mode and owner.
    mode_t mode = old.st_mode & ALLPERMS;
    if (!exists) {
        const mode_t mask = umask(0);
        umask(mask);
        mode = DEFFILEMODE & ~mask;
    }
    // Keeping the owner takes rights that a user may lack; the file is then the user's.
    [[maybe_unused]] const int owned = exists ? fchown(fd, old.st_uid, old.st_gid) : 0;
    // An old file is about to be replaced: its new content must be on the disk first.
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && (!exists || fsync(fd) == 0);
    ok = close(fd) == 0 && ok;
    if (ok && rename(temp, target) == 0)
        return OutputStatus::written;
    unlink(temp);
    return OutputStatus::not_written;
}

#endif
