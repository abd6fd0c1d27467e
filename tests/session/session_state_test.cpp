#include "session_state.h"

#include <gtest/gtest.h>

namespace {

TEST(SessionState, LoadValues) {
  SessionState s;
  EXPECT_FALSE(s.active.load());
  EXPECT_FALSE(s.relay_running.load());
  EXPECT_EQ(s.link_socket.load(), kNoSocket);
  EXPECT_EQ(s.server_connection.load(), 0);
  EXPECT_EQ(s.phase.load(), ORBLAN_STATE_NONE);
}

TEST(SessionState, ServerEventsDriveTheFlagAndThePhase) {
  SessionState s;
  BeginSession(s, 4);
  EXPECT_TRUE(s.active.load());
  EXPECT_EQ(s.phase.load(), ORBLAN_STATE_WAITING);

  ApplyServerEvent(s, 4, orb::EVENT_CONNECTED);
  EXPECT_EQ(s.phase.load(), ORBLAN_STATE_CONNECTED);
  EXPECT_TRUE(s.active.load());

  ApplyServerEvent(s, 4, orb::EVENT_DISCONNECTED);
  EXPECT_EQ(s.phase.load(), ORBLAN_STATE_CONNECTED);
  EXPECT_TRUE(s.active.load());

  ApplyServerEvent(s, 4, orb::EVENT_PEERCLOSE);
  EXPECT_EQ(s.phase.load(), ORBLAN_STATE_LOST);
  EXPECT_FALSE(s.active.load());
}

TEST(SessionState, TimeOutBeforeConfirmationLosesTheSession) {
  SessionState s;
  BeginSession(s, 1);
  ApplyServerEvent(s, 1, orb::EVENT_TIMEOUT);
  EXPECT_EQ(s.phase.load(), ORBLAN_STATE_LOST);
  EXPECT_FALSE(s.active.load());
}

TEST(SessionState, EarlierSessionsConnectionCannotTouchTheCurrentOne) {
  SessionState s;
  BeginSession(s, 1);
  EndSession(s);
  BeginSession(s, 2);
  ApplyServerEvent(s, 1, orb::EVENT_TIMEOUT);  // the first session's connection timing out
  EXPECT_TRUE(s.active.load());
  EXPECT_EQ(s.phase.load(), ORBLAN_STATE_WAITING);
  ApplyServerEvent(s, 0, orb::EVENT_TIMEOUT);
  EXPECT_TRUE(s.active.load());
}

TEST(SessionState, NothingRevivesAnEndedSession) {
  SessionState s;
  BeginSession(s, 3);
  EndSession(s);
  EXPECT_EQ(s.phase.load(), ORBLAN_STATE_NONE);
  ApplyServerEvent(s, 3, orb::EVENT_CONNECTED);  // a late confirmation
  EXPECT_FALSE(s.active.load());
  EXPECT_EQ(s.phase.load(), ORBLAN_STATE_NONE);
}

}  // namespace
