// What a PC on the cable sends the gadget's bulk-out endpoint: packets of any length taken as
// command wrappers, each followed by whatever data the host chooses to send, standard and
// vendor commands alike, on either unit. The projector core behind the units checks what it gets.
//
// The input is the packets in order, each a 16-bit length (little endian) and its bytes; the
// length 0xFFFF is the endpoint failing (a reset, or the wait interrupted).
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "emulator/virtual_projector.h"
#include "gadget/bulk_transport.h"
#include "gadget/fat_volume.h"
#include "platform/debug_print.h"

namespace {

class HostPipes : public gadget::BulkPipes {
  public:
    HostPipes(const uint8_t* data, size_t size) : m_data(data), m_left(size) {}

    // The next packet, as much of it as fits; a packet cut by the input's end is short.
    long Receive(uint8_t* data, size_t length) override {
        if (m_left < 2) {
            m_left = 0;
            return -EPIPE;
        }
        size_t packet = m_data[0] | m_data[1] << 8;
        m_data += 2;
        m_left -= 2;
        if (packet == 0xFFFF) {
            return -EPIPE;
        }
        size_t sent = std::min(packet, m_left);
        size_t count = std::min(sent, length);
        std::copy_n(m_data, count, data);
        m_data += sent;
        m_left -= sent;
        return static_cast<long>(count);
    }
    bool Done() const { return m_left == 0; }
    long Send(const uint8_t*, size_t length) override { return static_cast<long>(length); }
    void HaltIn() override {}
    void HaltOut() override {}

  private:
    const uint8_t* m_data;
    size_t m_left;
};

// A device of its own for each input, as after a plug-in: what one host left behind cannot
// mask what the next does.
struct Gadget {
    explicit Gadget(const std::vector<uint8_t>* volume) {
        emu::VirtualConfig config;
        config.requestView = emu::RequestView::UsbTransport;
        core = std::make_unique<emu::VirtualProjector>(config);
        luns = std::make_unique<gadget::ProjectorLuns>(core.get(), volume, "7B6A17000001");
        std::string error;
        if (!luns->Open(&error)) {
            std::abort();
        }
    }
    std::unique_ptr<emu::VirtualProjector> core;
    std::unique_ptr<gadget::ProjectorLuns> luns;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DroppedTraces dropped;
    SetTraceSink(&dropped);
    static const std::vector<uint8_t> volume = gadget::BuildFatVolume(2048, "TARQ K7Q0", 1);
    Gadget device(&volume);
    HostPipes pipes(data, size);
    uint8_t cbw[gadget::CBW_RECEIVE_BYTES];
    while (!pipes.Done()) {
        long got = pipes.Receive(cbw, sizeof cbw);
        if (got >= 0 &&
            gadget::ServeCommand(&pipes, device.luns.get(), cbw, static_cast<size_t>(got)) ==
                gadget::CommandOutcome::DeviceGone) {
            std::abort();  // no projector here vanishes
        }
    }
    return 0;
}
