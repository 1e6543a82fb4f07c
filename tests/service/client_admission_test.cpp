#include "service/client_admission.h"

#include <gtest/gtest.h>

#include "service/session_choice.h"

namespace {

// A user switch leaves the previous user's program in a session of its own, and a program run
// as another user inside the console session shares its session: neither is served, and
// neither learns whether someone is.
TEST(ClientAdmissionTest, OnlyTheConsoleUsersProgramInTheAgentsSessionIsServed) {
    const PipeClient console{2, true, true, false};
    EXPECT_EQ(AdmitClient(console, 2, false, false), Admission::Serve);
    EXPECT_EQ(AdmitClient(console, 2, true, false), Admission::Busy);

    for (const bool served : {false, true}) {
        EXPECT_EQ(AdmitClient({1, true, true, true}, 2, served, false), Admission::Refuse);
        EXPECT_EQ(AdmitClient({2, true, false, true}, 2, served, false), Admission::Refuse);
        EXPECT_EQ(AdmitClient({2, false, true, true}, 2, served, false), Admission::Refuse);
        EXPECT_EQ(AdmitClient(console, NO_SESSION, served, false), Admission::Refuse);
    }
}

// Another program of the user's, quicker to connect than the agent just started, would leave
// the agent told busy.
TEST(ClientAdmissionTest, TheAgentJustStartedIsServedBeforeTheUsersOtherPrograms) {
    const PipeClient other{2, true, true, false};
    const PipeClient agent{2, true, true, true};
    EXPECT_EQ(AdmitClient(other, 2, false, true), Admission::Busy);
    EXPECT_EQ(AdmitClient(agent, 2, false, true), Admission::Serve);
    EXPECT_EQ(AdmitClient(agent, 2, true, true), Admission::Busy);
}

}  // namespace
