// kvusbtool: the command-line companion of vorn_kvusb. Each subcommand lives in a file of
// its own and has one row in the table below.
#include <cstdio>
#include <cstring>

#include "tools/tool_command.h"
#if defined(KV_HAVE_FRAME_BENCH)
#include "bench/frame_bench.h"
#endif

int RunEncodeCommand(int argc, char** argv);
int RunDecodeCommand(int argc, char** argv);
int RunShowCommand(int argc, char** argv);
int RunInfoCommand(int argc, char** argv);
int RunGrabCommand(int argc, char** argv);
#if defined(KV_HAVE_STREAM)
int RunStreamCommand(int argc, char** argv);
#endif

namespace {

struct ToolCommand {
    const char* name;
    const char* usage;
    ToolCommandFunction run;
};

const ToolCommand kCommands[] = {
    {"encode", "encode IN.raw OUT.bin [--type N --width N --height N --flags N ...]",
     RunEncodeCommand},
    {"decode", "decode IN.bin OUT.raw [--bpp N --segment-pixels N --blank]", RunDecodeCommand},
#if defined(KV_HAVE_FRAME_BENCH)
    {"bench", "bench [benchmark options]", RunFrameBench},
#endif
    {"show", "show IMAGE [--virtual OUT.png]", RunShowCommand},
    {"info", "info [--virtual]", RunInfoCommand},
    {"grab", "grab OUT.png [--zoom 0|1|2]", RunGrabCommand},
#if defined(KV_HAVE_STREAM)
    {"stream", "stream [--seconds N] [--settings FILE] [-v]", RunStreamCommand},
#endif
};

// In the GNU form ("Usage:", then "  or:"), which help2man turns into the man page's synopsis.
void PrintUsage() {
    const char* lead = "Usage:";
    for (const ToolCommand& command : kCommands) {
        std::printf("%s kvusbtool %s\n", lead, command.usage);
        lead = "  or: ";
    }
    std::printf(
        "  or:  kvusbtool --help | --version\n\n"
        "The command-line companion of vorn_kvusb: the KVUSB pico projector's frame\n"
        "format, a picture or a test stream shown on the projector (or the virtual\n"
        "one), its status, and a desktop frame as the projector would receive it.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "kvusbtool: no command given (try kvusbtool help)\n");
        return kToolMisused;
    }
    if (std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) {
        PrintUsage();
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("kvusbtool %s\n", KV_PROGRAM_VERSION);
        return 0;
    }
    for (const ToolCommand& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0)
            return command.run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "kvusbtool: unknown command %s (try kvusbtool help)\n", argv[1]);
    return kToolMisused;
}
