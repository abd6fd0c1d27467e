// Players behind home routers, end to end on the simulated network: a group server, and
// members whose session-library side (the member router) runs over a peer transport behind
// routers that forward nothing. Their games are played by the test: what a game broadcasts
// or sends to another member's address goes in as the shim hands it over, and what the
// router hands back is what the game would receive.
#include <memory>

#include "link.h"
#include "member_router.h"
#include "message_types.h"
#include "server_fixture.h"

namespace orb {
namespace test {
namespace {

const uint16_t kGamePort = 26900;

// What one game received: payload, and the address and port it appears to come from.
struct GameDatagram {
  std::string payload;
  uint32_t from_ip;
  uint16_t from_port;
  uint16_t to_port;
};

struct RoutedPlayer : TransportObserver {
  RoutedPlayer(sim::Network* net, const std::string& ip, uint32_t key)
      : io(net->AddHost(ip.c_str())), router(key), now(net->Clock()) {
    TransportOptions o;
    o.clock = now;
    o.io = io;
    o.trace = nullptr;
    o.observer = this;
    o.stray = [this](const uint8_t* d, int n, const SocketAddress& from) {
      RouterOutput out;
      const bool ours = router.OnEndpointDatagram(d, static_cast<size_t>(n),
                                                  PathAddress{from.ip, from.port}, now(), &out);
      Carry(out);
      return ours;
    };
    transport.reset(new Transport(o));
    endpoint = transport->CreateEndpoint(0);
  }
  void OnData(const uint8_t* data, int32_t length, int32_t type, int32_t address) override {
    if (address != server) return;
    RouterOutput out;
    if (router.OnServerMessage(data, static_cast<size_t>(length), type, now(), &out)) {
      Carry(out);
    } else if (type == kMsgRelay) {
      Receive(data, static_cast<size_t>(length));  // a server that names nobody
    }
  }
  void Carry(RouterOutput& out) {
    for (auto& d : out.direct) {
      transport->SendDatagram(server, d.bytes.data(), static_cast<int32_t>(d.bytes.size()),
                              SocketAddress{d.to.ip, d.to.port}, d.ttl);
    }
    for (auto& m : out.server) {
      transport->Send(server, m.bytes.data(), static_cast<int32_t>(m.bytes.size()), m.type);
    }
    for (auto& link : out.game) Receive(link.data(), link.size());
    out.Clear();
  }
  // The shim's unwrapping: the address field and the port in the spare bytes.
  void Receive(const uint8_t* link, size_t n) {
    GameDatagram g;
    g.payload.assign(reinterpret_cast<const char*>(link) + LINK_HEADER_SIZE, n - LINK_HEADER_SIZE);
    g.from_ip = LinkGetAddress(link);
    const uint16_t spare = static_cast<uint16_t>(link[6] | link[7] << 8);
    g.from_port = spare != 0 ? spare : LinkGetPort(link);
    g.to_port = LinkGetPort(link);
    game.push_back(g);
  }
  void JoinAndReport(const std::string& group) {
    uint8_t record[92] = {0};
    memcpy(record, group.data(), group.size());
    transport->Send(server, record, 92, kMsgJoin);
    uint8_t report[64];
    const uint32_t local[] = {io->Ip()};
    const size_t n = router.BuildReport(local, 1, endpoint->local_port, report, sizeof report);
    transport->Send(server, report, static_cast<int32_t>(n), kMsgPathReport);
  }
  // The game broadcasts from its port: a relay record with the sending port in the spare.
  void Broadcast(const std::string& group, const std::string& payload) {
    std::vector<uint8_t> link(LINK_HEADER_SIZE + payload.size());
    LinkWrap(link.data(), link.size(), kGamePort, ParseIPv4("127.0.0.1"), payload.data(),
             payload.size());
    link[6] = kGamePort & 0xFF;
    link[7] = kGamePort >> 8;
    std::vector<uint8_t> record(72, 0);
    memcpy(record.data(), group.data(), group.size());
    uint32_t n = static_cast<uint32_t>(link.size());
    memcpy(&record[68], &n, 4);
    record.insert(record.end(), link.begin(), link.end());
    transport->Send(server, record.data(), static_cast<int32_t>(record.size()), kMsgRelay);
  }
  // The game sends to one address: the shim hands it over with that address.
  void SendTo(uint32_t ip, uint16_t port, const std::string& payload) {
    std::vector<uint8_t> link(LINK_HEADER_SIZE + payload.size());
    LinkWrap(link.data(), link.size(), port, ip, payload.data(), payload.size());
    RouterOutput out;
    router.OnGameUnicast(link.data(), link.size(), kGamePort, &out);
    Carry(out);
  }
  void Tick() {
    RouterOutput out;
    router.Tick(now(), &out);
    Carry(out);
  }
  const GameDatagram* Got(const std::string& payload) const {
    for (const GameDatagram& g : game) {
      if (g.payload == payload) return &g;
    }
    return nullptr;
  }
  PathState PathTo(uint32_t member) const {
    for (const MemberView& m : router.Members()) {
      if (m.path.member == member) return m.path.state;
    }
    return PathState::kTrying;
  }

  sim::Host* io;
  MemberRouter router;
  std::function<uint64_t()> now;
  std::unique_ptr<Transport> transport;
  Endpoint* endpoint = nullptr;
  int32_t server = 0;
  std::vector<GameDatagram> game;
};

class NatSimTest : public ServerTest {
 protected:
  RoutedPlayer* Add(const std::string& ip) {
    routed_.emplace_back(
        new RoutedPlayer(&net_, ip, 0x1000u + static_cast<uint32_t>(routed_.size())));
    RoutedPlayer* p = routed_.back().get();
    p->server = p->transport->Connect(p->endpoint, kServerIp, server_->port(), 0);
    Pass(6);
    p->JoinAndReport("g");
    Pass(6);
    return p;
  }
  // One pass of everyone, 20 ms apart: the server, every transport, every router's tick.
  void Pass(int passes = 1) {
    for (int i = 0; i < passes; ++i) {
      server_->RunOnce();
      for (auto& m : members_) m->transport->Pump(0);
      for (auto& p : routed_) {
        p->transport->Pump(0);
        p->Tick();
      }
      net_.Advance(20);
    }
  }
  void For(uint64_t ms) { Pass(static_cast<int>(ms / 20)); }
  uint32_t Number(RoutedPlayer* p) { return p->router.self(); }
  uint32_t Public(RoutedPlayer* p) { return p->router.public_address().ip; }

  // Two players, each behind a router of its own.
  void TwoBehindRouters(sim::NatRules rules) {
    net_.AddNat(ParseIPv4("203.0.113.21"), rules);
    net_.AddNat(ParseIPv4("203.0.113.22"), rules);
    net_.PutBehindNat(ParseIPv4("198.51.100.2"), ParseIPv4("203.0.113.21"));
    net_.PutBehindNat(ParseIPv4("198.51.100.66"), ParseIPv4("203.0.113.22"));
    StartServer();
    a_ = Add("198.51.100.2");
    b_ = Add("198.51.100.66");
    For(1000);
  }
  // a discovers b by broadcast and answers to the address it heard b at; b answers back.
  void Converse(const std::string& tag) {
    b_->Broadcast("g", "hello " + tag);
    For(200);
    const GameDatagram* hello = a_->Got("hello " + tag);
    ASSERT_NE(hello, nullptr) << tag;
    a_->SendTo(hello->from_ip, hello->from_port, "reply " + tag);
    For(200);
    const GameDatagram* reply = b_->Got("reply " + tag);
    ASSERT_NE(reply, nullptr) << tag;
    b_->SendTo(reply->from_ip, reply->from_port, "back " + tag);
    For(200);
    ASSERT_NE(a_->Got("back " + tag), nullptr) << tag;
  }

  std::vector<std::unique_ptr<RoutedPlayer>> routed_;
  RoutedPlayer* a_ = nullptr;
  RoutedPlayer* b_ = nullptr;
};

TEST_F(NatSimTest, GamesSeeEachOtherAtTheirRoutersAndTalkThroughTheServerWhenNothingOpens) {
  sim::NatRules symmetric;
  symmetric.per_destination = true;  // a new port per destination: no probe gets through
  TwoBehindRouters(symmetric);
  For(kRoundMs + 1000);
  ASSERT_EQ(a_->PathTo(Number(b_)), PathState::kServer);
  Converse("one");
  const GameDatagram* hello = a_->Got("hello one");
  EXPECT_EQ(hello->from_ip, ParseIPv4("203.0.113.22")) << "the router's address, never 198.51.100.66";
  EXPECT_EQ(hello->from_port, kGamePort);
  EXPECT_EQ(b_->Got("reply one")->from_ip, ParseIPv4("203.0.113.21"));
  EXPECT_EQ(b_->Got("reply one")->to_port, kGamePort);
  EXPECT_EQ(a_->router.Counters().sent_server, 1u);
  EXPECT_EQ(a_->router.Counters().sent_direct, 0u);
  EXPECT_EQ(server_->counters().unicast_relayed, 2u);
  EXPECT_GT(net_.DroppedAtNat(), 0u) << "the probes were tried and refused";
}

TEST_F(NatSimTest, OrdinaryRoutersOpenADirectPathAndTheServerIsNotInTheWay) {
  TwoBehindRouters(sim::NatRules());
  ASSERT_EQ(a_->PathTo(Number(b_)), PathState::kDirect);
  ASSERT_EQ(b_->PathTo(Number(a_)), PathState::kDirect);
  Converse("two");
  EXPECT_EQ(b_->Got("reply two")->from_ip, ParseIPv4("203.0.113.21"));
  EXPECT_EQ(b_->Got("reply two")->from_port, kGamePort);
  EXPECT_EQ(server_->counters().unicast_in, 0u);
  EXPECT_EQ(a_->router.Counters().sent_direct, 1u);
  EXPECT_EQ(b_->router.Counters().received_direct, 1u);
}

TEST_F(NatSimTest, APathThatStopsWorkingFallsBackToTheServerAndReturns) {
  TwoBehindRouters(sim::NatRules());
  ASSERT_EQ(a_->PathTo(Number(b_)), PathState::kDirect);
  // Something between the two routers starts dropping what they send each other.
  net_.SetBlocked(ParseIPv4("203.0.113.21"), ParseIPv4("203.0.113.22"), true);
  For(kDirectLostMs + 1000);
  EXPECT_NE(a_->PathTo(Number(b_)), PathState::kDirect);
  const uint64_t relayed = server_->counters().unicast_relayed;
  a_->SendTo(Public(b_), kGamePort, "while it is down");
  For(200);
  EXPECT_NE(b_->Got("while it is down"), nullptr);
  EXPECT_EQ(server_->counters().unicast_relayed, relayed + 1);
  net_.SetBlocked(ParseIPv4("203.0.113.21"), ParseIPv4("203.0.113.22"), false);
  For(2 * kFirstRetryMs + kRoundMs);
  EXPECT_EQ(a_->PathTo(Number(b_)), PathState::kDirect) << "probing found it again";
}

TEST_F(NatSimTest, TwoBehindOneRouterAndAThirdElsewhereAllReachEachOtherToldApart) {
  const uint32_t home = ParseIPv4("203.0.113.21");
  net_.AddNat(home);
  net_.PutBehindNat(ParseIPv4("198.51.100.2"), home);
  net_.PutBehindNat(ParseIPv4("198.51.100.3"), home);
  StartServer();
  RoutedPlayer* one = Add("198.51.100.2");
  RoutedPlayer* two = Add("198.51.100.3");
  RoutedPlayer* far = Add("203.0.113.40");  // not behind any router
  For(1000);
  for (RoutedPlayer* p : {one, two, far}) p->Broadcast("g", "I am " + std::to_string(Number(p)));
  For(200);
  const GameDatagram* one_at_far = far->Got("I am " + std::to_string(Number(one)));
  const GameDatagram* two_at_far = far->Got("I am " + std::to_string(Number(two)));
  ASSERT_NE(one_at_far, nullptr);
  ASSERT_NE(two_at_far, nullptr);
  EXPECT_EQ(one_at_far->from_ip, home);
  EXPECT_EQ(two_at_far->from_ip, home);
  EXPECT_NE(one_at_far->from_port, two_at_far->from_port) << "same address, told apart by port";
  // Each sees the other behind its own router at the router's address, not its own port.
  const GameDatagram* two_at_one = one->Got("I am " + std::to_string(Number(two)));
  ASSERT_NE(two_at_one, nullptr);
  EXPECT_EQ(two_at_one->from_ip, home);
  EXPECT_NE(two_at_one->from_port, kGamePort) << "that is one's own address and port";
  // Everyone answers everyone at the address it heard them at; each answer reaches the
  // one it was meant for.
  for (RoutedPlayer* from : {one, two, far}) {
    for (RoutedPlayer* to : {one, two, far}) {
      if (from == to) continue;
      const GameDatagram* heard = from->Got("I am " + std::to_string(Number(to)));
      ASSERT_NE(heard, nullptr);
      from->SendTo(heard->from_ip, heard->from_port,
                   "to " + std::to_string(Number(to)) + " from " + std::to_string(Number(from)));
    }
  }
  For(400);
  for (RoutedPlayer* to : {one, two, far}) {
    size_t mine = 0;
    for (const GameDatagram& g : to->game) {
      if (g.payload.rfind("to ", 0) != 0) continue;
      EXPECT_EQ(g.payload.find("to " + std::to_string(Number(to)) + " "), 0u) << g.payload;
      ++mine;
    }
    EXPECT_EQ(mine, 2u);
  }
  // The two behind one router found each other on their own network.
  EXPECT_EQ(one->PathTo(Number(two)), PathState::kDirect);
  EXPECT_EQ(two->PathTo(Number(one)), PathState::kDirect);
  // Their games' datagrams to each other go through the session library; to the player at
  // its own address, straight from the game's socket as without orblan.
  std::vector<RouteEntry> routes;
  uint32_t public_ip = 0;
  one->router.Routes(&routes, &public_ip);
  ASSERT_EQ(routes.size(), 1u);
  EXPECT_EQ(routes[0].address, home);
  EXPECT_EQ(public_ip, home);
  far->router.Routes(&routes, &public_ip);
  ASSERT_EQ(routes.size(), 1u);
  EXPECT_EQ(routes[0].address, home);
}

TEST_F(NatSimTest, AMemberThatKnowsOnlyBroadcastsIsServedAsBeforeAndNotRouted) {
  net_.AddNat(ParseIPv4("203.0.113.21"));
  net_.PutBehindNat(ParseIPv4("198.51.100.2"), ParseIPv4("203.0.113.21"));
  StartServer();
  RoutedPlayer* a = Add("198.51.100.2");
  Player* plain = Joined("203.0.113.50", "g");  // a session library built to the published format
  For(1000);
  a->Broadcast("g", "from a");
  plain->Relay("g", "from plain");
  For(200);
  ASSERT_EQ(plain->received.size(), 1u);
  EXPECT_EQ(LinkGetAddress(plain->received[0].data()), ParseIPv4("203.0.113.21"));
  EXPECT_TRUE(plain->relayed.empty());
  EXPECT_TRUE(plain->path_infos.empty());
  const GameDatagram* heard = a->Got("from plain");
  ASSERT_NE(heard, nullptr);
  EXPECT_EQ(heard->from_ip, plain->io->Ip());
  std::vector<RouteEntry> routes;
  uint32_t public_ip = 0;
  a->router.Routes(&routes, &public_ip);
  EXPECT_TRUE(routes.empty()) << "the game's datagrams to it go straight out, as before";
  EXPECT_EQ(public_ip, ParseIPv4("203.0.113.21"));
  a->SendTo(plain->io->Ip(), 2300, "not through us");
  EXPECT_EQ(a->router.Counters().unknown_destination, 1u);
}

}  // namespace
}  // namespace test
}  // namespace orb
