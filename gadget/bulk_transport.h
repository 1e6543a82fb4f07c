#pragma once

#include <cstddef>
#include <cstdint>

#include "gadget/projector_luns.h"

// One command of the Bulk-Only Transport served end to end: the data phase as host and unit
// agree on it, the command itself, and the status wrapper.

namespace gadget {

// The two bulk endpoints as the transport uses them.
class BulkPipes {
  public:
    virtual ~BulkPipes() = default;
    // The bytes moved, or a negative errno: the endpoint went away or was reset, or the wait
    // was interrupted. A receive ends early at a short packet.
    virtual long Receive(uint8_t* data, size_t length) = 0;
    virtual long Send(const uint8_t* data, size_t length) = 0;
    // Halts an endpoint until the host clears it.
    virtual void HaltIn() = 0;
    virtual void HaltOut() = 0;
};

enum class CommandOutcome {
    Answered,      // the status went out
    InvalidBlock,  // not a valid CBW: both endpoints halted until the host recovers
    PipeFailed,    // an endpoint failed or was interrupted: wait for the next CBW
    DeviceGone,    // the projector vanished: leave the bus without answering
};

// Serves the command whose CBW (`length` bytes) has just been received.
CommandOutcome ServeCommand(BulkPipes* pipes, ProjectorLuns* luns, const uint8_t* cbw,
                            size_t length);

// The largest receive buffer for a CBW: a whole packet, so that an overlong one shows.
inline constexpr size_t CBW_RECEIVE_BYTES = 1024;

}  // namespace gadget
