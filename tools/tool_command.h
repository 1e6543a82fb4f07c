#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What every kvusbtool subcommand shares: its entry, one-line errors and "--name value"
// options.

// A subcommand: argv[0] is the subcommand's name, the rest its arguments. Returns the
// process exit code: 0 done, 1 failed on its input, 2 misused.
using ToolCommandFunction = int (*)(int argc, char** argv);

inline constexpr int kToolFailed = 1;
inline constexpr int kToolMisused = 2;

// Prints "kvusbtool <command>: <message>" as one line on standard error; returns `code`.
int ToolError(const char* command, int code, const std::string& message);

// One option: a number in [min, max] (decimal, or hex with 0x), a flag without a value, or
// a text.
struct ToolOption {
    const char* name;
    long* number = nullptr;
    long min = 0;
    long max = 0;
    bool* flag = nullptr;
    std::string* text = nullptr;
};

// Parses argv[first..argc) as options of `options` (each may appear once or more; the last
// wins). False with the reason in *error for an unknown option, a missing or bad value, or
// a number out of range.
bool ParseToolOptions(int argc, char** argv, int first, const std::vector<ToolOption>& options,
                      std::string* error);
