#include "cli/safe_output.h"

#include "cli/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include <string>
#else
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Every permission bit, and those of a new file before the umask, where the C library has no
// names for them.
#ifndef ALLPERMS
#define ALLPERMS 07777
#endif
#ifndef DEFFILEMODE
#define DEFFILEMODE 0666
#endif
#endif

namespace {

// How an output is put in place once every one is ready.
enum class Way { temporary, in_place, stream };

} // namespace

#ifdef _WIN32

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

struct Plan {
    Way way;
    std::wstring target, temp;
    HANDLE stream;
    bool exists;
};

// The temporary files of this run, removed if it is interrupted.
std::wstring* g_temps;
volatile LONG g_temp_count;

BOOL WINAPI RemoveTemporaries(DWORD)
{
    for (LONG i = 0; i < g_temp_count; ++i)
        DeleteFileW(g_temps[i].c_str());
    return FALSE;
}

// Room for the plans of `n` outputs, with their temporary files watched until the run ends.
Plan* NewPlans(std::size_t n)
{
    g_temps = new std::wstring[n];
    SetConsoleCtrlHandler(RemoveTemporaries, TRUE);
    return new Plan[n];
}

void DeletePlans(Plan* plans)
{
    g_temp_count = 0;
    delete[] g_temps;
    delete[] plans;
}

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

// Settles how `out` is written and, for a file, writes its temporary file.
OutputStatus Prepare(const Output& out, Plan& plan)
{
    if (!std::strcmp(out.path, "-")) {
        plan.way = Way::stream;
        plan.stream = GetStdHandle(STD_OUTPUT_HANDLE);
        return plan.stream && plan.stream != INVALID_HANDLE_VALUE ? OutputStatus::written
                                                                  : OutputStatus::not_created;
    }
    plan.target = Utf8ToWide(out.path);
    if (plan.target.empty())
        return OutputStatus::not_created;
    // Open what is there as the old program did, to refuse what it refused.
    HANDLE old = CreateFileW(plan.target.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    plan.exists = old != INVALID_HANDLE_VALUE;
    if (!plan.exists) {
        const DWORD error = GetLastError();
        if (!out.replace && GetFileAttributesW(plan.target.c_str()) != INVALID_FILE_ATTRIBUTES)
            return OutputStatus::exists;
        if (error != ERROR_FILE_NOT_FOUND)
            return OutputStatus::not_created;
    }
    if (plan.exists) {
        const bool device = GetFileType(old) != FILE_TYPE_DISK;
        // A link is followed: the file it names is the one replaced.
        wchar_t final_path[32768];
        const DWORD size = device ? 0 : GetFinalPathNameByHandleW(old, final_path, 32768, 0);
        if (size > 0 && size < 32768)
            plan.target = final_path;
        CloseHandle(old);
        if (!out.replace)
            return OutputStatus::exists;
        if (device) {
            plan.way = Way::in_place;
            return OutputStatus::written;
        }
    }

    // A short name of its own beside the target, whatever the target's name.
    const std::size_t slash = plan.target.find_last_of(L"\\/");
    const std::wstring dir = slash == std::wstring::npos ? L"" : plan.target.substr(0, slash + 1);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned n = 0; file == INVALID_HANDLE_VALUE && n < 100; ++n) {
        plan.temp = dir + L".sorvel-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(n) + L".tmp";
        file = CreateFileW(plan.temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            if (GetLastError() != ERROR_ACCESS_DENIED)
                return OutputStatus::not_written;
            plan.way = Way::in_place;
            return OutputStatus::written;
        }
    }
    if (file == INVALID_HANDLE_VALUE)
        return OutputStatus::not_written;
    plan.way = Way::temporary;
    g_temps[g_temp_count] = plan.temp;
    InterlockedIncrement(&g_temp_count);
    // An old file is about to be replaced: its new content must be on the disk first.
    bool ok = WriteAll(file, out.bytes) && (!plan.exists || FlushFileBuffers(file));
    ok = CloseHandle(file) && ok;
    if (!ok)
        DeleteFileW(plan.temp.c_str());
    return ok ? OutputStatus::written : OutputStatus::not_written;
}

// Puts the prepared `out` in place.
OutputStatus Commit(const Output& out, const Plan& plan)
{
    switch (plan.way) {
    case Way::stream: return WriteAll(plan.stream, out.bytes) ? OutputStatus::written : OutputStatus::not_written;
    case Way::in_place: return WriteInPlace(out.path, out.bytes);
    case Way::temporary: break;
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (out.replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(plan.temp.c_str(), plan.target.c_str(), flags))
        return OutputStatus::written;
    return GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS
               ? OutputStatus::exists
               : OutputStatus::not_written;
}

void RemoveTemporary(const Plan& plan)
{
    if (plan.way == Way::temporary)
        DeleteFileW(plan.temp.c_str());
}

} // namespace

#else

namespace {

struct Plan {
    Way way;
    char target[PATH_MAX];
    char temp[PATH_MAX];
    int stream;  // the stream, or the file written in place
    bool exists;
};

// The temporary files of this run, removed if it is interrupted.
char** g_temps;
volatile sig_atomic_t g_temp_count;

void RemoveTemporaries(int signal)
{
    for (sig_atomic_t i = 0; i < g_temp_count; ++i)
        unlink(g_temps[i]);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

// Room for the plans of `n` outputs, with their temporary files watched until the run ends;
// null if no memory is left.
Plan* NewPlans(std::size_t n)
{
    g_temps = static_cast<char**>(std::malloc(n * sizeof(char*)));
    auto* plans = static_cast<Plan*>(std::malloc(n * sizeof(Plan)));
    if (!g_temps || !plans) {
        std::free(plans);
        return nullptr;
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, RemoveTemporaries);
    return plans;
}

void DeletePlans(Plan* plans)
{
    g_temp_count = 0;
    std::free(g_temps);
    std::free(plans);
}

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

// The open file descriptor that `path` names through the process's own descriptor directory
// (/proc/self/fd/1, /dev/fd/1), or -1.
int DescriptorNamed(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    if (!slash || !slash[1] || std::strspn(slash + 1, "0123456789") != std::strlen(slash + 1))
        return -1;
    char dir[PATH_MAX];
    std::snprintf(dir, sizeof dir, "%.*s", static_cast<int>(slash - path + 1), path);
    struct stat here, fds;
    if (stat(dir, &here) != 0 || stat("/proc/self/fd", &fds) != 0 || here.st_dev != fds.st_dev ||
        here.st_ino != fds.st_ino)
        return -1;
    const long fd = std::strtol(slash + 1, nullptr, 10);
    return fd <= INT_MAX ? static_cast<int>(fd) : -1;
}

// True when the link at `path` may be followed: not in a world-writable sticky directory, or
// owned by the user or by that directory's owner, as the kernel's guard for such directories has it.
bool MayFollow(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    char dir[PATH_MAX];
    std::snprintf(dir, sizeof dir, "%.*s", slash ? static_cast<int>(slash - path + 1) : 1, slash ? path : ".");
    struct stat link, parent;
    if (lstat(path, &link) != 0 || stat(dir, &parent) != 0)
        return false;
    const bool guarded = (parent.st_mode & S_ISVTX) && (parent.st_mode & S_IWOTH);
    return !guarded || link.st_uid == geteuid() || link.st_uid == parent.st_uid;
}

// Puts in `target` the path that the chain of links at `path` ends in (`path` itself when it
// names no link), and in `stream` the descriptor it names on the way, or -1; false when the
// chain is too long or leads where the user may not follow it.
bool FollowLinks(const char* path, char (&target)[PATH_MAX], int& stream)
{
    if (std::snprintf(target, PATH_MAX, "%s", path) >= PATH_MAX)
        return false;
    for (int hops = 0; hops < 40; ++hops) {
        if ((stream = DescriptorNamed(target)) >= 0)
            return true;
        char link[PATH_MAX];
        const ssize_t size = readlink(target, link, sizeof link - 1);
        if (size < 0)
            return true;
        if (!MayFollow(target))
            return false;
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

// Moves `temp` to `target`; when `replace` is false, only where no file of that name is.
bool Rename(const char* temp, const char* target, bool replace)
{
    if (replace)
        return rename(temp, target) == 0;
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, temp, AT_FDCWD, target, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    // A file system that cannot refuse to replace in a rename can refuse a new link.
    if (link(temp, target) != 0)
        return false;
    unlink(temp);
    return true;
}

// Opens the target of `plan` to be written in place, emptied only once every output is ready.
OutputStatus OpenInPlace(Plan& plan)
{
    plan.way = Way::in_place;
    plan.stream = open(plan.target, O_WRONLY | O_CREAT | O_NOCTTY, DEFFILEMODE);
    return plan.stream >= 0 ? OutputStatus::written : OutputStatus::not_created;
}

OutputStatus Prepare(const Output& out, Plan& plan)
{
    plan.stream = -1;
    if (!std::strcmp(out.path, "-"))
        plan.stream = STDOUT_FILENO;
    else if (!FollowLinks(out.path, plan.target, plan.stream))
        return OutputStatus::not_created;
    if (plan.stream >= 0) {
        plan.way = Way::stream;
        const int mode = fcntl(plan.stream, F_GETFL);
        return mode >= 0 && (mode & O_ACCMODE) != O_RDONLY ? OutputStatus::written
                                                           : OutputStatus::not_created;
    }
    struct stat old;
    plan.exists = stat(plan.target, &old) == 0;
    struct stat named;
    if (!out.replace && (plan.exists || lstat(out.path, &named) == 0))
        return OutputStatus::exists;
    if (plan.exists && !S_ISREG(old.st_mode))
        return OpenInPlace(plan);
    if (plan.exists) {
        // Replace only a file that the user may open for writing.
        const int fd = open(plan.target, O_WRONLY | O_NOCTTY);
        if (fd < 0)
            return OutputStatus::not_created;
        close(fd);
    }

    // A short name of its own beside the target, whatever the target's name.
    const char* slash = std::strrchr(plan.target, '/');
    const int dir = slash ? static_cast<int>(slash - plan.target + 1) : 0;
    if (std::snprintf(plan.temp, sizeof plan.temp, "%.*s.sorvel-XXXXXX", dir, plan.target) >= PATH_MAX)
        return OutputStatus::not_written;
    sigset_t all, before;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &before);
    const int fd = mkstemp(plan.temp);
    const int error = errno;
    if (fd >= 0) {
        g_temps[g_temp_count] = plan.temp;
        g_temp_count = g_temp_count + 1;
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    if (fd < 0) {
        // Where the old program's open was the only way: the directory takes no new file.
        if (error == EACCES || error == EPERM || error == EROFS)
            return OpenInPlace(plan);
        return error == ENOENT || error == ENOTDIR ? OutputStatus::not_created : OutputStatus::not_written;
    }
    plan.way = Way::temporary;
    // A new file gets 0666 less the umask, as fopen gives it; an old one keeps its mode, but
    // for the set-user and set-group bits, and its group and owner where the user may set them.
    mode_t mode = old.st_mode & (ALLPERMS & ~(S_ISUID | S_ISGID));
    if (!plan.exists) {
        const mode_t mask = umask(0);
        umask(mask);
        mode = DEFFILEMODE & ~mask;
    } else if (fchown(fd, old.st_uid, old.st_gid) != 0) {
        [[maybe_unused]] const int group_kept = fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
    // An old file is about to be replaced: its new content must be on the disk first.
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, out.bytes) && (!plan.exists || fsync(fd) == 0);
    ok = close(fd) == 0 && ok;
    if (!ok)
        unlink(plan.temp);
    return ok ? OutputStatus::written : OutputStatus::not_written;
}

OutputStatus Commit(const Output& out, const Plan& plan)
{
    if (plan.way == Way::stream)
        return WriteAll(plan.stream, out.bytes) ? OutputStatus::written : OutputStatus::not_written;
    if (plan.way == Way::in_place) {
        struct stat st;
        bool ok = fstat(plan.stream, &st) == 0 && (!S_ISREG(st.st_mode) || ftruncate(plan.stream, 0) == 0) &&
                  WriteAll(plan.stream, out.bytes);
        ok = close(plan.stream) == 0 && ok;
        return ok ? OutputStatus::written : OutputStatus::not_written;
    }
    if (Rename(plan.temp, plan.target, out.replace))
        return OutputStatus::written;
    return errno == EEXIST ? OutputStatus::exists : OutputStatus::not_written;
}

void RemoveTemporary(const Plan& plan)
{
    if (plan.way == Way::temporary)
        unlink(plan.temp);
    else if (plan.way == Way::in_place)
        close(plan.stream);
}

} // namespace

#endif

OutputStatus Bytes2Files(std::span<const Output> outputs, std::size_t& failed)
{
    const std::size_t n = outputs.size();
    Plan* const plans = NewPlans(n);
    failed = 0;
    if (!plans)
        return OutputStatus::not_written;
    OutputStatus status = OutputStatus::written;
    std::size_t ready = 0;
    for (; ready < n && status == OutputStatus::written; ++ready)
        status = Prepare(outputs[ready], plans[ready]);
    if (status != OutputStatus::written) {
        failed = ready - 1;
        ready = failed;  // the one that failed has left nothing behind
    }
    // Past the first that fails, each is given up: its temporary file removed, its file closed.
    for (std::size_t done = 0; done < ready; ++done) {
        if (status == OutputStatus::written) {
            if ((status = Commit(outputs[done], plans[done])) == OutputStatus::written)
                continue;
            failed = done;
            if (plans[done].way != Way::temporary)
                continue;
        }
        RemoveTemporary(plans[done]);
    }
    DeletePlans(plans);
    return status;
}
