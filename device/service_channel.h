#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "device/device_backend.h"
#include "device/frame_transfer.h"

// The local channel between the tray program in a user's session (the agent) and the device
// service that owns the projector's units. The agent sends its pass-through requests in
// batches of fixed records, and the data of its writes in a section the service maps for that
// agent alone; the service checks every record field by field before anything reaches a unit,
// runs them in order until one fails, and answers with each one's result, followed by the
// data of the reads that succeeded. A frame's slice writes and its frame-done cross as one
// batch (device/service_batch.h): one exchange a frame rather than twenty-one.

inline constexpr char SERVICE_PIPE_NAME[] = "\\\\.\\pipe\\vorn_kvusb_service";
// The service's name with the service control manager: the agent checks that the pipe's
// server is the process running it.
inline constexpr wchar_t DEVICE_SERVICE_NAME[] = L"vorn_kvusb";

// The units a request may name: the service's own two, never a path or a handle.
inline constexpr uint8_t SERVICE_UNIT_DISK = 1;     // link speed, status and control reads
inline constexpr uint8_t SERVICE_UNIT_OPTICAL = 2;  // frame writes and control commands

// A client's first word, once it has made sure the server is the service: the service learns
// the client's user from it, and answers with its own first words.
inline constexpr uint32_t SERVICE_GREETING = 0x4B564331;  // "KVC1"
// The service's first words to a client that connects (the agent checks the word, so an agent
// and a service of different channels refuse each other).
inline constexpr uint32_t SERVICE_WELCOME = 0x4B565332;          // "KVS2": served, paths follow
inline constexpr uint32_t SERVICE_BUSY = 0x4B564231;             // another agent is being served
inline constexpr uint32_t SERVICE_REFUSED_SESSION = 0x4B565231;  // not the agent's session
inline constexpr uint32_t SERVICE_PATH_CHARS = 512;  // each unit's path, UTF-8, zero-padded
// The word, both paths, the client's handle to the data section, and what each unit's
// adapter takes.
inline constexpr uint32_t SERVICE_HELLO_BYTES = 4 + 2 * SERVICE_PATH_CHARS + 8 + 2 * 16;

// A frame's slice writes: 19 full slices and a short last one.
inline constexpr uint32_t SLICES_PER_FRAME = (FRAME_BYTES + SLICE_BYTES - 1) / SLICE_BYTES;

// The error code of a refused request: the agent's command layer traces it as any other.
inline constexpr uint32_t SERVICE_REFUSED = 5;  // ERROR_ACCESS_DENIED
// The result of a request not sent because one before it in its batch failed.
inline constexpr uint32_t SERVICE_NOT_SENT = 995;  // ERROR_OPERATION_ABORTED

// Set in a reply's flags when the service wants the agent to close (another console user).
inline constexpr uint32_t SERVICE_FLAG_CLOSE = 1;

// A batch: its length in requests and the section slot of its first request, then that many
// request records. Request i's write data is in slot first + i; a batch that would reach past
// the last slot, or is empty, ends the connection.
inline constexpr uint32_t SERVICE_BATCH_MAX = SLICES_PER_FRAME + 1;  // a frame and its done
inline constexpr uint32_t SERVICE_BATCH_HEADER_BYTES = 8;
inline constexpr uint32_t SERVICE_SLOT_BYTES = 32 * PAGE_BYTES;  // page-aligned, as the staging
inline constexpr uint32_t SERVICE_SECTION_BYTES = SERVICE_BATCH_MAX * SERVICE_SLOT_BYTES;
// A read's reply travels in the answer, after the results.
inline constexpr uint32_t SERVICE_READ_MAX_BYTES = 16;
inline constexpr uint32_t SERVICE_ANSWER_MAX_BYTES =
    4 + SERVICE_BATCH_MAX * (4 + SERVICE_READ_MAX_BYTES);

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

// The service's welcome. Units are indexed unit - 1.
struct ServiceHello {
    uint32_t word = 0;
    std::string paths[2];
    uint64_t section = 0;  // a handle in the client's own process
    bool limitsStated[2] = {};
    TransferLimits limits[2];
};

void EncodeServiceHello(const ServiceHello& hello, uint8_t* out);
// Paths are cut to SERVICE_PATH_CHARS - 1 bytes.
ServiceHello DecodeServiceHello(const uint8_t* in);

// Least significant byte first, whatever the machine.
void EncodeServiceRequest(const ServiceRequest& request, uint8_t* out);
ServiceRequest DecodeServiceRequest(const uint8_t* in);
void PutServiceWord(uint8_t* out, uint32_t value);
uint32_t GetServiceWord(const uint8_t* in);

// The record for a request the device code makes, and the request the service sends.
ServiceRequest ToServiceRequest(uint8_t unit, const ScsiRequest& request);
ScsiRequest ToScsiRequest(const ServiceRequest& request, void* dataBuffer);

// Whether the request is one the projector's own code sends, checked field by field: on the
// disk unit the link-speed read and the five status and control reads, on the optical unit
// the open and frame-done commands and the slice writes to either frame bank, each with its
// lengths, each within what the channel carries. Anything else is refused; *reason then says
// why, for the trace.
bool IsProjectorRequest(const ServiceRequest& request, const char** reason);

// The slice, 0 to SLICES_PER_FRAME - 1, and bank a write of the optical unit names; false
// for any other request. Says nothing of the request's other fields.
bool SliceOfWrite(const ServiceRequest& request, uint32_t* slice, uint32_t* bank);

// What the service's side of a batch works with: its backend and units (by unit number), what
// their adapters take, a page-aligned buffer for a read's reply, and the lock the units are
// used under.
struct ServedUnits {
    DeviceBackend* backend = nullptr;
    DeviceHandle units[3] = {};
    bool limitsStated[3] = {};
    TransferLimits limits[3];
    uint8_t* readBuffer = nullptr;  // at least SERVICE_READ_MAX_BYTES
    std::mutex* lock = nullptr;
};

// Whether a batch header names requests the section has slots for.
bool BatchFitsSection(uint32_t count, uint32_t first);

// Runs a batch that fits the section: the `count` records at `records`, write i's data in
// `section`'s slot first + i, checked and sent in order until one fails or is refused; the
// rest are not sent. Writes the answer (`flags`, each result, the replies of the reads that
// succeeded) to `answer` (SERVICE_ANSWER_MAX_BYTES) and returns its length.
uint32_t RunServiceBatch(const ServedUnits& served, const uint8_t* records, uint32_t count,
                         uint32_t first, uint8_t* section, uint32_t flags, uint8_t* answer);
