#pragma once

// The INQUIRY strings the projector's two units report, unpadded: what the virtual projector
// and the gadget answer, and what Windows builds the units' hardware ids from.
inline constexpr char PROJECTOR_VENDOR[] = "KVUSB";
inline constexpr char PROJECTOR_DISK_PRODUCT[] = "TR40W17B6-2";
inline constexpr char PROJECTOR_OPTICAL_PRODUCT[] = "TR40W17B6-1";
inline constexpr char PROJECTOR_REVISION[] = "1.00";
