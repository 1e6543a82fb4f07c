#include "ui/dialogs.h"

#include <array>
#include <cstdint>

#include "device/device_status.h"
#include "platform/debug_print.h"
#include "platform/system_library_win32.h"
#include "resources/resource.h"
#include "ui/dialog_texts.h"
#include "ui/language_blocks.h"
#include "ui/resource_strings.h"
#include "ui/tray_window.h"

namespace {

constexpr DWORD kPathChars = 256;
constexpr wchar_t kProgramFileName[] = L"vorn_kvusb.exe";

std::optional<std::u16string_view> View(const std::optional<std::u16string>& text) {
    if (!text) {
        return std::nullopt;
    }
    return std::u16string_view(*text);
}

void SetLoadedText(HWND dialog, int control, UINT stringId) {
    if (const std::optional<std::u16string> text = LoadResourceString(stringId)) {
        SetDlgItemTextW(dialog, control, AsWide(*text));
    }
}

void SetFirmwareLine(HWND dialog, LCID lcid, uint32_t base) {
    std::array<uint8_t, FIRMWARE_INFO_BYTES> info{};
    if (!getDriverLessFirmInfo(info.data())) {
        DebugPrint("VORN_KVUSB: getDriverLessFirmInfo Fail\n");
        return;
    }
    uint8_t* mcu = &info[FIRMWARE_INFO_MCU_OFFSET];
    GetMCUFirmInfo(mcu);  // when it fails the characters stay zero
    DebugPrint("AboutProc: MCU FW %c%c%c\n", mcu[0], mcu[1], mcu[2]);
    const std::optional<std::u16string> label =
        LoadResourceString(StringId(base, TextRole::FirmwareVersionLabel));
    const std::u16string line = FormatFirmwareLine(info, View(label), lcid);
    SetDlgItemTextW(dialog, IDC_FW_VERSION, AsWide(line));
}

void SetProgramVersionLine(HWND dialog, LCID lcid, uint32_t base) {
    wchar_t path[kPathChars] = {};
    lstrcpynW(path, kProgramFileName, kPathChars);
    GetModuleFileNameW(nullptr, path, kPathChars);
    FileVersion version{};
    if (!GetDriverVersion(path, &version.major, &version.minor, &version.third, &version.fourth)) {
        DebugPrint("VORN_KVUSB: GetDriverVersion Fail\n");
        return;
    }
    const std::optional<std::u16string> label =
        LoadResourceString(StringId(base, TextRole::ProgramVersionLabel));
    const std::u16string line = FormatProgramVersionLine(version, View(label), lcid);
    SetDlgItemTextW(dialog, IDC_APP_VERSION, AsWide(line));
}

void InitAbout(HWND dialog) {
    const LCID lcid = GetUserDefaultLCID();
    DebugPrint("AboutProc: hwnd %d, LCID %x\n", HandleNumber(dialog), static_cast<unsigned>(lcid));
    const uint32_t base = LanguageBaseOrEnglish(lcid);
    SetLoadedText(dialog, IDC_COPYRIGHT, StringId(base, TextRole::Copyright));
    SetLoadedText(dialog, IDC_RIGHTS, StringId(base, TextRole::Rights));
    SetFirmwareLine(dialog, lcid, base);
    SetProgramVersionLine(dialog, lcid, base);
}

// English and languages without a block keep the template's text.
void InitWarning(HWND dialog, const char* procedureName, WarningKind kind, int control) {
    const LCID lcid = GetUserDefaultLCID();
    DebugPrint("%s: hwnd %d, LCID %x\n", procedureName, HandleNumber(dialog),
               static_cast<unsigned>(lcid));
    if (const uint32_t id = WarningStringId(lcid, kind)) {
        SetLoadedText(dialog, control, id);
    }
}

// OK and Cancel (Escape, the close box) end every box.
INT_PTR EndOnOkOrCancel(HWND dialog, WPARAM wParam) {
    const WORD command = LOWORD(wParam);
    if (command == IDOK || command == IDCANCEL) {
        EndDialog(dialog, command);
        return TRUE;
    }
    return FALSE;
}

// The two warning boxes differ only in their trace name, text and control.
INT_PTR WarningProc(HWND hwnd, UINT message, WPARAM wParam, const char* name, WarningKind kind,
                    int control) {
    switch (message) {
        case WM_INITDIALOG:
            InitWarning(hwnd, name, kind, control);
            return TRUE;
        case WM_COMMAND:
            return EndOnOkOrCancel(hwnd, wParam);
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            InitAbout(hwnd);
            return TRUE;
        case WM_COMMAND:
            return EndOnOkOrCancel(hwnd, wParam);
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK Dialog2Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    return WarningProc(hwnd, message, wParam, "Dialog2Proc", WarningKind::Overheat,
                       IDC_OVERHEAT_TEXT);
}

INT_PTR CALLBACK Dialog3Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    return WarningProc(hwnd, message, wParam, "Dialog3Proc", WarningKind::FanFailure,
                       IDC_FANFAIL_TEXT);
}

// version.dll is not one of the KnownDLLs: resolved from System32 (system_library_win32.h).
using GetFileVersionInfoSizeFunction = decltype(&GetFileVersionInfoSizeW);
using GetFileVersionInfoFunction = decltype(&GetFileVersionInfoW);
using VerQueryValueFunction = decltype(&VerQueryValueW);

int GetDriverVersion(const wchar_t* path, WORD* major, WORD* minor, WORD* third, WORD* fourth) {
    constexpr wchar_t kVersionLibrary[] = L"version.dll";
    auto getSize = SystemFunctionAs<GetFileVersionInfoSizeFunction>(kVersionLibrary,
                                                                    "GetFileVersionInfoSizeW");
    auto getInfo =
        SystemFunctionAs<GetFileVersionInfoFunction>(kVersionLibrary, "GetFileVersionInfoW");
    auto queryValue = SystemFunctionAs<VerQueryValueFunction>(kVersionLibrary, "VerQueryValueW");
    if (getSize == nullptr || getInfo == nullptr || queryValue == nullptr) {
        return 0;
    }
    DWORD handle = 0;
    const DWORD size = getSize(path, &handle);
    if (size == 0) {
        return 0;
    }
    void* block = LocalAlloc(LPTR, size);
    if (block == nullptr) {
        return 0;
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    const bool read = getInfo(path, 0, size, block) &&
                      queryValue(block, L"\\", reinterpret_cast<void**>(&info), &infoSize) &&
                      info != nullptr && infoSize >= sizeof *info;
    const FileVersion version =
        read ? FileVersionFromFixedInfo(info->dwFileVersionMS, info->dwFileVersionLS)
             : FileVersion{};
    LocalFree(block);
    if (!read) {
        return 0;
    }
    *major = version.major;
    *minor = version.minor;
    *third = version.third;
    *fourth = version.fourth;
    return 1;
}
