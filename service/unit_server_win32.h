#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "device/device_backend.h"
#include "service/session_choice.h"

// The projector's two units, opened by the service alone, and the local pipe through which one
// agent at a time sends them the projector's own requests, with its writes' data in a section
// made for that agent's connection alone.
struct UnitServer {
    DeviceBackend* backend = nullptr;  // the system's
    DeviceHandle units[3] = {};        // by SERVICE_UNIT_DISK, SERVICE_UNIT_OPTICAL
    std::string paths[3];
    bool limitsStated[3] = {};  // what each unit's adapter takes in one request
    TransferLimits limits[3];
    std::mutex unitLock;         // one request on the units at a time: the agent's or the probe's
    uint8_t* buffer = nullptr;   // a page: a read's reply
    HANDLE stopEvent = nullptr;  // set when the service stops: the pipe threads end
    HANDLE listener = nullptr;
    HANDLE listening = nullptr;  // set once the pipe exists: clients may connect from then on
    // The session whose program may connect: the agent's, NO_SESSION while there is none.
    std::atomic<uint32_t> clientSession{NO_SESSION};
    std::atomic<bool> serving{false};
    std::atomic<bool> closeAsked{false};  // tell the agent to close, in every reply
};

// Finds the first of the projector's disk and optical units among the disk interfaces,
// opens both, asks what their adapters take and hides the projector's volume. False, traced,
// when either is missing.
bool OpenProjectorUnits(UnitServer* server);
// Closes the units and frees the reply buffer.
void CloseProjectorUnits(UnitServer* server);

// Whether the projector still answers its link-speed read.
bool ProjectorAnswers(UnitServer* server);

// The pipe, admitting the interactive user and no remote client, and its listener thread.
// Writes beyond what the unit's adapter takes are refused, as the in-process program refuses
// to start on such an adapter.
bool StartUnitServer(UnitServer* server);
// Ends the listener and any agent's connection (stopEvent set first).
void StopUnitServer(UnitServer* server);
