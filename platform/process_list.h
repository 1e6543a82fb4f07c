#pragma once

#include <cstddef>
#include <cstdint>

// The running processes, for the single-instance check.
class ProcessList {
  public:
    virtual ~ProcessList() = default;

    // Fills `ids` with up to `capacity` process identifiers (EnumProcesses) and sets *count
    // to how many it wrote. False when the list cannot be obtained.
    virtual bool ListIds(uint32_t* ids, size_t capacity, size_t* count) = 0;
    // The base name of the process's first module, at most size - 1 characters and a
    // terminator. False when the process cannot be opened or its modules listed.
    virtual bool ModuleBaseName(uint32_t id, char* name, size_t size) = 0;
};

// The list in use: the platform's own unless a test installs another.
extern ProcessList* g_pProcessList;
