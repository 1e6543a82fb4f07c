// A mount table as the kernel lists it, with whatever names users and the labels of their
// sticks give the sources and mount points, read against a small machine: a removable disk
// with a labelled partition and a fixed one. Every volume found is one the table names.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "device/linux_volumes.h"

namespace fs = std::filesystem;

namespace {

struct Machine {
    Machine() {
        char made[] = "/tmp/fuzz_mounts_XXXXXX";
        if (mkdtemp(made) == nullptr) {
            std::abort();
        }
        root = made;
        fs::create_directories(root / "sys/block/sdb/sdb1");
        fs::create_directories(root / "sys/block/sda/sda2");
        std::ofstream(root / "sys/block/sdb/removable") << "1\n";
        std::ofstream(root / "sys/block/sda/removable") << "0\n";
        fs::create_directories(root / "dev/disk/by-label");
        std::ofstream(root / "dev/sdb1");
        std::ofstream(root / "dev/sda2");
        fs::create_symlink("../../sdb1", root / "dev/disk/by-label/TARQ\\x20K7Q0");
        fs::create_symlink("../../sda2", root / "dev/disk/by-label/sys\\x2ftem");
    }
    ~Machine() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    fs::path root;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Machine machine;
    const std::string text(reinterpret_cast<const char*>(data), size);
    DecodeMountField(text);
    DecodeLabelLinkName(text);
    const fs::path mounts = machine.root / "mounts";
    std::ofstream(mounts, std::ios::binary | std::ios::trunc) << text;
    std::vector<VolumeInfo> volumes = ListMountedVolumes(
        (machine.root / "sys").string(), (machine.root / "dev").string(), mounts.string());
    size_t lines = 1;
    for (char c : text) {
        lines += c == '\n';
    }
    if (volumes.size() > lines) {
        std::abort();
    }
    return 0;
}
