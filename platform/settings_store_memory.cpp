#include "platform/settings_store_memory.h"

namespace {
constexpr char kRootKey[] = "Software";
}

MemorySettingsStore::MemorySettingsStore() {
    m_keys[kRootKey];
}

bool MemorySettingsStore::OpenUserKey(const char* path, KeyAccess access, SettingsKey* key) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_keys.count(path) == 0) {
        return false;
    }
    *key = new OpenKey{path, access};
    ++m_openKeys;
    return true;
}

bool MemorySettingsStore::CreateSubKey(SettingsKey parent, const char* name, SettingsKey* key) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto* opened = static_cast<OpenKey*>(parent);
    if (opened->access != KeyAccess::Write) {
        return false;
    }
    std::string path = opened->path + "\\" + name;
    m_keys[path];
    *key = new OpenKey{path, KeyAccess::Write};
    ++m_openKeys;
    return true;
}

bool MemorySettingsStore::ReadDword(SettingsKey key, const char* name, uint32_t* value) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto* opened = static_cast<OpenKey*>(key);
    const auto& values = m_keys[opened->path];
    auto found = values.find(name);
    if (opened->access != KeyAccess::Read || found == values.end()) {
        return false;
    }
    *value = found->second;
    return true;
}

bool MemorySettingsStore::WriteDword(SettingsKey key, const char* name, uint32_t value) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto* opened = static_cast<OpenKey*>(key);
    if (opened->access != KeyAccess::Write) {
        return false;
    }
    m_keys[opened->path][name] = value;
    return true;
}

bool MemorySettingsStore::DeleteValue(SettingsKey key, const char* name) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto* opened = static_cast<OpenKey*>(key);
    if (opened->access != KeyAccess::Write) {
        return false;
    }
    m_keys[opened->path].erase(name);
    return true;
}

void MemorySettingsStore::CloseKey(SettingsKey key) {
    std::lock_guard<std::mutex> hold(m_lock);
    delete static_cast<OpenKey*>(key);
    --m_openKeys;
}

MemorySettingsStore::Contents MemorySettingsStore::Snapshot() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_keys;
}

void MemorySettingsStore::Restore(const Contents& contents) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_keys = contents;
    m_keys[kRootKey];
}

MemorySettingsStore::TextContents MemorySettingsStore::TextSnapshot() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_texts;
}

void MemorySettingsStore::RestoreTexts(const TextContents& texts) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_texts = texts;
}

std::optional<std::string> MemorySettingsStore::Text(const std::string& path,
                                                     const std::string& name) const {
    std::lock_guard<std::mutex> hold(m_lock);
    auto key = m_texts.find(path);
    if (key == m_texts.end() || key->second.count(name) == 0) {
        return std::nullopt;
    }
    return key->second.at(name);
}

void MemorySettingsStore::SetText(const std::string& path, const std::string& name,
                                  const std::string& text) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_texts[path][name] = text;
}

bool MemorySettingsStore::HasKey(const std::string& path) const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_keys.count(path) != 0;
}

std::optional<uint32_t> MemorySettingsStore::Value(const std::string& path,
                                                   const std::string& name) const {
    std::lock_guard<std::mutex> hold(m_lock);
    auto key = m_keys.find(path);
    if (key == m_keys.end() || key->second.count(name) == 0) {
        return std::nullopt;
    }
    return key->second.at(name);
}

void MemorySettingsStore::SetValue(const std::string& path, const std::string& name,
                                   uint32_t value) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_keys[path][name] = value;
}

int MemorySettingsStore::OpenKeyCount() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_openKeys;
}
