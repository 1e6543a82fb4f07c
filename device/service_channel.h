#pragma once

#include <cstdint>
#include <string>

#include "device/device_backend.h"

// The local channel between the tray program in a user's session (the agent) and the device
// service that owns the projector's units. The agent's backend sends each pass-through request
// as a fixed record, followed by its data for a data-out request; the service checks the
// record field by field before anything reaches a unit, and answers with a fixed record,
// followed by the reply's data for a data-in request that succeeded.

inline constexpr char SERVICE_PIPE_NAME[] = "\\\\.\\pipe\\vorn_kvusb_service";

// The units a request may name: the service's own two, never a path or a handle.
inline constexpr uint8_t SERVICE_UNIT_DISK = 1;     // link speed, status and control reads
inline constexpr uint8_t SERVICE_UNIT_OPTICAL = 2;  // frame writes and control commands

// The service's first words to a client that connects.
inline constexpr uint32_t SERVICE_WELCOME = 0x4B565331;          // "KVS1": served, paths follow
inline constexpr uint32_t SERVICE_BUSY = 0x4B564231;             // another agent is being served
inline constexpr uint32_t SERVICE_REFUSED_SESSION = 0x4B565231;  // not the agent's session
inline constexpr uint32_t SERVICE_PATH_CHARS = 512;  // each unit's path, UTF-8, zero-padded
inline constexpr uint32_t SERVICE_HELLO_BYTES = 4 + 2 * SERVICE_PATH_CHARS;

// The error code of a refused request: the agent's command layer traces it as any other.
inline constexpr uint32_t SERVICE_REFUSED = 5;  // ERROR_ACCESS_DENIED

// Set in a reply's flags when the service wants the agent to close (another console user).
inline constexpr uint32_t SERVICE_FLAG_CLOSE = 1;

struct ServiceRequest {
    uint8_t unit;
    uint8_t cdb[16];
    uint8_t targetId;
    uint8_t senseInfoLength;
    uint8_t dataIn;
    uint32_t dataTransferLength;
    uint32_t timeOutValue;
};
inline constexpr uint32_t SERVICE_REQUEST_BYTES = 28;

struct ServiceReply {
    uint32_t error;  // 0, the unit's OS error code, or SERVICE_REFUSED
    uint32_t flags;
};
inline constexpr uint32_t SERVICE_REPLY_BYTES = 8;

// The first SERVICE_HELLO_BYTES a client reads: the word, then the disk unit's and the
// optical unit's paths (cut to SERVICE_PATH_CHARS - 1 bytes).
void EncodeServiceHello(uint32_t word, const std::string& diskPath, const std::string& opticalPath,
                        uint8_t* out);
uint32_t DecodeServiceHello(const uint8_t* in, std::string* diskPath, std::string* opticalPath);

// Least significant byte first, whatever the machine.
void EncodeServiceRequest(const ServiceRequest& request, uint8_t* out);
ServiceRequest DecodeServiceRequest(const uint8_t* in);
void EncodeServiceReply(const ServiceReply& reply, uint8_t* out);
ServiceReply DecodeServiceReply(const uint8_t* in);

// The record for a request the device code makes, and the request the service sends.
ServiceRequest ToServiceRequest(uint8_t unit, const ScsiRequest& request);
ScsiRequest ToScsiRequest(const ServiceRequest& request, void* dataBuffer);

// Whether the request is one the projector's own code sends, checked field by field: on the
// disk unit the link-speed read and the five status and control reads, on the optical unit
// the open and frame-done commands and the slice writes to either frame bank, each with its
// lengths. Anything else is refused; *reason then says why, for the trace.
bool IsProjectorRequest(const ServiceRequest& request, const char** reason);
