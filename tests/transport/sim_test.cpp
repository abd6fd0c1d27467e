// The simulator itself, and long runs of two transports over a lossy network.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "test_support.h"

namespace orb {
namespace {

using test::Peer;

// Runs a small exchange and returns every datagram the network carried.
std::vector<sim::WireDatagram> Scenario(uint64_t seed) {
  sim::Network net(seed);
  net.SetConditions(sim::Conditions{0.2, 0.1, 5, 200});
  net.SetTap(true);
  TransportOptions quiet;
  quiet.trace = nullptr;
  Peer a(net, "203.0.113.1", quiet), b(net, "198.51.100.7", quiet, 3668);
  int32_t c = a.t->Connect(a.endpoint, "198.51.100.7", 3668, 0);
  std::vector<uint8_t> data = test::Bytes(3000);
  for (int i = 0; i < 500; ++i) {
    if (i % 10 == 0) a.t->Send(c, data.data(), 1 + i * 5, 8);
    net.Advance(20);
    a.t->Pump(0);
    b.t->Pump(0);
  }
  return net.Tapped();
}

TEST(Simulator, SameSeedSameRunOtherSeedOtherRun) {
  std::vector<sim::WireDatagram> one = Scenario(7), two = Scenario(7), three = Scenario(8);
  ASSERT_EQ(one.size(), two.size());
  ASSERT_GT(one.size(), 100u);
  for (size_t i = 0; i < one.size(); ++i) {
    EXPECT_EQ(one[i].at, two[i].at);
    EXPECT_EQ(one[i].bytes, two[i].bytes);
    EXPECT_TRUE(one[i].to == two[i].to);
  }
  bool differs = one.size() != three.size();
  for (size_t i = 0; !differs && i < one.size(); ++i) differs = one[i].bytes != three[i].bytes || one[i].at != three[i].at;
  EXPECT_TRUE(differs);
}

// One host sending numbered 4-byte datagrams from one of its sockets to another.
struct Numbered {
  Numbered(uint64_t seed, sim::Conditions conditions) : net(seed) {
    net.SetConditions(conditions);
    h = net.AddHost("203.0.113.1");
    uint16_t port;
    EXPECT_EQ(h->Open(1000, &rx, &port), 0);
    EXPECT_EQ(h->Open(0, &tx, &port), 0);
  }
  void Send(uint32_t number) {
    uint8_t b[4];
    WriteU32(b, number);
    h->SendTo(tx, b, 4, SocketAddress{h->Ip(), 1000});
  }
  // Appends the numbers of every datagram due by now.
  void ReceiveDue(std::vector<uint32_t>* got) {
    uint8_t buf[16];
    SocketAddress from;
    int error;
    while (h->Receive(rx, buf, sizeof buf, &from, &error) == 4) got->push_back(ReadU32(buf));
  }
  sim::Network net;
  sim::Host* h;
  intptr_t rx = 0, tx = 0;
};

TEST(Simulator, LossDuplicationAndReorderingHappen) {
  Numbered n(3, sim::Conditions{0.2, 0.1, 0, 50});
  sim::Network& net = n.net;
  for (uint32_t i = 0; i < 1000; ++i) n.Send(i);
  net.Advance(100);
  std::vector<uint32_t> got;
  n.ReceiveDue(&got);
  EXPECT_EQ(net.Lost() + got.size(), 1000u + net.Duplicated());
  EXPECT_GT(net.Lost(), 150u);
  EXPECT_LT(net.Lost(), 250u);
  EXPECT_GT(net.Duplicated(), 50u);
  bool reordered = false;
  for (size_t i = 1; i < got.size(); ++i) reordered = reordered || got[i] < got[i - 1];
  EXPECT_TRUE(reordered);
}

// Without jitter a socket's datagrams come out in the order sent, none before its delay,
// however sends and reads interleave.
TEST(Simulator, WithoutJitterDatagramsArriveInOrderAfterTheDelay) {
  Numbered n(5, sim::Conditions{0, 0, 5, 0});
  std::vector<uint32_t> got;
  uint32_t sent = 0;
  for (int ms = 0; ms < 40; ++ms) {
    for (int i = 0; i < 1 + ms % 7; ++i) n.Send(sent++);
    n.net.Advance(1);
    n.ReceiveDue(&got);
    // What was sent 5 ms or more ago has arrived, and nothing later.
    uint32_t due = 0;
    for (int m = 0; m + 5 <= ms + 1; ++m) due += 1 + m % 7;
    ASSERT_EQ(got.size(), due) << "at " << ms + 1 << " ms";
  }
  for (uint32_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], i);
}

// Messages carry their number and length; their bytes follow from the number, so the
// receiver can tell a complete, uncorrupted message from anything else.
std::vector<uint8_t> MessageBytes(uint32_t number, uint32_t length) {
  std::vector<uint8_t> m(length);
  sim::Random r(number * 7919u + 1);
  for (auto& byte : m) byte = static_cast<uint8_t>(r.Next());
  if (length >= 8) {
    WriteU32(m.data(), number);
    WriteU32(m.data() + 4, length);
  }
  return m;
}

// One side of the soak: tracks the messages it sent and the connections it lost.
class Side : public TransportObserver {
 public:
  void OnEvent(int32_t address, int32_t code) override {
    if (code == EVENT_TIMEOUT || code == EVENT_DISCONNECTED) dead.insert(address);
  }
  void OnAccepted(int32_t address) override { latest = address; }
  void OnData(const uint8_t* data, int32_t length, int32_t type, int32_t address) override {
    (void)address;
    ++deliveries;
    ASSERT_EQ(type, 8);
    ASSERT_GE(length, 8);
    const uint32_t number = ReadU32(data), claimed = ReadU32(data + 4);
    ASSERT_EQ(claimed, static_cast<uint32_t>(length)) << "message " << number;
    ASSERT_TRUE(MessageBytes(number, claimed) == std::vector<uint8_t>(data, data + length))
        << "message " << number << " corrupted";
    received->insert(number);
  }
  std::set<int32_t> dead;
  int32_t latest = 0;
  uint64_t deliveries = 0;
  std::set<uint32_t>* received = nullptr;
};

// Ten virtual minutes on a path that loses one datagram in five, duplicates one in ten and
// reorders: the connection lives throughout, every message arrives exactly once and
// uncorrupted, and nothing is held once it is all over.
TEST(Soak, LossyPathKeepsTheConnectionAndDeliversEachMessageOnce) {
  sim::Network net(2024);
  net.SetConditions(sim::Conditions{0.2, 0.1, 5, 250});
  Side side_a, side_b;
  std::set<uint32_t> at_a, at_b;  // message numbers delivered to each side
  side_a.received = &at_a;
  side_b.received = &at_b;
  TransportOptions oa, ob;
  oa.trace = ob.trace = nullptr;
  oa.observer = &side_a;
  ob.observer = &side_b;
  ob.reuse_repeated_connect = true;
  Peer a(net, "203.0.113.1", oa), b(net, "198.51.100.7", ob, 3668);
  const int32_t a_conn = a.t->Connect(a.endpoint, "198.51.100.7", 3668, 0);

  std::map<uint32_t, bool> sent;  // number -> from a
  sim::Random r(99);
  uint32_t number = 0;
  const int kTicks = 30000;  // 20 ms timer ticks
  for (int tick = 0; tick < kTicks; ++tick) {
    // B answers on the connection it accepted, once it has one.
    const bool from_a = r.Chance(0.5);
    const int32_t address = from_a ? a_conn : side_b.latest;
    if (tick % 5 == 0 && address != 0) {
      const uint32_t length = 8 + static_cast<uint32_t>(r.Below(4200));
      std::vector<uint8_t> m = MessageBytes(++number, length);
      Transport& t = from_a ? *a.t : *b.t;
      ASSERT_EQ(t.Send(address, m.data(), static_cast<int32_t>(length), 8), 0) << "tick " << tick;
      sent[number] = from_a;
    }
    net.Advance(20);
    a.t->Pump(0);
    b.t->Pump(0);
  }
  // What is still in flight settles on a clean network.
  net.SetConditions(sim::Conditions{0, 0, 5, 0});
  for (int tick = 0; tick < 1000; ++tick) {
    net.Advance(20);
    a.t->Pump(0);
    b.t->Pump(0);
  }
  EXPECT_TRUE(side_a.dead.empty());
  EXPECT_TRUE(side_b.dead.empty());
  EXPECT_GT(sent.size(), 2500u);
  for (auto& s : sent)
    EXPECT_EQ((s.second ? at_b : at_a).count(s.first), 1u) << "message " << s.first << " lost";
  EXPECT_EQ(side_a.deliveries + side_b.deliveries, sent.size()) << "a message delivered twice";
  EXPECT_GT(a.t->Counters().resends + b.t->Counters().resends, sent.size() / 2);

  // Nothing is held once both sides drop their connections and the time-outs run out.
  a.t->RemoveConnection(a_conn);
  b.t->RemoveConnection(side_b.latest);
  for (int tick = 0; tick < 2000; ++tick) {
    net.Advance(20);
    a.t->Pump(0);
    b.t->Pump(0);
  }
  for (Peer* p : {&a, &b}) {
    EXPECT_EQ(p->t->ConnectionCount(), 0u);
    EXPECT_EQ(p->t->UnacknowledgedCount(), 0u);
    EXPECT_EQ(p->t->SendQueueLength(), 0u);
    EXPECT_EQ(p->t->IncompleteBytes(), 0u);
    EXPECT_EQ(p->t->ConnectionRecords(), 0u);
  }
}

}  // namespace
}  // namespace orb
