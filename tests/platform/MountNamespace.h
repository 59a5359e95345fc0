// Tests that mount file systems do it in a private mount namespace of their own, over a
// fresh tmpfs on /mnt, so that nothing they do is seen outside the test process.
#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

// False (the test should skip) without root or without namespaces.
inline bool enterPrivateMountNamespace()
{
    return geteuid() == 0 && unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && mount("pellis-test-mnt", "/mnt", "tmpfs", 0, "size=4m") == 0;
}
