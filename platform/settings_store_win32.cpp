#include <windows.h>

#include <string>

#include "platform/settings_store.h"

namespace {
std::wstring Widen(const char* text) {
    int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

HKEY AsKey(SettingsKey key) {
    return static_cast<HKEY>(key);
}

class RegistryStore final : public SettingsStore {
  public:
    bool OpenUserKey(const char* path, KeyAccess access, SettingsKey* key) override {
        HKEY opened = nullptr;
        REGSAM sam = access == KeyAccess::Read ? KEY_READ : KEY_WRITE;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, Widen(path).c_str(), 0, sam, &opened) !=
            ERROR_SUCCESS) {
            return false;
        }
        *key = opened;
        return true;
    }

    bool CreateSubKey(SettingsKey parent, const char* name, SettingsKey* key) override {
        HKEY created = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExW(AsKey(parent), Widen(name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_WRITE, nullptr, &created, &disposition) != ERROR_SUCCESS) {
            return false;
        }
        *key = created;
        return true;
    }

    bool ReadDword(SettingsKey key, const char* name, uint32_t* value) override {
        DWORD data = 0;
        DWORD size = sizeof data;
        if (RegQueryValueExW(AsKey(key), Widen(name).c_str(), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS) {
            return false;
        }
        *value = data;
        return true;
    }

    bool WriteDword(SettingsKey key, const char* name, uint32_t value) override {
        DWORD data = value;
        return RegSetValueExW(AsKey(key), Widen(name).c_str(), 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
    }

    bool DeleteValue(SettingsKey key, const char* name) override {
        LSTATUS status = RegDeleteValueW(AsKey(key), Widen(name).c_str());
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }

    void CloseKey(SettingsKey key) override { RegCloseKey(AsKey(key)); }
};

RegistryStore g_RegistryStore;
}  // namespace

SettingsStore* g_pSettingsStore = &g_RegistryStore;
