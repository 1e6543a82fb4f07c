// Frames through the real senders to the virtual projector at a machine's sg nodes, through
// the program's Linux backend, against the same projector in the sender's process: what the
// boundary costs (the SG_IO header, the interposed ioctl, finding the node, judging the header,
// and the wait for each frame to be shown before its frame-done returns). 300 frames a run,
// wall time per frame, the projector's own work included on both sides.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_discovery.h"
#include "device/frame_transfer.h"
#include "emulator/sg_nodes/sg_node_attachment.h"
#include "image/image_file.h"
#include "platform/debug_print.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFrames = 300;

[[noreturn]] void Fail(const std::string& reason) {
    std::fprintf(stderr, "sg_transfer_bench: %s\n", reason.c_str());
    std::exit(1);
}

std::vector<uint8_t> LoadFrame() {
    Image image;
    std::string error;
    if (!ReadImage(KV_BENCH_DATA_DIR "/desktop_text.png", &image, &error)) {
        Fail(error);
    }
    return image.bgr;
}

void OpenUnits() {
    g_uDiskSearchIndex = g_uOpticalSearchIndex = 0;
    DroppedTraces quiet;
    SetTraceSink(&quiet);
    bool opened = OpenDriverlessDevice() == 1;
    SetTraceSink(nullptr);
    if (!opened) {
        Fail("the projector's units did not open");
    }
}

// The machine the Linux backend looks at: fake_tree.sh's, its nodes played by `attachment`.
struct Machine {
    std::string root;
    std::unique_ptr<emu::SgNodeAttachment> attachment;
    std::unique_ptr<DeviceBackend> backend;

    explicit Machine(const std::string& options) {
        std::string pattern = (std::filesystem::temp_directory_path() / "kv_sg_XXXXXX").string();
        root = mkdtemp(pattern.data());
        FILE* tree = popen(("bash " KV_BELOW_DIR "/fake_tree.sh " + root).c_str(), "r");
        char line[512] = {};
        if (tree == nullptr || fgets(line, sizeof line, tree) == nullptr || pclose(tree) != 0) {
            Fail("fake_tree.sh failed");
        }
        std::string nodes;
        std::istringstream names(line);
        for (std::string node; std::getline(names, node, ':');) {
            node.erase(node.find_last_not_of('\n') + 1);
            nodes += (nodes.empty() ? "" : ":") + root + node;
        }
        emu::SgNodeConfig config;
        std::string error;
        if (!emu::ParseSgNodeConfig(nodes.c_str(), options.c_str(), "native", &config, &error) ||
            !(attachment = emu::SgNodeAttachment::Create(config, &error))) {
            Fail(error);
        }
        backend.reset(CreateLinuxDeviceBackend((root + "/sys").c_str(), (root + "/dev").c_str(),
                                               "/dev/null"));
    }
    ~Machine() {
        for (DeviceHandle* unit : {&g_hDisk1, &g_hDisk2}) {
            backend->CloseUnit(*unit);
            *unit = nullptr;
        }
        std::filesystem::remove_all(root);
    }
};

void SendFrames(benchmark::State& state, bool compressed, const emu::VirtualProjector& projector) {
    std::vector<uint8_t> frame = LoadFrame();
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        int result = compressed ? SendFrameCompressed(frame.data()) : SendFrameRaw(frame.data());
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        g_bFrameToggle ^= 1;
        if (result != 0) {
            state.SkipWithError("a frame failed");
            return;
        }
    }
    emu::EmulatorReport report = projector.Report();
    int shown = report.projectors[0].framesCompleted[0] + report.projectors[0].framesCompleted[1];
    if (report.protocolErrorCount != 0 || shown != kFrames) {
        state.SkipWithError("the projector did not show every frame without protocol errors");
    }
}

const char* LinkOption(bool compressed) {
    return compressed ? "link=2.0" : "link=3.0";
}

void InProcess(benchmark::State& state, bool compressed) {
    emu::VirtualConfig config;
    std::string error;
    emu::ParseVirtualConfig(std::string("virtual:") + LinkOption(compressed), &config, &error);
    emu::VirtualProjector projector(config);
    g_pDeviceBackend = &projector;
    OpenUnits();
    SendFrames(state, compressed, projector);
}

void SgNodes(benchmark::State& state, bool compressed) {
    Machine machine(LinkOption(compressed));
    g_pDeviceBackend = machine.backend.get();
    emu::SetLinkedAttachment(machine.attachment.get());
    OpenUnits();
    SendFrames(state, compressed, *machine.attachment->Projector());
    emu::SetLinkedAttachment(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    for (bool compressed : {false, true}) {
        const char* kind = compressed ? "compressed" : "raw";
        benchmark::RegisterBenchmark((std::string("InProcess/") + kind).c_str(), InProcess,
                                     compressed)
            ->Iterations(kFrames)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("SgNodes/") + kind).c_str(), SgNodes, compressed)
            ->Iterations(kFrames)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
