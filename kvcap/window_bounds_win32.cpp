#include "kvcap/window_bounds_win32.h"

#include <windows.h>
// dwmapi.h builds on the types windows.h declares.
#include <dwmapi.h>

#include "platform/system_library_win32.h"

std::optional<PixelRect> WindowBoundsOnDesktop(uint64_t window) {
    // dwmapi.dll is not one of the KnownDLLs: resolved from System32.
    using DwmGetWindowAttributeFunction = HRESULT(WINAPI*)(HWND, DWORD, PVOID, DWORD);
    static const auto getAttribute =
        SystemFunctionAs<DwmGetWindowAttributeFunction>(L"dwmapi.dll", "DwmGetWindowAttribute");
    HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(window));
    if (!IsWindow(hwnd)) {
        return std::nullopt;
    }
    RECT bounds{};
    if (getAttribute == nullptr ||
        FAILED(getAttribute(hwnd, DWMWA_EXTENDED_FRAME_BOUNDS, &bounds, sizeof bounds))) {
        if (!GetWindowRect(hwnd, &bounds)) {
            return std::nullopt;
        }
    }
    return PixelRect{bounds.left, bounds.top, bounds.right - bounds.left,
                     bounds.bottom - bounds.top};
}
