#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "device/device_backend.h"
#include "service/session_choice.h"

// The projector's two units, opened by the service alone, and the local pipe through which one
// agent at a time sends them the projector's own requests, with its writes' data in a section
// made for that agent's connection alone. Every client is served on a thread of its own, and
// every wait on a client has a deadline: no client holds the service.
struct UnitServer {
    DeviceBackend* backend = nullptr;  // the system's
    DeviceHandle units[3] = {};        // by SERVICE_UNIT_DISK, SERVICE_UNIT_OPTICAL
    std::string paths[3];
    bool limitsStated[3] = {};  // what each unit's adapter takes
    TransferLimits limits[3];
    std::mutex unitLock;         // one request on the units at a time: the agent's or the probe's
    uint8_t* buffer = nullptr;   // a page: a read's reply
    HANDLE stopEvent = nullptr;  // set when the service stops: the pipe threads end
    HANDLE listener = nullptr;
    HANDLE listening = nullptr;    // set once the pipe's name is the service's
    HANDLE pipeChanged = nullptr;  // the name became the service's, or a served client left
    std::atomic<bool> serving{false};
    std::atomic<bool> closeAsked{false};  // tell the agent to close, in every reply
    std::atomic<int> connections{0};      // client threads still running
    // The agent the service started, and whether it was ever served: one that ended before
    // was told busy, or met another server, and no user chose its Exit.
    std::atomic<uint32_t> agentProcessId{0};
    std::atomic<bool> agentServed{false};

    // Who may be served, and who is: under clientLock.
    std::mutex clientLock;
    uint32_t clientSession = NO_SESSION;  // the agent's session, NO_SESSION while there is none
    std::vector<uint8_t> consoleUser;     // the console user's SID
    std::vector<uint8_t> servedUser;      // the served client's SID
    HANDLE servedDrop = nullptr;          // set to end the served client's connection
};

// Finds the first of the projector's disk and optical units among the disk interfaces,
// opens both, asks what their adapters take and hides the projector's volume. False, traced,
// when either is missing.
bool OpenProjectorUnits(UnitServer* server);
// Closes the units and frees the reply buffer; only once no client thread runs.
void CloseProjectorUnits(UnitServer* server);

// Whether the projector still answers its link-speed read.
bool ProjectorAnswers(UnitServer* server);

// The pipe, admitting the interactive user and no remote client, and its listener thread. The
// name is taken only as the pipe's first instance: while another process holds it, the
// listener traces it and tries again every second. Writes beyond what the unit's adapter takes
// are refused, as the in-process program refuses to start on such an adapter.
bool StartUnitServer(UnitServer* server);
// Ends the listener and every client's connection (stopEvent set first), and waits until no
// client thread uses the units, the reply page or a section any longer.
void StopUnitServer(UnitServer* server);

// The session and user (the token's) whose program may be served from now on; NO_SESSION and
// nullptr: nobody's. A served client of another user or session is dropped.
void SetServedUser(UnitServer* server, uint32_t session, HANDLE userToken);
