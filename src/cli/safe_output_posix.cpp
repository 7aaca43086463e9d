#include "cli/safe_output_system.h"

#include "cli/link_policy.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

struct Plan {
    Way way;
    char* target;  // the file the output's path leads to, of its own length
    char* temp;    // the new file beside it until it takes the target's name
    char* backup;  // the old file's hidden name while it is kept aside
    int fd;        // the stream, device or file in place, or -1
    bool exists;
    bool made;     // the temporary file was created
    bool swapped;  // the new file has taken the target's name
};

namespace {

// The temporary files of this run, removed if it is interrupted.
char** g_temps;
volatile sig_atomic_t g_temp_count;
sigset_t g_before;  // the signals held before HoldSignals

void RemoveTemporaries(int signal)
{
    for (sig_atomic_t i = 0; i < g_temp_count; ++i)
        unlink(g_temps[i]);
    std::signal(signal, SIG_DFL);
    raise(signal);
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

// `a` then `b` in a new block, or null if no memory is left.
char* Joined(const char* a, int a_length, const char* b)
{
    const std::size_t b_length = std::strlen(b);
    auto* joined = static_cast<char*>(std::malloc(a_length + b_length + 1));
    if (joined) {
        std::memcpy(joined, a, a_length);
        std::memcpy(joined + a_length, b, b_length + 1);
    }
    return joined;
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
    if (unlink(temp) == 0)
        return true;
    const int error = errno;
    unlink(target);
    errno = error;
    return false;
}

OutputStatus OpenDirect(Plan& plan, Way way)
{
    plan.way = way;
    plan.fd = open(plan.target, O_WRONLY | O_CREAT | O_NOCTTY, DEFFILEMODE);
    return plan.fd >= 0 ? OutputStatus::written : OutputStatus::not_created;
}

} // namespace

Plan* NewPlans(std::size_t n)
{
    g_temps = static_cast<char**>(std::malloc(n * sizeof(char*)));
    auto* plans = static_cast<Plan*>(std::calloc(n, sizeof(Plan)));
    if (!g_temps || !plans) {
        std::free(g_temps);
        std::free(plans);
        return nullptr;
    }
    for (std::size_t i = 0; i < n; ++i)
        plans[i].fd = -1;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, RemoveTemporaries);
    return plans;
}

void DeletePlans(Plan* plans, std::size_t n)
{
    g_temp_count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::free(plans[i].target);
        std::free(plans[i].temp);
        std::free(plans[i].backup);
    }
    std::free(g_temps);
    std::free(plans);
}

Plan& PlanAt(Plan* plans, std::size_t i)
{
    return plans[i];
}

Way WayOf(const Plan& plan)
{
    return plan.way;
}

OutputStatus Prepare(const Output& out, Plan& plan)
{
    char target[PATH_MAX];
    int stream = -1;
    if (!std::strcmp(out.path, "-"))
        stream = STDOUT_FILENO;
    else if (!FollowLinks(out.path, target, stream))
        return OutputStatus::not_created;
    if (stream >= 0) {
        plan.way = Way::stream;
        plan.fd = stream;
        const int mode = fcntl(stream, F_GETFL);
        return mode >= 0 && (mode & O_ACCMODE) != O_RDONLY ? OutputStatus::written
                                                           : OutputStatus::not_created;
    }
    const char* slash = std::strrchr(target, '/');
    const int dir = slash ? static_cast<int>(slash - target + 1) : 0;
    plan.target = Joined("", 0, target);
    // A short name of its own beside the target, whatever the target's name.
    plan.temp = Joined(target, dir, ".sorvel-XXXXXX");
    if (!plan.target || !plan.temp)
        return OutputStatus::not_written;

    struct stat old;
    plan.exists = stat(plan.target, &old) == 0;
    struct stat named;
    if (!out.replace && (plan.exists || lstat(out.path, &named) == 0))
        return OutputStatus::exists;
    if (plan.exists && !S_ISREG(old.st_mode))
        return OpenDirect(plan, Way::device);
    if (plan.exists) {
        // Replace only a file that the user may open for writing.
        const int fd = open(plan.target, O_WRONLY | O_NOCTTY);
        if (fd < 0)
            return OutputStatus::not_created;
        close(fd);
    }

    sigset_t all, before;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &before);
    const int fd = mkstemp(plan.temp);
    const int error = errno;
    if (fd >= 0) {
        plan.made = true;
        g_temps[g_temp_count] = plan.temp;
        g_temp_count = g_temp_count + 1;
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    if (fd < 0) {
        // Where opening the file itself is the only way: the directory takes no new file.
        if (error == EACCES || error == EPERM || error == EROFS)
            return OpenDirect(plan, Way::in_place);
        return error == ENOENT || error == ENOTDIR ? OutputStatus::not_created : OutputStatus::not_written;
    }
    plan.way = Way::temporary;
    // A new file gets 0666 less the umask, as fopen gives it; an old one keeps its mode, but
    // for the set-user and set-group bits, and its group and owner where the user may set them.
    mode_t mode = old.st_mode & (ALLPERMS & ~(S_ISUID | S_ISGID));
    if (!plan.exists) {
        static const mode_t mask = [] {
            const mode_t set = umask(0);
            umask(set);
            return set;
        }();
        mode = DEFFILEMODE & ~mask;
    } else if (fchown(fd, old.st_uid, old.st_gid) != 0) {
        [[maybe_unused]] const int group_kept = fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
    // An old file is about to be replaced: its new content must be on the disk first.
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, out.bytes) && (!plan.exists || fsync(fd) == 0);
    ok = close(fd) == 0 && ok;
    return ok ? OutputStatus::written : OutputStatus::not_written;
}

OutputStatus WriteDirect(const Output& out, Plan& plan)
{
    if (plan.way == Way::stream)
        return WriteAll(plan.fd, out.bytes) ? OutputStatus::written : OutputStatus::not_written;
    struct stat st;
    const bool regular = fstat(plan.fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool emptied = regular && st.st_size > 0 && ftruncate(plan.fd, 0) == 0;
    bool ok = (!regular || emptied || st.st_size == 0) && WriteAll(plan.fd, out.bytes);
    ok = close(plan.fd) == 0 && ok;
    plan.fd = -1;
    return ok ? OutputStatus::written : emptied ? OutputStatus::cut_short : OutputStatus::not_written;
}

OutputStatus Swap(const Output& out, Plan& plan)
{
    bool moved = false;
    if (out.replace && plan.exists) {
        plan.backup = Joined(plan.temp, static_cast<int>(std::strlen(plan.temp)), ".old");
        if (!plan.backup)
            return OutputStatus::not_written;
        // A file system without hard links keeps the old file aside by its rename instead.
        if (link(plan.target, plan.backup) != 0) {
            if (rename(plan.target, plan.backup) != 0) {
                std::free(plan.backup);
                plan.backup = nullptr;
                return OutputStatus::not_written;
            }
            moved = true;
        }
    }
    if (Rename(plan.temp, plan.target, out.replace)) {
        plan.swapped = true;
        return OutputStatus::written;
    }
    const int error = errno;
    if (plan.backup) {
        if (moved)
            rename(plan.backup, plan.target);
        else
            unlink(plan.backup);
        std::free(plan.backup);
        plan.backup = nullptr;
    }
    return error == EEXIST ? OutputStatus::exists : OutputStatus::not_written;
}

void Undo(Plan& plan)
{
    if (plan.backup && rename(plan.backup, plan.target) == 0) {
        std::free(plan.backup);
        plan.backup = nullptr;
    } else if (!plan.backup) {
        unlink(plan.target);
    }
}

void Settle(Plan& plan)
{
    if (plan.backup)
        unlink(plan.backup);
}

void Release(Plan& plan)
{
    if (plan.made && !plan.swapped)
        unlink(plan.temp);
    if (plan.fd >= 0 && plan.way != Way::stream)
        close(plan.fd);
    plan.fd = -1;
}

void HoldSignals()
{
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &g_before);
}

void ReleaseSignals()
{
    sigprocmask(SIG_SETMASK, &g_before, nullptr);
}

void ForgetSystemError()
{
    errno = 0;
}

void DescribeSystemError(char* out, std::size_t size)
{
    std::snprintf(out, size, "%s", errno ? std::strerror(errno) : "");
}
