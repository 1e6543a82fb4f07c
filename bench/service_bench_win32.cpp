// What the device service's channel costs a frame, beside the in-process path: the same raw
// frames through the real senders into the virtual projector, once with the projector as the
// program's backend and once through the agent's backend, the pipe and the service's unit
// server (both ends in this process, so the host CPU of both is counted). Under Wine:
//   scripts/wine-run build/mingw/bench/service_bench.exe [frames]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/device_backend.h"
#include "device/device_discovery.h"
#include "device/frame_transfer.h"
#include "device/scsi_commands.h"
#include "emulator/device_request.h"
#include "platform/debug_print.h"
#include "service/unit_server_win32.h"

namespace {

constexpr double FRAME_PERIOD_45_FPS_MS = 1000.0 / 45;

double ProcessCpuMs() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto ms = [](const FILETIME& time) {
        return (static_cast<double>(time.dwHighDateTime) * 4294967296.0 + time.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

struct Cost {
    double cpuMs;   // per frame
    double wallMs;  // per frame
    int failed;
    double readWallMs;  // one link-speed read, a request that crosses alone
};

double WallMs(const LARGE_INTEGER& start) {
    LARGE_INTEGER frequency, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

// Opens the units through g_pDeviceBackend and sends `frames` raw frames, alternating banks.
Cost SendFrames(int frames, const std::vector<uint8_t>& picture) {
    g_uOpticalSearchIndex = 0;
    g_uDiskSearchIndex = 0;
    if (OpenDriverlessDevice() != 1) {
        std::fprintf(stderr, "the units did not open (%s)\n",
                     g_pDeviceBackend == nullptr ? "" : "see the traces");
        std::exit(1);
    }
    LARGE_INTEGER start;
    const double cpuStart = ProcessCpuMs();
    QueryPerformanceCounter(&start);
    int failed = 0;
    for (int frame = 0; frame < frames; ++frame) {
        g_bFrameToggle = frame % 2;
        failed += SendFrameRaw(picture.data()) != 0 ? 1 : 0;
    }
    const double wallMs = WallMs(start);
    const double cpuMs = ProcessCpuMs() - cpuStart;
    QueryPerformanceCounter(&start);
    for (int read = 0; read < frames; ++read) {
        failed += scsi_cmd_read_link_speed() != 0 ? 1 : 0;
    }
    return {cpuMs / frames, wallMs / frames, failed, WallMs(start) / frames};
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    // Traces to standard error: the units opening and the first frames.

    std::vector<uint8_t> picture(FRAME_BYTES);
    for (size_t i = 0; i < picture.size(); ++i) {
        picture[i] = static_cast<uint8_t>(i * 7 / 3);
    }
    DeviceBackend* projector = nullptr;
    std::string error;
    if (!emu::MakeVirtualProjector("virtual:link=3.0", &projector, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    g_pDeviceBackend = projector;
    const Cost direct = SendFrames(frames, picture);

    UnitServer server;
    server.backend = projector;
    server.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    SetServedUser(&server, session, token);
    CloseHandle(token);
    if (!OpenProjectorUnits(&server) || !StartUnitServer(&server) ||
        WaitForSingleObject(server.listening, 5000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "the unit server did not start\n");
        return 1;
    }
    g_pDeviceBackend = CreateServiceDeviceBackend(L"service_bench");
    const Cost served = SendFrames(frames, picture);
    StopUnitServer(&server);

    std::printf("raw frames, %d each way            host CPU ms/frame   wall ms/frame   failed\n",
                frames);
    std::printf("in process                         %8.3f            %8.3f        %d\n",
                direct.cpuMs, direct.wallMs, direct.failed);
    std::printf("through the service's pipe         %8.3f            %8.3f        %d\n",
                served.cpuMs, served.wallMs, served.failed);
    std::printf("one link-speed read, wall ms       %8.3f in process, %8.3f through the pipe\n",
                direct.readWallMs, served.readWallMs);
    std::printf("round-trip overhead                %8.3f ms of CPU a frame (target < 0.5)\n",
                served.cpuMs - direct.cpuMs);
    std::printf("frames at 45 fps raw               %s (a frame every %.1f ms)\n",
                served.wallMs < FRAME_PERIOD_45_FPS_MS ? "none lost" : "LOST",
                FRAME_PERIOD_45_FPS_MS);
    return 0;
}
