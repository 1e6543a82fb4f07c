#include "device/opened_unit_linux.h"

#include "device/device_discovery.h"
#include "device/linux_scsi_units.h"

bool FindOpenedOpticalUnit(std::string* sgNode, std::string* hctl) {
    std::string path;
    uint32_t error = 0;
    if (g_uOpticalSearchIndex == 0 ||
        g_pDeviceBackend->GetDiskInterface(g_uOpticalSearchIndex - 1, &path, &error) !=
            InterfaceLookup::Found ||
        !PathContainsText(path, OPTICAL_UNIT_SEARCH_TEXT) || SgNodeOfUnitPath(path).empty()) {
        return false;
    }
    // The path ends in "#<h:c:t:l>#<sg node>".
    size_t last = path.rfind('#');
    size_t before = path.rfind('#', last - 1);
    *sgNode = SgNodeOfUnitPath(path);
    *hctl = path.substr(before + 1, last - before - 1);
    return true;
}
