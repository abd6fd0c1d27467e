// The transport over Winsock 1.1 (run under Wine): endpoints, an exchange on 127.0.0.1,
// and the receive error that Windows reports on UDP after an ICMP port-unreachable.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "transport.h"

namespace orb {
namespace {

struct Seen : TransportObserver {
  void OnEvent(int32_t, int32_t code) override { events.push_back(code); }
  void OnData(const uint8_t* data, int32_t length, int32_t, int32_t) override {
    data_.push_back(std::vector<uint8_t>(data, data + length));
  }
  std::vector<int32_t> events;
  std::vector<std::vector<uint8_t>> data_;
};

TEST(WinsockTransport, EndpointsBindAndReportTheirPort) {
  TransportOptions o;
  o.trace = nullptr;
  Transport t(o);
  Endpoint* e = t.CreateEndpoint(0);
  ASSERT_NE(e, nullptr);
  EXPECT_NE(e->local_port, 0);
  EXPECT_EQ(t.CreateEndpoint(e->local_port), nullptr);
  EXPECT_EQ(t.LastResult(), RESULT_BIND);
}

TEST(WinsockTransport, ExchangeOnLoopbackAndReceiveErrorsDoNotStopTheDrain) {
  std::vector<std::string> trace_a;
  Seen seen_a, seen_b;
  TransportOptions oa, ob;
  oa.trace = [&](const char* line) { trace_a.push_back(line); };
  ob.trace = nullptr;
  oa.observer = &seen_a;
  ob.observer = &seen_b;
  Transport a(oa), b(ob);
  Endpoint* ea = a.CreateEndpoint(0);
  Endpoint* eb = b.CreateEndpoint(0);
  ASSERT_TRUE(ea && eb);
  const int32_t c = a.Connect(ea, "127.0.0.1", eb->local_port, 0);
  ASSERT_EQ(c, 1);
  std::vector<uint8_t> big(5000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 13);
  ASSERT_EQ(a.Send(c, big.data(), 5000, 8), 0);
  for (int i = 0; i < 500 && (seen_b.data_.empty() || seen_a.events.empty()); ++i) {
    a.Pump(0);
    b.Pump(0);
    SleepMs(1);
  }
  ASSERT_EQ(seen_a.events.size(), 1u);
  EXPECT_EQ(seen_a.events[0], EVENT_CONNECTED);
  ASSERT_EQ(seen_b.data_.size(), 1u);
  EXPECT_EQ(seen_b.data_[0], big);

  // A connection to a port where nothing listens draws an ICMP port-unreachable; Windows
  // reports it as WSAECONNRESET on A's next receive. B's data must still come through.
  SocketHandle probe = UdpOpen();
  ASSERT_TRUE(UdpBind(probe, ParseIPv4("127.0.0.1"), 0));
  uint16_t dead_port = 0;
  ASSERT_TRUE(UdpBoundPort(probe, &dead_port));
  UdpClose(probe);
  const int32_t dead = a.Connect(ea, "127.0.0.1", dead_port, 0);
  ASSERT_GT(dead, 0);
  a.Pump(0);  // its CONNECT goes out
  SleepMs(50);
  ASSERT_EQ(b.Send(1, "after", 5, 8), 0);
  b.Pump(0);
  SleepMs(50);
  for (int i = 0; i < 100 && seen_a.data_.empty(); ++i) {
    a.Pump(0);
    SleepMs(1);
  }
  ASSERT_EQ(seen_a.data_.size(), 1u);
  int resets = 0, others = 0;
  for (auto& line : trace_a) {
    if (line == "recv error: 10054\n") ++resets;
    else if (line.compare(0, 11, "recv error:") == 0) ++others;
  }
  EXPECT_EQ(others, 0);
  printf("receive errors after the ICMP port-unreachable: %d WSAECONNRESET\n", resets);
}

TEST(WinsockPlatform, ClockAndHostNames) {
  const uint64_t before = MonotonicMs();
  SleepMs(30);
  EXPECT_GE(MonotonicMs() - before, 25u);
  uint32_t ip[4];
  EXPECT_GE(LookupHostIPv4("localhost", ip, 4), 1);
  char name[128];
  EXPECT_TRUE(LocalHostName(name, sizeof name));
}

}  // namespace
}  // namespace orb
