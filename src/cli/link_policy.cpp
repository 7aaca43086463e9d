#include "cli/link_policy.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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
