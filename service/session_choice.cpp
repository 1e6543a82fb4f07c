#include "service/session_choice.h"

namespace {

constexpr uint32_t SERVICES_SESSION = 0;

}  // namespace

uint32_t ChooseAgentSession(const ConsoleSession& console) {
    if (console.id == NO_SESSION || console.id == SERVICES_SESSION || !console.active ||
        console.remote || !console.userSignedIn) {
        return NO_SESSION;
    }
    return console.id;
}

AgentStep NextAgentStep(uint32_t agentSession, uint32_t chosenSession) {
    if (agentSession == chosenSession) {
        return AgentStep::Keep;
    }
    if (agentSession == NO_SESSION) {
        return AgentStep::Start;
    }
    return chosenSession == NO_SESSION ? AgentStep::Close : AgentStep::Replace;
}
