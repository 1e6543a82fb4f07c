#include "mirror/runtime_directory_linux.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

std::string MirrorRuntimePath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && runtime[0] == '/' ? std::string(runtime) + "/kvusb-mirror" : "";
}

std::string OwnMirrorRuntimeDirectory() {
    std::string path = MirrorRuntimePath();
    if (path.empty() || (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)) {
        return "";
    }
    struct stat status {};
    bool own = lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
               status.st_uid == getuid() && (status.st_mode & 0777) == 0700;
    return own ? path : "";
}
