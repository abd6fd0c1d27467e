// The server's part in play behind home routers: the sender's address stamped into what it
// passes on, relayed datagrams that name their sender, game datagrams for one member with
// their own budget, and path info. Members that never report are served as before.
#include <memory>

#include "link.h"
#include "path_info.h"
#include "relayed_unicast.h"
#include "server_fixture.h"

namespace orb {
namespace test {
namespace {

const uint32_t kKeyBase = 0x5EED0000;

class UnicastRelayTest : public ServerTest {
 protected:
  // A joined member that reports it takes relayed datagrams, with one local candidate.
  Player* Taker(const std::string& ip, const std::string& group) {
    Player* p = Joined(ip, group);
    Report(p, kPathTakesRelayed);
    Settle();
    return p;
  }
  void Report(Player* p, uint32_t flags) {
    PathReport r = {};
    r.flags = flags;
    r.key = kKeyBase + p->server;
    r.count = 1;
    r.candidates[0] = {ParseIPv4("198.51.100.9"), p->endpoint->local_port};
    uint8_t buf[64];
    const size_t n = BuildPathReport(r, buf, sizeof buf);
    p->SendRecord(std::vector<uint8_t>(buf, buf + n), 20);
  }
  // The server's number for a member: the address of its connection there.
  uint32_t Number(Player* p) {
    SocketAddress at = p->socket_address();
    uint32_t found = 0;
    server_->registry().ForEachMember([&](Member& m) {
      if (m.socket_key == (uint64_t(at.ip) << 16 | at.port)) found = static_cast<uint32_t>(m.address);
    });
    return found;
  }
  void Unicast(Player* from, uint32_t to, const std::string& payload) {
    std::vector<uint8_t> link = from->LinkDatagram(payload);
    std::vector<uint8_t> msg(4 + link.size());
    ASSERT_EQ(BuildUnicastRequest(to, link.data(), link.size(), msg.data(), msg.size()), msg.size());
    from->SendRecord(msg, 9);
  }
  static RelayedDatagram Parsed(const std::vector<uint8_t>& message) {
    RelayedDatagram d = {};
    EXPECT_TRUE(ParseRelayedDatagram(message.data(), message.size(), &d));
    return d;
  }
  static std::string Payload(const RelayedDatagram& d) {
    return std::string(d.link + LINK_HEADER_SIZE, d.link + d.link_length);
  }
  std::unique_ptr<PathInfo> LatestInfo(Player* p) {
    std::unique_ptr<PathInfo> info(new PathInfo());
    EXPECT_FALSE(p->path_infos.empty());
    if (p->path_infos.empty()) return info;
    const std::vector<uint8_t>& last = p->path_infos.back();
    EXPECT_TRUE(ParsePathInfo(last.data(), last.size(), info.get()));
    return info;
  }
};

TEST_F(UnicastRelayTest, EveryPassedOnDatagramCarriesTheAddressTheServerSeesNotTheClaim) {
  StartServer();
  auto [a, b] = JoinedGroup<2>("g");
  Player* c = Taker("203.0.113.12", "g");
  std::vector<uint8_t> lie = a->LinkDatagram("I am b");
  LinkSetAddress(lie.data(), b->io->Ip());  // a speaks in b's name
  a->SendRecord(a->RelayRecord("g", lie));
  std::vector<uint8_t> privately = a->LinkDatagram("from home");
  LinkSetAddress(privately.data(), ParseIPv4("198.51.100.2"));  // unreachable from outside
  a->SendRecord(a->RelayRecord("g", privately));
  Settle();
  ASSERT_EQ(b->received.size(), 2u);
  ASSERT_EQ(c->relayed.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(LinkGetAddress(b->received[i].data()), a->io->Ip());
    EXPECT_EQ(LinkGetAddress(Parsed(c->relayed[i]).link), a->io->Ip());
  }
}

TEST_F(UnicastRelayTest, TakersGetBroadcastsWithTheSenderNamedOthersAsBefore) {
  StartServer();
  Player* a = Taker("203.0.113.10", "g");
  Player* b = Taker("203.0.113.11", "g");
  Player* plain = Joined("203.0.113.12", "g");  // knows only type 8
  a->Relay("g", "hello from a");
  plain->Relay("g", "hello from plain");
  Settle();
  ASSERT_EQ(plain->received.size(), 1u);
  EXPECT_EQ(plain->received[0], a->LinkDatagram("hello from a"));
  EXPECT_TRUE(plain->relayed.empty());
  EXPECT_TRUE(plain->path_infos.empty()) << "a member that never reported gets nothing new";
  EXPECT_TRUE(b->received.empty());
  ASSERT_EQ(b->relayed.size(), 2u);
  RelayedDatagram first = Parsed(b->relayed[0]);
  EXPECT_EQ(first.from, Number(a));
  EXPECT_EQ(first.kind, kRelayedBroadcast);
  EXPECT_EQ(Payload(first), "hello from a");
  RelayedDatagram second = Parsed(b->relayed[1]);
  EXPECT_EQ(second.from, Number(plain));
  EXPECT_EQ(LinkGetAddress(second.link), plain->io->Ip());
  EXPECT_EQ(server_->counters().datagrams_out, 4u);
}

TEST_F(UnicastRelayTest, UnicastReachesItsReceiverAloneNamingTheSender) {
  StartServer();
  Player* a = Taker("203.0.113.10", "g");
  Player* b = Taker("203.0.113.11", "g");
  Player* c = Taker("203.0.113.12", "g");
  Unicast(a, Number(b), "for b only");
  Settle();
  ASSERT_EQ(b->relayed.size(), 1u);
  RelayedDatagram d = Parsed(b->relayed[0]);
  EXPECT_EQ(d.from, Number(a));
  EXPECT_EQ(d.kind, kRelayedUnicast);
  EXPECT_EQ(LinkGetAddress(d.link), a->io->Ip());
  EXPECT_EQ(LinkGetPort(d.link), 2300);
  EXPECT_EQ(Payload(d), "for b only");
  EXPECT_TRUE(c->relayed.empty());
  EXPECT_TRUE(a->relayed.empty());
  EXPECT_EQ(server_->counters().unicast_in, 1u);
  EXPECT_EQ(server_->counters().unicast_relayed, 1u);
  EXPECT_EQ(server_->counters().records_relayed, 0u) << "unicast is counted apart";
}

struct Refusal {
  const char* what;
  DropReason reason;
};

class UnicastRefusalTest : public UnicastRelayTest,
                           public ::testing::WithParamInterface<Refusal> {};

TEST_P(UnicastRefusalTest, IsCountedAndReachesNobody) {
  StartServer();
  Player* a = Taker("203.0.113.10", "g");
  Player* b = Taker("203.0.113.11", "g");
  Player* other = Taker("203.0.113.12", "elsewhere");
  Player* plain = Joined("203.0.113.13", "g");
  Player* loner = AddPlayer("203.0.113.14");  // connected, never joined
  Settle();
  const std::string what = GetParam().what;
  if (what == "unknown member") Unicast(a, 999, "x");
  if (what == "another group") Unicast(a, Number(other), "x");
  if (what == "no relays taken") Unicast(a, Number(plain), "x");
  if (what == "to itself") Unicast(a, Number(a), "x");
  if (what == "before any join") Unicast(loner, Number(b), "x");
  if (what == "no link datagram") a->SendRecord(std::vector<uint8_t>{2, 0, 0, 0, 0xF9, 0xF9}, 9);
  if (what == "bad path report") a->SendRecord(std::vector<uint8_t>(13, 0), 20);
  Settle();
  EXPECT_EQ(Drops(GetParam().reason), 1u) << server_->drops().Summary();
  for (Player* p : {a, b, other, plain, loner}) EXPECT_TRUE(p->relayed.empty());
  EXPECT_TRUE(plain->received.empty());
  EXPECT_EQ(server_->counters().unicast_relayed, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnicastRefusalTest,
    ::testing::Values(Refusal{"unknown member", DropReason::kUnicastNoTarget},
                      Refusal{"another group", DropReason::kUnicastNoTarget},
                      Refusal{"no relays taken", DropReason::kUnicastNoTarget},
                      Refusal{"to itself", DropReason::kUnicastNoTarget},
                      Refusal{"before any join", DropReason::kUnicastNotJoined},
                      Refusal{"no link datagram", DropReason::kUnicastMalformed},
                      Refusal{"bad path report", DropReason::kPathReportMalformed}),
    [](const ::testing::TestParamInfo<Refusal>& i) {
      std::string s = i.param.what;
      for (char& c : s) if (c == ' ') c = '_';
      return s;
    });

TEST_F(UnicastRelayTest, UnicastBudgetIsPerMemberAndApartFromBroadcasts) {
  options_.unicast_rate = 100;
  options_.unicast_burst = 5;
  StartServer();
  Player* a = Taker("203.0.113.10", "g");
  Player* b = Taker("203.0.113.11", "g");
  for (int i = 0; i < 8; ++i) Unicast(a, Number(b), "u" + std::to_string(i));
  a->Relay("g", "a broadcast still passes");
  a->transport->Pump(0);
  server_->RunOnce();  // everything arrives at one instant
  EXPECT_EQ(server_->counters().unicast_relayed, 5u);
  EXPECT_EQ(Drops(DropReason::kUnicastRateLimited), 3u);
  EXPECT_EQ(server_->counters().records_relayed, 1u);
  Unicast(b, Number(a), "b's budget is its own");
  Settle();
  EXPECT_EQ(a->relayed.size(), 1u);
  net_.Advance(1000);
  Unicast(a, Number(b), "refilled");
  Settle();
  EXPECT_EQ(server_->counters().unicast_relayed, 7u);
  EXPECT_EQ(b->relayed.size(), 7u);  // 5 + the broadcast + "refilled"
}

TEST_F(UnicastRelayTest, PathInfoListsTheGroupsTakersAndFollowsLeaves) {
  StartServer();
  Player* a = Taker("203.0.113.10", "g");
  Player* b = Taker("203.0.113.11", "g");
  Player* c = Taker("203.0.113.12", "g");
  Taker("203.0.113.20", "elsewhere");
  Joined("203.0.113.13", "g");  // never reports: not listed
  Run(1000, 100);
  std::unique_ptr<PathInfo> info = LatestInfo(a);
  EXPECT_EQ(info->member, Number(a));
  EXPECT_EQ(info->seen.ip, a->io->Ip());
  EXPECT_EQ(info->seen.port, a->endpoint->local_port);
  ASSERT_EQ(info->peer_count, 2);
  for (int i = 0; i < 2; ++i) {
    const PathPeer& peer = info->peers[i];
    Player* p = peer.member == Number(b) ? b : c;
    EXPECT_EQ(peer.member, Number(p));
    EXPECT_EQ(peer.seen.ip, p->io->Ip());
    EXPECT_EQ(peer.seen.port, p->endpoint->local_port);
    EXPECT_EQ(peer.key, kKeyBase + p->server);
    ASSERT_EQ(peer.count, 1);
    EXPECT_EQ(peer.candidates[0].ip, ParseIPv4("198.51.100.9"));
  }
  // c leaves (its session ends): a and b hear of it.
  const int32_t c_at_server = c->transport->RemoteAddress(c->server);
  c->transport->Send(c->server, &c_at_server, 4, PEERCLOSE);
  Run(1000, 100);
  info = LatestInfo(a);
  ASSERT_EQ(info->peer_count, 1);
  EXPECT_EQ(info->peers[0].member, Number(b));
  // A member that stops taking relays gets broadcasts as type 8 again and is not listed.
  Report(b, 0);
  Run(1000, 100);
  EXPECT_EQ(LatestInfo(a)->peer_count, 0);
  a->Relay("g", "as before");
  Settle();
  EXPECT_EQ(b->received.size(), 1u);
}

// Report spam, all at once or spread out with relays between (each relay may tell its
// receivers of the sender's new path at once): the receivers get at most one path info per
// flush interval, not one per report.
struct Spam {
  const char* name;
  int reports;
  bool relaying;
  uint64_t apart_ms;
};

class ReportSpamTest : public UnicastRelayTest, public ::testing::WithParamInterface<Spam> {};

TEST_P(ReportSpamTest, CostsAFewPathInfosNotOnePerReport) {
  const Spam& spam = GetParam();
  StartServer();
  Player* a = Taker("203.0.113.10", "g");
  Player* b = Taker("203.0.113.11", "g");
  Run(1000, 100);
  const size_t before = b->path_infos.size();
  for (int i = 0; i < spam.reports; ++i) {
    Report(a, kPathTakesRelayed);
    if (spam.relaying) a->Relay("g", "spam " + std::to_string(i));
    if (spam.apart_ms != 0) Run(spam.apart_ms, spam.apart_ms);
  }
  Run(1000, 100);
  EXPECT_GE(b->path_infos.size(), before + 1) << "the change is still told";
  EXPECT_LE(b->path_infos.size(),
            before + spam.reports * spam.apart_ms / GroupServer::kPathInfoIntervalMs + 2);
  EXPECT_EQ(server_->counters().path_reports, 2u + spam.reports);
  EXPECT_EQ(b->relayed.size(), spam.relaying ? static_cast<size_t>(spam.reports) : 0u);
}

INSTANTIATE_TEST_SUITE_P(Paced, ReportSpamTest,
                         ::testing::Values(Spam{"AllAtOnce", 200, false, 0},
                                           Spam{"WhileRelaying", 50, true, 20}),
                         [](const ::testing::TestParamInfo<Spam>& i) { return i.param.name; });

// A game answers whoever it hears at once, so a member's session library must know where
// another member's answers go (its path info) before the game hears that member: the first
// datagram passed on from a member whose path the receiver was not yet told comes after
// path info that lists it, even within the pause between two flushes.
enum class FirstFrom { kBroadcast, kUnicast, kBroadcastAfterMoving };

class PathInfoFirstTest : public UnicastRelayTest,
                          public ::testing::WithParamInterface<FirstFrom> {};

TEST_P(PathInfoFirstTest, ListsTheSenderBeforeItsFirstDatagram) {
  StartServer();
  Player* a = Taker("203.0.113.10", GetParam() == FirstFrom::kBroadcastAfterMoving ? "x" : "g");
  Player* other = Taker("203.0.113.20", "other");
  Player* b = Joined("203.0.113.11", "g");
  const bool moving = GetParam() == FirstFrom::kBroadcastAfterMoving;
  if (moving) {  // b's path is told long before a's last path info (of group x)
    Report(b, kPathTakesRelayed);
    Settle();
    Report(a, kPathTakesRelayed);
  }
  Run(1000, 100);
  // A flush elsewhere just now: what changes next waits for the one after.
  Report(other, kPathTakesRelayed);
  net_.Advance(5);
  server_->RunOnce();
  net_.Advance(5);
  if (moving) {
    a->Join("g");
  } else {
    Report(b, kPathTakesRelayed);
  }
  if (GetParam() == FirstFrom::kUnicast) {
    Unicast(b, Number(a), "hello");
  } else {
    b->Relay("g", "hello");
  }
  Settle();
  const auto first = std::find(a->types.begin(), a->types.end(), kMsgUnicastDelivery);
  ASSERT_NE(first, a->types.end());
  const auto infos = std::count(a->types.begin(), first, kMsgPathInfo);
  ASSERT_GT(infos, 0);
  PathInfo info;
  ASSERT_TRUE(ParsePathInfo(a->path_infos[infos - 1].data(), a->path_infos[infos - 1].size(), &info));
  ASSERT_EQ(info.peer_count, 1);
  EXPECT_EQ(info.peers[0].member, Number(b));
}

std::string FirstFromName(const ::testing::TestParamInfo<FirstFrom>& i) {
  static const char* const kNames[] = {"Broadcast", "Unicast", "BroadcastAfterMoving"};
  return kNames[static_cast<int>(i.param)];
}

INSTANTIATE_TEST_SUITE_P(Relays, PathInfoFirstTest,
                         ::testing::Values(FirstFrom::kBroadcast, FirstFrom::kUnicast,
                                           FirstFrom::kBroadcastAfterMoving),
                         FirstFromName);

// A path report says the member runs our session library, which delivers each message
// once: after a spell of loss, what the server passes on to it goes twice, 10 ms apart.
// A member that never reports may deliver a late repeat to its game again: it gets each
// datagram once, however lossy its path.
TEST_F(UnicastRelayTest, OnlyAMemberThatReportsGetsEarlyCopiesAfterLoss) {
  StartServer();
  Player* sender = Joined("203.0.113.10", "g");
  Player* reporter = Taker("203.0.113.11", "g");
  Player* plain = Joined("203.0.113.12", "g");
  sim::Conditions slow;
  slow.delay_ms = 30;  // acknowledgements come well after the copy's 10 ms
  net_.SetConditions(slow);
  Player* receivers[] = {reporter, plain};
  for (Player* p : receivers) net_.SetBlocked(server_io_->Ip(), p->io->Ip(), true);
  sender->Relay("g", "lost once");
  Run(150, 10);
  for (Player* p : receivers) net_.SetBlocked(server_io_->Ip(), p->io->Ip(), false);
  Run(3000, 10);  // the resends get through and are acknowledged
  ASSERT_EQ(server_->transport()->UnacknowledgedCount(), 0u);

  const uint64_t copies_before = server_->transport()->Counters().copies;
  net_.SetTap(true);
  const size_t kRecords = 5;
  for (size_t i = 0; i < kRecords; ++i) {
    sender->Relay("g", "again " + std::to_string(i));
    Run(300, 10);
  }
  size_t to_reporter = 0, to_plain = 0;  // the passed-on datagrams on the wire
  for (const sim::WireDatagram& d : net_.Tapped()) {
    if (!(d.from == ServerAddress())) continue;
    const uint16_t type = ReadU16(d.bytes.data() + 4);
    to_reporter += d.to == reporter->socket_address() && type == kMsgUnicastDelivery;
    to_plain += d.to == plain->socket_address() && type == kMsgRelay;
  }
  EXPECT_EQ(to_reporter, 2 * kRecords);
  EXPECT_EQ(to_plain, kRecords);
  EXPECT_EQ(server_->transport()->Counters().copies - copies_before, kRecords);
  // Each reached its game once.
  EXPECT_EQ(reporter->relayed.size(), 1 + kRecords);
  EXPECT_EQ(plain->received.size(), 1 + kRecords);
}

TEST_F(UnicastRelayTest, StatisticsLineShowsRelayedUnicastApart) {
  options_.stats_interval_s = 60;
  StartServer();
  Player* a = Taker("203.0.113.10", "g");
  Player* b = Taker("203.0.113.11", "g");
  Unicast(a, Number(b), "one");
  Unicast(a, 999, "nobody");
  Run(60000, 1000);
  EXPECT_TRUE(LogHas("drops: unicast_no_target=1 | unicast: in=2 relayed=1 path_reports=2"));
}

}  // namespace
}  // namespace test
}  // namespace orb
