#pragma once

// Chooses the device backend at start-up: the virtual projector when VORN_KVUSB_DEVICE
// selects it ("virtual" or "virtual:options"), the operating system's units otherwise.
// False, traced, when the variable selects the virtual projector but cannot be parsed.
bool SelectDeviceBackend();
// The same from a text of the variable's form given otherwise (the Linux program's command
// line); null or any text but "virtual..." selects the system's units.
bool SelectDeviceBackendFrom(const char* selection);
