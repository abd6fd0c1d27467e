// The platform sockets under the transport, on 127.0.0.1 (ports chosen by the system).
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace orb {
namespace {

TEST(PlatformSockets, EndpointOnPortZeroGetsARealPortAndABusyPortFailsToBind) {
  TransportOptions o;
  o.trace = nullptr;
  Transport t(o);
  Endpoint* e = t.CreateEndpoint(0);
  ASSERT_NE(e, nullptr);
  EXPECT_NE(e->local_port, 0);
  EXPECT_EQ(t.CreateEndpoint(e->local_port), nullptr);
  EXPECT_EQ(t.LastResult(), RESULT_BIND);
}

TEST(PlatformSockets, ResolveTakesDottedTextAndLocalhost) {
  uint32_t ip = 0;
  ASSERT_TRUE(PlatformDatagramIo()->Resolve("127.0.0.1", &ip));
  EXPECT_EQ(ip, ParseIPv4("127.0.0.1"));
  ASSERT_TRUE(PlatformDatagramIo()->Resolve("localhost", &ip));
  EXPECT_EQ(ip, ParseIPv4("127.0.0.1"));
  char text[16];
  EXPECT_STREQ(FormatIPv4(ParseIPv4("203.0.113.9"), text, sizeof text), "203.0.113.9");
  EXPECT_EQ(ParseIPv4("not an address"), kAddressNone);
}

TEST(PlatformSockets, TwoTransportsOnLoopbackConnectAndExchange) {
  std::vector<std::string> trace_b;
  test::Recorder got_a, got_b;
  TransportOptions oa, ob;
  oa.trace = nullptr;
  ob.trace = [&](const char* line) { trace_b.push_back(line); };
  oa.observer = &got_a;
  ob.observer = &got_b;
  Transport a(oa), b(ob);
  Endpoint* ea = a.CreateEndpoint(0);
  Endpoint* eb = b.CreateEndpoint(0);
  ASSERT_TRUE(ea && eb);
  const int32_t c = a.Connect(ea, "127.0.0.1", eb->local_port, 0);
  ASSERT_EQ(c, 1);
  std::vector<uint8_t> big = test::Bytes(5000, 1);
  ASSERT_EQ(a.Send(c, big.data(), 5000, 8), 0);
  for (int i = 0; i < 200 && (got_b.data_.empty() || got_a.events.empty()); ++i) {
    a.Pump(0);
    b.Pump(0);
    SleepMs(1);
  }
  ASSERT_EQ(got_a.events.size(), 1u);
  EXPECT_EQ(got_a.events[0].code, EVENT_CONNECTED);
  ASSERT_EQ(got_b.data_.size(), 1u);
  EXPECT_EQ(got_b.data_[0].bytes, big);

  // A datagram too big for the 2048-byte receive buffer is a read error; the drain goes on.
  SocketHandle raw = UdpOpen();
  ASSERT_NE(raw, kInvalidSocket);
  std::vector<uint8_t> huge(3000, 0);
  SocketAddress to{ParseIPv4("127.0.0.1"), eb->local_port};
  ASSERT_EQ(UdpSendTo(raw, huge.data(), 3000, to), 3000);
  ASSERT_EQ(a.Send(c, "after", 5, 8), 0);
  trace_b.clear();
  for (int i = 0; i < 200 && got_b.data_.size() < 2; ++i) {
    a.Pump(0);
    b.Pump(0);
    SleepMs(1);
  }
  UdpClose(raw);
  ASSERT_EQ(got_b.data_.size(), 2u);
  const std::string expected = "recv error: " + std::to_string(EMSGSIZE) + "\n";
  EXPECT_EQ(std::count(trace_b.begin(), trace_b.end(), expected), 1);
}

TEST(PlatformSockets, StraysAreOfferedAndRawDatagramsLeaveFromTheConnectionsEndpoint) {
  std::vector<std::pair<std::string, uint16_t>> strays;
  TransportOptions oa, ob;
  oa.trace = ob.trace = nullptr;
  oa.stray = [&](const uint8_t* d, int n, const SocketAddress& from) {
    strays.push_back({std::string(reinterpret_cast<const char*>(d), n), from.port});
    return std::string(reinterpret_cast<const char*>(d), n) != "not mine";
  };
  Transport a(oa), b(ob);
  Endpoint* ea = a.CreateEndpoint(0);
  Endpoint* eb = b.CreateEndpoint(0);
  ASSERT_TRUE(ea && eb);
  const int32_t c = a.Connect(ea, "127.0.0.1", eb->local_port, 0);
  for (int i = 0; i < 200 && !b.AddressExists(1); ++i) {
    a.Pump(0);
    b.Pump(0);
    SleepMs(1);
  }
  SocketHandle raw = UdpOpen();
  ASSERT_NE(raw, kInvalidSocket);
  ASSERT_TRUE(UdpBind(raw, ParseIPv4("127.0.0.1"), 0));
  uint16_t raw_port = 0;
  ASSERT_TRUE(UdpBoundPort(raw, &raw_port));
  const SocketAddress at_a{ParseIPv4("127.0.0.1"), ea->local_port};
  ASSERT_EQ(UdpSendTo(raw, "a stray", 7, at_a), 7);
  ASSERT_EQ(UdpSendTo(raw, "not mine", 8, at_a), 8);
  ASSERT_EQ(b.Send(1, "from the connection", 19, 8), 0);  // never offered
  for (int i = 0; i < 200 && strays.size() < 2; ++i) {
    a.Pump(0);
    b.Pump(0);
    SleepMs(1);
  }
  a.Pump(0);
  ASSERT_EQ(strays.size(), 2u);
  EXPECT_EQ(strays[0].first, "a stray");
  EXPECT_EQ(strays[0].second, raw_port);
  EXPECT_EQ(a.Counters().strays_taken, 1u);
  EXPECT_EQ(a.Counters().dropped_short, 1u) << "a stray not taken is treated as before";

  const SocketAddress to_raw{ParseIPv4("127.0.0.1"), raw_port};
  ASSERT_EQ(a.SendDatagram(c, "plain", 5, to_raw), 0);
  ASSERT_EQ(a.SendDatagram(c, "short-lived", 11, to_raw, 2), 0);  // two hops reach loopback
  EXPECT_EQ(a.SendDatagram(99, "x", 1, to_raw), -1);
  EXPECT_EQ(a.LastResult(), RESULT_NO_ADDRESS);
  char buf[64];
  for (const char* want : {"plain", "short-lived"}) {
    ASSERT_EQ(UdpWaitReadable(raw, 2000), 1);
    SocketAddress from;
    const int n = UdpReceiveFrom(raw, buf, sizeof buf, &from);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buf, n), want);
    EXPECT_EQ(from.port, ea->local_port) << "from the connection's own endpoint";
  }
  UdpClose(raw);
}

TEST(PlatformClock, MonotonicAndSleeps) {
  const uint64_t before = MonotonicMs();
  SleepMs(20);
  const uint64_t after = MonotonicMs();
  EXPECT_GE(after - before, 19u);
}

}  // namespace
}  // namespace orb
