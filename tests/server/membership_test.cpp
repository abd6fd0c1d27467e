// What the group server tells its members about their group: join outcomes, joins and
// leaves, member lists with round-trip times, and how group names are matched.
#include "server_fixture.h"

namespace orb {
namespace test {
namespace {

class MembershipTest : public ServerTest {
 protected:
  // The ids in a list, for comparing membership without caring about order.
  static std::vector<uint32_t> Ids(const MemberList& list) {
    std::vector<uint32_t> ids;
    for (const MemberEntry& e : list.entries) ids.push_back(e.id);
    std::sort(ids.begin(), ids.end());
    return ids;
  }
  // The latest list of a kind the player has been sent; kind 0xFF when none.
  static MemberList Last(const Player* p, uint8_t kind) {
    for (auto it = p->lists.rbegin(); it != p->lists.rend(); ++it) {
      if (it->kind == kind) return *it;
    }
    MemberList none;
    none.kind = 0xFF;
    return none;
  }
  uint32_t IdOf(const Player* p) const {
    return static_cast<uint32_t>(p->transport->RemoteAddress(p->server));
  }
};

struct RefusalCase {
  const char* what;
  uint32_t max_groups, max_group_members;
  const char* first_group;  // joined by the first player
  const char* second_group; // then tried by the second
  uint8_t outcome;
  const char* reported_group;
  uint16_t members;
  DropReason counted;
};

class JoinOutcomes : public MembershipTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(JoinOutcomes, EachJoinIsAnsweredAndRefusalsAreLogged) {
  const RefusalCase& c = GetParam();
  options_.max_groups = c.max_groups;
  options_.max_group_members = c.max_group_members;
  options_.relay_burst = 100;
  StartServer();
  Player* a = Joined("203.0.113.10", c.first_group, "alice");
  Player* b = Joined("203.0.113.11", c.second_group, "bob");
  ASSERT_EQ(a->outcomes.size(), 1u);
  EXPECT_EQ(a->outcomes[0].outcome, kJoinJoined);
  EXPECT_EQ(a->outcomes[0].members, 1u);
  EXPECT_EQ(a->outcomes[0].capacity, c.max_group_members);
  ASSERT_EQ(b->outcomes.size(), 1u) << c.what;
  const JoinOutcome& o = b->outcomes[0];
  EXPECT_EQ(o.outcome, c.outcome) << c.what;
  EXPECT_EQ(o.group, c.reported_group) << c.what;
  EXPECT_EQ(o.members, c.members) << c.what;
  EXPECT_EQ(o.capacity, c.max_group_members) << c.what;
  if (c.outcome == kJoinJoined) {
    EXPECT_TRUE(o.reason.empty());
    EXPECT_EQ(server_->drops().Total(), 0u);
  } else {
    EXPECT_FALSE(o.reason.empty()) << c.what;
    EXPECT_EQ(Drops(c.counted), 1u) << c.what;
    EXPECT_TRUE(LogHas("INFO member 2 (bob, 203.0.113.11:")) << c.what;
    EXPECT_TRUE(LogHas("refused from group '" + std::string(c.reported_group) + "': " + o.reason))
        << c.what;
    // A refused member relays to nobody, and nobody hears of it.
    b->Relay(c.second_group, "refused");
    Settle();
    EXPECT_TRUE(a->received.empty()) << c.what;
    EXPECT_EQ(Last(a, kMemberListJoined).kind, 0xFF) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Server, JoinOutcomes,
    ::testing::Values(
        RefusalCase{"case and spaces do not count", 8, 4, "Red Team", "  red TEAM\t", kJoinJoined,
                    "Red Team", 2, DropReason::kCount},
        RefusalCase{"the last place", 8, 2, "g", "g", kJoinJoined, "g", 2, DropReason::kCount},
        RefusalCase{"group limit", 1, 4, "one", "two", kJoinServerFull, "two", 0,
                    DropReason::kJoinGroupLimit},
        RefusalCase{"only spaces", 8, 4, "g", "   ", kJoinRefused, "", 0,
                    DropReason::kJoinMalformed}));

TEST_F(MembershipTest, FullGroupRefusesUntilALeaveMakesRoomAtOnce) {
  options_.max_group_members = 2;
  StartServer();
  auto [a, b] = JoinedGroup<2>("g", 10, {"alice", "bob"});
  Player* c = Joined("203.0.113.12", "G ", "carol");
  ASSERT_EQ(c->outcomes.size(), 1u);
  EXPECT_EQ(c->outcomes[0].outcome, kJoinGroupFull);
  EXPECT_EQ(c->outcomes[0].group, "g");
  EXPECT_EQ(c->outcomes[0].members, 2u);
  EXPECT_EQ(Drops(DropReason::kJoinGroupFull), 1u);

  // bob quits: the server drops him at once and tells alice why.
  b->Leave();
  Settle();
  EXPECT_EQ(server_->registry().member_count(), 2u);
  EXPECT_EQ(server_->transport()->ConnectionCount(), 2u) << "bob's connection is closed";
  EXPECT_TRUE(LogHas("(bob, 203.0.113.11:"));
  EXPECT_TRUE(LogHas("ended its session, left group 'g'"));
  const MemberList left = Last(a, kMemberListLeft);
  ASSERT_EQ(left.entries.size(), 1u);
  EXPECT_EQ(left.entries[0].name, "bob");
  EXPECT_EQ(left.reason, kLeftEnded);
  EXPECT_EQ(left.total, 1u);

  // carol, asking again right away, gets bob's place.
  c->Join("g", "carol");
  Settle();
  ASSERT_EQ(c->outcomes.size(), 2u);
  EXPECT_EQ(c->outcomes[1].outcome, kJoinJoined);
  EXPECT_EQ(c->outcomes[1].members, 2u);
  a->Relay("g", "to carol");
  Settle();
  ASSERT_EQ(c->received.size(), 1u);
  EXPECT_EQ(server_->counters().leaves, 1u);
}

TEST_F(MembershipTest, NewcomerGetsTheWholeListAndTheOthersHearOfIt) {
  StartServer();
  auto [a, b] = JoinedGroup<2>("g", 10, {"alice", "bob"});
  Player* x = Joined("203.0.113.20", "other", "xavier");

  // bob's list: both members, bob's own entry marked, round trips measured by then.
  const MemberList all = Last(b, kMemberListAll);
  ASSERT_EQ(all.entries.size(), 2u);
  EXPECT_EQ(all.total, 2u);
  EXPECT_EQ(all.entries[0].name, "bob");
  EXPECT_EQ(all.entries[0].flags, kMemberFlagYou);
  EXPECT_EQ(all.entries[0].id, IdOf(b));
  EXPECT_EQ(all.entries[1].name, "alice");
  EXPECT_EQ(all.entries[1].flags, 0u);
  for (const MemberEntry& e : all.entries) EXPECT_NE(e.round_trip_ms, kRoundTripUnknown);

  // alice heard of bob joining, nothing of xavier, who is in another group.
  const MemberList joined = Last(a, kMemberListJoined);
  ASSERT_EQ(joined.entries.size(), 1u);
  EXPECT_EQ(joined.entries[0].name, "bob");
  EXPECT_EQ(joined.entries[0].id, IdOf(b));
  EXPECT_EQ(joined.total, 2u);
  for (const MemberList& l : a->lists) {
    for (const MemberEntry& e : l.entries) EXPECT_NE(e.name, "xavier");
  }
  EXPECT_EQ(Ids(Last(x, kMemberListAll)), std::vector<uint32_t>{IdOf(x)});

  // Every list interval, each member gets the list again with fresh round trips.
  const size_t lists_before = a->lists.size();
  Run(MembershipNotices::kListIntervalMs + 1000, 500);
  ASSERT_GT(a->lists.size(), lists_before);
  EXPECT_EQ(Ids(Last(a, kMemberListAll)), (std::vector<uint32_t>{IdOf(a), IdOf(b)}));
}

TEST_F(MembershipTest, LeavingForAnotherGroupAndTimingOutAreToldWithTheirReason) {
  StartServer();
  auto [a, b, c] = JoinedGroup<3>("g", 10, {"alice", "bob", "carol"});
  net_.Advance(GroupServer::kWarningIntervalMs);  // a member's join lines are rate-limited
  b->Join("elsewhere", "bob");
  Settle();
  MemberList left = Last(a, kMemberListLeft);
  ASSERT_EQ(left.entries.size(), 1u);
  EXPECT_EQ(left.entries[0].name, "bob");
  EXPECT_EQ(left.reason, kLeftMovedAway);
  EXPECT_TRUE(LogHas("left group 'g' for another"));

  c->io->SetSilent(true);
  for (int i = 0; i < 70 && server_->registry().member_count() == 3; ++i) Run(1000);
  Settle();
  left = Last(a, kMemberListLeft);
  ASSERT_EQ(left.entries.size(), 1u);
  EXPECT_EQ(left.entries[0].name, "carol");
  EXPECT_EQ(left.reason, kLeftTimedOut);
  EXPECT_EQ(left.total, 1u);
  EXPECT_EQ(server_->counters().leaves, 2u);
}

TEST_F(MembershipTest, FullServerAnswersBeforeItCloses) {
  options_.max_members = 1;
  StartServer();
  Joined("203.0.113.10", "g", "alice");
  Player* late = AddPlayer("203.0.113.11");
  late->Join("g", "late");
  Settle();
  ASSERT_EQ(late->outcomes.size(), 1u);
  EXPECT_EQ(late->outcomes[0].outcome, kJoinServerFull);
  EXPECT_NE(late->outcomes[0].reason.find("1 players"), std::string::npos);
  ASSERT_FALSE(late->events.empty());
  EXPECT_EQ(late->events.back(), EVENT_PEERCLOSE);
  EXPECT_EQ(server_->registry().member_count(), 1u);
  EXPECT_EQ(Drops(DropReason::kMemberLimit), 1u);
}

TEST_F(MembershipTest, StatisticsCountProvenMembersAndShowRatesAndGroupsCanBeListed) {
  options_.stats_interval_s = 10;
  StartServer();
  Player* a = JoinedGroup<2>("g", 10, {"alice", "bob"})[0];
  // A forged CONNECT makes a member that never proves itself: nobody to count.
  sim::Host* forger = net_.AddHost("198.51.100.66");
  intptr_t h;
  uint16_t port;
  ASSERT_EQ(forger->Open(7000, &h, &port), RESULT_NO_ERROR);
  std::vector<uint8_t> connect = sim::Datagram(1, CONNECT, 1, 1, sim::ConnectBytes(7000, 1));
  forger->SendTo(h, connect.data(), static_cast<int>(connect.size()),
                 SocketAddress{ParseIPv4(kServerIp), server_->port()});
  forger->SetSilent(true);
  for (int i = 0; i < 20; ++i) a->Relay("g", "tick");
  log_.clear();
  Run(10000, 500);
  // The rates themselves are stats_line_test's; here, what is counted.
  EXPECT_TRUE(LogHas("stats: members=2 unconfirmed=1 groups=1 | last 10 s: joins=2 leaves=0 "
                     "records_in=20 ("));
  log_.clear();
  Run(10000, 500);
  EXPECT_TRUE(LogHas("last 10 s: joins=0 leaves=0 records_in=0 (0.0/s)"));
  EXPECT_TRUE(LogHas("totals: joins=2 leaves=0 records_in=20 relayed=20 datagrams_out=20"));

  server_->LogGroups();
  EXPECT_TRUE(LogHas("groups: 1, members: 3 (1 in no group)"));
  EXPECT_TRUE(LogHas("group 'g' (2 of 32): member 1 (alice, 203.0.113.10:"));
  EXPECT_TRUE(LogHas("member 2 (bob, 203.0.113.11:"));
}

}  // namespace
}  // namespace test
}  // namespace orb
