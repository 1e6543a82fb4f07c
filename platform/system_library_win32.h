#pragma once

#include <windows.h>

// Functions of system libraries that the program resolves when it runs instead of importing
// them: a library that is not one of the system's KnownDLLs is looked for in the program's
// folder first when it is imported, and a user could plant one there for this elevated
// program to load; and a function newer than the oldest Windows 10 would keep the program
// from starting there.

// The function `name` of `library`, loaded from System32 only; nullptr when either is not
// there. The library stays loaded.
FARPROC SystemFunction(const wchar_t* library, const char* name);

template <typename Function>
Function SystemFunctionAs(const wchar_t* library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(SystemFunction(library, name)));
}
