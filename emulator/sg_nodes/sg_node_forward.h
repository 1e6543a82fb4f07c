#pragma once

#include <scsi/sg.h>

#include <cstdint>

// The virtual projector below the program, in a process of its own: the preloaded library
// sends each SG_IO on one of the nodes to the projector process (kvusb_sg_projector) over a
// Unix socket, and that process reads the command and the data from the program's memory and
// writes the answer back into it, as a device's DMA does. The program then spends on each
// request what it spends with a real unit, and nothing of the projector's own work, which is
// what a measure of the program's share needs. Native callers only.
//
//   KVUSB_SG_SERVER=PATH   the socket the projector process listens on

namespace emu {

inline constexpr char kSgServerEnvVar[] = "KVUSB_SG_SERVER";

// A request as it crosses, the addresses in the header the program's own.
struct ForwardedRequest {
    int32_t node;  // index in KVUSB_SG_NODES
    sg_io_hdr header;
};

// The answer: the ioctl's result and errno, and the header completed, its addresses unchanged.
struct ForwardedAnswer {
    int32_t result;
    int32_t error;
    sg_io_hdr header;
};

// SG_IO on node `node`, answered by the projector process listening at `socket`: the ioctl's
// result, errno set on failure (ENODEV when the projector process cannot be reached).
int ForwardSgRequest(const char* socket, int node, sg_io_hdr* header);

// Sends or receives all `length` bytes; false when the other end is gone.
bool SendAll(int socket, const void* bytes, size_t length);
bool ReceiveAll(int socket, void* bytes, size_t length);

}  // namespace emu
