#include "mirror/instance_lock_linux.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "mirror/runtime_directory_linux.h"
#include "platform/debug_print.h"

bool TakeInstanceLock() {
    std::string directory = OwnMirrorRuntimeDirectory();
    if (directory.empty()) {
        DebugPrint("InstanceLock: no private directory in XDG_RUNTIME_DIR, no instance check\n");
        return true;
    }
    std::string path = directory + "/instance";
    // Kept open to the process's end: closing it would let the lock go.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        DebugPrint("InstanceLock: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return true;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return errno != EWOULDBLOCK;
    }
    return true;
}
