// The virtual projector's options as a user or a test gives them: VORN_KVUSB_DEVICE or
// kvusb-gadget's --projector, a line of its control file, and the sg-node attachment's
// variables. The input's lines are the texts, in that order (a missing one is unset).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "emulator/sg_nodes/sg_node_attachment.h"
#include "emulator/virtual_config.h"

namespace {

// A configuration the projector can run with.
bool Usable(const emu::VirtualConfig& config) {
    return config.linkValues.size() <= 8 && config.loggedCommands >= 1 &&
           (!config.vanishAtSlice || (*config.vanishAtSlice >= 0 && *config.vanishAtSlice < 20));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string texts[5];
    bool given[5] = {};
    for (int i = 0; i < 5 && !input.empty(); ++i) {
        size_t end = input.find('\n');
        texts[i] = std::string(input.substr(0, end));
        given[i] = true;
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    }
    std::string error;
    emu::VirtualConfig config;
    if (emu::ParseVirtualConfig(texts[0], &config, &error) && !Usable(config)) {
        std::abort();
    }
    emu::VirtualChange change;
    emu::ParseVirtualChange(texts[1], &change, &error);
    emu::SgNodeConfig nodes;
    if (emu::ParseSgNodeConfig(given[2] ? texts[2].c_str() : nullptr,
                               given[3] ? texts[3].c_str() : nullptr,
                               given[4] ? texts[4].c_str() : nullptr, &nodes, &error) &&
        (!Usable(nodes.projector) ||
         nodes.nodes.size() != 1 + 2 * nodes.projector.linkValues.size())) {
        std::abort();
    }
    return 0;
}
