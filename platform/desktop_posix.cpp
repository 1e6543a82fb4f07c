#include "platform/desktop_recorded.h"

// No display to change here: a desktop of a common size that records what is asked of it.
namespace {
RecordedDesktop g_RecordedDesktop(1920, 1080);
}

Desktop* g_pDesktop = &g_RecordedDesktop;
