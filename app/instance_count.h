#pragma once

// The executable name the single-instance check looks for, compared exactly.
inline constexpr char PROGRAM_FILE_NAME[] = "vorn_kvusb.exe";

// The name counted: PROGRAM_FILE_NAME, or that of a program on the same engine under another
// name (the Linux desktop program), set before the count.
extern const char* g_pszInstanceFileName;

// Running processes named g_pszInstanceFileName, this one included. When the process list cannot
// be had, 1: the program starts rather than lock the user out.
int CountInstances();
