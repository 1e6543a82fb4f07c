#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/process_list.h"

// Processes are the numeric entries of /proc; a process's name is the file name of its
// executable, which only processes we may inspect reveal.
namespace {
class ProcFsProcessList final : public ProcessList {
  public:
    bool ListIds(uint32_t* ids, size_t capacity, size_t* count) override {
        DIR* proc = opendir("/proc");
        if (proc == nullptr) {
            return false;
        }
        size_t listed = 0;
        while (dirent* entry = readdir(proc)) {
            char* end = nullptr;
            unsigned long id = std::strtoul(entry->d_name, &end, 10);
            if (listed < capacity && *end == '\0' && end != entry->d_name) {
                ids[listed++] = static_cast<uint32_t>(id);
            }
        }
        closedir(proc);
        *count = listed;
        return true;
    }

    bool ModuleBaseName(uint32_t id, char* name, size_t size) override {
        std::string link = "/proc/" + std::to_string(id) + "/exe";
        char target[4096];
        ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        if (length <= 0 || size == 0) {
            return false;
        }
        target[length] = '\0';
        const char* slash = std::strrchr(target, '/');
        const char* base = slash != nullptr ? slash + 1 : target;
        std::strncpy(name, base, size - 1);
        name[size - 1] = '\0';
        return true;
    }
};

ProcFsProcessList g_ProcFsProcessList;
}  // namespace

ProcessList* g_pProcessList = &g_ProcFsProcessList;
