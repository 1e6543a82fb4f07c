#include "platform/whole_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Writes and closes; false when either fails.
bool WriteAndClose(File file, const void* bytes, size_t length) {
    const bool written = std::fwrite(bytes, 1, length, file.get()) == length;
    return std::fclose(file.release()) == 0 && written;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes->clear();
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        bytes->insert(bytes->end(), chunk, chunk + got);
    }
    if (std::ferror(file.get())) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string& path, const void* bytes, size_t length, std::string* error) {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!WriteAndClose(std::move(file), bytes, length)) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const void* bytes, size_t length,
                         std::string* error) {
    const std::string temporary = path + ".tmp";
    File file(std::fopen(temporary.c_str(), "wb"));
    if (!file) {
        *error = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    const bool written = WriteAndClose(std::move(file), bytes, length);
    std::error_code renameError;
    if (written) {
        std::filesystem::rename(temporary, path, renameError);
    }
    if (!written || renameError) {
        *error = "cannot write " + path + ": " +
                 (written ? renameError.message() : std::string(std::strerror(errno)));
        std::filesystem::remove(temporary, renameError);
        return false;
    }
    return true;
}
