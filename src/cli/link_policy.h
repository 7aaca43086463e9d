#pragma once

// Which links a new output may follow on POSIX systems, and the streams a path names.

#include <climits>

// The open file descriptor that `path` names through the process's own descriptor directory
// (/proc/self/fd/1, /dev/fd/1), or -1.
int DescriptorNamed(const char* path);

// True when the link at `path` may be followed: not in a world-writable sticky directory, or
// owned by the user or by that directory's owner, as the kernel's guard for such directories has it.
bool MayFollow(const char* path);

// Puts in `target` the path that the chain of links at `path` ends in (`path` itself when it
// names no link), and in `stream` the descriptor it names on the way, or -1; false when the
// chain is too long or leads where the user may not follow it.
bool FollowLinks(const char* path, char (&target)[PATH_MAX], int& stream);
