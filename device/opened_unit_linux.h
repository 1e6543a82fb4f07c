#pragma once

#include <string>

// Where the optical unit that start-up opened sits among the system's SCSI devices, to watch
// for its removal: its sg node ("sg2") and SCSI address ("2:0:0:1"). It is the entry just before
// the optical search position. False when none was opened or it has no sg node (the virtual
// projector's units).
bool FindOpenedOpticalUnit(std::string* sgNode, std::string* hctl);
