#include "gadget/function_fs.h"

#include <linux/usb/functionfs.h>
#include <unistd.h>

#include <cerrno>

namespace gadget {
namespace {

constexpr uint8_t INTERFACE_CLASS_MASS_STORAGE = 0x08;
constexpr uint8_t SUBCLASS_SCSI_TRANSPARENT = 0x06;
constexpr uint8_t PROTOCOL_BULK_ONLY = 0x50;
constexpr uint8_t ENDPOINT_IN = 0x81;
constexpr uint8_t ENDPOINT_OUT = 0x02;
constexpr uint8_t ATTRIBUTES_BULK = 0x02;
constexpr uint16_t FULL_SPEED_PACKET = 64;
constexpr uint16_t HIGH_SPEED_PACKET = 512;
constexpr uint16_t SUPER_SPEED_PACKET = 1024;
constexpr uint8_t SUPER_SPEED_BURST = 15;  // 16 packets a burst, as storage functions use
constexpr uint16_t LANGUAGE_US_ENGLISH = 0x0409;

void Append16(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void Append32(std::vector<uint8_t>* out, uint32_t value) {
    Append16(out, value);
    Append16(out, value >> 16);
}

void Put32(std::vector<uint8_t>* out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void AppendInterface(std::vector<uint8_t>* out) {
    out->insert(out->end(),
                {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, INTERFACE_CLASS_MASS_STORAGE,
                 SUBCLASS_SCSI_TRANSPARENT, PROTOCOL_BULK_ONLY, 1});
}

void AppendEndpoint(std::vector<uint8_t>* out, uint8_t address, uint16_t packet) {
    out->insert(out->end(), {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, ATTRIBUTES_BULK});
    Append16(out, packet);
    out->push_back(0);  // interval
}

void AppendCompanion(std::vector<uint8_t>* out) {
    out->insert(out->end(),
                {USB_DT_SS_EP_COMP_SIZE, USB_DT_SS_ENDPOINT_COMP, SUPER_SPEED_BURST, 0, 0, 0});
}

}  // namespace

std::vector<uint8_t> BuildFunctionDescriptors() {
    std::vector<uint8_t> out;
    Append32(&out, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    Append32(&out, 0);  // the length, filled in below
    Append32(&out, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC | FUNCTIONFS_HAS_SS_DESC);
    Append32(&out, 3);  // descriptors at full speed: interface and two endpoints
    Append32(&out, 3);  // high speed
    Append32(&out, 5);  // super speed: each endpoint with its companion
    for (uint16_t packet : {FULL_SPEED_PACKET, HIGH_SPEED_PACKET}) {
        AppendInterface(&out);
        AppendEndpoint(&out, ENDPOINT_IN, packet);
        AppendEndpoint(&out, ENDPOINT_OUT, packet);
    }
    AppendInterface(&out);
    AppendEndpoint(&out, ENDPOINT_IN, SUPER_SPEED_PACKET);
    AppendCompanion(&out);
    AppendEndpoint(&out, ENDPOINT_OUT, SUPER_SPEED_PACKET);
    AppendCompanion(&out);
    Put32(&out, 4, static_cast<uint32_t>(out.size()));
    return out;
}

std::vector<uint8_t> BuildFunctionStrings(const std::string& interfaceName) {
    std::vector<uint8_t> out;
    Append32(&out, FUNCTIONFS_STRINGS_MAGIC);
    Append32(&out, 0);
    Append32(&out, 1);  // strings
    Append32(&out, 1);  // languages
    Append16(&out, LANGUAGE_US_ENGLISH);
    out.insert(out.end(), interfaceName.begin(), interfaceName.end());
    out.push_back(0);
    Put32(&out, 4, static_cast<uint32_t>(out.size()));
    return out;
}

long FunctionFsPipes::Receive(uint8_t* data, size_t length) {
    ssize_t got = read(m_out, data, length);
    return got < 0 ? -errno : got;
}

long FunctionFsPipes::Send(const uint8_t* data, size_t length) {
    ssize_t sent = write(m_in, data, length);
    return sent < 0 ? -errno : sent;
}

void FunctionFsPipes::HaltIn() {
    uint8_t byte = 0;
    (void)!read(m_in, &byte, sizeof byte);
}

void FunctionFsPipes::HaltOut() {
    uint8_t byte = 0;
    (void)!write(m_out, &byte, sizeof byte);
}

}  // namespace gadget
