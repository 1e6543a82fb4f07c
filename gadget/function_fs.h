#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gadget/bulk_transport.h"

// The USB function in user space, through FunctionFS: the descriptors and strings written to its
// ep0 file (one mass-storage interface, SCSI transparent command set, Bulk-Only Transport, a
// bulk-in and a bulk-out endpoint at full, high and super speed), and the bulk endpoints' files,
// ep1 (in) and ep2 (out), as the transport's pipes.

namespace gadget {

std::vector<uint8_t> BuildFunctionDescriptors();
std::vector<uint8_t> BuildFunctionStrings(const std::string& interfaceName);

// A halt is an I/O of the wrong direction, as FunctionFS takes it.
class FunctionFsPipes : public BulkPipes {
  public:
    FunctionFsPipes(int in, int out) : m_in(in), m_out(out) {}
    long Receive(uint8_t* data, size_t length) override;
    long Send(const uint8_t* data, size_t length) override;
    void HaltIn() override;
    void HaltOut() override;

  private:
    int m_in;
    int m_out;
};

}  // namespace gadget
