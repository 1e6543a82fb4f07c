#include <windows.h>
// psapi.h builds on the types windows.h declares.
#include <psapi.h>

#include "platform/process_list.h"

namespace {
class SystemProcessList final : public ProcessList {
  public:
    bool ListIds(uint32_t* ids, size_t capacity, size_t* count) override {
        DWORD bytes = 0;
        static_assert(sizeof(DWORD) == sizeof(uint32_t));
        if (!EnumProcesses(reinterpret_cast<DWORD*>(ids),
                           static_cast<DWORD>(capacity * sizeof(DWORD)), &bytes)) {
            return false;
        }
        *count = bytes / sizeof(DWORD);
        return true;
    }

    bool ModuleBaseName(uint32_t id, char* name, size_t size) override {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
        if (process == nullptr) {
            return false;
        }
        HMODULE module = nullptr;
        DWORD needed = 0;
        bool named = EnumProcessModules(process, &module, sizeof module, &needed) &&
                     GetModuleBaseNameA(process, module, name, static_cast<DWORD>(size)) != 0;
        CloseHandle(process);
        return named;
    }
};

SystemProcessList g_SystemProcessList;
}  // namespace

ProcessList* g_pProcessList = &g_SystemProcessList;
