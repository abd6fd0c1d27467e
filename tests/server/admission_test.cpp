// Who gets a connection and who becomes a member: the pool of unproven connections and
// the stateless answer beyond it, refusals, places held without joining, replacement of a
// member by a new connection from its socket address, and the join log.
#include "server_fixture.h"

namespace orb {
namespace test {
namespace {

std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin() + 12, bytes.end());
}

// The same player, our own session library or one built to the published format (with
// anything in the acknowledgements' reserved bytes), connects through the pool or, when
// the pool is full, through the stateless answer, and then plays as a member.
struct PathCase {
  const char* name;
  uint32_t max_unproven;  // 0: every CONNECT is answered statelessly
  int reserved;           // -1: our own transport; else a raw peer writing this
  bool join_at_once;      // the raw peer's join follows its CONNECT without waiting
};
class ConnectPathTest : public ServerTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(ConnectPathTest, PlayerBecomesAMemberAndRelaysBothWays) {
  options_.max_unproven = GetParam().max_unproven;
  StartServer();
  Player* a = Joined("203.0.113.10", "g");
  SocketAddress where;
  std::function<void(const std::string&)> relay;
  std::function<size_t()> received;
  RawPeer* raw = nullptr;
  Player* ours = nullptr;
  if (GetParam().reserved < 0) {
    ours = Joined("203.0.113.11", "g");
    where = ours->socket_address();
    relay = [ours](const std::string& text) { ours->Relay("g", text); };
    received = [ours] { return ours->received.size(); };
  } else {
    raw = AddRaw("203.0.113.11", 5000, static_cast<uint16_t>(GetParam().reserved));
    raw->Connect(1);
    if (!GetParam().join_at_once) Settle();
    raw->Join("g");
    Settle();
    where = raw->where;
    relay = [raw, a](const std::string& text) {
      std::vector<uint8_t> link = a->LinkDatagram(text);
      raw->Send(8, a->RelayRecord("g", link));
    };
    received = [raw] { return raw->received.size(); };
  }
  const int32_t member = AtServer(where);
  ASSERT_NE(member, 0);
  ASSERT_EQ(server_->registry().FindGroup("g")->members.size(), 2u);  // no resend waited for
  EXPECT_EQ(server_->transport()->Counters().challenges_proven,
            GetParam().max_unproven == 0 ? 2u : 0u);
  // Past the first heartbeats and the repeats of an unanswered CONNECT: nothing times out.
  a->Relay("g", "to the newcomer");
  relay("to a");
  Run(70000, 250);
  EXPECT_EQ(received(), 1u);
  ASSERT_EQ(a->received.size(), 1u);
  EXPECT_EQ(Text(a->received[0]), "to a");
  EXPECT_EQ(server_->registry().member_count(), 2u);
  EXPECT_EQ(server_->transport()->ConnectionCount(), 2u);
  EXPECT_EQ(AtServer(where), member);
  EXPECT_EQ(server_->transport()->Counters().timeouts, 0u);
  // (Answered statelessly, its CONNECT is acknowledged only when repeated, with a second
  // confirmation, which the published format allows.)
  if (ours) {
    for (int32_t e : ours->events) EXPECT_EQ(e, EVENT_CONNECTED);
  }
  EXPECT_EQ(server_->drops().Total(), 0u);
  // Its join is answered once, when it has proven itself, however early it came.
  if (raw) {
    EXPECT_EQ(raw->Count(kMsgJoinOutcome), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ConnectPathTest,
    ::testing::Values(PathCase{"OursThroughThePool", 256, -1, false},
                      PathCase{"OursAnsweredStatelessly", 0, -1, false},
                      PathCase{"PublishedFormatThroughThePool", 256, 0, false},
                      PathCase{"PublishedFormatGarbageReserved", 256, 0xBEEF, false},
                      PathCase{"PublishedFormatAnsweredStatelessly", 0, 0x1234, false},
                      PathCase{"PublishedFormatJoinsAtOnceThroughThePool", 256, 0, true},
                      PathCase{"PublishedFormatJoinsAtOnceAnsweredStatelessly", 0, 0x77, true}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

// CONNECTs that get no connection and no answer at all, each counted and logged once.
struct RefusedCase {
  const char* name;
  int32_t address;
  uint32_t max_per_ip;
  DropReason reason;
};
class RefusedConnectTest : public ServerTest,
                           public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedConnectTest, NothingIsHeldNorSent) {
  options_.max_per_ip = GetParam().max_per_ip;
  StartServer();
  Joined("203.0.113.10", "g");
  RawPeer* raw = AddRaw("203.0.113.10", 6000);
  raw->Connect(GetParam().address);
  raw->Connect(GetParam().address);
  Settle();
  EXPECT_EQ(net_.DatagramsSentTo(raw->where), 0u);
  EXPECT_EQ(server_->transport()->ConnectionCount(), 1u);
  EXPECT_EQ(Drops(GetParam().reason), 2u);
  size_t lines = 0;
  for (const auto& l : log_) lines += l.find(DropReasonName(GetParam().reason)) != std::string::npos;
  EXPECT_EQ(lines, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusedConnectTest,
    ::testing::Values(RefusedCase{"AddressZero", 0, 64, DropReason::kConnectBadAddress},
                      RefusedCase{"AddressNegative", -5, 64, DropReason::kConnectBadAddress}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

// One player too many behind one router is told why at once instead of timing out.
TEST_F(ServerTest, PlayerBeyondTheAddressLimitIsRefusedWithAnAnswer) {
  options_.max_per_ip = 1;
  StartServer();
  Joined("203.0.113.10", "g");
  Player* late = AddPlayer("203.0.113.10");
  Settle();
  ASSERT_EQ(late->outcomes.size(), 1u);
  EXPECT_EQ(late->outcomes[0].outcome, kJoinRefused);
  EXPECT_EQ(late->events, (std::vector<int32_t>{EVENT_CONNECTED, EVENT_PEERCLOSE}));
  EXPECT_EQ(Drops(DropReason::kConnectPerIpLimit), 1u);
  Run(40000);
  EXPECT_EQ(server_->registry().member_count(), 1u);
  EXPECT_EQ(server_->transport()->ConnectionCount(), 1u);
}

TEST_F(ServerTest, ForgedConnectFloodHoldsLittleAndLocksNobodyOut) {
  options_.max_unproven = 16;
  StartServer();
  auto [a, b] = JoinedGroup<2>("g");
  uint64_t forged_in = 0;
  uint32_t n = 0;
  // Forged CONNECTs and acknowledgements of made-up answers, 200 per 20 ms pass, from
  // addresses that never answer (nothing is bound there).
  auto flood = [&] {
    for (int i = 0; i < 200; ++i, ++n) {
      SocketAddress from{sim::Ip("198.51.100.0") + ((n % 250 + 1) << 24),
                         static_cast<uint16_t>(1024 + n % 50000)};
      std::vector<uint8_t> d =
          n % 4 ? sim::Datagram(n, CONNECT, 1, 1, sim::ConnectBytes(from.port, 1 + n % 3))
                : sim::Datagram(n, ACKNOWLEDGE, 1, 1, {0, 0, 0, 1, 0x92, 0x7E, 1, 0});
      if (n % 4 == 0) memcpy(d.data() + 12, &n, 3);
      net_.Inject(from, ServerAddress(), d.data(), d.size());
      forged_in += d.size();
    }
  };
  Player* c = nullptr;
  for (int pass = 0; pass < 250; ++pass) {  // 5 s
    flood();
    if (pass == 100) c = AddPlayer("203.0.113.12");
    if (pass == 103) c->Join("g");
    if (pass % 10 == 0) a->Relay("g", "tick " + std::to_string(pass));
    Settle(1);
  }
  Settle();
  // The two members lost nothing, the newcomer joined and hears them.
  EXPECT_EQ(b->received.size(), 25u);
  EXPECT_GE(c->received.size(), 14u);
  EXPECT_EQ(c->events, std::vector<int32_t>{EVENT_CONNECTED});
  EXPECT_NE(server_->registry().FindGroup("g"), nullptr);
  EXPECT_EQ(server_->registry().FindGroup("g")->members.size(), 3u);
  // What the flood holds: the pool and nothing else.
  EXPECT_LE(server_->transport()->ConnectionCount(), 3u + 16u);
  EXPECT_EQ(server_->admission().members(), 3u);
  EXPECT_GT(server_->transport()->Counters().connects_challenged, 35000u);
  EXPECT_GT(server_->transport()->Counters().challenges_failed, 10000u);
  uint64_t forged_out = 0;  // every forged socket address is a different one
  for (uint32_t k = 0; k < n; ++k) {
    SocketAddress at{sim::Ip("198.51.100.0") + ((k % 250 + 1) << 24),
                     static_cast<uint16_t>(1024 + k % 50000)};
    forged_out += net_.BytesSentTo(at);
  }
  EXPECT_LE(forged_out, 3 * forged_in);
  EXPECT_GT(forged_out, 0u);
}

TEST_F(ServerTest, ConnectionThatNeverJoinsIsClosed) {
  options_.join_timeout_s = 5;
  StartServer();
  Player* member = Joined("203.0.113.10", "g");
  Player* idle = AddPlayer("203.0.113.11");
  Run(4000);
  EXPECT_EQ(server_->registry().member_count(), 2u);
  Run(2000);
  Settle();
  EXPECT_EQ(server_->registry().member_count(), 1u);
  EXPECT_EQ(idle->events, (std::vector<int32_t>{EVENT_CONNECTED, EVENT_PEERCLOSE}));
  EXPECT_EQ(member->events, std::vector<int32_t>{EVENT_CONNECTED});
  EXPECT_EQ(Drops(DropReason::kJoinTimeout), 1u);
}

// A CONNECT from a member's address and port (forged, or from behind the same router)
// changes nothing until the new connection answers from there; a real restart does, and
// keeps the member's group.
TEST_F(ServerTest, MemberIsReplacedOnlyByAProvenConnection) {
  StartServer();
  auto [a, b] = JoinedGroup<2>("g");
  const SocketAddress at = a->socket_address();
  std::vector<uint8_t> forged = sim::Datagram(77, CONNECT, 1, 1, sim::ConnectBytes(at.port, 9));
  net_.Inject(at, ServerAddress(), forged.data(), forged.size());
  Run(31000);  // a's transport ignores the answer naming its unknown address 9
  a->Relay("g", "still a");
  Settle();
  ASSERT_EQ(b->received.size(), 1u);
  EXPECT_EQ(server_->registry().member_count(), 2u);
  EXPECT_EQ(a->events, std::vector<int32_t>{EVENT_CONNECTED});

  // The player's session library starts over on the same socket address.
  const int32_t old = AtServer(at);
  members_.erase(members_.begin());
  RawPeer* again = AddRaw("203.0.113.10", at.port);
  again->Connect(2);  // a new process: another connecting-side address
  Settle();
  std::vector<uint8_t> link = b->LinkDatagram("restarted");
  again->Send(8, b->RelayRecord("g", link));
  Settle();
  EXPECT_NE(AtServer(at), old);
  EXPECT_EQ(server_->registry().member_count(), 2u);
  ASSERT_EQ(b->received.size(), 2u);
  EXPECT_EQ(Text(b->received[1]), "restarted");
  EXPECT_TRUE(LogHas("replaced by a new connection from 203.0.113.10:"));
}

// A join from a connection that has not answered yet (perhaps a forged address) takes no
// place in a group until it does.
TEST_F(ServerTest, UnprovenJoinTakesNoPlaceInAGroup) {
  options_.max_group_members = 2;
  StartServer();
  Joined("203.0.113.10", "g");
  RawPeer* forged = AddRaw("198.51.100.66", 7000);
  forged->silent = true;
  forged->Connect(1);
  forged->Join("g");
  Settle();
  Player* b = Joined("203.0.113.11", "g");
  EXPECT_EQ(server_->registry().FindGroup("g")->members.size(), 2u);
  EXPECT_EQ(Drops(DropReason::kJoinGroupFull), 0u);
  EXPECT_EQ(b->events, std::vector<int32_t>{EVENT_CONNECTED});
  // Nor is it told anything about the group: not even the outcome of its join.
  EXPECT_EQ(forged->Count(kMsgJoinOutcome), 0u);
  EXPECT_EQ(forged->Count(kMsgMembers), 0u);
}

// Join spam costs one log line per member and interval, yet every join is answered.
TEST_F(ServerTest, JoinLinesAreLimitedPerMember) {
  StartServer();
  Player* a = JoinedGroup<2>("g")[0];
  log_.clear();
  net_.Advance(GroupServer::kWarningIntervalMs);
  for (int i = 0; i < 200; ++i) {
    a->Join(i % 2 ? "g" : "h");
    Settle(1);
  }
  Settle();
  EXPECT_EQ(log_.size(), 1u);
  EXPECT_EQ(a->outcomes.size(), 201u);
  net_.Advance(GroupServer::kWarningIntervalMs);
  a->Join("x");
  Settle();
  ASSERT_EQ(log_.size(), 2u);
  EXPECT_NE(log_[1].find("(199 more join lines not shown)"), std::string::npos);
  EXPECT_EQ(a->outcomes.size(), 202u);
}

}  // namespace
}  // namespace test
}  // namespace orb
