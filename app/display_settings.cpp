#include "app/display_mode.h"
#include "platform/debug_print.h"
#include "platform/settings_store.h"

namespace {
constexpr char kSoftwareKey[] = "Software";
constexpr char kProgramKeyName[] = "K7Q0KVUSB";
constexpr uint32_t kZoomValues = 3;  // ZOOM_ORIGINAL, ZOOM_1, ZOOM_2
constexpr uint32_t kFlipValues = 4;  // FLIP_NONE to FLIP_BOTH

void WriteMode(SettingsKey key, const char* name, int32_t mode) {
    if (!g_pSettingsStore->WriteDword(key, name, static_cast<uint32_t>(mode))) {
        DebugPrint("SetDisplaySettings: RegSetValueEx error!\n");
    }
}
}  // namespace

bool OpenProgramKeyForWriting(const char* caller, SettingsKey* key) {
    if (g_pSettingsStore->OpenUserKey(DISPLAY_SETTINGS_KEY, KeyAccess::Write, key)) {
        return true;
    }
    SettingsKey software = nullptr;
    if (!g_pSettingsStore->OpenUserKey(kSoftwareKey, KeyAccess::Write, &software)) {
        DebugPrint("%s: RegOpenKeyEx RegRootKey failed!\n", caller);
        return false;
    }
    bool created = g_pSettingsStore->CreateSubKey(software, kProgramKeyName, key);
    g_pSettingsStore->CloseKey(software);
    if (!created) {
        DebugPrint("%s: RegCreateKeyEx failed!\n", caller);
    }
    return created;
}

int GetDisplaySettings() {
    SettingsKey key = nullptr;
    if (!g_pSettingsStore->OpenUserKey(DISPLAY_SETTINGS_KEY, KeyAccess::Read, &key)) {
        DebugPrint("GetDisplaySettings: RegOpenKeyEx failed!\n");
        return 0;
    }
    uint32_t value = 0;
    if (g_pSettingsStore->ReadDword(key, DISP_MODE_VALUE, &value)) {
        DispMode.store(value == DISP_MODE_800X600 ? DISP_MODE_800X600 : DISP_MODE_MIRROR);
    }
    if (g_pSettingsStore->ReadDword(key, ZOOM_MODE_VALUE, &value) && value < kZoomValues) {
        ZoomMode.store(static_cast<int32_t>(value));
    }
    if (g_pSettingsStore->ReadDword(key, FLIP_MODE_VALUE, &value) && value < kFlipValues) {
        FlipMode.store(static_cast<int32_t>(value));
    }
    g_pSettingsStore->CloseKey(key);
    return 1;
}

int SetDisplaySettings() {
    int32_t dispMode = DispMode.load();
    int32_t zoomMode = ZoomMode.load();
    DebugPrint("SetDisplaySettings - nDispMode: 0x%x, nZoomMode: 0x%x\n", dispMode, zoomMode);
    SettingsKey key = nullptr;
    if (!OpenProgramKeyForWriting("SetDisplaySettings", &key)) {
        return 0;
    }
    WriteMode(key, DISP_MODE_VALUE, dispMode);
    WriteMode(key, ZOOM_MODE_VALUE, zoomMode);
    WriteMode(key, FLIP_MODE_VALUE, FlipMode.load());
    g_pSettingsStore->CloseKey(key);
    return 1;
}
