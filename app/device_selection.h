#pragma once

#include <string>

class DeviceBackend;

// Makes the virtual projector when `request` selects it: true with *backend set, or left null
// when the request selects the system's units; false with the reason in *error when its
// options cannot be parsed. Only the programs that may show frames on the virtual projector
// have one (emu::MakeVirtualProjector); the shipped program has none.
using VirtualProjectorMaker = bool (*)(const char* request, DeviceBackend** backend,
                                       std::string* error);

// Chooses the device backend once at start-up, into g_pDeviceBackend: the virtual projector
// when there is a maker and `request` ("virtual" or "virtual:options", VORN_KVUSB_DEVICE's
// form) selects it, the operating system's units otherwise. False, traced, when the request
// selects the virtual projector but cannot be parsed.
bool SelectDeviceBackend(const char* request, VirtualProjectorMaker makeVirtual);

// The Linux programs' start: SelectDeviceBackend, then a look at the projector's units before
// start-up opens them (CheckProjectorUnits, naming `program`). False with one line for the
// user in *error.
bool SelectProjector(const char* request, VirtualProjectorMaker makeVirtual, const char* program,
                     std::string* error);
