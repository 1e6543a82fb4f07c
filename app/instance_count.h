#pragma once

// The executable name the single-instance check looks for, compared exactly.
inline constexpr char PROGRAM_FILE_NAME[] = "vorn_kvusb.exe";

// Running processes whose executable is named `fileName`, this one included, compared exactly:
// PROGRAM_FILE_NAME, or that of a program on the same engine under another name (the
// simulator, the Linux desktop program). When the process list cannot be had, 1: the program
// starts rather than lock the user out.
int CountInstances(const char* fileName);
// Running processes named PROGRAM_FILE_NAME.
inline int CountInstances() {
    return CountInstances(PROGRAM_FILE_NAME);
}
