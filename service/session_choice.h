#pragma once

#include <cstdint>

// Which session the agent runs in: the console's, and only while a user is signed in there
// and it is attached to the console itself. A remote or disconnected session never drives the
// projector, and neither does session 0, where services run.

inline constexpr uint32_t NO_SESSION = 0xFFFFFFFF;  // also the console's id while it changes

struct ConsoleSession {
    uint32_t id;        // WTSGetActiveConsoleSessionId
    bool active;        // its connect state is WTSActive
    bool remote;        // its client protocol is not the console's
    bool userSignedIn;  // WTSQueryUserToken gives its user's token
};

// The session the agent should run in, or NO_SESSION.
uint32_t ChooseAgentSession(const ConsoleSession& console);

enum class AgentStep {
    Keep,     // the agent (or its absence) is right as it is
    Start,    // start one in the chosen session
    Close,    // close the one there is, start none
    Replace,  // close the one there is, then start one in the chosen session
};

// From the session the agent was started in (NO_SESSION: none) to the chosen one. An agent
// that ended by itself in the chosen session is not started again: its user chose Exit.
AgentStep NextAgentStep(uint32_t agentSession, uint32_t chosenSession);
