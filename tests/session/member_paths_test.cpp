// How the session library names other members to its game (one address each, members
// behind one router told apart by port) and how it finds, keeps and loses a direct path to
// each, with the clock in the test's hand and the network a function of the test.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <memory>
#include <vector>

#include "link.h"
#include "member_identities.h"
#include "member_router.h"
#include "message_types.h"
#include "relayed_unicast.h"
#include "notices.h"
#include "peer_paths.h"
#include "platform.h"

namespace {

uint32_t Ip(const char* text) { return orb::ParseIPv4(text); }

// ---- identities ------------------------------------------------------------------------

class IdentitiesTest : public ::testing::Test {
 protected:
  void ExpectResolves(const char* ip, uint16_t port, uint32_t member, uint16_t real) {
    uint32_t m = 0;
    uint16_t r = 0;
    ASSERT_TRUE(ids.Resolve(Ip(ip), port, &m, &r)) << ip << ":" << port;
    EXPECT_EQ(m, member) << ip << ":" << port;
    EXPECT_EQ(r, real) << ip << ":" << port;
  }
  MemberIdentities ids;
};

TEST_F(IdentitiesTest, MembersBehindOneRouterAreToldApartByPortBothWays) {
  ids.SetMember(1, Ip("203.0.113.21"));
  ids.SetMember(2, Ip("203.0.113.21"));  // the same router
  ids.SetMember(3, Ip("203.0.113.30"));
  EXPECT_EQ(ids.Seen(1, 26900).port, 26900) << "the first keeps its ports";
  EXPECT_EQ(ids.Seen(2, 26900).port, 26901);
  EXPECT_EQ(ids.Seen(2, 26900).port, 26901) << "stable";
  EXPECT_EQ(ids.Seen(2, 26901).port, 26902);
  EXPECT_EQ(ids.Seen(3, 26900).port, 26900) << "another address is another place";
  EXPECT_EQ(ids.Seen(2, 26900).ip, Ip("203.0.113.21"));
  ExpectResolves("203.0.113.21", 26900, 1, 26900);
  ExpectResolves("203.0.113.21", 26901, 2, 26900);
  ExpectResolves("203.0.113.21", 26902, 2, 26901);
  ExpectResolves("203.0.113.21", 5000, 1, 5000);  // a port never seen: the first member's
  ExpectResolves("203.0.113.30", 26900, 3, 26900);
  uint32_t m;
  uint16_t r;
  EXPECT_FALSE(ids.Resolve(Ip("203.0.113.99"), 26900, &m, &r));
  EXPECT_EQ(ids.Seen(42, 26900).ip, 0u) << "unknown member";
}

TEST_F(IdentitiesTest, APortOnceShownForOneMemberIsNeverGivenToAnother) {
  ids.SetMember(1, Ip("203.0.113.21"));
  ids.SetMember(2, Ip("203.0.113.21"));
  EXPECT_EQ(ids.Seen(1, 26901).port, 26901);
  EXPECT_EQ(ids.Seen(2, 26900).port, 26902) << "26901 is the first member's";
  EXPECT_EQ(ids.Seen(2, 65535).port, 1024) << "moving up wraps past the well-known ports";
  // The first member's own port, already taken by a moved one, moves too.
  EXPECT_EQ(ids.Seen(1, 26902).port, 26903);
  ExpectResolves("203.0.113.21", 26902, 2, 26900);
  ExpectResolves("203.0.113.21", 26903, 1, 26902);
}

TEST_F(IdentitiesTest, LeavingHandsTheAddressOnAndMovingForgetsPorts) {
  ids.SetMember(1, Ip("203.0.113.21"));
  ids.SetMember(2, Ip("203.0.113.21"));
  ids.Seen(1, 26900);
  ids.Seen(2, 26900);  // 26901
  ids.RemoveMember(1);
  EXPECT_FALSE(ids.Knows(1));
  ExpectResolves("203.0.113.21", 26901, 2, 26900);  // a port the game knows stays
  ExpectResolves("203.0.113.21", 26900, 2, 26900);  // the next member takes the rest
  ids.SetMember(2, Ip("203.0.113.40"));  // it reconnected from elsewhere
  uint32_t m;
  uint16_t r;
  EXPECT_FALSE(ids.Resolve(Ip("203.0.113.21"), 26901, &m, &r));
  EXPECT_EQ(ids.Seen(2, 26900).port, 26900);
  EXPECT_EQ(ids.Members(), std::vector<uint32_t>{2});
}

TEST_F(IdentitiesTest, AMemberBehindThisMachinesRouterIsNeverShownAtThisMachinesPorts) {
  ids.SetMember(2, Ip("203.0.113.21"));
  EXPECT_EQ(ids.Seen(2, 26900).port, 26900);  // shown before this machine knew its address
  ids.SetSelf(1, Ip("203.0.113.21"));
  EXPECT_EQ(ids.Seen(2, 26900).port, 26900) << "what the game has seen stays";
  EXPECT_EQ(ids.Seen(2, 27000).port, 27001) << "this machine's own ports are its own";
  ExpectResolves("203.0.113.21", 26900, 2, 26900);
  ExpectResolves("203.0.113.21", 27001, 2, 27000);
  uint32_t m;
  uint16_t r;
  EXPECT_FALSE(ids.Resolve(Ip("203.0.113.21"), 27000, &m, &r)) << "a datagram to itself";
  EXPECT_EQ(ids.Members(), std::vector<uint32_t>{2});
}

// ---- paths -----------------------------------------------------------------------------

const uint32_t kKeyA = 0xAAAA0001, kKeyB = 0xBBBB0002;

// Two members, A (number 1) and B (number 2), each behind a router: A is seen at
// 203.0.113.21:40001 and reports 198.51.100.2:5001; B at 203.0.113.22:40002. The test
// decides which datagrams arrive.
class PathsTest : public ::testing::Test {
 protected:
  PathsTest() : a(kKeyA), b(kKeyB) {}

  static PathInfo* Info(uint32_t self, PathAddress self_seen, uint32_t peer, PathAddress seen,
                        uint32_t key, bool with_local) {
    static PathInfo info;
    info = PathInfo();
    info.member = self;
    info.seen = self_seen;
    info.peer_count = 1;
    PathPeer& p = info.peers[0];
    p.member = peer;
    p.seen = seen;
    p.flags = kPathTakesRelayed;
    p.key = key;
    if (with_local) {
      p.count = 1;
      p.candidates[0] = {Ip("198.51.100.2"), 5001};
    }
    return &info;
  }
  void Start() {
    a.SetPeers(*Info(1, kASeen, 2, kBSeen, kKeyB, false), now, &out_a);
    b.SetPeers(*Info(2, kBSeen, 1, kASeen, kKeyA, true), now, &out_b);
  }
  // Carries what each side sent to the other when `open`; returns how many arrived.
  int Exchange() {
    int arrived = 0;
    for (int round = 0; round < 4 && (!out_a.empty() || !out_b.empty()); ++round) {
      std::vector<ProbeOut> from_a, from_b;
      from_a.swap(out_a);
      from_b.swap(out_b);
      for (const ProbeOut& p : from_a) arrived += Carry(p, kASeen, b, &out_b);
      for (const ProbeOut& p : from_b) arrived += Carry(p, kBSeen, a, &out_a);
    }
    return arrived;
  }
  int Carry(const ProbeOut& p, PathAddress source, PeerPaths& to, std::vector<ProbeOut>* replies) {
    sent.push_back(p);
    if (!open || p.ttl != 0) return 0;
    DirectDatagram d;
    EXPECT_TRUE(ParseDirect(p.bytes, sizeof p.bytes, &d));
    return to.OnProbeOrAnswer(d, source, now, replies) ? 1 : 0;
  }
  void Advance(uint64_t ms, uint64_t step = 100) {
    for (uint64_t t = 0; t < ms; t += step) {
      now += step;
      a.Tick(now, &out_a);
      b.Tick(now, &out_b);
      Exchange();
    }
  }
  PathState StateOf(PeerPaths& p) { return p.Views().at(0).state; }

  const PathAddress kASeen = {Ip("203.0.113.21"), 40001};
  const PathAddress kBSeen = {Ip("203.0.113.22"), 40002};
  PeerPaths a, b;
  std::vector<ProbeOut> out_a, out_b, sent;
  uint64_t now = 1000000;
  bool open = true;
};

TEST_F(PathsTest, ARoundOpensWithALowTtlProbeThenProbesEveryCandidate) {
  open = false;
  Start();
  ASSERT_EQ(out_b.size(), 1u);
  EXPECT_EQ(out_b[0].ttl, kOpenerTtl);
  EXPECT_EQ(out_b[0].to.ip, kASeen.ip) << "the opener goes to the public address only";
  Exchange();
  sent.clear();
  Advance(kOpenerLeadMs);
  // B probes A's public address and A's local one.
  int to_public = 0, to_local = 0;
  for (const ProbeOut& p : sent) {
    EXPECT_EQ(p.ttl, 0);
    to_public += p.to.ip == kASeen.ip && p.to.port == kASeen.port;
    to_local += p.to.ip == Ip("198.51.100.2") && p.to.port == 5001;
  }
  EXPECT_EQ(to_public, 1);
  EXPECT_EQ(to_local, 1);
  PathAddress to;
  uint32_t key;
  EXPECT_FALSE(a.DirectTo(2, &to, &key)) << "nothing direct before an answer";
}

TEST_F(PathsTest, AnsweredProbesMakeThePathDirectBothWaysWithTheRoundTrip) {
  Start();
  Exchange();
  Advance(kOpenerLeadMs);
  ASSERT_EQ(StateOf(a), PathState::kDirect);
  ASSERT_EQ(StateOf(b), PathState::kDirect);
  PathAddress to;
  uint32_t key;
  ASSERT_TRUE(a.DirectTo(2, &to, &key));
  EXPECT_EQ(to.ip, kBSeen.ip);
  EXPECT_EQ(to.port, kBSeen.port);
  EXPECT_EQ(key, kKeyB) << "direct datagrams carry the receiver's key";
  // Keep-alives measure the round trip: answers that come back 40 ms later.
  for (int i = 0; i < 20; ++i) {
    now += kKeepAliveMs;
    a.Tick(now, &out_a);
    std::vector<ProbeOut> probes;
    probes.swap(out_a);
    now += 40;
    for (const ProbeOut& p : probes) Carry(p, kASeen, b, &out_b);
    std::vector<ProbeOut> answers;
    answers.swap(out_b);
    for (const ProbeOut& p : answers) Carry(p, kBSeen, a, &out_a);
  }
  EXPECT_EQ(StateOf(a), PathState::kDirect);
  EXPECT_NEAR(a.Views()[0].rtt_ms, 40, 4);
}

TEST_F(PathsTest, NoAnswerMeansTheServerThenRetriesWithBackOff) {
  open = false;
  Start();
  Advance(kRoundMs);
  EXPECT_EQ(StateOf(a), PathState::kServer);
  sent.clear();
  Advance(kFirstRetryMs - 200);
  EXPECT_TRUE(sent.empty()) << "nothing between rounds";
  Advance(400);
  EXPECT_EQ(StateOf(a), PathState::kTrying);
  Advance(kRoundMs);
  EXPECT_EQ(StateOf(a), PathState::kServer);
  sent.clear();
  Advance(2 * kFirstRetryMs - 400);
  EXPECT_TRUE(sent.empty()) << "the second wait is twice the first";
}

TEST_F(PathsTest, ALostPathFallsBackAtOnceAndComesBack) {
  Start();
  Exchange();
  Advance(kOpenerLeadMs);
  ASSERT_EQ(StateOf(a), PathState::kDirect);
  open = false;  // a router restarted
  Advance(kDirectLostMs + kKeepAliveMs);
  PathAddress to;
  uint32_t key;
  EXPECT_FALSE(a.DirectTo(2, &to, &key)) << "datagrams take the server at once";
  EXPECT_EQ(StateOf(a), PathState::kTrying);
  open = true;
  Advance(kProbeIntervalMs * 2);
  EXPECT_EQ(StateOf(a), PathState::kDirect);
}

TEST_F(PathsTest, AProbeFromTheMemberStartsARoundWithoutWaitingForTheRetry) {
  open = false;
  Start();
  Advance(kRoundMs);
  ASSERT_EQ(StateOf(a), PathState::kServer);
  ASSERT_EQ(StateOf(b), PathState::kServer);
  open = true;
  // B's next round comes first (its retry is due); its probe wakes A.
  DirectDatagram probe = {};
  probe.kind = kDirectProbe;
  probe.sender = 2;
  probe.key = kKeyA;
  probe.probe = 1;
  ASSERT_TRUE(a.OnProbeOrAnswer(probe, kBSeen, now, &out_a));
  EXPECT_EQ(StateOf(a), PathState::kTrying);
  ASSERT_FALSE(out_a.empty());
  EXPECT_EQ(out_a[0].to.ip, kBSeen.ip) << "the answer goes where the probe came from";
}

TEST_F(PathsTest, StrangersWrongKeysAndStaleAnswersChangeNothing) {
  open = false;
  Start();
  Exchange();
  DirectDatagram d = {};
  d.kind = kDirectAnswer;
  d.sender = 2;
  d.key = kKeyB;  // B's own key: not ours
  d.probe = 1;
  EXPECT_FALSE(a.OnProbeOrAnswer(d, kBSeen, now, &out_a));
  d.key = kKeyA;
  d.sender = 9;  // not listed
  EXPECT_FALSE(a.OnProbeOrAnswer(d, kBSeen, now, &out_a));
  DirectDatagram data = d;
  data.kind = kDirectData;
  EXPECT_FALSE(a.AcceptsData(data, kBSeen));
  data.sender = 2;
  EXPECT_TRUE(a.AcceptsData(data, kBSeen));
  const PathAddress elsewhere = {Ip("203.0.113.99"), 40002};
  EXPECT_FALSE(a.AcceptsData(data, elsewhere)) << "another member sending in B's name";
  // An answer to a probe of a round that is over does not open the path.
  Advance(kRoundMs + kFirstRetryMs + 100);  // a new round has begun
  d.sender = 2;
  d.probe = 1;
  EXPECT_TRUE(a.OnProbeOrAnswer(d, kBSeen, now, &out_a));
  EXPECT_EQ(StateOf(a), PathState::kTrying);
}

// ---- a new server connection ----------------------------------------------------------

// The port at which the local game sees a datagram that member `from` at `ip` sent from its
// game socket on `real_port`, delivered through the server.
uint16_t SeenPortThroughServer(MemberRouter& router, uint32_t from, const char* ip,
                               uint16_t real_port) {
  uint8_t link[LINK_HEADER_SIZE + 4] = {};
  LinkWrap(link, sizeof link, 26900, Ip(ip), "ping", 4);
  LinkSetSourcePort(link, real_port);
  uint8_t message[kRelayedHeaderSize + sizeof link];
  const size_t n = BuildRelayedDatagram(from, kRelayedUnicast, Ip(ip), link, sizeof link,
                                        message, sizeof message);
  RouterOutput out;
  EXPECT_TRUE(router.OnServerMessage(message, n, kMsgUnicastDelivery, 0, &out));
  if (out.game.size() != 1) return 0;
  return LinkGetSourcePort(out.game[0].data());
}

TEST(MemberRouterConnection, ANewConnectionNumbersMembersAnewWithoutMovingTheirPorts) {
  MemberRouter router(0x1234);
  EXPECT_EQ(SeenPortThroughServer(router, 3, "203.0.113.12", 26900), 26900);
  // The same player comes back as member 1 of a restarted server: while member 3 is still
  // known there, it is told apart as a second player behind that router...
  EXPECT_EQ(SeenPortThroughServer(router, 1, "203.0.113.12", 26900), 26901);
  // ...but a new connection forgets the old numbering, so the game sees it where it was.
  router.ForgetMembers();
  EXPECT_EQ(SeenPortThroughServer(router, 1, "203.0.113.12", 26900), 26900);
}

// ---- notices ---------------------------------------------------------------------------

TEST(Notices, EachIsToldOnceAndAFloodIsBounded) {
  NoticeBoard board;
  const MemberNotice connect = {kMemberTcpConnect, Ip("203.0.113.22"), 2300, 0};
  const MemberNotice failed = {kMemberTcpFailed, Ip("203.0.113.22"), 2300, 10061};
  board.Add(connect, 7);
  board.Add(connect, 7);
  board.Add(failed, 7);
  std::string line;
  ASSERT_TRUE(board.Take(&line));
  EXPECT_NE(line.find("member 7 at 203.0.113.22:2300"), std::string::npos) << line;
  ASSERT_TRUE(board.Take(&line));
  EXPECT_NE(line.find("10061"), std::string::npos) << line;
  EXPECT_FALSE(board.Take(&line)) << "the repeat was not told again";
  for (uint16_t port = 1; port <= 100; ++port) board.Add({kMemberTcpConnect, Ip("203.0.113.22"), port, 0}, 7);
  size_t waiting = 0;
  while (board.Take(&line)) ++waiting;
  EXPECT_EQ(waiting, size_t{NoticeBoard::kMaxWaiting});
  board.Clear();
  board.Add(connect, 0);  // a new session tells it again; no member known: the address alone
  ASSERT_TRUE(board.Take(&line));
  EXPECT_EQ(line.find("member"), std::string::npos) << line;
}

}  // namespace
