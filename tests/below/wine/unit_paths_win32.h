#pragma once

#include <string>

// The first projector's unit paths as Wine's SetupAPI lists them (register_units.sh registers
// them): in lower case.
inline const std::string kBelowDiskPath =
    "\\\\?\\usbstor#disk&ven_kvusb&prod_tr40w17b6-2&rev_1.00#7&1c2a3f4e&0&000000#"
    "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
inline const std::string kBelowOpticalPath =
    "\\\\?\\usbstor#optical&ven_kvusb&prod_tr40w17b6-1&rev_1.00#7&1c2a3f4e&0&000001#"
    "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
