#include "service/session_choice.h"

#include <gtest/gtest.h>

namespace {

TEST(SessionChoiceTest, OnlyAnActiveLocalConsoleSessionWithAUserDrivesTheProjector) {
    const ConsoleSession signedIn{1, true, false, true};
    EXPECT_EQ(ChooseAgentSession(signedIn), 1u);
    EXPECT_EQ(ChooseAgentSession({3, true, false, true}), 3u);

    ConsoleSession other = signedIn;
    other.userSignedIn = false;  // the sign-in screen
    EXPECT_EQ(ChooseAgentSession(other), NO_SESSION);
    other = signedIn;
    other.active = false;  // disconnected
    EXPECT_EQ(ChooseAgentSession(other), NO_SESSION);
    other = signedIn;
    other.remote = true;
    EXPECT_EQ(ChooseAgentSession(other), NO_SESSION);
    other = signedIn;
    other.id = 0;  // the services' session
    EXPECT_EQ(ChooseAgentSession(other), NO_SESSION);
    other = signedIn;
    other.id = NO_SESSION;  // the console is changing hands
    EXPECT_EQ(ChooseAgentSession(other), NO_SESSION);
}

TEST(SessionChoiceTest, TheAgentFollowsTheConsoleUser) {
    EXPECT_EQ(NextAgentStep(NO_SESSION, NO_SESSION), AgentStep::Keep);  // waiting for a logon
    EXPECT_EQ(NextAgentStep(NO_SESSION, 1), AgentStep::Start);
    EXPECT_EQ(NextAgentStep(1, 1), AgentStep::Keep);
    EXPECT_EQ(NextAgentStep(1, NO_SESSION), AgentStep::Close);  // locked away, signed out
    EXPECT_EQ(NextAgentStep(1, 2), AgentStep::Replace);         // fast user switching
}

}  // namespace
