#pragma once

#include <scsi/sg.h>
#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/sg_nodes/sg_request.h"
#include "emulator/virtual_config.h"
#include "emulator/virtual_projector.h"

// The virtual projector attached at the kernel's boundary: it plays the sg nodes of a machine's
// SCSI units, so that the program's own backend (SG_IO on Linux, or Windows' pass-through as
// Wine carries it to SG_IO) runs unchanged against it. A node is told by its file's identity,
// whoever opened it: the program, or Wine's server on the program's behalf.
//
// It is set up from the environment of the process it is loaded into:
//
//   KVUSB_SG_NODES=/dev/sg0:/dev/sg2:/dev/sg1   the nodes, in the order of the projector's
//                      interface list: the system's disk, then each projector's disk unit
//                      and optical unit
//   KVUSB_SG_PROJECTOR=link=2.0,report=...      the projector's options, as after "virtual:"
//                      in VORN_KVUSB_DEVICE; at this boundary the CODE of fail_next and
//                      fail_reads is an errno
//   KVUSB_SG_PROJECTOR_FILE=PATH                or a file that holds them, read when the
//                      projector comes up: under Wine a program's environment is the Unix
//                      one its session began with, so a driver that starts one program after
//                      another gives each its options this way
//   KVUSB_SG_CALLER=native|wine64               who fills the SG_IO headers (default native)
//
// When a projector goes, the request then in flight on its nodes comes back as the kernel
// returns it: the ioctl succeeds with a host error (the USB transport failed). Every request
// after it fails with ENODEV, the unit being gone.

namespace emu {

inline constexpr char kSgNodesEnvVar[] = "KVUSB_SG_NODES";
inline constexpr char kSgProjectorEnvVar[] = "KVUSB_SG_PROJECTOR";
inline constexpr char kSgProjectorFileEnvVar[] = "KVUSB_SG_PROJECTOR_FILE";
inline constexpr char kSgCallerEnvVar[] = "KVUSB_SG_CALLER";

struct SgNodeConfig {
    std::vector<std::string> nodes;
    SgCaller caller = SgCaller::Native;
    VirtualConfig projector;
};

// The variables' values (null when unset), the projector's options already read from their
// file when it is named. False, with a one-line reason, when they do not make a machine: no
// nodes, or not one node per unit of the projectors configured.
bool ParseSgNodeConfig(const char* nodes, const char* projector, const char* caller,
                       SgNodeConfig* config, std::string* error);

// The configuration the process's environment gives. False, with the reason, as above, or
// when the options' file cannot be read.
bool ReadSgNodeEnvironment(SgNodeConfig* config, std::string* error);

class SgNodeAttachment {
  public:
    // The nodes' files must exist; *error says which does not.
    static std::unique_ptr<SgNodeAttachment> Create(const SgNodeConfig& config, std::string* error);

    // Answers ioctl(fd, request, argument) when it is SG_IO on one of the nodes: true, with
    // the ioctl's result in *result (and errno set on failure). False for every other call,
    // which belongs to the system. The projector comes up with the first request, so that of
    // all the processes the library is loaded into, only the one that talks to it runs it and
    // writes its files.
    bool Answer(int fd, unsigned long request, void* argument, int* result);

    // The index of the node `fd` is open on, in the configuration's order; -1 when on none.
    int NodeOf(int fd) const;
    // Answers SG_IO on node `node` (an index that NodeOf gave), as Answer does.
    void AnswerNode(int node, sg_io_hdr* header, int* result);

    // Null before the first request.
    VirtualProjector* Projector() const { return projector_.get(); }

  private:
    struct Identity {
        dev_t device;
        ino_t inode;
    };
    SgNodeAttachment(const SgNodeConfig& config, std::vector<Identity> identities)
        : config_(config), identities_(std::move(identities)) {}
    void BringUp();
    // True for the request in flight when the projector went: the first the core answers
    // as gone after it vanished (a projector without link is gone from its first command).
    bool InFlightAtLoss(uint32_t code);

    const SgNodeConfig config_;
    const std::vector<Identity> identities_;
    std::once_flag broughtUp_;
    std::unique_ptr<VirtualProjector> projector_;
    std::vector<DeviceHandle> units_;  // the core's handle of each node
    std::mutex m_lossLock;
    bool m_lossReported = false;
};

// The ioctl of a process the attachment is built into (the preloaded library, or a test or
// benchmark linked with it): answered by `attachment` when it is SG_IO on one of its nodes,
// by the system otherwise. `attachment` may be null.
int AttachedIoctl(SgNodeAttachment* attachment, int fd, unsigned long request, void* argument);

// For a test or benchmark linked with kv_sg_linked_ioctl: the attachment its ioctl goes to from
// now on, or null for the system's alone.
void SetLinkedAttachment(SgNodeAttachment* attachment);

}  // namespace emu
