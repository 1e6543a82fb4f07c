#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gadget/bulk_only.h"
#include "gadget/scsi_unit.h"

// Every kind of command the host sent, in the order first seen, with how often it came and how
// it was answered: what the gadget prints when it ends, to show what a host's storage stack
// asks of a new device. Commands of one kind differ only in their addresses, and for reads and
// writes in their lengths (a READ(10) of any block is one kind; an INQUIRY of each page, or of
// each allocation length, is a kind of its own).

namespace gadget {

class CommandTally {
  public:
    // `unit`: "optical" or "disk"; the CSW's status, the unit's sense when it failed, and the
    // bytes of data moved.
    void Add(const char* unit, const CommandBlock& block, uint8_t status, const Sense& sense,
             uint32_t dataMoved);

    // One line a kind, with its first CDB, the host's data lengths and every distinct answer:
    // "disk READ(10) 28 00 00 00 00 00 00 00 01 00 (in 512 to 4096) x13: passed".
    std::string Format() const;

  private:
    struct Kind {
        std::string key;
        std::string firstSeen;  // the unit, name and CDB of the first of its kind
        Direction direction;
        uint32_t minLength;
        uint32_t maxLength;
        uint64_t count;
        std::vector<std::string> answers;  // distinct, in the order seen
    };
    std::vector<Kind> m_kinds;
};

// "INQUIRY", "READ(10)", "vendor write" ...; "" for a command without a name here.
const char* CommandName(uint8_t opcode);

}  // namespace gadget
