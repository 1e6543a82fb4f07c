#include "emulator/sg_nodes/sg_node_attachment.h"

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>

#include "emulator/hex_text.h"

namespace emu {
namespace {

std::vector<std::string> SplitNodes(const std::string& text) {
    std::vector<std::string> nodes;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(':', start);
        end = end == std::string::npos ? text.size() : end;
        nodes.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return nodes;
}

}  // namespace

bool ParseSgNodeConfig(const char* nodes, const char* projector, const char* caller,
                       SgNodeConfig* config, std::string* error) {
    if (nodes == nullptr || nodes[0] == '\0') {
        *error = std::string(kSgNodesEnvVar) + " names no nodes";
        return false;
    }
    config->nodes = SplitNodes(nodes);
    std::string options = "virtual";
    if (projector != nullptr && projector[0] != '\0') {
        options += std::string(":") + projector;
    }
    if (!ParseVirtualConfig(options, &config->projector, error)) {
        *error = std::string(kSgProjectorEnvVar) + ": " + *error;
        return false;
    }
    size_t units = 1 + 2 * config->projector.linkValues.size();
    if (config->nodes.size() != units) {
        *error = std::string(kSgNodesEnvVar) + " names " + std::to_string(config->nodes.size()) +
                 " nodes; the system's disk and " +
                 std::to_string(config->projector.linkValues.size()) + " projectors have " +
                 std::to_string(units);
        return false;
    }
    std::string callerName = caller != nullptr ? caller : "native";
    if (callerName == "native") {
        config->caller = SgCaller::Native;
    } else if (callerName == "wine64") {
        config->caller = SgCaller::Wine64;
    } else {
        *error = std::string(kSgCallerEnvVar) + " is '" + callerName + "', not native or wine64";
        return false;
    }
    return true;
}

bool ReadSgNodeEnvironment(SgNodeConfig* config, std::string* error) {
    const char* file = std::getenv(kSgProjectorFileEnvVar);
    std::string options;
    if (file != nullptr) {
        std::ifstream in(file);
        if (!std::getline(in, options)) {
            *error = std::string(kSgProjectorFileEnvVar) + ": cannot read " + file;
            return false;
        }
    } else if (const char* text = std::getenv(kSgProjectorEnvVar)) {
        options = text;
    }
    return ParseSgNodeConfig(std::getenv(kSgNodesEnvVar), options.c_str(),
                             std::getenv(kSgCallerEnvVar), config, error);
}

std::unique_ptr<SgNodeAttachment> SgNodeAttachment::Create(const SgNodeConfig& config,
                                                           std::string* error) {
    std::vector<Identity> identities;
    for (const std::string& node : config.nodes) {
        struct stat file;
        if (stat(node.c_str(), &file) != 0) {
            *error = node + ": " + std::strerror(errno);
            return nullptr;
        }
        identities.push_back({file.st_dev, file.st_ino});
    }
    return std::unique_ptr<SgNodeAttachment>(new SgNodeAttachment(config, std::move(identities)));
}

void SgNodeAttachment::BringUp() {
    // The decoder thread is started with every signal blocked: the signals of the process it
    // lives in are the program's (or Wine's), whose handlers expect their own threads.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    projector_ = std::make_unique<VirtualProjector>(config_.projector);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    for (uint32_t i = 0; i < config_.nodes.size(); ++i) {
        std::string path;
        uint32_t code = 0;
        DeviceHandle unit = nullptr;
        if (projector_->GetDiskInterface(i, &path, &code) == InterfaceLookup::Found) {
            unit = projector_->OpenUnit(path, &code);
        }
        units_.push_back(unit);
    }
}

bool SgNodeAttachment::InFlightAtLoss(uint32_t code) {
    if (code != ERROR_DEVICE_NOT_CONNECTED || !projector_->Report().vanished) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_lossLock);
    return !std::exchange(m_lossReported, true);
}

int SgNodeAttachment::NodeOf(int fd) const {
    struct stat file;
    if (fstat(fd, &file) != 0) {
        return -1;
    }
    for (size_t i = 0; i < identities_.size(); ++i) {
        if (identities_[i].device == file.st_dev && identities_[i].inode == file.st_ino) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool SgNodeAttachment::Answer(int fd, unsigned long request, void* argument, int* result) {
    int node = request == SG_IO ? NodeOf(fd) : -1;
    if (node < 0) {
        return false;
    }
    AnswerNode(node, static_cast<sg_io_hdr*>(argument), result);
    return true;
}

void SgNodeAttachment::AnswerNode(int node, sg_io_hdr* header, int* result) {
    auto start = std::chrono::steady_clock::now();
    std::call_once(broughtUp_, [this] { BringUp(); });
    SgIntake intake = ReadSgRequest(*header, config_.caller);
    const std::string& name = config_.nodes[static_cast<size_t>(node)];
    for (const std::string& fault : intake.errors) {
        std::string cdb = intake.refusal == 0 ? " (" + HexBytes(intake.request.cdb, 16) + ")" : "";
        projector_->AddProtocolError("SG_IO on " + name + cdb + ": " + fault);
    }
    int error = intake.refusal;
    if (error == 0) {
        uint32_t code = projector_->SendScsi(units_[static_cast<size_t>(node)], intake.request);
        // A request returns once the frame it closed, if any, is shown and in the projector's
        // files, so that a program that ends right after its last frame leaves that frame there.
        projector_->WaitUntilShown();
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        const auto milliseconds = static_cast<uint32_t>(elapsed.count());
        if (InFlightAtLoss(code)) {
            CompleteLostSgRequest(milliseconds, header);
            *result = 0;
        } else {
            *result = CompleteSgRequest(code, milliseconds, header, &error);
        }
    } else {
        *result = -1;
    }
    if (*result < 0) {
        errno = error;
    }
}

int AttachedIoctl(SgNodeAttachment* attachment, int fd, unsigned long request, void* argument) {
    int result = 0;
    if (attachment != nullptr && attachment->Answer(fd, request, argument, &result)) {
        return result;
    }
    static const auto system =
        reinterpret_cast<int (*)(int, unsigned long, ...)>(dlsym(RTLD_NEXT, "ioctl"));
    return system(fd, request, argument);
}

}  // namespace emu
