// The relay between a shim's end of the link and a group server, with two transports on
// 127.0.0.1: the session's own and one playing the server. The worker binds an ephemeral
// port here instead of 3668.
#include "relay.h"

#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "link.h"
#include "local_source.h"
#include "member_link.h"
#include "message_types.h"
#include "path_info.h"
#include "relayed_unicast.h"
#include "route_table.h"
#include "platform.h"

namespace {

using orb::SocketAddress;

struct Received {
  std::vector<uint8_t> data;
  int32_t type;
  int32_t address;
};

// The group server's view: what arrived and which connection it accepted.
struct ServerSide : orb::TransportObserver {
  void OnAccepted(int32_t address) override { accepted = address; }
  void OnData(const uint8_t* d, int32_t n, int32_t type, int32_t address) override {
    got.push_back({std::vector<uint8_t>(d, d + n), type, address});
  }
  int32_t accepted = 0;
  std::vector<Received> got;
};

// The session's callbacks, as orblan.dll registers them, but with a context.
struct SessionSide : orb::TransportObserver {
  explicit SessionSide(SessionState& s) : state(s) {}
  void OnEvent(int32_t address, int32_t code) override { ApplyServerEvent(state, address, code); }
  void OnData(const uint8_t* d, int32_t n, int32_t type, int32_t address) override {
    if (transport != nullptr && RouteFromServer(state, *transport, d, n, type, address)) return;
    DeliverFromServer(state, d, n, type, address);
  }
  SessionState& state;
  orb::Transport* transport = nullptr;
};

orb::TransportOptions Quiet(orb::TransportObserver* observer) {
  orb::TransportOptions o;
  o.trace = nullptr;
  o.observer = observer;
  return o;
}

class Relay : public ::testing::Test {
 protected:
  Relay() : session_side_(state_), server_(Quiet(&server_side_)), client_(Quiet(&session_side_)) {}

  void SetUp() override {
    kLoopbackIp = orb::ParseIPv4("127.0.0.1");
    orb::Endpoint* server_ep = server_.CreateEndpoint(0);
    ASSERT_NE(server_ep, nullptr);
    orb::Endpoint* client_ep = client_.CreateEndpoint(0);
    ASSERT_NE(client_ep, nullptr);
    const int32_t address = client_.Connect(client_ep, "127.0.0.1", server_ep->local_port, 0);
    ASSERT_NE(address, 0);
    BeginSession(state_, address);
    state_.server_socket.store(client_ep->handle);  // as orblan.dll does
    ASSERT_TRUE(PumpUntil([&] { return state_.phase.load() == ORBLAN_STATE_CONNECTED; }));
    strcpy(state_.group, "Alpha");
    strcpy(state_.local_address, "203.0.113.7");

    shim_ = orb::UdpOpen();
    ASSERT_NE(shim_, orb::kInvalidSocket);
    ASSERT_TRUE(orb::UdpBind(shim_, kLoopbackIp, 0));
    ASSERT_TRUE(orb::UdpSetNonBlocking(shim_));
    ASSERT_TRUE(orb::UdpBoundPort(shim_, &shim_port_));
  }

  void TearDown() override {
    EndSession(state_);
    WaitForRelayWorker(state_);
    orb::UdpClose(shim_);
    for (orb::SocketHandle g : games_) orb::UdpClose(g);
  }

  // The worker listens once StartRelayWorker has returned: a game started next finds it.
  void StartWorker() {
    ASSERT_TRUE(StartRelayWorker(state_, client_, 0));
    ASSERT_NE(state_.link_port.load(), 0);
    ASSERT_TRUE(state_.relay_bound.load());
  }

  // Pumps the server's transport, and the session's unless the worker alone is to do it.
  bool PumpUntil(const std::function<bool()>& done, uint32_t ms = 5000, bool client = true) {
    const uint64_t end = orb::MonotonicMs() + ms;
    while (orb::MonotonicMs() < end) {
      if (client) client_.Pump(0);
      server_.Pump(0);
      if (done()) return true;
      orb::SleepMs(1);
    }
    return done();
  }

  void ShimSends(const std::vector<uint8_t>& d) {
    const SocketAddress to = {kLoopbackIp, state_.link_port.load()};
    ASSERT_EQ(orb::UdpSendTo(shim_, d.data(), static_cast<int>(d.size()), to),
              static_cast<int>(d.size()));
  }

  // The next record the server receives (after `skip` earlier ones), or an empty one.
  Received NextAtServer(size_t index) {
    if (!PumpUntil([&] { return server_side_.got.size() > index; })) return {{}, -1, 0};
    return server_side_.got[index];
  }

  // Reads one datagram the game's socket received, waiting while pumping.
  int GameReceives(orb::SocketHandle game, std::vector<uint8_t>* out, SocketAddress* from,
                   uint32_t ms = 2000) {
    uint8_t buf[4096];
    int n = -1;
    PumpUntil([&] { return (n = orb::UdpReceiveFrom(game, buf, sizeof buf, from)) >= 0; }, ms);
    if (n >= 0) out->assign(buf, buf + n);
    return n;
  }

  // The shim's word that a game socket bound to address:port exists (or is closed).
  void Notice(LinkNoticeKind kind, uint32_t address, uint16_t port) {
    uint8_t n[LINK_NOTICE_SIZE];
    ASSERT_EQ(LinkBuildNotice(n, sizeof n, {kind, port, address}), 12);
    ShimSends(std::vector<uint8_t>(n, n + sizeof n));
    // The worker takes datagrams in order: once a later link datagram reached the server,
    // the notice has been applied.
    const size_t before = server_side_.got.size();
    ShimSends(LinkDatagram(9, 1));
    ASSERT_TRUE(PumpUntil([&] { return server_side_.got.size() > before; }));
  }

  // A game socket bound to address (port chosen by the system), non-blocking.
  orb::SocketHandle GameSocket(uint32_t address, uint16_t* port) {
    orb::SocketHandle g = orb::UdpOpen();
    EXPECT_TRUE(orb::UdpBind(g, address, 0));
    EXPECT_TRUE(orb::UdpSetNonBlocking(g));
    EXPECT_TRUE(orb::UdpBoundPort(g, port));
    games_.push_back(g);
    return g;
  }

  static std::vector<uint8_t> LinkDatagram(uint16_t port, size_t payload, uint8_t fill = 0x5A) {
    std::vector<uint8_t> d(LINK_HEADER_SIZE + payload, fill);
    std::vector<uint8_t> p(payload, fill);
    LinkWrap(d.data(), d.size(), port, orb::ParseIPv4("127.0.0.1"), p.data(), payload);
    return d;
  }

  uint32_t kLoopbackIp = 0;
  SessionState state_;
  ServerSide server_side_;
  SessionSide session_side_;
  orb::Transport server_;
  orb::Transport client_;
  orb::SocketHandle shim_ = orb::kInvalidSocket;
  uint16_t shim_port_ = 0;
  std::vector<orb::SocketHandle> games_;
};

TEST_F(Relay, LinkDatagramReachesTheServerStampedInARelayRecord) {
  StartWorker();
  std::vector<uint8_t> d = LinkDatagram(300, 20);
  ShimSends(d);
  const Received r = NextAtServer(0);
  ASSERT_EQ(r.type, kMsgRelay);
  EXPECT_EQ(r.address, server_side_.accepted);
  ASSERT_EQ(r.data.size(), 72u + 32u);
  EXPECT_STREQ(reinterpret_cast<const char*>(r.data.data()), "Alpha");
  const uint8_t member_and_n[] = {0, 0, 0, 0, 32, 0, 0, 0};
  EXPECT_EQ(memcmp(r.data.data() + 64, member_and_n, 8), 0);
  const uint8_t stamped[] = {203, 0, 113, 7};
  EXPECT_EQ(memcmp(r.data.data() + 72 + 8, stamped, 4), 0);
  // The port of the game socket it came from, where the far games answer.
  EXPECT_EQ(LinkGetSourcePort(r.data.data() + 72), shim_port_);
  // Everything else passes untouched.
  EXPECT_EQ(memcmp(r.data.data() + 72, d.data(), 6), 0);
  EXPECT_EQ(memcmp(r.data.data() + 72 + 12, d.data() + 12, 20), 0);
}

TEST_F(Relay, LargestDatagramTravelsInTwoFragments) {
  StartWorker();
  const uint64_t sent_before = client_.Counters().datagrams_sent;
  ShimSends(LinkDatagram(300, LINK_PAYLOAD_MAX));
  const Received r = NextAtServer(0);
  ASSERT_EQ(r.data.size(), 72u + 2060u);
  EXPECT_EQ(client_.Counters().datagrams_sent - sent_before, 2u);
}

TEST_F(Relay, OnlyDatagramsThatBeginWithTheMagicAreForwarded) {
  StartWorker();
  ShimSends(LinkDatagram(300, 8));  // the receive buffer now begins with the magic
  std::vector<uint8_t> bad = LinkDatagram(300, 8);
  bad[0] = 0xF8;
  ShimSends(bad);
  ShimSends({0xF9, 0xF9});  // too short to carry the magic, whatever the buffer holds
  ShimSends({0xF9, 0xF9, 0xF9, 0xF9, 1, 2});  // short, but magic: forwarded with its length
  ShimSends(LinkDatagram(301, 1));
  ASSERT_EQ(NextAtServer(0).data.size(), 72u + 20u);
  const Received shortone = NextAtServer(1);
  ASSERT_EQ(shortone.data.size(), 72u + 6u);
  EXPECT_EQ(shortone.data[72 + 4], 1);
  EXPECT_EQ(shortone.data[72 + 5], 2);
  const Received last = NextAtServer(2);
  ASSERT_EQ(last.data.size(), 72u + 13u);
  EXPECT_EQ(LinkGetPort(last.data.data() + 72), 301);
  EXPECT_EQ(server_side_.got.size(), 3u);
}

TEST_F(Relay, BurstIsRelayedWhole) {
  StartWorker();
  const int kBurst = 200;
  for (int i = 0; i < kBurst; ++i) ShimSends(LinkDatagram(static_cast<uint16_t>(1000 + i), 32));
  ASSERT_TRUE(PumpUntil([&] { return server_side_.got.size() >= static_cast<size_t>(kBurst); }));
  for (int i = 0; i < kBurst; ++i) {
    EXPECT_EQ(LinkGetPort(server_side_.got[i].data.data() + 72), 1000 + i) << "record " << i;
  }
}

TEST_F(Relay, ServerDataReachesTheGameFromTheLinkPort) {
  StartWorker();
  uint16_t game_port = 0;
  orb::SocketHandle game = GameSocket(kLoopbackIp, &game_port);
  Notice(kNoticeBound, kLoopbackIp, game_port);

  // 12 bytes is header only: dropped by the receiving side. Then another type, then a
  // good one: the game sees only the good one.
  std::vector<uint8_t> empty = LinkDatagram(game_port, 0);
  ASSERT_EQ(server_.Send(server_side_.accepted, empty.data(), 12, kMsgRelay), 0);
  std::vector<uint8_t> good = LinkDatagram(game_port, 20, 0x33);
  ASSERT_EQ(server_.Send(server_side_.accepted, good.data(), 32, kMsgJoin), 0);
  ASSERT_EQ(server_.Send(server_side_.accepted, good.data(), 32, kMsgRelay), 0);

  std::vector<uint8_t> got;
  SocketAddress from;
  ASSERT_EQ(GameReceives(game, &got, &from), 32);
  EXPECT_EQ(got, good);
  EXPECT_EQ(from.ip, kLoopbackIp);
  EXPECT_EQ(from.port, state_.link_port.load());
  EXPECT_LT(GameReceives(game, &got, &from, 200), 0);
}

// The worker runs the session's passes itself as soon as the game or the server sends:
// nothing else pumps the session's transport here (in the launcher a 20 ms timer would).
TEST_F(Relay, WorkerPumpsAsSoonAsEitherSideSends) {
  StartWorker();
  uint16_t game_port = 0;
  orb::SocketHandle game = GameSocket(kLoopbackIp, &game_port);
  const std::vector<uint8_t> out = LinkDatagram(300, 20);
  const SocketAddress link = {kLoopbackIp, state_.link_port.load()};
  ASSERT_EQ(orb::UdpSendTo(game, out.data(), static_cast<int>(out.size()), link), 32);
  ASSERT_TRUE(PumpUntil([&] { return server_side_.got.size() == 1; }, 5000, false));
  std::vector<uint8_t> back = LinkDatagram(game_port, 20, 0x44);
  ASSERT_EQ(server_.Send(server_side_.accepted, back.data(), 32, kMsgRelay), 0);
  uint8_t buf[64];
  SocketAddress from;
  int n = -1;
  PumpUntil([&] { return (n = orb::UdpReceiveFrom(game, buf, sizeof buf, &from)) >= 0; }, 5000, false);
  ASSERT_EQ(n, 32);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + n), back);
  // Both messages were acknowledged, so neither side holds anything.
  EXPECT_TRUE(PumpUntil([&] { return client_.UnacknowledgedCount() == 0 &&
                                     server_.UnacknowledgedCount() == 0; }, 5000, false));
}

// A member that takes relayed datagrams, as the server describes it in path info.
TEST_F(Relay, DatagramsForAMemberGoThroughTheServerAndTheirsReachTheGameFromItsAddress) {
  MemberRouter router(0x1234);
  alignas(4) static uint8_t table[ROUTE_TABLE_SIZE];
  RouteTableInit(table);
  state_.router = &router;
  state_.route_table = table;
  session_side_.transport = &client_;
  StartWorker();
  const uint32_t member_ip = orb::ParseIPv4("203.0.113.22");
  static PathInfo info;
  info = PathInfo();
  info.member = 1;
  info.seen = {orb::ParseIPv4("203.0.113.21"), 40001};
  info.peer_count = 1;
  info.peers[0].member = 7;
  info.peers[0].seen = {member_ip, 40002};
  info.peers[0].flags = kPathTakesRelayed;
  info.peers[0].key = 0x77;
  std::vector<uint8_t> message(kPathInfoMax);
  message.resize(BuildPathInfo(info, message.data(), message.size()));
  ASSERT_EQ(server_.Send(server_side_.accepted, message.data(),
                         static_cast<int32_t>(message.size()), kMsgPathInfo), 0);
  ASSERT_TRUE(PumpUntil([&] { return RouteTableLookup(table, member_ip, nullptr); }))
      << "the shim learns the member's address is routed";
  EXPECT_EQ(RouteTablePublicAddress(table), orb::ParseIPv4("203.0.113.21"));

  // The game sends to the member's address: no direct path yet, so it goes to the server
  // for member 7, with the game socket's port.
  std::vector<uint8_t> unicast = LinkDatagram(26900, 20, 0x44);
  LinkSetAddress(unicast.data(), member_ip);
  ShimSends(unicast);
  const Received r = NextAtServer(0);
  ASSERT_EQ(r.type, kMsgRelayUnicast);
  UnicastRequest request;
  ASSERT_TRUE(ParseUnicastRequest(r.data.data(), r.data.size(), &request));
  EXPECT_EQ(request.to, 7u);
  EXPECT_EQ(LinkGetPort(request.link), 26900);
  EXPECT_EQ(request.link[6] | request.link[7] << 8, shim_port_);
  EXPECT_EQ(memcmp(request.link + 12, unicast.data() + 12, 20), 0);

  // Member 7's datagram comes back through the server to the game's port.
  uint16_t game_port = 0;
  orb::SocketHandle game = GameSocket(kLoopbackIp, &game_port);
  Notice(kNoticeBound, kLoopbackIp, game_port);
  std::vector<uint8_t> back = LinkDatagram(game_port, 20, 0x55);
  back[6] = 0x50;  // sent from port 0x6950 = 26960
  back[7] = 0x69;
  uint8_t relayed[kRelayedHeaderSize + LINK_DATAGRAM_MAX];
  const size_t n = BuildRelayedDatagram(7, kRelayedUnicast, member_ip, back.data(), back.size(),
                                        relayed, sizeof relayed);
  ASSERT_EQ(server_.Send(server_side_.accepted, relayed, static_cast<int32_t>(n),
                         kMsgUnicastDelivery), 0);
  std::vector<uint8_t> got;
  SocketAddress from;
  ASSERT_EQ(GameReceives(game, &got, &from), 32);
  EXPECT_EQ(LinkGetAddress(got.data()), member_ip);
  EXPECT_EQ(got[6] | got[7] << 8, 26960) << "the member's real port, for the shim";
  EXPECT_EQ(memcmp(got.data() + 12, back.data() + 12, 20), 0);
  EXPECT_EQ(router.Counters().sent_server, 1u);
  EXPECT_EQ(router.Counters().received_server, 1u);

  // The session ends: the table empties, so a game that goes on sends as before.
  EndSession(state_);
  PublishRoutes(state_);
  EXPECT_FALSE(RouteTableLookup(table, member_ip, nullptr));
}

TEST_F(Relay, DataOfAnotherConnectionIsIgnored) {
  StartWorker();
  uint16_t game_port = 0;
  orb::SocketHandle game = GameSocket(kLoopbackIp, &game_port);
  Notice(kNoticeBound, kLoopbackIp, game_port);
  std::vector<uint8_t> d = LinkDatagram(game_port, 4);
  DeliverFromServer(state_, d.data(), 16, kMsgRelay, state_.server_connection.load() + 1);
  DeliverFromServer(state_, nullptr, 16, kMsgRelay, state_.server_connection.load());
  std::vector<uint8_t> got;
  SocketAddress from;
  EXPECT_LT(GameReceives(game, &got, &from, 200), 0);
  DeliverFromServer(state_, d.data(), 16, kMsgRelay, state_.server_connection.load());
  EXPECT_EQ(GameReceives(game, &got, &from), 16);
}

// Where a relayed datagram goes: to every game socket on its port, once, whatever address the
// socket is bound to, and nowhere when no game uses the port. 127.0.0.2 stands in for one of
// the machine's own addresses: a socket bound there hears nothing sent to 127.0.0.1.
struct DeliveryCase {
  const char* bound;    // the game socket's address
  bool by_notice;       // told of by the shim's notice, or seen sending a link datagram
};

class RelayDelivery : public Relay, public ::testing::WithParamInterface<DeliveryCase> {};

TEST_P(RelayDelivery, EachGameSocketOnThePortGetsItOnce) {
  StartWorker();
  const DeliveryCase& c = GetParam();
  const uint32_t bound = orb::ParseIPv4(c.bound);
  uint16_t port = 0;
  orb::SocketHandle game = GameSocket(bound, &port);
  if (c.by_notice) {
    Notice(kNoticeBound, bound, port);
  } else {
    const SocketAddress link = {kLoopbackIp, state_.link_port.load()};
    const std::vector<uint8_t> d = LinkDatagram(300, 4);
    ASSERT_EQ(orb::UdpSendTo(game, d.data(), static_cast<int>(d.size()), link), 16);
    ASSERT_EQ(LinkGetSourcePort(NextAtServer(0).data.data() + 72), port);
  }
  const std::vector<uint8_t> d = LinkDatagram(port, 20, 0x61);
  DeliverFromServer(state_, d.data(), 32, kMsgRelay, state_.server_connection.load());
  std::vector<uint8_t> got;
  SocketAddress from;
  ASSERT_EQ(GameReceives(game, &got, &from), 32) << c.bound;
  EXPECT_EQ(got, d);
  EXPECT_LT(GameReceives(game, &got, &from, 100), 0) << "a second copy";
  EXPECT_EQ(state_.undeliverable.load(), 0u);

  // A port nobody uses: sent nowhere, counted.
  const std::vector<uint8_t> stray = LinkDatagram(static_cast<uint16_t>(port + 1), 20);
  DeliverFromServer(state_, stray.data(), 32, kMsgRelay, state_.server_connection.load());
  EXPECT_EQ(state_.undeliverable.load(), 1u);

  // Closed: nothing more for it.
  Notice(kNoticeClosed, bound, port);
  DeliverFromServer(state_, d.data(), 32, kMsgRelay, state_.server_connection.load());
  EXPECT_LT(GameReceives(game, &got, &from, 100), 0);
  EXPECT_EQ(state_.undeliverable.load(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Sockets, RelayDelivery,
    ::testing::Values(DeliveryCase{"0.0.0.0", true}, DeliveryCase{"0.0.0.0", false},
                      DeliveryCase{"127.0.0.1", true}, DeliveryCase{"127.0.0.2", true},
                      DeliveryCase{"127.0.0.2", false}));

bool OnlyFirstLoopbackIsLocal(uint32_t address) { return address == orb::ParseIPv4("127.0.0.1"); }

// Anything on the link socket from another machine (here: 127.0.0.2, declared foreign) is
// dropped and counted, whether link datagram or notice, and nothing answers it.
TEST_F(Relay, DatagramsFromAnotherMachineAreDroppedAndCounted) {
  state_.is_local_address = OnlyFirstLoopbackIsLocal;
  StartWorker();
  uint16_t stranger_port = 0;
  orb::SocketHandle stranger = GameSocket(orb::ParseIPv4("127.0.0.2"), &stranger_port);
  const SocketAddress link = {kLoopbackIp, state_.link_port.load()};
  const std::vector<uint8_t> d = LinkDatagram(300, 20);
  uint8_t notice[LINK_NOTICE_SIZE];
  LinkBuildNotice(notice, sizeof notice, {kNoticeBound, stranger_port, 0});
  ASSERT_EQ(orb::UdpSendTo(stranger, d.data(), 32, link), 32);
  ASSERT_EQ(orb::UdpSendTo(stranger, notice, 12, link), 12);
  ShimSends(LinkDatagram(301, 4));
  const Received r = NextAtServer(0);
  EXPECT_EQ(LinkGetPort(r.data.data() + 72), 301) << "the stranger's datagram was relayed";
  EXPECT_EQ(state_.link_foreign.load(), 2u);
  EXPECT_EQ(state_.targets.Count(), 1u) << "only the shim's own socket became a target";
  std::vector<uint8_t> got;
  SocketAddress from;
  EXPECT_LT(GameReceives(stranger, &got, &from, 100), 0) << "the stranger got an answer";
}

TEST_F(Relay, NoGroupNoRecord) {
  state_.group[0] = '\0';
  const uint32_t ids = client_.MessageIdCounter();
  std::vector<uint8_t> d = LinkDatagram(300, 4);
  ForwardToServer(state_, client_, d.data(), static_cast<int>(d.size()));
  EXPECT_EQ(client_.MessageIdCounter(), ids);
  EXPECT_EQ(client_.SendQueueLength(), 0u);
}

TEST_F(Relay, WorkerEndsWhenTheSessionDoesAndFreesItsPort) {
  StartWorker();
  EXPECT_TRUE(state_.relay_running.load());
  EXPECT_FALSE(StartRelayWorker(state_, client_, 0));  // one worker at a time
  const uint16_t port = state_.link_port.load();
  ApplyServerEvent(state_, state_.server_connection.load(), orb::EVENT_PEERCLOSE);
  WaitForRelayWorker(state_);
  EXPECT_FALSE(state_.relay_running.load());
  EXPECT_EQ(state_.link_socket.load(), kNoSocket);
  orb::SocketHandle again = orb::UdpOpen();
  EXPECT_TRUE(orb::UdpBind(again, 0, port));
  orb::UdpClose(again);
}

TEST_F(Relay, TakenPortEndsTheWorkerAtOnce) {
  orb::SocketHandle holder = orb::UdpOpen();
  ASSERT_TRUE(orb::UdpBind(holder, 0, 0));
  uint16_t port = 0;
  ASSERT_TRUE(orb::UdpBoundPort(holder, &port));
  ASSERT_TRUE(StartRelayWorker(state_, client_, port));
  ASSERT_TRUE(PumpUntil([&] { return !state_.relay_running.load(); }));
  EXPECT_TRUE(state_.active.load());  // the session itself goes on
  EXPECT_EQ(state_.link_socket.load(), kNoSocket);
  EXPECT_EQ(state_.link_port.load(), 0);
  orb::UdpClose(holder);
}

}  // namespace

namespace {

// A server that never confirms: once the connect times out on the transport's clock, the
// session is lost and its relay worker ends.
TEST(SessionTimeOut, ServerThatNeverConfirmsLosesTheSession) {
  SessionState state;
  SessionSide side(state);
  std::atomic<uint64_t> now{1000};  // the worker reads it too
  orb::TransportOptions o = Quiet(&side);
  o.clock = [&] { return now.load(); };
  orb::Transport client(o);

  orb::SocketHandle silent = orb::UdpOpen();  // bound, never read: no answer, no ICMP
  ASSERT_TRUE(orb::UdpBind(silent, orb::ParseIPv4("127.0.0.1"), 0));
  uint16_t silent_port = 0;
  ASSERT_TRUE(orb::UdpBoundPort(silent, &silent_port));

  orb::Endpoint* ep = client.CreateEndpoint(0);
  ASSERT_NE(ep, nullptr);
  const int32_t address = client.Connect(ep, "127.0.0.1", silent_port, 0);
  ASSERT_NE(address, 0);
  BeginSession(state, address);
  strcpy(state.group, "Alpha");
  ASSERT_TRUE(StartRelayWorker(state, client, 0));

  for (int step = 0; step < 31 && state.phase.load() == ORBLAN_STATE_WAITING; ++step) {
    client.Pump(0);
    now += 1000;
  }
  client.Pump(0);
  EXPECT_EQ(state.phase.load(), ORBLAN_STATE_LOST);
  EXPECT_FALSE(state.active.load());
  EXPECT_FALSE(client.AddressExists(address));
  WaitForRelayWorker(state);
  EXPECT_EQ(state.link_socket.load(), kNoSocket);
  orb::UdpClose(silent);
}

}  // namespace

namespace {

int g_probes = 0;
bool CountingProbe(uint32_t address) {
  ++g_probes;
  return (address & 0xFF) == 10;  // first byte 10: "this machine"
}

TEST(LocalSource, LoopbackAndOwnAddressesAreThisMachine) {
  EXPECT_TRUE(IsThisMachinesAddress(orb::ParseIPv4("127.0.0.1")));
  EXPECT_TRUE(IsThisMachinesAddress(orb::ParseIPv4("127.9.8.7")));
  EXPECT_FALSE(IsThisMachinesAddress(0));
  EXPECT_FALSE(IsThisMachinesAddress(orb::ParseIPv4("192.0.2.44")));  // documentation range
  uint32_t mine = 0;  // the address this machine would use towards another documentation range
  if (orb::LocalAddressToward(orb::ParseIPv4("198.51.100.1"), &mine) && mine != 0) {
    EXPECT_TRUE(IsThisMachinesAddress(mine));
  }

  // One probe per address, however many datagrams come from it, within the remembered few.
  g_probes = 0;
  LocalSourceCheck check(CountingProbe);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(check.IsLocal(orb::ParseIPv4("10.0.0.1")));
    EXPECT_FALSE(check.IsLocal(orb::ParseIPv4("11.0.0.1")));
  }
  EXPECT_EQ(g_probes, 2);
  for (uint32_t i = 0; i < LocalSourceCheck::kRemembered + 4; ++i) check.IsLocal(0x0B000000u + i);
  EXPECT_TRUE(check.IsLocal(orb::ParseIPv4("10.0.0.1"))) << "a forgotten answer is asked again";
}

}  // namespace
