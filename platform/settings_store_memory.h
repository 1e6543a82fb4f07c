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
    bool DeleteValue(SettingsKey key, const char* name) override;
    void CloseKey(SettingsKey key) override;

    // Every key with its values, as a whole: what a store kept in a file saves and loads.
    using Contents = std::map<std::string, std::map<std::string, uint32_t>>;
    Contents Snapshot() const;
    void Restore(const Contents& contents);  // "Software" exists whatever `contents` holds

    // Text values, beside the 32-bit ones: what the registry would keep as strings. They
    // have their own names and are read and written only through these.
    using TextContents = std::map<std::string, std::map<std::string, std::string>>;
    TextContents TextSnapshot() const;
    void RestoreTexts(const TextContents& texts);
    std::optional<std::string> Text(const std::string& path, const std::string& name) const;
    void SetText(const std::string& path, const std::string& name, const std::string& text);

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
    TextContents m_texts;
    int m_openKeys = 0;
};
