#pragma once

#include <string>

#include "device/device_backend.h"

// Looks at the projector's units before start-up opens them, to tell the user in one line
// what stands in the way: no unit at all, or one that cannot be opened (on Linux: no sg node,
// or no permission on it). `program` is named where running it with more rights would help.
// True when both units are there and open.
bool CheckProjectorUnits(DeviceBackend* backend, const char* program, std::string* error);
