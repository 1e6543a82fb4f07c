#include "gadget/bulk_transport.h"

#include <algorithm>
#include <vector>

namespace gadget {
namespace {

// Data out is received in pieces of at most this, a multiple of every packet size, so a large
// transfer needs no large kernel buffer.
constexpr size_t RECEIVE_PIECE_BYTES = 128 * 1024;

// Receives the host's `length` bytes, keeping the first `keep` (no more than `length`) in
// `data`. False when the pipe failed.
bool ReceiveData(BulkPipes* pipes, uint32_t length, uint32_t keep, std::vector<uint8_t>* data) {
    data->assign(keep, 0);
    std::vector<uint8_t> dropped;
    uint32_t received = 0;
    while (received < length) {
        size_t piece = std::min<size_t>(length - received, RECEIVE_PIECE_BYTES);
        bool kept = received + piece <= keep;
        if (!kept) {
            dropped.resize(piece);
        }
        long got = pipes->Receive(kept ? data->data() + received : dropped.data(), piece);
        if (got < 0) {
            return false;
        }
        if (!kept && received < keep) {
            std::copy_n(dropped.begin(), std::min<size_t>(got, keep - received),
                        data->begin() + received);
        }
        received += static_cast<uint32_t>(got);
        if (static_cast<size_t>(got) < piece) {
            break;  // a short packet ended the host's data early
        }
    }
    return true;
}

bool SendStatus(BulkPipes* pipes, uint32_t tag, uint32_t residue, uint8_t status) {
    uint8_t csw[CSW_BYTES];
    BuildCommandStatus(tag, residue, status, csw);
    return pipes->Send(csw, sizeof csw) == static_cast<long>(sizeof csw);
}

}  // namespace

CommandOutcome ServeCommand(BulkPipes* pipes, ProjectorLuns* luns, const uint8_t* cbw,
                            size_t length) {
    CommandBlock block;
    if (!ParseCommandBlock(cbw, length, MAX_LUN, &block)) {
        pipes->HaltIn();
        pipes->HaltOut();
        return CommandOutcome::InvalidBlock;
    }
    uint32_t wanted = luns->DataOutWanted(block);
    LunReply reply;
    DataPlan plan;
    if (wanted > 0 || block.direction == Direction::Out) {
        plan = PlanDataPhase(block.direction, block.dataLength,
                             wanted > 0 ? Direction::Out : Direction::None, wanted);
        std::vector<uint8_t> dataOut;
        if (block.direction == Direction::Out &&
            !ReceiveData(pipes, plan.transfer, plan.execute ? wanted : 0, &dataOut)) {
            return CommandOutcome::PipeFailed;
        }
        if (plan.execute) {
            reply = luns->Run(block, dataOut);
        }
    } else {
        reply = luns->Run(block, {});
        plan = PlanDataPhase(block.direction, block.dataLength, Direction::In,
                             static_cast<uint32_t>(reply.dataIn.size()));
        if (!reply.deviceGone && plan.transfer > 0 &&
            pipes->Send(reply.dataIn.data(), plan.transfer) != static_cast<long>(plan.transfer)) {
            return CommandOutcome::PipeFailed;
        }
    }
    if (reply.deviceGone) {
        return CommandOutcome::DeviceGone;
    }
    if (plan.stallIn) {
        pipes->HaltIn();  // the host stops waiting for data that will not come
    }
    uint8_t status = plan.phaseError ? CSW_PHASE_ERROR : reply.status;
    luns->Record(block, status, plan.transfer);
    return SendStatus(pipes, block.tag, plan.residue, status) ? CommandOutcome::Answered
                                                              : CommandOutcome::PipeFailed;
}

}  // namespace gadget
