#pragma once

#include <cstdint>
#include <string>

// The gadget in the kernel's configfs: a device with one configuration that holds one
// FunctionFS function, bound to a USB device controller (UDC) when its function is ready.
//
//   <configfs>/usb_gadget/<name>/              idVendor idProduct bcdDevice UDC
//       strings/0x409/                         manufacturer product serialnumber
//       configs/c.1/  strings/0x409/           MaxPower configuration
//       configs/c.1/ffs.<name> -> functions/ffs.<name>

namespace gadget {

struct GadgetIdentity {
    std::string name;  // the gadget's folder and the FunctionFS instance
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t deviceRelease = 0x0100;
    std::string manufacturer;
    std::string product;
    std::string serial;
    uint16_t maxPowerMilliamps = 100;
};

// `root` is configfs's mount point (/sys/kernel/config). False with the reason when the gadget
// cannot be made; whatever was made is removed again.
bool CreateGadget(const std::string& root, const GadgetIdentity& identity, std::string* error);

// Binding enumerates the device on the controller's bus; unbinding is the unplug.
bool BindGadget(const std::string& root, const std::string& name, const std::string& udc,
                std::string* error);
void UnbindGadget(const std::string& root, const std::string& name);

// Removes what CreateGadget made, in the reverse order; the function's file system must be
// unmounted first.
void RemoveGadget(const std::string& root, const std::string& name);

// The first controller in `classRoot` (/sys/class/udc), "" when there is none.
std::string FirstController(const std::string& classRoot);

// The controller's bus speed as its current_speed attribute says ("high-speed" ...), "" when
// unknown.
std::string ControllerSpeed(const std::string& classRoot, const std::string& udc);

}  // namespace gadget
