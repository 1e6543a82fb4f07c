// The preloadable face of the sg node attachment: SG_IO on one of the nodes named in the
// environment goes to the virtual projector (or, with KVUSB_SG_SERVER, to the projector process
// listening there), every other ioctl to the system. Loaded into a program with LD_PRELOAD;
// under Wine into every process of the prefix, where only the one that sends SG_IO to a node
// brings the projector up.
#include <sys/ioctl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "emulator/sg_nodes/sg_node_attachment.h"
#include "emulator/sg_nodes/sg_node_forward.h"

namespace {

// Null when the environment names no nodes, or names them wrongly (said once on stderr).
emu::SgNodeAttachment* Attachment() {
    static emu::SgNodeAttachment* const attachment = [] {
        if (std::getenv(emu::kSgNodesEnvVar) == nullptr) {
            return static_cast<emu::SgNodeAttachment*>(nullptr);
        }
        emu::SgNodeConfig config;
        std::string error;
        std::unique_ptr<emu::SgNodeAttachment> created;
        if (emu::ReadSgNodeEnvironment(&config, &error)) {
            created = emu::SgNodeAttachment::Create(config, &error);
        }
        if (!created) {
            std::fprintf(stderr, "kvusb sg nodes: %s\n", error.c_str());
        }
        // Lives to the end of the process, as a device does: the program's threads may send
        // to it while the process exits.
        return created.release();
    }();
    return attachment;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int ioctl(int fd, unsigned long request,
                                                            ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    // The environment is read at the first SG_IO: a process that sends none never reads it.
    emu::SgNodeAttachment* attachment = request == SG_IO ? Attachment() : nullptr;
    static const char* const server = std::getenv(emu::kSgServerEnvVar);
    int node = attachment != nullptr && server != nullptr ? attachment->NodeOf(fd) : -1;
    if (node >= 0) {
        return emu::ForwardSgRequest(server, node, static_cast<sg_io_hdr*>(argument));
    }
    return emu::AttachedIoctl(attachment, fd, request, argument);
}
