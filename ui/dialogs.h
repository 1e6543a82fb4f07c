#pragma once

#include <windows.h>

// The About box and the two fault warnings.

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK Dialog2Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);  // overheat
INT_PTR CALLBACK Dialog3Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);  // fan

// The four numbers of the file version in `path`'s version resource: 1, or 0 when it cannot
// be read.
int GetDriverVersion(const wchar_t* path, WORD* major, WORD* minor, WORD* third, WORD* fourth);
