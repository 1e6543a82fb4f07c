#include "tools/tool_command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int ToolError(const char* command, int code, const std::string& message) {
    std::fprintf(stderr, "kvusbtool %s: %s\n", command, message.c_str());
    return code;
}

namespace {

bool ParseNumber(const char* text, long* value) {
    errno = 0;
    char* end = nullptr;
    const long number = std::strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0')
        return false;
    *value = number;
    return true;
}

}  // namespace

bool ParseToolOptions(int argc, char** argv, int first, const std::vector<ToolOption>& options,
                      std::string* error) {
    for (int i = first; i < argc; ++i) {
        const ToolOption* option = nullptr;
        for (const ToolOption& candidate : options) {
            if (std::strcmp(argv[i], candidate.name) == 0)
                option = &candidate;
        }
        if (!option) {
            *error = std::string("unknown option ") + argv[i];
            return false;
        }
        if (option->flag) {
            *option->flag = true;
            continue;
        }
        if (i + 1 >= argc) {
            *error = std::string(option->name) + " needs a value";
            return false;
        }
        const char* value = argv[++i];
        if (option->text) {
            *option->text = value;
            continue;
        }
        long number = 0;
        if (!ParseNumber(value, &number)) {
            *error = std::string(option->name) + ": not a number: " + value;
            return false;
        }
        if (number < option->min || number > option->max) {
            *error = std::string(option->name) + " " + value + " is outside " +
                     std::to_string(option->min) + ".." + std::to_string(option->max);
            return false;
        }
        *option->number = number;
    }
    return true;
}
