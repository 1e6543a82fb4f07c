#include "app/desktop_restore.h"

#include "app/display_mode.h"
#include "platform/desktop.h"
#include "platform/settings_store.h"
#include "platform/timer.h"

std::atomic<bool> g_bDesktopChanged{false};
std::atomic<uint32_t> g_nDesktopChanges{0};

namespace {
// This thread's changes in flight: a shutdown that runs inside one (a message answered during
// the change's broadcast) does not wait for it.
thread_local uint32_t t_nOwnChanges = 0;

std::optional<DesktopSize> ReadRecord() {
    SettingsKey key = nullptr;
    if (!g_pSettingsStore->OpenUserKey(DISPLAY_SETTINGS_KEY, KeyAccess::Read, &key)) {
        return std::nullopt;
    }
    uint32_t width = 0;
    uint32_t height = 0;
    const bool read = g_pSettingsStore->ReadDword(key, RESTORE_WIDTH_VALUE, &width) &&
                      g_pSettingsStore->ReadDword(key, RESTORE_HEIGHT_VALUE, &height);
    g_pSettingsStore->CloseKey(key);
    // A record cut short (a width of 0) is none; sizes beyond any screen are not sizes.
    constexpr uint32_t kLargest = 1u << 16;
    if (!read || width == 0 || height == 0 || width > kLargest || height > kLargest) {
        return std::nullopt;
    }
    return DesktopSize{static_cast<int>(width), static_cast<int>(height)};
}

// The width is written last and cleared first, so that a record cut short reads as none.
void WriteRecord(DesktopSize size) {
    SettingsKey key = nullptr;
    if (!OpenProgramKeyForWriting("RecordDesktopSize", &key)) {
        return;
    }
    g_pSettingsStore->WriteDword(key, RESTORE_HEIGHT_VALUE, static_cast<uint32_t>(size.height));
    g_pSettingsStore->WriteDword(key, RESTORE_WIDTH_VALUE, static_cast<uint32_t>(size.width));
    g_pSettingsStore->CloseKey(key);
}

void ClearRecord() {
    SettingsKey key = nullptr;
    if (!g_pSettingsStore->OpenUserKey(DISPLAY_SETTINGS_KEY, KeyAccess::Write, &key)) {
        return;
    }
    g_pSettingsStore->DeleteValue(key, RESTORE_WIDTH_VALUE);
    g_pSettingsStore->DeleteValue(key, RESTORE_HEIGHT_VALUE);
    g_pSettingsStore->CloseKey(key);
}

bool BeginChange() {
    uint32_t changes = g_nDesktopChanges.load();
    do {
        if ((changes & DESKTOP_RESTORE_BEGUN) != 0) {
            return false;
        }
    } while (!g_nDesktopChanges.compare_exchange_weak(changes, changes + 1));
    ++t_nOwnChanges;
    return true;
}

void EndChange() {
    --t_nOwnChanges;
    g_nDesktopChanges.fetch_sub(1);
}

DesktopSize StartSize() {
    return {g_nScreenWidth, g_nScreenHeight};
}
}  // namespace

LeftoverRecord ActOnLeftoverRecord(std::optional<DesktopSize> record, DesktopSize current,
                                   bool switchingTo800x600) {
    if (!record) {
        return LeftoverRecord::None;
    }
    if (switchingTo800x600) {
        return LeftoverRecord::GoBackToIt;
    }
    return *record == current ? LeftoverRecord::Clear : LeftoverRecord::Restore;
}

void TakeUpLeftoverRecord(bool switchingTo800x600) {
    const std::optional<DesktopSize> record = ReadRecord();
    switch (ActOnLeftoverRecord(record, StartSize(), switchingTo800x600)) {
        case LeftoverRecord::None:
            return;
        case LeftoverRecord::Restore:
            if (!g_pDesktop->ChangeSize(record->width, record->height)) {
                return;  // the record stays for the next start
            }
            break;
        case LeftoverRecord::GoBackToIt:
            g_bDesktopChanged.store(true);
            g_nScreenWidth = record->width;
            g_nScreenHeight = record->height;
            return;
        case LeftoverRecord::Clear:
            break;
    }
    g_nScreenWidth = record->width;
    g_nScreenHeight = record->height;
    ClearRecord();
}

int ChangeDesktopSize(int width, int height) {
    if (!BeginChange()) {
        return -2;  // the shutdown puts the desktop back; nothing may land after it
    }
    const bool back = DesktopSize{width, height} == StartSize();
    if (!back && !g_bDesktopChanged.exchange(true)) {
        WriteRecord(StartSize());
    }
    const bool changed = g_pDesktop->ChangeSize(width, height);
    if (back && changed && g_bDesktopChanged.exchange(false)) {
        ClearRecord();
    }
    EndChange();
    return changed ? 0 : -2;
}

void RestoreDesktopSize() {
    g_nDesktopChanges.fetch_or(DESKTOP_RESTORE_BEGUN);
    // A change on the main thread ends first, or it would land after the restore. It waits for
    // no shutdown meanwhile: the sender is not waited for once it runs one.
    while ((g_nDesktopChanges.load() & ~DESKTOP_RESTORE_BEGUN) > t_nOwnChanges) {
        SleepMsAnsweringMessages(1);
    }
    if (g_bDesktopChanged.load() && g_pDesktop->ChangeSize(g_nScreenWidth, g_nScreenHeight)) {
        g_bDesktopChanged.store(false);
        ClearRecord();
    }
}

void RestoreDesktopAtOnce() {
    if (g_bDesktopChanged.load() && g_nScreenWidth > 0 && g_nScreenHeight > 0) {
        g_pDesktop->ChangeSize(g_nScreenWidth, g_nScreenHeight);
    }
}
