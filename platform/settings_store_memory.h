#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/settings_store.h"

// A settings store held in memory, shaped like a fresh user's registry: only the key
// "Software" exists at first. The platform store outside Windows, and the store of tests,
// which also read and seed it directly.
class MemorySettingsStore : public SettingsStore {
  public:
    MemorySettingsStore();

    bool OpenUserKey(const char* path, KeyAccess access, SettingsKey* key) override;
    bool CreateSubKey(SettingsKey parent, const char* name, SettingsKey* key) override;
    bool ReadDword(SettingsKey key, const char* name, uint32_t* value) override;
    bool WriteDword(SettingsKey key, const char* name, uint32_t value) override;
    void CloseKey(SettingsKey key) override;

    // Every key with its values, as a whole: what a store kept in a file saves and loads.
    using Contents = std::map<std::string, std::map<std::string, uint32_t>>;
    Contents Snapshot() const;
    void Restore(const Contents& contents);  // "Software" exists whatever `contents` holds

    bool HasKey(const std::string& path) const;
    std::optional<uint32_t> Value(const std::string& path, const std::string& name) const;
    void SetValue(const std::string& path, const std::string& name, uint32_t value);
    int OpenKeyCount() const;  // keys opened or created and not yet closed

  private:
    struct OpenKey {
        std::string path;
        KeyAccess access;
    };

    mutable std::mutex m_lock;
    Contents m_keys;
    int m_openKeys = 0;
};
