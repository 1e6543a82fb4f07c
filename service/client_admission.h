#pragma once

#include <cstdint>

// Who the service's pipe serves: one program at a time, of the console session's user, in
// the agent's session. Whoever else connects is told no, and learns nothing of who is served.

enum class Admission {
    Serve,
    Busy,    // the console user's, while another of theirs is served
    Refuse,  // anyone else's
};

struct PipeClient {
    uint32_t session;  // GetNamedPipeClientSessionId; NO_SESSION when it cannot be had
    bool identified;   // its token's user could be read
    bool consoleUser;  // that user is the one WTSQueryUserToken gives for the console session
    bool agent;        // the process is the agent the service started
};

// `agentSession`: where the agent runs (NO_SESSION: nobody is served). `served`: a client is
// being served. `agentAwaited`: the agent the service started runs and was not served yet;
// until it is, the user's other programs are told busy, so that none takes its place.
Admission AdmitClient(const PipeClient& client, uint32_t agentSession, bool served,
                      bool agentAwaited);
