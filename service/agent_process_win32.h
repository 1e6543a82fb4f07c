#pragma once

#include <windows.h>

#include "service/session_choice.h"
#include "service/unit_server_win32.h"

// The agent's program file, beside the service's.
inline constexpr wchar_t AGENT_FILE_NAME[] = L"vorn_kvusb_agent.exe";

// The agent: the tray program in the console user's session, started with that user's token
// and environment.
struct AgentProcess {
    HANDLE process = nullptr;       // while it runs
    uint32_t session = NO_SESSION;  // where it was started, also after it ended by itself
};

// The console session as the choice needs it; *userToken receives the user's token when
// someone is signed in there (the caller closes it), else nullptr.
ConsoleSession QueryConsoleSession(HANDLE* userToken);

// Starts vorn_kvusb_agent.exe, beside the service's program, in `session` as the token's user.
bool StartAgent(uint32_t session, HANDLE userToken, AgentProcess* agent);

// Closes the agent the normal way (it is asked to close through its next reply, and posts
// WM_CLOSE to its own window, so its user's desktop is put back); ends it when it does not
// end within a few seconds.
void EndAgent(AgentProcess* agent, UnitServer* server);
