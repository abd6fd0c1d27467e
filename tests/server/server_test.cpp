// The group server with members played by peer transports on a simulated network.
#include "server_fixture.h"

namespace orb {
namespace test {
namespace {

std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin() + 12, bytes.end());
}

TEST_F(ServerTest, RecordReachesEveryOtherMemberOfItsGroupOnly) {
  StartServer();
  auto [a, b, c] = JoinedGroup<3>("red");
  auto [x, y] = JoinedGroup<2>("blue", 20);
  ASSERT_EQ(server_->registry().group_count(), 2u);

  a->Relay("red", "hello from a");
  y->Relay("blue", "hello from y");
  Settle();

  std::vector<uint8_t> sent = a->LinkDatagram("hello from a");
  ASSERT_EQ(b->received.size(), 1u);
  ASSERT_EQ(c->received.size(), 1u);
  EXPECT_EQ(b->received[0], sent);  // exactly the link datagram, header included
  EXPECT_EQ(c->received[0], sent);
  EXPECT_TRUE(a->received.empty());
  ASSERT_EQ(x->received.size(), 1u);
  EXPECT_EQ(Text(x->received[0]), "hello from y");
  EXPECT_TRUE(y->received.empty());
  EXPECT_EQ(server_->counters().records_relayed, 2u);
  EXPECT_EQ(server_->counters().datagrams_out, 3u);
  EXPECT_EQ(server_->drops().Total(), 0u);
  EXPECT_TRUE(LogHas("joined group 'red' (3 of 32)"));
  EXPECT_TRUE(LogHas("member 1 connected from 203.0.113.10:"));
}

TEST_F(ServerTest, LargestRecordTravelsInTwoFragmentsBothWays) {
  StartServer();
  auto [a, b] = JoinedGroup<2>("g");
  std::string big(2048, 'z');
  a->Relay("g", big);  // 72 + 2060 bytes
  Settle();
  ASSERT_EQ(b->received.size(), 1u);
  EXPECT_EQ(b->received[0].size(), 2060u);
  EXPECT_EQ(Text(b->received[0]), big);
}

TEST_F(ServerTest, RejoiningMovesTheMember) {
  StartServer();
  auto [a, b] = JoinedGroup<2>("red");
  Player* c = Joined("203.0.113.12", "blue");
  net_.Advance(GroupServer::kWarningIntervalMs);  // a member's join lines are rate-limited
  b->Join("blue");
  Settle();
  EXPECT_TRUE(LogHas("left group 'red' for another"));
  a->Relay("red", "to red");
  c->Relay("blue", "to blue");
  b->Relay("red", "b still thinks red");
  Settle();
  EXPECT_TRUE(a->received.empty());
  ASSERT_EQ(b->received.size(), 1u);
  EXPECT_EQ(Text(b->received[0]), "to blue");
  EXPECT_EQ(c->received.size(), 0u);
  EXPECT_EQ(Drops(DropReason::kRelayWrongGroup), 1u);
  EXPECT_EQ(server_->registry().group_count(), 2u);
}

TEST_F(ServerTest, SilentMemberIsRemovedAndGetsNothingMore) {
  StartServer();
  auto [a, b, gone] = JoinedGroup<3>("g");
  gone->io->SetSilent(true);
  // Keep the live members' connections busy while the server's heartbeat to the silent
  // one goes unanswered: it times out 30 s after it was queued, about 60 s from now.
  for (int i = 0; i < 70 && server_->registry().member_count() == 3; ++i) Run(1000);
  ASSERT_EQ(server_->registry().member_count(), 2u);
  EXPECT_TRUE(LogHas("member 3 (NoName, 203.0.113.12:"));
  EXPECT_TRUE(LogHas("timed out, left group 'g'"));
  uint64_t to_gone = net_.DatagramsSentTo(gone->socket_address());
  a->Relay("g", "after");
  Settle();
  EXPECT_EQ(b->received.size(), 1u);
  EXPECT_EQ(server_->counters().datagrams_out, 1u);
  EXPECT_EQ(net_.DatagramsSentTo(gone->socket_address()), to_gone);
}

TEST_F(ServerTest, ShutdownClosesEveryMemberAndWaitsForTheirConfirmation) {
  options_.shutdown_wait_ms = 2000;
  StartServer();
  Player* a = Joined("203.0.113.10", "g");
  Player* b = Joined("203.0.113.11", "h");
  Player* c = AddPlayer("203.0.113.12");  // connected, never joined
  Settle();
  server_->BeginShutdown();
  EXPECT_FALSE(server_->ShutdownFinished());
  Settle();
  for (Player* p : {a, b, c}) {
    ASSERT_EQ(p->events.size(), 2u);
    EXPECT_EQ(p->events[0], EVENT_CONNECTED);
    EXPECT_EQ(p->events[1], EVENT_PEERCLOSE);
  }
  EXPECT_TRUE(server_->ShutdownFinished());
  EXPECT_EQ(server_->registry().member_count(), 0u);
  EXPECT_EQ(server_->transport()->ConnectionCount(), 0u);
  EXPECT_TRUE(LogHas("shutting down: closing 3 members"));
  EXPECT_TRUE(LogHas("disconnected"));
}

TEST_F(ServerTest, ShutdownGivesUpOnSilentMembersAfterTheWait) {
  options_.shutdown_wait_ms = 1500;
  StartServer();
  Player* a = Joined("203.0.113.10", "g");
  a->io->SetSilent(true);
  server_->BeginShutdown();
  Settle();
  EXPECT_FALSE(server_->ShutdownFinished());
  net_.Advance(1500);
  EXPECT_TRUE(server_->ShutdownFinished());
}

TEST_F(ServerTest, RelayRateLimitPaysPerRecipient) {
  options_.relay_rate = 100;   // datagrams out per second
  options_.relay_burst = 10;
  options_.max_group_members = 8;
  StartServer();
  auto [a, b, c] = JoinedGroup<3>("g");
  for (int i = 0; i < 8; ++i) a->Relay("g", "burst " + std::to_string(i));
  a->transport->Pump(0);
  server_->RunOnce();  // all eight arrive in one pass, at one instant
  // Two recipients per record: a burst of 10 pays for five records.
  EXPECT_EQ(server_->counters().records_relayed, 5u);
  EXPECT_EQ(Drops(DropReason::kRelayRateLimited), 3u);
  Settle();
  EXPECT_EQ(b->received.size(), 5u);
  EXPECT_EQ(c->received.size(), 5u);
  // A second later the bucket is full again; b's budget was never touched.
  net_.Advance(1000);
  a->Relay("g", "later");
  b->Relay("g", "from b");
  Settle();
  EXPECT_EQ(server_->counters().records_relayed, 7u);
  EXPECT_TRUE(LogHas("relay_rate_limited"));
}

// --max-pending and --max-pending-bytes hold per member: a silent member misses its own
// copies beyond them; its group and the other groups go on as before.
struct PendingCase {
  uint32_t max_pending, max_pending_bytes;
};
class PendingLimitTest : public ServerTest, public ::testing::WithParamInterface<PendingCase> {};

TEST_P(PendingLimitTest, SilentMemberMissesOnlyItsOwnCopies) {
  options_.max_pending = GetParam().max_pending;
  options_.max_pending_bytes = GetParam().max_pending_bytes;
  StartServer();
  auto [a, b, c] = JoinedGroup<3>("g");
  auto [d, e] = JoinedGroup<2>("h", 13);
  b->io->SetSilent(true);
  for (int i = 0; i < 6; ++i) {
    a->Relay("g", "pile " + std::to_string(i));
    d->Relay("h", "hers " + std::to_string(i));
    Settle();
  }
  EXPECT_EQ(c->received.size(), 6u);
  EXPECT_EQ(e->received.size(), 6u);
  EXPECT_EQ(server_->counters().records_relayed, 12u);
  // Three 30-byte copies wait for b; the other three are b's loss alone.
  EXPECT_EQ(Drops(DropReason::kRelayOverloaded), 3u);
  EXPECT_EQ(server_->transport()->PendingFragments(AtServer(b->socket_address())), 3u);
}

INSTANTIATE_TEST_SUITE_P(Limits, PendingLimitTest,
                         ::testing::Values(PendingCase{3, 0}, PendingCase{0, 100}));

TEST_F(ServerTest, RepeatedConnectMakesNoSecondConnection) {
  StartServer();
  RawPeer* raw = AddRaw("203.0.113.50", 5000);
  raw->Connect(1);
  Settle();
  raw->next_id = 0;
  raw->Connect(1);  // its acknowledgement was lost: the same datagram again
  Settle();
  EXPECT_EQ(server_->transport()->ConnectionCount(), 1u);
  EXPECT_EQ(server_->registry().member_count(), 1u);
  EXPECT_EQ(server_->counters().members_accepted, 1u);
  EXPECT_EQ(server_->transport()->Counters().connects_repeated, 1u);
}

TEST_F(ServerTest, MalformedInputIsDroppedCountedAndNeverCrashes) {
  StartServer();
  auto [a, b] = JoinedGroup<2>("g");
  Player* early = AddPlayer("203.0.113.12");
  Settle();

  early->Relay("g", "relay before any join");
  a->SendRecord(std::vector<uint8_t>(91, 1), 0);                       // join of 91 bytes
  a->SendRecord(std::vector<uint8_t>(10, 1), 8);                       // relay under 72
  std::vector<uint8_t> bad_n = a->RelayRecord("g", a->LinkDatagram("n lies"));
  bad_n[68] += 1;
  a->SendRecord(bad_n);
  a->SendRecord(a->RelayRecord("g", std::vector<uint8_t>{0xF9, 0xF9, 0xF9, 0xF9, 0, 0, 0, 0,
                                                          0, 0, 0, 0}));  // n == 12
  std::vector<uint8_t> no_magic = a->LinkDatagram("no magic");
  no_magic[0] = 0;
  a->SendRecord(a->RelayRecord("g", no_magic));
  a->Relay("g", std::string(2049, 'o'));                                // n == 2061
  std::vector<uint8_t> unnamed = a->RelayRecord("g", a->LinkDatagram("no group name"));
  unnamed[0] = 0;
  a->SendRecord(unnamed);
  a->SendRecord(std::vector<uint8_t>(5000, 0xF9), 8);                   // oversized garbage
  a->SendRecord(std::vector<uint8_t>(20, 0), 42);                       // unknown type
  Settle();

  EXPECT_EQ(Drops(DropReason::kRelayNotJoined), 1u);
  EXPECT_EQ(Drops(DropReason::kJoinMalformed), 1u);
  EXPECT_EQ(Drops(DropReason::kRelayMalformed), 1u);
  EXPECT_EQ(Drops(DropReason::kRelayLength), 1u);
  EXPECT_EQ(Drops(DropReason::kRelayTooShort), 1u);
  EXPECT_EQ(Drops(DropReason::kRelayBadMagic), 1u);
  EXPECT_EQ(Drops(DropReason::kRelayOversized), 2u);
  EXPECT_EQ(Drops(DropReason::kUnknownType), 1u);
  EXPECT_EQ(Drops(DropReason::kRelayWrongGroup), 1u);
  EXPECT_EQ(server_->counters().records_in, 8u);
  EXPECT_EQ(server_->counters().records_relayed, 0u);
  EXPECT_TRUE(b->received.empty());

  // Raw datagrams from a member's own address and from strangers: short headers, lying
  // lengths, control messages of every wrong length.
  sim::Host* raw = net_.AddHost("203.0.113.10");
  SocketAddress to{ParseIPv4(kServerIp), server_->port()};
  intptr_t h;
  uint16_t port;
  ASSERT_EQ(raw->Open(a->endpoint->local_port + 1, &h, &port), RESULT_NO_ERROR);
  std::vector<std::vector<uint8_t>> junk = {
      {}, {1}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
      sim::Datagram(9, 8, 1, 1, std::vector<uint8_t>(30, 0xF9)),
  };
  std::vector<uint8_t> lying = sim::Datagram(9, 8, 1, 1, std::vector<uint8_t>(30, 0));
  lying[10] = 200;  // says 200 payload bytes, 30 arrived
  junk.push_back(lying);
  for (uint16_t type = CONNECT; type <= CONFIRM_DISCONNECT; ++type) {
    for (size_t len : {0, 3, 5, 7, 9, 71, 73, 1400}) {
      junk.push_back(sim::Datagram(77, type, 1, 1, std::vector<uint8_t>(len, 1)));
    }
  }
  for (const auto& d : junk) raw->SendTo(h, d.data(), static_cast<int>(d.size()), to);
  Settle();
  EXPECT_EQ(server_->registry().member_count(), 3u);
  EXPECT_EQ(server_->transport()->ConnectionCount(), 3u);
  EXPECT_GE(server_->transport()->Counters().dropped_control_length, 40u);

  // Still relaying afterwards.
  a->Relay("g", "still fine");
  Settle();
  ASSERT_EQ(b->received.size(), 1u);
  EXPECT_EQ(Text(b->received[0]), "still fine");
}

TEST_F(ServerTest, ForgedConnectCannotRelayNorAimTrafficAtItsVictim) {
  StartServer();
  auto [a, b] = JoinedGroup<2>("g");
  // An attacker forges datagrams from a victim's address: CONNECT, join and relays. The
  // victim never acknowledges anything, so the connection stays unproven.
  sim::Host* forger = net_.AddHost("198.51.100.66");
  intptr_t h;
  uint16_t port;
  ASSERT_EQ(forger->Open(7000, &h, &port), RESULT_NO_ERROR);
  forger->SetSilent(false);
  SocketAddress to{ParseIPv4(kServerIp), server_->port()};
  SocketAddress victim{ParseIPv4("198.51.100.66"), 7000};
  uint64_t sent_by_forger = 0;
  auto send = [&](const std::vector<uint8_t>& d) {
    sent_by_forger += d.size();
    forger->SendTo(h, d.data(), static_cast<int>(d.size()), to);
  };
  send(sim::Datagram(1, CONNECT, 1, 1, sim::ConnectBytes(7000, 1)));
  std::vector<uint8_t> join(92, 0);
  join[0] = 'g';
  send(sim::Datagram(2, 0, 1, 1, join));
  for (uint32_t i = 0; i < 20; ++i) {
    send(sim::Datagram(3 + i, 8, 1, 1, a->RelayRecord("g", a->LinkDatagram("forged"))));
  }
  // The victim's own socket swallows what the server sends.
  for (int i = 0; i < 10; ++i) {
    Settle();
    forger->SetSilent(true);
  }
  a->Relay("g", "real");
  Settle();
  EXPECT_EQ(Drops(DropReason::kRelayUnproven), 20u);
  EXPECT_EQ(b->received.size(), 1u);  // only the real one
  EXPECT_LE(net_.BytesSentTo(victim), 3 * sent_by_forger);
  // The group's traffic is not sent to the unproven member.
  EXPECT_EQ(server_->counters().datagrams_out, 1u);
}

TEST_F(ServerTest, MemberMayCloseItselfButNobodyElseCanCloseIt) {
  StartServer();
  auto [a, b] = JoinedGroup<2>("g");
  SocketAddress to{ParseIPv4(kServerIp), server_->port()};
  int32_t a_at_server = a->transport->RemoteAddress(a->server);
  std::vector<uint8_t> payload(4);
  memcpy(payload.data(), &a_at_server, 4);
  // Forged from elsewhere: a stranger, and b's socket, naming a's connection.
  std::vector<uint8_t> close = sim::Datagram(500, PEERCLOSE, 1, 1, payload);
  std::vector<uint8_t> confirm = sim::Datagram(501, CONFIRM_DISCONNECT, 1, 1, payload);
  SocketAddress stranger{ParseIPv4("198.51.100.5"), 9999};
  for (const SocketAddress& from : {stranger, b->socket_address()}) {
    net_.Inject(from, to, close.data(), close.size());
    net_.Inject(from, to, confirm.data(), confirm.size());
  }
  Settle();
  EXPECT_EQ(server_->registry().member_count(), 2u);
  EXPECT_EQ(server_->transport()->Counters().dropped_control_source, 4u);
  // From a's own socket, the close is honoured.
  net_.Inject(a->socket_address(), to, close.data(), close.size());
  Settle();
  EXPECT_EQ(server_->registry().member_count(), 1u);
  EXPECT_TRUE(LogHas("closed the connection, left group 'g'"));
  b->Relay("g", "nobody left to hear");
  Settle();
  EXPECT_TRUE(a->received.empty());
  EXPECT_EQ(server_->counters().records_relayed, 1u);
}

TEST_F(ServerTest, LimitsOnMembersGroupsAndGroupSize) {
  options_.max_members = 3;
  options_.max_groups = 1;
  options_.max_group_members = 2;
  StartServer();
  auto [a, b] = JoinedGroup<2>("one");
  Player* c = Joined("203.0.113.12", "one");  // group full
  c->Join("two");                               // group limit
  Settle();
  Player* d = AddPlayer("203.0.113.13");      // member limit: closed once it answers
  Settle();
  EXPECT_EQ(Drops(DropReason::kJoinGroupFull), 1u);
  EXPECT_EQ(Drops(DropReason::kJoinGroupLimit), 1u);
  EXPECT_EQ(Drops(DropReason::kMemberLimit), 1u);
  EXPECT_EQ(server_->registry().member_count(), 3u);
  // Told it is refused, and closed.
  EXPECT_EQ(d->events, (std::vector<int32_t>{EVENT_CONNECTED, EVENT_PEERCLOSE}));
  EXPECT_EQ(server_->transport()->ConnectionCount(), 3u);
  c->Relay("one", "refused member");
  Settle();
  EXPECT_TRUE(a->received.empty());
  EXPECT_TRUE(b->received.empty());
  EXPECT_TRUE(LogHas("WARN refused input from member 3"));
}

TEST_F(ServerTest, WarningsAreRateLimitedAndTheStatisticsLineCountsEverything) {
  options_.stats_interval_s = 60;
  StartServer();
  Player* a = JoinedGroup<2>("g")[0];
  log_.clear();
  for (int i = 0; i < 50; ++i) a->SendRecord(std::vector<uint8_t>(10, 1), 8);
  Settle();
  size_t warnings = 0;
  for (const auto& l : log_) warnings += l.find("relay_malformed") != std::string::npos;
  EXPECT_EQ(warnings, 1u);
  net_.Advance(GroupServer::kWarningIntervalMs);
  a->SendRecord(std::vector<uint8_t>(10, 1), 8);
  Settle();
  EXPECT_TRUE(LogHas("(49 more like it not shown)"));
  a->Relay("g", "counted");
  Run(60000, 1000);
  EXPECT_TRUE(LogHas("totals: joins=2 leaves=0 records_in=52 relayed=1 datagrams_out=1 "
                     "drops: relay_malformed=51"));
}

}  // namespace
}  // namespace test
}  // namespace orb
