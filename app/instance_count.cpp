#include "app/instance_count.h"

#include <algorithm>
#include <cstring>

#include "platform/debug_print.h"
#include "platform/process_list.h"

namespace {
constexpr size_t kMaxProcesses = 1024;
constexpr size_t kNameBufferChars = 260;  // MAX_PATH
constexpr char kUnknownName[] = "<unknown>";
}  // namespace

int CountInstances(const char* fileName) {
    uint32_t ids[kMaxProcesses];
    size_t count = 0;
    if (!g_pProcessList->ListIds(ids, kMaxProcesses, &count)) {
        DebugPrint("CountInstances: EnumProcesses failed!\n");
        return 1;
    }
    int instances = 0;
    for (size_t i = 0; i < std::min(count, kMaxProcesses); ++i) {
        if (ids[i] == 0) {
            continue;
        }
        char name[kNameBufferChars];
        if (!g_pProcessList->ModuleBaseName(ids[i], name, sizeof name)) {
            std::strcpy(name, kUnknownName);
        }
        if (std::strcmp(name, fileName) == 0) {
            ++instances;
        }
    }
    return instances;
}
