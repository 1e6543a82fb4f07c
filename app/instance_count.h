#pragma once

// The executable name the single-instance check looks for, compared exactly.
inline constexpr char PROGRAM_FILE_NAME[] = "vorn_kvusb.exe";

// Running processes named PROGRAM_FILE_NAME, this one included. When the process list cannot
// be had, 1: the program starts rather than lock the user out.
int CountInstances();
