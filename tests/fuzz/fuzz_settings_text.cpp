// A settings file's text, as a damaged or hand-edited file may hold it. What is read must
// come back the same from the text written for it, or a save would change the user's settings
// (the root key aside: every store has it, so an empty one is not written).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/settings_file.h"

namespace {

MemorySettingsStore::Contents WithoutEmptyRoot(MemorySettingsStore::Contents numbers) {
    if (auto root = numbers.find("Software"); root != numbers.end() && root->second.empty()) {
        numbers.erase(root);
    }
    return numbers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    MemorySettingsStore::Contents numbers = WithoutEmptyRoot(ParseSettingsText(text));
    MemorySettingsStore::TextContents texts = ParseSettingsTexts(text);
    std::string written = FormatSettingsText(numbers, texts);
    if (WithoutEmptyRoot(ParseSettingsText(written)) != numbers ||
        ParseSettingsTexts(written) != texts) {
        std::abort();
    }
    return 0;
}
