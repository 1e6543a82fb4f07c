#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "platform/settings_store_memory.h"

// The per-user settings kept in a file where there is no registry. The keys and values live in
// memory while the program runs; they are read from the file once, and the file is written
// again, whole and atomically, whenever a key that was written to is closed. The text is one
// fact a line:
//
//   [Software\K7Q0KVUSB]
//   DispMode=1
//   ZoomMode=0
//
// A text value is written in double quotes (Name="text"). Blank lines and lines that begin
// with '#' are skipped, and so is every line that does not parse, so a damaged file loses
// only what cannot be read.
class FileSettingsStore : public SettingsStore {
  public:
    explicit FileSettingsStore(std::string path) : m_path(std::move(path)) {}

    // Reads the file; false, with the store left as a first run's, when it is missing or
    // unreadable.
    bool Load();

    bool OpenUserKey(const char* path, KeyAccess access, SettingsKey* key) override;
    bool CreateSubKey(SettingsKey parent, const char* name, SettingsKey* key) override;
    bool ReadDword(SettingsKey key, const char* name, uint32_t* value) override;
    bool WriteDword(SettingsKey key, const char* name, uint32_t value) override;
    bool DeleteValue(SettingsKey key, const char* name) override;
    void CloseKey(SettingsKey key) override;

    // Keeps a text value and saves the file at once. False, with nothing kept, for a text
    // that a line of the file cannot hold (a double quote, a control character).
    bool WriteText(const std::string& path, const std::string& name, const std::string& text);

    // The values in memory, for reading and for seeding before the program reads them.
    MemorySettingsStore& Memory() { return m_memory; }
    const std::string& Path() const { return m_path; }

  private:
    void Save();  // traced when it fails

    const std::string m_path;
    MemorySettingsStore m_memory;
    std::mutex m_saveLock;  // guards m_changed and orders the writes of the file
    bool m_changed = false;
};

// The settings in the file at `path`, loaded, as the process's settings (g_pSettingsStore)
// from here on. Never destroyed: a shutdown may run on the sender thread while the process
// exits.
FileSettingsStore* UseSettingsFile(const std::string& path);

// $XDG_CONFIG_HOME/vorn_kvusb/settings, or $HOME/.config/vorn_kvusb/settings when the first is
// unset or not absolute; "" when neither variable helps.
std::string DefaultSettingsFilePath();

MemorySettingsStore::Contents ParseSettingsText(std::string_view text);
MemorySettingsStore::TextContents ParseSettingsTexts(std::string_view text);
std::string FormatSettingsText(const MemorySettingsStore::Contents& contents,
                               const MemorySettingsStore::TextContents& texts = {});
