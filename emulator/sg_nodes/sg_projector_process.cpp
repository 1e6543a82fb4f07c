// kvusb_sg_projector SOCKET: the virtual projector that KVUSB_SG_NODES and KVUSB_SG_PROJECTOR
// describe, in a process of its own, answering the SG_IO requests that the preloaded library
// forwards to SOCKET (KVUSB_SG_SERVER, sg_node_forward.h). Ended by SIGTERM or SIGINT, or when
// the process that started it ends (the program, started after it by the same shell's exec),
// it says how many frames it showed and how many protocol errors it saw; exit code 1 for any.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator/sg_nodes/sg_node_attachment.h"
#include "emulator/sg_nodes/sg_node_forward.h"

namespace {

bool CopyFromProgram(pid_t program, const void* at, void* into, size_t length) {
    iovec local{into, length};
    iovec remote{const_cast<void*>(at), length};
    return length == 0 ||
           process_vm_readv(program, &local, 1, &remote, 1, 0) == static_cast<ssize_t>(length);
}

bool CopyToProgram(pid_t program, const void* from, void* at, size_t length) {
    iovec local{const_cast<void*>(from), length};
    iovec remote{at, length};
    return length == 0 ||
           process_vm_writev(program, &local, 1, &remote, 1, 0) == static_cast<ssize_t>(length);
}

// Answers one connection's requests until the program's thread hangs up. The command, the data
// and the sense are read and written where the program keeps them, as the device does.
void Serve(int connection, emu::SgNodeAttachment* attachment, int nodes) {
    ucred peer{};
    socklen_t size = sizeof peer;
    getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size);
    std::vector<uint8_t> command;
    std::vector<uint8_t> data;
    std::vector<uint8_t> sense;
    emu::ForwardedRequest request{};
    while (emu::ReceiveAll(connection, &request, sizeof request)) {
        sg_io_hdr header = request.header;
        const sg_io_hdr& theirs = request.header;
        command.resize(header.cmd_len);
        data.resize(header.dxfer_len);
        sense.resize(header.mx_sb_len);
        header.cmdp = command.data();
        header.dxferp = theirs.dxferp != nullptr ? data.data() : nullptr;
        header.sbp = theirs.sbp != nullptr ? sense.data() : nullptr;
        const bool out = header.dxfer_direction == SG_DXFER_TO_DEV;
        const bool in = header.dxfer_direction == SG_DXFER_FROM_DEV;
        emu::ForwardedAnswer answer{-1, EFAULT, {}};
        if (request.node < 0 || request.node >= nodes) {
            answer.error = ENODEV;
        } else if (CopyFromProgram(peer.pid, theirs.cmdp, command.data(), command.size()) &&
                   (!out || CopyFromProgram(peer.pid, theirs.dxferp, data.data(), data.size()))) {
            errno = 0;
            attachment->AnswerNode(request.node, &header, &answer.result);
            answer.error = errno;
            bool copied = (!in || answer.result < 0 || header.dxferp == nullptr ||
                           CopyToProgram(peer.pid, data.data(), theirs.dxferp, data.size())) &&
                          (header.sbp == nullptr ||
                           CopyToProgram(peer.pid, sense.data(), theirs.sbp, header.sb_len_wr));
            if (!copied) {
                answer = {-1, EFAULT, {}};
            }
        }
        header.cmdp = theirs.cmdp;
        header.dxferp = theirs.dxferp;
        header.sbp = theirs.sbp;
        answer.header = header;
        if (!emu::SendAll(connection, &answer, sizeof answer)) {
            break;
        }
    }
    close(connection);
}

// Listens on `path`, which appears only once it takes connections: whoever waits for the file
// may connect at once.
int Listen(const std::string& path) {
    const std::string preparing = path + ".new";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (preparing.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(address.sun_path, preparing.c_str());
    unlink(preparing.c_str());
    int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening >= 0 &&
        (bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
         listen(listening, 16) != 0 || rename(preparing.c_str(), path.c_str()) != 0)) {
        close(listening);
        listening = -1;
    }
    return listening;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvusb_sg_projector SOCKET\n");
        return 2;
    }
    emu::SgNodeConfig config;
    std::string error;
    std::unique_ptr<emu::SgNodeAttachment> attachment;
    if (emu::ReadSgNodeEnvironment(&config, &error)) {
        attachment = emu::SgNodeAttachment::Create(config, &error);
    }
    if (attachment && config.caller != emu::SgCaller::Native) {
        attachment.reset();
        error = "only a native caller's requests can be forwarded";
    }
    if (!attachment) {
        std::fprintf(stderr, "kvusb_sg_projector: %s\n", error.c_str());
        return 2;
    }
    // The signals that end the process are waited for here, not taken by a serving thread.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    int listening = Listen(argv[1]);
    if (listening < 0) {
        std::fprintf(stderr, "kvusb_sg_projector: %s: %s\n", argv[1], std::strerror(errno));
        return 2;
    }
    const int nodes = static_cast<int>(config.nodes.size());
    std::thread([listening, nodes, projector = attachment.get()] {
        for (;;) {
            int connection = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0) {
                std::thread(Serve, connection, projector, nodes).detach();
            }
        }
    }).detach();
    int signal = 0;
    sigwait(&ending, &signal);
    const emu::VirtualProjector* projector = attachment->Projector();
    uint64_t shown = projector != nullptr ? projector->Report().framesShown : 0;
    uint64_t errors = projector != nullptr ? projector->Report().protocolErrorCount : 0;
    std::printf("frames_shown %" PRIu64 " protocol_errors %" PRIu64 "\n", shown, errors);
    std::fflush(stdout);
    // The serving threads may be inside the projector: the process ends without unwinding it.
    std::_Exit(errors == 0 ? 0 : 1);
}
