// A session's life with the real group server, both on 127.0.0.1: the answer to its join,
// the people in its group, leaving at the end, a server that refuses or restarts, and one
// session per machine. Two sessions play two players; each is what orblan.dll keeps (the
// session state, its link to the server, its transport), driven through the same calls.
#include "session_link.h"

#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <memory>
#include <string>

#include "group_server.h"
#include "link.h"
#include "message_types.h"
#include "platform.h"
#include "relay.h"

using namespace orb;

namespace {

using orb::server::GroupServer;
using orb::server::Logger;
using orb::server::LogLevel;
using orb::server::ServerOptions;

// One player's session library. Plain callbacks carry no context, so each player's
// connection finds its session through a table indexed by address.
struct Player {
  Player() : transport(Quiet()) { endpoint = transport.CreateEndpoint(0); }
  static orb::TransportOptions Quiet() {
    orb::TransportOptions o;
    o.trace = nullptr;
    return o;
  }
  SessionState state;
  SessionLink link;
  orb::Transport transport;
  orb::Endpoint* endpoint = nullptr;
};

Player* g_players[2];
void OnEvent(Player* p, int32_t address, int32_t code) { ApplyServerEvent(p->state, address, code); }
void OnData(Player* p, const uint8_t* d, int32_t n, int32_t type, int32_t address) {
  OnSessionServerData(p->state, p->link, d, n, type, address);
}
template <int i>
void EventOf(int32_t address, int32_t code, int32_t) { OnEvent(g_players[i], address, code); }
template <int i>
void DataOf(const uint8_t* d, int32_t n, int32_t type, int32_t address, int32_t) {
  OnData(g_players[i], d, n, type, address);
}
const ServerCallbacks kCallbacks[2] = {{EventOf<0>, DataOf<0>, nullptr},
                                       {EventOf<1>, DataOf<1>, nullptr}};

class SessionLinkTest : public ::testing::Test {
 protected:
  SessionLinkTest() : logger_([this](LogLevel, const char* line) { log_ += std::string(line) + "\n"; }) {
    for (int i = 0; i < 2; ++i) g_players[i] = &players_[i];
  }
  ~SessionLinkTest() override {
    orb::UdpClose(game_);
    for (Player& p : players_) {
      EndSession(p.state);
      WaitForRelayWorker(p.state);
    }
  }

  void StartServer(uint16_t port = 0) {
    options_.port = port;
    options_.stats_interval_s = 0;
    server_.reset(new GroupServer(options_, &logger_, nullptr, nullptr));
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }

  // What OrbLanInit does for player i, then waits for the server's confirmation.
  void Open(int i, uint16_t port) {
    Player& p = players_[i];
    const int32_t address = p.transport.Connect(p.endpoint, "127.0.0.1", port, 0);
    ASSERT_NE(address, 0);
    p.transport.SetEventCallback(address, orb::EVENT_CONNECTED, kCallbacks[i].on_event);
    p.transport.SetEventCallback(address, orb::EVENT_PEERCLOSE, kCallbacks[i].on_event);
    p.transport.SetEventCallback(address, orb::EVENT_TIMEOUT, kCallbacks[i].on_event);
    p.transport.SetDataCallback(address, kCallbacks[i].on_data);
    BeginSession(p.state, address);
    ConnectionOpened(p.link, p.transport, "127.0.0.1", port, p.endpoint, address);
  }

  // What OrbLanPreLaunch does towards the server and the game link (no files here).
  void Launch(int i, const char* group, const char* name) {
    Player& p = players_[i];
    ASSERT_TRUE(SetPlayerName(p.link, name));
    strcpy(p.state.group, group);
    strcpy(p.state.local_address, "127.0.0.1");
    ASSERT_TRUE(QueueJoin(p.state, p.link, p.transport));
    EXPECT_EQ(p.link.group.join_state(), kJoinStatePending);
    p.link.link_port = 0;
    ASSERT_TRUE(StartRelayWorker(p.state, p.transport, 0));
  }

  bool PumpUntil(const std::function<bool()>& done, uint32_t ms = 5000) {
    const uint64_t end = orb::MonotonicMs() + ms;
    while (orb::MonotonicMs() < end) {
      if (server_) server_->RunOnce();
      for (Player& p : players_) {
        p.transport.Pump(0);
        AfterPumpPass(p.link, orb::MonotonicMs());
      }
      if (done()) return true;
      orb::SleepMs(1);
    }
    return done();
  }

  JoinState Joined(int i) { return players_[i].link.group.join_state(); }

  // The game: one socket on 127.0.0.1 that both players' games share (one machine).
  void OpenGame() {
    game_ = orb::UdpOpen();
    orb::UdpBind(game_, orb::ParseIPv4("127.0.0.1"), 0);
    orb::UdpSetNonBlocking(game_);
    orb::UdpBoundPort(game_, &game_port_);
  }
  // As the shim does when a game binds a socket: player i's session learns of it.
  void AnnounceGame(int i) {
    uint8_t notice[LINK_NOTICE_SIZE];
    LinkBuildNotice(notice, sizeof notice, {kNoticeBound, game_port_, orb::ParseIPv4("127.0.0.1")});
    const orb::SocketAddress link = {orb::ParseIPv4("127.0.0.1"), players_[i].state.link_port.load()};
    orb::UdpSendTo(game_, notice, sizeof notice, link);
  }
  // A game broadcast sent to player `from`'s link, and whether player `to`'s session hands
  // it back to the game.
  bool BroadcastArrives(int from, int to) {
    uint8_t d[LINK_HEADER_SIZE + 4];
    LinkWrap(d, sizeof d, game_port_, 0, "ping", 4);
    const orb::SocketAddress link = {orb::ParseIPv4("127.0.0.1"), players_[from].state.link_port.load()};
    uint8_t buf[64];
    int n = -1;
    orb::SocketAddress source = {0, 0};
    // A game repeats its announcements; the first may race the server's proof of the
    // connection.
    for (int tries = 0; tries < 10 && n < 0; ++tries) {
      orb::UdpSendTo(game_, d, sizeof d, link);
      PumpUntil([&] { return (n = orb::UdpReceiveFrom(game_, buf, sizeof buf, &source)) >= 0; }, 300);
    }
    return n == static_cast<int>(sizeof d) && source.port == players_[to].state.link_port.load();
  }

  orb::SocketHandle game_ = orb::kInvalidSocket;
  uint16_t game_port_ = 0;
  std::string log_;
  Logger logger_;
  ServerOptions options_;
  std::unique_ptr<GroupServer> server_;
  Player players_[2];
};

TEST_F(SessionLinkTest, JoinIsAnsweredMembersAreKnownAndLeavingFreesThePlaceAtOnce) {
  options_.max_group_members = 2;
  StartServer();
  Open(0, server_->port());
  Open(1, server_->port());
  Launch(0, "Red", "alice");
  ASSERT_TRUE(PumpUntil([&] { return Joined(0) == kJoinStateJoined; }));
  Launch(1, " red ", "bob");
  ASSERT_TRUE(PumpUntil([&] { return Joined(1) == kJoinStateJoined; }));
  EXPECT_EQ(players_[1].link.group.outcome().group, "Red") << "the server's spelling";
  ASSERT_TRUE(PumpUntil([&] { return players_[1].link.group.members().size() == 2; }));
  const std::vector<MemberEntry> members = players_[1].link.group.members();
  EXPECT_EQ(members[0].name, "bob");
  EXPECT_EQ(members[0].flags & kMemberFlagYou, kMemberFlagYou);
  EXPECT_EQ(members[1].name, "alice");
  GroupNotice notice;
  ASSERT_TRUE(PumpUntil([&] { return players_[0].link.group.NextNotice(&notice); }));
  EXPECT_EQ(notice.kind, kMemberListJoined);
  EXPECT_EQ(notice.member.name, "bob");
  EXPECT_TRUE(log_.find("member 2 (bob, 127.0.0.1:") != std::string::npos) << log_;
  OpenGame();
  AnnounceGame(1);
  EXPECT_TRUE(BroadcastArrives(0, 1));

  // bob ends his session: the server lets him go while his session ends, not a minute
  // later, and alice hears why.
  players_[1].state.active.store(false);
  LeaveServer(players_[1].state, players_[1].link, players_[1].transport, kLeaveWaitMs);
  EXPECT_FALSE(players_[1].transport.AddressExists(players_[1].state.server_connection.load()));
  ASSERT_TRUE(PumpUntil([&] { return server_->registry().member_count() == 1; }));
  ASSERT_TRUE(PumpUntil([&] { return players_[0].link.group.NextNotice(&notice); }));
  EXPECT_EQ(notice.kind, kMemberListLeft);
  EXPECT_EQ(notice.reason, kLeftEnded);
  EXPECT_EQ(notice.member.name, "bob");
  EXPECT_EQ(players_[0].link.group.total(), 1u);
  LeaveServer(players_[1].state, players_[1].link, players_[1].transport, kLeaveWaitMs);  // once only
}

TEST_F(SessionLinkTest, FullGroupIsReported) {
  options_.max_group_members = 2;
  options_.max_groups = 1;
  StartServer();
  Open(0, server_->port());
  Open(1, server_->port());
  Launch(0, "one", "alice");
  Launch(1, "two", "bob");
  ASSERT_TRUE(PumpUntil([&] { return Joined(1) > kJoinStatePending; }));
  EXPECT_EQ(Joined(1), kJoinStateServerFull);
  EXPECT_FALSE(players_[1].link.group.outcome().reason.empty());
  EXPECT_TRUE(players_[1].link.group.members().empty());
}

TEST_F(SessionLinkTest, ClosedPortIsToldAndAnOpenOneNot) {
  // A port nobody listens on: take one from the system, then free it.
  orb::SocketHandle s = orb::UdpOpen();
  ASSERT_TRUE(orb::UdpBind(s, orb::ParseIPv4("127.0.0.1"), 0));
  uint16_t closed = 0;
  ASSERT_TRUE(orb::UdpBoundPort(s, &closed));
  orb::UdpClose(s);
  Open(0, closed);
  EXPECT_TRUE(PumpUntil([&] { return players_[0].link.probe.refused(); }));

  StartServer();
  Open(1, server_->port());
  ASSERT_TRUE(PumpUntil([&] { return players_[1].state.phase.load() == ORBLAN_STATE_CONNECTED; }));
  PumpUntil([] { return false; }, 2 * RefusalProbe::kIntervalMs);
  EXPECT_FALSE(players_[1].link.probe.refused());
}

TEST_F(SessionLinkTest, ServerRestartIsSurvivedByReconnectingWithoutRestartingTheGame) {
  StartServer();
  const uint16_t port = server_->port();
  Open(0, port);
  Open(1, port);
  Launch(0, "g", "alice");
  Launch(1, "g", "bob");
  ASSERT_TRUE(PumpUntil([&] { return Joined(0) == kJoinStateJoined && Joined(1) == kJoinStateJoined; }));
  OpenGame();
  AnnounceGame(0);
  AnnounceGame(1);
  ASSERT_TRUE(BroadcastArrives(0, 1));

  // The operator restarts the server: every session is closed, relaying stops.
  server_->BeginShutdown();
  ASSERT_TRUE(PumpUntil([&] { return server_->ShutdownFinished(); }));
  server_.reset();
  for (Player& p : players_) EXPECT_EQ(p.state.phase.load(), ORBLAN_STATE_LOST);
  PumpUntil([&] { return !players_[0].state.relay_running.load(); });

  // While it is down, a new connection is refused.
  ASSERT_NE(Reconnect(players_[0].state, players_[0].link, players_[0].transport, kCallbacks[0]), 0);
  EXPECT_TRUE(PumpUntil([&] { return players_[0].link.probe.refused(); }));

  // Back on the same port: both reconnect and rejoin, their relay workers listen again
  // and broadcasts flow both ways, to the game's sockets they knew before.
  StartServer(port);
  for (int i = 0; i < 2; ++i) {
    ASSERT_NE(Reconnect(players_[i].state, players_[i].link, players_[i].transport, kCallbacks[i]), 0);
    EXPECT_FALSE(players_[i].link.probe.refused()) << "a new attempt starts unrefused";
  }
  ASSERT_TRUE(PumpUntil([&] { return Joined(0) == kJoinStateJoined && Joined(1) == kJoinStateJoined; }));
  EXPECT_EQ(players_[0].state.phase.load(), ORBLAN_STATE_CONNECTED);
  EXPECT_EQ(server_->registry().member_count(), 2u);
  EXPECT_TRUE(players_[0].state.relay_bound.load());
  EXPECT_NE(players_[0].state.link_port.load(), 0);
  EXPECT_TRUE(BroadcastArrives(0, 1));
  EXPECT_TRUE(BroadcastArrives(1, 0));
}

TEST(SessionLinkRules, LinkPortInUseAndPlayerNames) {
  orb::SocketHandle holder = orb::UdpOpen();
  ASSERT_TRUE(orb::UdpBind(holder, 0, 0));
  uint16_t port = 0;
  ASSERT_TRUE(orb::UdpBoundPort(holder, &port));
  EXPECT_FALSE(LinkPortFree(port));
  orb::UdpClose(holder);
  EXPECT_TRUE(LinkPortFree(port));

  SessionLink x;
  EXPECT_STREQ(x.player, "NoName");
  for (const char* bad : {"", "twenty-four characters!!", "tab\there", static_cast<const char*>(nullptr)}) {
    EXPECT_FALSE(SetPlayerName(x, bad)) << (bad ? bad : "null");
    EXPECT_STREQ(x.player, "NoName");
  }
  EXPECT_TRUE(SetPlayerName(x, "twenty-three characters"));
  EXPECT_TRUE(SetPlayerName(x, "J\xFCrgen"));
  EXPECT_STREQ(x.player, "J\xFCrgen");
}

}  // namespace
