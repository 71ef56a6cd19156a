#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

// Where the lock lives: the runtime folder a login or a user service has, else /tmp by user id,
// so root's and a user's listeners never share one.
static std::string lockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        return std::string(runtime) + "/lumolisten.lock";
    return "/tmp/lumolisten-" + std::to_string(getuid()) + ".lock";
}

bool takeInstanceLock() {
    int fd = open(lockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true; // a folder we cannot write: better two listeners than none
    // Kept open, and so locked, until the process ends however it ends.
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
}
