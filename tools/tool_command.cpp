#include "tools/tool_command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int ToolError(const char* command, int code, const std::string& message) {
    std::fprintf(stderr, "kvusbtool %s: %s\n", command, message.c_str());
    return code;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes->clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes->insert(bytes->end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(file);
    std::fclose(file);
    if (failed)
        *error = "cannot read " + path;
    return !failed;
}

bool WriteWholeFile(const std::string& path, const uint8_t* bytes, size_t length,
                    std::string* error) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes, 1, length, file) == length;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed)
        *error = "cannot write " + path;
    return written && closed;
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
