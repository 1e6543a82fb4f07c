// kvusbtool bench: the frame codec benchmarks, in builds that have them.
#include <cstdio>

#include "tools/tool_command.h"
#if defined(KV_HAVE_FRAME_BENCH)
#include "bench/frame_bench.h"
#endif

int RunBenchCommand(int argc, char** argv) {
#if defined(KV_HAVE_FRAME_BENCH)
    return RunFrameBench(argc, argv);
#else
    (void)argc;
    (void)argv;
    std::fprintf(stderr, "kvusbtool bench: the benchmark is not part of this build\n");
    return kToolMisused;
#endif
}
