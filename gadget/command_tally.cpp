#include "gadget/command_tally.h"

#include <algorithm>
#include <cstdio>

namespace gadget {
namespace {

struct NamedCommand {
    uint8_t opcode;
    const char* name;
    // The CDB bytes that make a kind of its own, beside the opcode: a page, a service action,
    // a register. -1 ends the list.
    int kindBytes[4];
    bool lengthVaries = false;  // reads and writes: one kind whatever their length
};

constexpr NamedCommand COMMANDS[] = {
    {0x00, "TEST UNIT READY", {-1}},
    {0x03, "REQUEST SENSE", {-1}},
    {0x08, "READ(6)", {-1}, true},
    {0x0A, "WRITE(6)", {-1}, true},
    {0x12, "INQUIRY", {1, 2, -1}},
    {0x15, "MODE SELECT(6)", {-1}},
    {0x1A, "MODE SENSE(6)", {2, 3, -1}},
    {0x1B, "START STOP UNIT", {4, -1}},
    {0x1E, "PREVENT ALLOW MEDIUM REMOVAL", {4, -1}},
    {0x23, "READ FORMAT CAPACITIES", {-1}},
    {0x25, "READ CAPACITY(10)", {-1}},
    {0x28, "READ(10)", {-1}, true},
    {0x2A, "WRITE(10)", {-1}, true},
    {0x2F, "VERIFY(10)", {-1}},
    {0x35, "SYNCHRONIZE CACHE(10)", {-1}},
    {0x43, "READ TOC", {-1}},
    {0x46, "GET CONFIGURATION", {1, -1}},
    {0x4A, "GET EVENT STATUS NOTIFICATION", {1, 4, -1}},
    {0x55, "MODE SELECT(10)", {-1}},
    {0x5A, "MODE SENSE(10)", {2, 3, -1}},
    {0x9E, "SERVICE ACTION IN(16)", {1, -1}},
    {0xA0, "REPORT LUNS", {-1}},
    {0xFD, "vendor read", {5, 6, 7, -1}},
    {0xFE, "vendor control", {6, 7, -1}},
    {0xFF, "vendor write", {-1}, true},
};

const NamedCommand* FindCommand(uint8_t opcode) {
    for (const NamedCommand& command : COMMANDS) {
        if (command.opcode == opcode) {
            return &command;
        }
    }
    return nullptr;
}

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += byte;
    }
    return text;
}

const char* DirectionName(Direction direction) {
    return direction == Direction::In ? "in " : direction == Direction::Out ? "out " : "no data";
}

}  // namespace

const char* CommandName(uint8_t opcode) {
    const NamedCommand* command = FindCommand(opcode);
    return command != nullptr ? command->name : "";
}

void CommandTally::Add(const char* unit, const CommandBlock& block, uint8_t status,
                       const Sense& sense, uint32_t dataMoved) {
    std::string key = std::string(unit) + " " + Hex(block.cdb, 1);
    const NamedCommand* command = FindCommand(block.cdb[0]);
    if (command != nullptr) {
        for (const int* at = command->kindBytes; *at >= 0; ++at) {
            key += " " + Hex(block.cdb + *at, 1);
        }
    } else {
        key += " " + Hex(block.cdb, block.cdbLength);  // unknown: every byte counts
    }
    if (command == nullptr || !command->lengthVaries) {
        key += " " + std::string(DirectionName(block.direction)) + std::to_string(block.dataLength);
    }
    auto kind =
        std::find_if(m_kinds.begin(), m_kinds.end(), [&](const Kind& k) { return k.key == key; });
    if (kind == m_kinds.end()) {
        std::string name = command != nullptr ? command->name : "unknown";
        m_kinds.push_back({key,
                           std::string(unit) + " " + name + " " + Hex(block.cdb, block.cdbLength),
                           block.direction,
                           block.dataLength,
                           block.dataLength,
                           0,
                           {}});
        kind = m_kinds.end() - 1;
    }
    char answer[64];
    if (status == CSW_PASSED && !(command != nullptr && command->lengthVaries)) {
        std::snprintf(answer, sizeof answer, "passed, %u bytes", dataMoved);
    } else if (status == CSW_PASSED) {
        std::snprintf(answer, sizeof answer, "passed");
    } else if (status == CSW_FAILED) {
        std::snprintf(answer, sizeof answer, "failed, sense %X/%02X/%02X", sense.key, sense.asc,
                      sense.ascq);
    } else {
        std::snprintf(answer, sizeof answer, "phase error");
    }
    ++kind->count;
    kind->minLength = std::min(kind->minLength, block.dataLength);
    kind->maxLength = std::max(kind->maxLength, block.dataLength);
    if (std::find(kind->answers.begin(), kind->answers.end(), answer) == kind->answers.end()) {
        kind->answers.push_back(answer);
    }
}

std::string CommandTally::Format() const {
    std::string text;
    for (const Kind& kind : m_kinds) {
        std::string lengths =
            kind.direction == Direction::None ? "" : std::to_string(kind.minLength);
        if (kind.maxLength != kind.minLength) {
            lengths += " to " + std::to_string(kind.maxLength);
        }
        text += kind.firstSeen + " (" + DirectionName(kind.direction) + lengths + ") x" +
                std::to_string(kind.count) + ":";
        for (size_t i = 0; i < kind.answers.size(); ++i) {
            text += (i == 0 ? " " : " / ") + kind.answers[i];
        }
        text += "\n";
    }
    return text;
}

}  // namespace gadget
