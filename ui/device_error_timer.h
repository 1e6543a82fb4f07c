#pragma once

#include <windows.h>

// The device-error timer's procedure: polls the projector's fault status and opens the
// overheat or fan-failure warning.
void CALLBACK DevErrTimerProc(HWND hwnd, UINT message, UINT_PTR timerId, DWORD time);
