// The pump: transmit, resend and time out (more in rtt_test.cpp), heartbeats, loop control.
#include <gtest/gtest.h>

#include "test_support.h"

namespace orb {
namespace {

using test::AckPayload;
using test::Bytes;
using test::Datagram;
using test::HeaderOf;
using test::Peer;

class PumpTest : public ::testing::Test {
 protected:
  PumpTest() : a(net, "203.0.113.1") {
    net.SetTap(true);
    remote = SocketAddress{sim::Ip("198.51.100.7"), 5000};
    conn = a.t->Connect(a.endpoint, "198.51.100.7", 5000, 40);
    for (uint32_t slot = 0; slot < 4; ++slot) a.t->SetEventCallback(conn, slot, test::RecordEvent);
    a.trace.clear();
  }
  // Pumps once at virtual time t and returns the datagrams it sent.
  std::vector<sim::WireDatagram> At(uint64_t t) {
    net.Advance(t - net.Now());
    net.ClearTap();
    a.t->Pump(0);
    return net.Tapped();
  }
  sim::Network net;
  Peer a;
  SocketAddress remote;
  int32_t conn = 0;
};

TEST_F(PumpTest, AcknowledgedBeforeItsResendIsTransmittedOnce) {
  ASSERT_EQ(a.t->Send(conn, "abc", 3, 8), 0);
  EXPECT_EQ(At(0).size(), 1u);
  std::vector<uint8_t> ack = Datagram(1, ACKNOWLEDGE, 1, 1, AckPayload(1, 8, 1));
  net.Inject(remote, a.Where(), ack.data(), ack.size());
  EXPECT_EQ(At(9999).size(), 0u);
  EXPECT_EQ(At(10001).size(), 0u);
  EXPECT_EQ(At(25000).size(), 0u);
  EXPECT_EQ(a.t->UnacknowledgedCount(), 0u);
}

TEST_F(PumpTest, OneTimeOutPerPassAndRemovedAddressesAreNotResent) {
  int32_t other = a.t->Connect(a.endpoint, "198.51.100.8", 5000, 41);
  a.t->SetEventCallback(other, 3, test::RecordEvent);
  a.t->Send(conn, "a", 1, 8);
  a.t->Send(other, "b", 1, 8);
  At(0);
  net.Advance(5000);
  a.t->Send(conn, "c", 1, 8);  // behind them, and to a connection about to be removed
  At(5000);
  At(10001);
  At(15001);
  At(20002);
  At(25002);
  At(30001);
  ASSERT_EQ(test::g_events.size(), 1u);
  EXPECT_EQ(test::g_events[0].address, conn);
  EXPECT_TRUE(a.t->AddressExists(other));  // examined only in the next pass
  At(30002);
  ASSERT_EQ(test::g_events.size(), 2u);
  EXPECT_EQ(test::g_events[1].address, other);
  // Message 3 still waits for its time-out, but is no longer transmitted.
  a.trace.clear();
  EXPECT_EQ(At(35001).size(), 0u);
  ASSERT_EQ(test::g_events.size(), 3u);
  EXPECT_EQ(test::g_events[2].address, conn);  // event 3 again for a removed address
  // Left: the heartbeat that other was due at 30001, queued before it was removed.
  EXPECT_EQ(a.t->UnacknowledgedCount(), 1u);
}

TEST_F(PumpTest, ResendsOfOnePassGoInListOrder) {
  a.t->Send(conn, "a", 1, 8);
  At(0);
  net.Advance(4000);
  a.t->Send(conn, "b", 1, 8);
  EXPECT_EQ(At(4000).size(), 2u);  // b, and a again (due since 1000): next due at 6000
  // Both due in one pass: a (front) before b, though b has waited longer.
  std::vector<sim::WireDatagram> both = At(6001);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(HeaderOf(both[0]).id, 1u);
  EXPECT_EQ(HeaderOf(both[1]).id, 2u);
}

TEST_F(PumpTest, QueuedFragmentsOfARemovedConnectionStillGoOut) {
  a.t->Send(conn, "a", 1, 8);
  a.t->RemoveConnection(conn);
  EXPECT_EQ(At(0).size(), 1u);
  EXPECT_EQ(a.t->Send(conn, "a", 1, 8), -1);
}

TEST_F(PumpTest, HeartbeatsOnOpenConnectionsInAscendingOrder) {
  int32_t opening = a.t->Connect(a.endpoint, "198.51.100.9", 5000, 0);  // remote 0
  At(0);  // its CONNECT
  net.Advance(10);
  int32_t later = a.t->Connect(a.endpoint, "198.51.100.8", 5000, 42);
  // Keep the CONNECT from timing out the opening connection: acknowledge it.
  std::vector<uint8_t> ack = Datagram(9, ACKNOWLEDGE, 1, 1, AckPayload(1, CONNECT, 1));
  net.Inject(SocketAddress{sim::Ip("198.51.100.9"), 5000}, a.Where(), ack.data(), ack.size());
  At(10);
  a.trace.clear();
  At(30000);
  EXPECT_TRUE(a.trace.empty());
  At(30001);
  ASSERT_EQ(a.trace.size(), 1u);
  EXPECT_EQ(a.trace[0], "HEARTBEAT: sending heartbeat on address 1\n");
  At(30011);
  ASSERT_EQ(a.trace.size(), 2u);
  EXPECT_EQ(a.trace[1], "HEARTBEAT: sending heartbeat on address 3\n");
  // Each leaves in the next pass, carrying the far side's address.
  std::vector<sim::WireDatagram> sent = At(30012);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(HeaderOf(sent[0]).type, HEARTBEAT);
  EXPECT_EQ(ReadU32(sent[0].bytes.data() + 12), 42u);
  EXPECT_TRUE(a.t->AddressExists(opening));
  (void)later;
}

TEST_F(PumpTest, HeartbeatsDueTogetherGoInAscendingAddressOrder) {
  net.Advance(10);
  int32_t later = a.t->Connect(a.endpoint, "198.51.100.8", 5000, 42);
  At(30001);  // address 1 only; address 3 keeps its older stamp of 10
  At(30002);
  const uint32_t heartbeat = a.t->MessageIdCounter();
  std::vector<uint8_t> ack = Datagram(9, ACKNOWLEDGE, 1, 1, AckPayload(heartbeat, HEARTBEAT, 1));
  net.Inject(remote, a.Where(), ack.data(), ack.size());
  At(30003);
  a.trace.clear();
  At(60005);  // both due: address 1 stamped 30001, address 2 stamped 10
  ASSERT_EQ(a.trace.size(), 2u);
  EXPECT_EQ(a.trace[0], "HEARTBEAT: sending heartbeat on address 1\n");
  EXPECT_EQ(a.trace[1], "HEARTBEAT: sending heartbeat on address " + std::to_string(later) + "\n");
}

TEST_F(PumpTest, HeartbeatStampStartsAtCreationNotConfirmation) {
  int32_t active = a.t->Connect(a.endpoint, "198.51.100.9", 5000, 0);
  SocketAddress far{sim::Ip("198.51.100.9"), 5000};
  At(0);
  a.t->RemoveConnection(conn);
  net.Advance(29000);
  std::vector<uint8_t> confirm(8);
  WriteU32(confirm.data(), static_cast<uint32_t>(active));
  WriteU32(confirm.data() + 4, 77);
  std::vector<uint8_t> d = Datagram(1, CONFIRM_CONNECT, 1, 1, confirm);
  net.Inject(far, a.Where(), d.data(), d.size());
  std::vector<uint8_t> ack = Datagram(2, ACKNOWLEDGE, 1, 1, AckPayload(1, CONNECT, 1));
  net.Inject(far, a.Where(), ack.data(), ack.size());
  At(29000);
  EXPECT_EQ(a.t->RemoteAddress(active), 77);
  a.trace.clear();
  At(30001);
  EXPECT_EQ(a.Count("HEARTBEAT: sending heartbeat on address 2\n"), 1u);
}

TEST_F(PumpTest, PumpZeroIsOnePassAndTimedPumpSleepsAfterEachPass) {
  net.Advance(1000);
  a.t->Pump(0);
  EXPECT_EQ(net.Now(), 1000u);
  a.t->Pump(50);
  EXPECT_EQ(net.Now(), 1051u);  // 51 passes, each followed by a 1 ms sleep
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

TEST_F(PumpTest, RemovedConnectionRecordLivesUntilItsLastFragmentIsGone) {
  a.t->Send(conn, "a", 1, 8);
  At(0);
  EXPECT_EQ(a.t->ConnectionRecords(), 1u);
  a.t->RemoveConnection(conn);
  EXPECT_EQ(a.t->ConnectionRecords(), 1u);  // the unacknowledged fragment still uses it
  At(30001);
  EXPECT_EQ(a.t->ConnectionRecords(), 0u);
}

Transport* g_reentrant = nullptr;
void PumpFromCallback(const uint8_t*, int32_t, int32_t, int32_t, int32_t) {
  EXPECT_EQ(g_reentrant->Pump(0), 0);
  EXPECT_EQ(g_reentrant->Pump(100), 0);
}

TEST_F(PumpTest, PumpInsideACallbackReturnsAtOnce) {
  g_reentrant = a.t.get();
  a.t->SetDataCallback(conn, PumpFromCallback);
  std::vector<uint8_t> d = Datagram(1, 8, 1, 1, Bytes(3));
  net.Inject(remote, a.Where(), d.data(), d.size());
  At(0);
  EXPECT_EQ(net.Now(), 0u);
  EXPECT_EQ(a.t->SendQueueLength(), 0u);  // the outer pass went on and sent the ACKNOWLEDGE
}

TEST_F(PumpTest, ReadsPerPassCanBeBounded) {
  sim::Network net2;
  TransportOptions o;
  o.max_datagrams_per_pass = 3;
  Peer b(net2, "203.0.113.2", o);
  b.t->Connect(b.endpoint, "198.51.100.7", 5000, 1);
  for (uint32_t id = 1; id <= 5; ++id) {
    std::vector<uint8_t> d = Datagram(id, 8, 1, 1, Bytes(3));
    net2.Inject(remote, b.Where(), d.data(), d.size());
  }
  b.t->Pump(0);
  EXPECT_EQ(b.recorder.data_.size(), 3u);
  b.t->Pump(0);
  EXPECT_EQ(b.recorder.data_.size(), 5u);
}

TEST(DefaultTrace, LinesGoToStandardOutput) {
  sim::Network net;
  sim::Host* h = net.AddHost("203.0.113.1");
  TransportOptions o;
  o.io = h;
  o.clock = net.Clock();
  Transport t(o);
  Endpoint* e = t.CreateEndpoint(0);
  ::testing::internal::CaptureStdout();
  t.Connect(e, "198.51.100.7", 3668, 0);
  fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Connect() 198.51.100.7:3668 remote:0\n");
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

// Times are 64-bit milliseconds of a monotonic clock: a clock past 2^32 ms (49 days of
// uptime, where a 32-bit tick count wraps) changes nothing.
TEST(PumpClock, ResendAndTimeOutAcrossTheThirtyTwoBitBoundary) {
  sim::Network net;
  net.Advance(0xFFFFFFFFull - 15000);
  net.SetTap(true);
  test::Peer a(net, "203.0.113.1");
  const int32_t c = a.t->Connect(a.endpoint, "198.51.100.7", 5000, 1);
  a.t->Send(c, "x", 1, 8);
  const uint64_t start = net.Now();
  int transmissions = 0;
  for (uint64_t t = 0; t <= 31000 && a.t->AddressExists(c); t += 100) {
    net.Advance(start + t - net.Now());
    net.ClearTap();
    a.t->Pump(0);
    for (auto& d : net.Tapped()) transmissions += test::HeaderOf(d).type == 8;
  }
  EXPECT_EQ(transmissions, 6);  // at 0, then after waits of 1, 2, 4, 8 and 10 s
  EXPECT_FALSE(a.t->AddressExists(c));
  EXPECT_GT(net.Now() - start, 30000u);
  EXPECT_LE(net.Now() - start, 30100u);
}

}  // namespace
}  // namespace orb
