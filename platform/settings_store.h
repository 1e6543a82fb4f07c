#pragma once

#include <cstdint>

// The per-user settings store: keys under the user's root, 32-bit values in them. On Windows
// the registry under HKEY_CURRENT_USER; elsewhere an in-memory store (settings_store_memory.h).
// Paths use '\' between key names, as the registry does.

using SettingsKey = void*;

enum class KeyAccess { Read, Write };

class SettingsStore {
  public:
    virtual ~SettingsStore() = default;

    // Opens an existing key under the user's root; false when it cannot be opened.
    virtual bool OpenUserKey(const char* path, KeyAccess access, SettingsKey* key) = 0;
    // Opens, or creates non-volatile, the subkey `name` of `parent` for writing.
    virtual bool CreateSubKey(SettingsKey parent, const char* name, SettingsKey* key) = 0;
    // Reads a value into a 4-byte buffer, whatever its type; false when it cannot.
    virtual bool ReadDword(SettingsKey key, const char* name, uint32_t* value) = 0;
    // Writes a 32-bit value (REG_DWORD); false when it cannot.
    virtual bool WriteDword(SettingsKey key, const char* name, uint32_t value) = 0;
    // Removes a value; true when it is gone, also when it was never there.
    virtual bool DeleteValue(SettingsKey key, const char* name) = 0;
    virtual void CloseKey(SettingsKey key) = 0;
};

// The store in use: the platform's own unless a test installs another.
extern SettingsStore* g_pSettingsStore;
