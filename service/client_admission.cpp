#include "service/client_admission.h"

#include "service/session_choice.h"

Admission AdmitClient(const PipeClient& client, uint32_t agentSession, bool served,
                      bool agentAwaited) {
    if (agentSession == NO_SESSION || client.session != agentSession || !client.identified ||
        !client.consoleUser) {
        return Admission::Refuse;
    }
    return served || (agentAwaited && !client.agent) ? Admission::Busy : Admission::Serve;
}
