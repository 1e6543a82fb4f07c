#include "platform/settings_store_memory.h"

// No registry here: the settings last as long as the process.
namespace {
MemorySettingsStore g_MemoryStore;
}

SettingsStore* g_pSettingsStore = &g_MemoryStore;
