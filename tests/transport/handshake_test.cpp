// The connection protocol between two transports, and the group server's options.
#include <gtest/gtest.h>

#include "test_support.h"

namespace orb {
namespace {

using test::AckPayload;
using test::Bytes;
using test::Datagram;
using test::HeaderOf;
using test::Peer;
using test::Word;

const char kB[] = "198.51.100.7";

class HandshakeTest : public ::testing::Test {
 protected:
  explicit HandshakeTest(TransportOptions server = TransportOptions())
      : a(net, "203.0.113.1"), b(net, kB, server, 3668) {
    net.SetTap(true);
  }
  void Both() {
    a.t->Pump(0);
    b.t->Pump(0);
  }
  // Runs both sides every 20 ms for ms virtual milliseconds.
  void Run(uint64_t ms) {
    for (uint64_t t = 0; t < ms; t += 20) {
      net.Advance(20);
      Both();
    }
  }
  std::string APort() const { return std::to_string(a.endpoint->local_port); }
  sim::Network net;
  Peer a, b;
};

TEST_F(HandshakeTest, OpeningExchange) {
  const int32_t to_b = a.t->Connect(a.endpoint, kB, 3668, 0);
  ASSERT_EQ(to_b, 1);
  for (uint32_t slot = 0; slot < 4; ++slot) a.t->SetEventCallback(to_b, slot, test::RecordEvent);
  a.t->Pump(0);  // CONNECT out
  b.t->Pump(0);  // CONFIRM_CONNECT and ACKNOWLEDGE back
  ASSERT_EQ(b.t->ConnectionCount(), 1u);
  EXPECT_EQ(b.t->RemoteAddress(1), 1);
  EXPECT_EQ(b.recorder.accepted, std::vector<int32_t>{1});
  SocketAddress where;
  ASSERT_TRUE(b.t->RemoteSocketAddress(1, &where));
  EXPECT_EQ(where.ip, sim::Ip("203.0.113.1"));
  EXPECT_EQ(where.port, a.endpoint->local_port);
  const std::vector<std::string> b_trace = {
      "We have an unprocessed message: id:1, len:72, type:32400, seq:1 of 1\n",
      "CONNECT: The remote user '" + std::string(kB) + ":" + APort() + "' is using version (0,2)\n",
      "Connect() 203.0.113.1:" + APort() + " remote:1\n",
      "We received a connect message\n",
  };
  EXPECT_EQ(b.trace, b_trace);
  EXPECT_FALSE(b.t->IsProven(1));

  a.t->Pump(0);  // confirmed: event 0, acknowledgement of the CONFIRM_CONNECT
  EXPECT_EQ(a.t->RemoteAddress(to_b), 1);
  ASSERT_EQ(test::g_events.size(), 1u);
  EXPECT_EQ(test::g_events[0].address, to_b);
  EXPECT_EQ(test::g_events[0].code, EVENT_CONNECTED);
  EXPECT_TRUE(a.Traced("CONFIRM CONNECT: The remote user(address:1) confirms connection on our address 1\n"));
  EXPECT_EQ(a.t->UnacknowledgedCount(), 0u);  // B acknowledged the CONNECT
  b.t->Pump(0);
  EXPECT_EQ(b.t->UnacknowledgedCount(), 0u);
  EXPECT_TRUE(b.t->IsProven(1));
  EXPECT_TRUE(a.t->IsProven(to_b));

  // From then on heartbeats keep both sides open, acknowledged each time.
  Run(100000);
  EXPECT_TRUE(a.t->AddressExists(to_b));
  EXPECT_TRUE(b.t->AddressExists(1));
  EXPECT_EQ(a.Count("HEARTBEAT: sending heartbeat on address 1\n"), 3u);
  EXPECT_EQ(b.Count("HEARTBEAT RECEIVED: The remote user sent us a heartbeat message (remote address: 1)\n"), 3u);
  EXPECT_EQ(test::g_events.size(), 1u);
}

TEST_F(HandshakeTest, DataBothWays) {
  const int32_t to_b = a.t->Connect(a.endpoint, kB, 3668, 0);
  Run(100);
  std::vector<uint8_t> big = Bytes(3000, 5);
  ASSERT_EQ(a.t->Send(to_b, big.data(), 3000, 8), 0);
  ASSERT_EQ(b.t->Send(1, "hi", 2, 0), 0);
  Run(100);
  ASSERT_EQ(b.recorder.data_.size(), 1u);
  EXPECT_EQ(b.recorder.data_[0].bytes, big);
  EXPECT_EQ(b.recorder.data_[0].type, 8);
  ASSERT_EQ(a.recorder.data_.size(), 1u);
  EXPECT_EQ(a.recorder.data_[0].bytes, std::vector<uint8_t>({'h', 'i'}));
  EXPECT_EQ(a.t->UnacknowledgedCount(), 0u);
  EXPECT_EQ(b.t->UnacknowledgedCount(), 0u);
}

TEST_F(HandshakeTest, ClosingExchange) {
  const int32_t q = a.t->Connect(a.endpoint, kB, 3668, 0);
  for (uint32_t slot = 0; slot < 4; ++slot) a.t->SetEventCallback(q, slot, test::RecordEvent);
  Run(100);
  a.trace.clear();
  // B (the far side P) asks A (Q) to close.
  ASSERT_EQ(b.t->Send(1, Word(q).data(), 4, PEERCLOSE), 0);
  b.t->Pump(0);
  a.t->Pump(0);
  EXPECT_TRUE(a.Traced("PEERCLOSE: The remote user is asking use to close our connection at address 1\n"));
  ASSERT_EQ(test::g_events.size(), 2u);
  EXPECT_EQ(test::g_events[1].code, EVENT_PEERCLOSE);
  EXPECT_TRUE(a.t->AddressExists(q));  // stays until its CONFIRM_DISCONNECT times out
  b.t->Pump(0);
  EXPECT_TRUE(b.Traced("CONFIRM DISCONNECT: The remote user confirms they have closed their connection\n"));
  ASSERT_EQ(b.recorder.events.size(), 1u);
  EXPECT_EQ(b.recorder.events[0].code, EVENT_DISCONNECTED);
  EXPECT_FALSE(b.t->AddressExists(1));
  // B does not acknowledge the CONFIRM_DISCONNECT: A times out 30 s later.
  Run(29000);
  EXPECT_TRUE(a.t->AddressExists(q));
  Run(2000);
  EXPECT_FALSE(a.t->AddressExists(q));
  ASSERT_EQ(test::g_events.size(), 3u);
  EXPECT_EQ(test::g_events[2].code, EVENT_TIMEOUT);
}

TEST_F(HandshakeTest, LostAcknowledgementOfConnectOpensASecondConnection) {
  const int32_t to_b = a.t->Connect(a.endpoint, kB, 3668, 0);
  a.t->SetEventCallback(to_b, 0, test::RecordEvent);
  a.t->Pump(0);
  const std::vector<uint8_t> connect = net.Tapped().at(0).bytes;
  b.t->Pump(0);
  a.t->Pump(0);
  net.Inject(a.Where(), b.Where(), connect.data(), connect.size());  // the resend
  b.t->Pump(0);
  EXPECT_EQ(b.t->ConnectionCount(), 2u);
  a.t->Pump(0);
  EXPECT_EQ(a.t->RemoteAddress(to_b), 2);  // the newer one
  EXPECT_EQ(test::g_events.size(), 2u);    // event 0 twice
}

// The round-trip time each side measures: sending a fragment to its acknowledgement, on
// a network with a fixed one-way delay and both sides pumping every 20 ms. Only fragments
// sent once count: a lost one's late acknowledgement must not make the time look like
// the 10 s resend interval.
TEST_F(HandshakeTest, RoundTripTimeFollowsTheNetworkAndIgnoresResentFragments) {
  for (uint32_t delay : {0u, 30u, 150u}) {
    sim::Network net2;
    Peer a2(net2, "203.0.113.1"), b2(net2, kB, TransportOptions(), 3668);
    net2.SetConditions(sim::Conditions{0, 0, delay, 0});
    const int32_t to_b = a2.t->Connect(a2.endpoint, kB, 3668, 0);
    EXPECT_EQ(a2.t->RoundTripMs(to_b), -1) << "nothing measured yet";
    EXPECT_EQ(a2.t->RoundTripMs(99), -1) << "no such address";
    for (int i = 0; i < 100; ++i) {
      net2.Advance(20);
      a2.t->Pump(0);
      b2.t->Pump(0);
      if (i % 10 == 0) a2.t->Send(to_b, "ping", 4, 8);
    }
    // Two network delays, plus up to one pump interval at each end.
    const int32_t rtt = a2.t->RoundTripMs(to_b);
    EXPECT_GE(rtt, static_cast<int32_t>(2 * delay)) << "delay " << delay;
    EXPECT_LE(rtt, static_cast<int32_t>(2 * delay + 40)) << "delay " << delay;
    EXPECT_GE(b2.t->RoundTripMs(1), static_cast<int32_t>(2 * delay)) << "the accepting side too";

    // Everything from a is lost for a while: the message it sends is resent after 10 s
    // and acknowledged then, which says nothing about the round trip.
    net2.SetConditions(sim::Conditions{1.0, 0, delay, 0});
    a2.t->Send(to_b, "lost", 4, 8);
    for (int i = 0; i < 10; ++i) {
      net2.Advance(20);
      a2.t->Pump(0);
      b2.t->Pump(0);
    }
    net2.SetConditions(sim::Conditions{0, 0, delay, 0});
    for (int i = 0; i < 600 && a2.t->UnacknowledgedCount() != 0; ++i) {
      net2.Advance(20);
      a2.t->Pump(0);
      b2.t->Pump(0);
    }
    ASSERT_EQ(a2.t->UnacknowledgedCount(), 0u);
    EXPECT_EQ(a2.t->RoundTripMs(to_b), rtt) << "delay " << delay;
  }
}

class ServerOptionsTest : public HandshakeTest {
 protected:
  static TransportOptions Server() {
    TransportOptions o;
    o.reuse_repeated_connect = true;
    o.anti_amplification = true;
    o.check_control_source = true;
    o.max_connections = 10;
    return o;
  }
  ServerOptionsTest() : HandshakeTest(Server()) {}
  std::vector<uint8_t> ConnectFrom(int32_t address, uint16_t port) {
    std::vector<uint8_t> payload(72);
    WriteConnectPayload(payload.data(), "somewhere", port, address);
    return Datagram(100 + address, CONNECT, 1, 1, payload);
  }
};

TEST_F(ServerOptionsTest, RepeatedConnectIsAnsweredOnTheExistingConnection) {
  const int32_t to_b = a.t->Connect(a.endpoint, kB, 3668, 0);
  a.t->Pump(0);
  const std::vector<uint8_t> connect = net.Tapped().at(0).bytes;
  b.t->Pump(0);
  net.Inject(a.Where(), b.Where(), connect.data(), connect.size());
  net.ClearTap();
  b.t->Pump(0);
  EXPECT_EQ(b.t->ConnectionCount(), 1u);
  EXPECT_EQ(b.t->Counters().connects_repeated, 1u);
  EXPECT_EQ(b.recorder.accepted.size(), 1u);
  ASSERT_EQ(net.Tapped().size(), 2u);
  EXPECT_EQ(HeaderOf(net.Tapped()[0]).type, CONFIRM_CONNECT);
  EXPECT_EQ(ReadU32(net.Tapped()[0].bytes.data() + 16), 1u);  // the same accepting address
  EXPECT_EQ(HeaderOf(net.Tapped()[1]).type, ACKNOWLEDGE);
  Run(100);
  EXPECT_EQ(a.t->RemoteAddress(to_b), 1);
}

// A repeated CONNECT keeps what the connection delivered; a CONNECT with another id from
// the same port and address is a restarted peer, whose message ids start afresh.
TEST_F(ServerOptionsTest, PeerRestartedOnTheSamePortIsNotTakenForRepeats) {
  const SocketAddress peer{sim::Ip("203.0.113.50"), 2000};
  std::vector<uint8_t> payload(72);
  WriteConnectPayload(payload.data(), "somewhere", 2000, 1);
  const std::vector<uint8_t> message = Datagram(3, 8, 1, 1, Bytes(20));
  const struct {
    uint32_t connect_id;
    size_t delivered;  // so far
  } steps[] = {{1, 1}, {1, 1}, {7, 2}};
  for (auto& step : steps) {
    std::vector<uint8_t> connect = Datagram(step.connect_id, CONNECT, 1, 1, payload);
    net.Inject(peer, b.Where(), connect.data(), connect.size());
    net.Inject(peer, b.Where(), message.data(), message.size());
    b.t->Pump(0);
    EXPECT_EQ(b.t->ConnectionCount(), 1u);
    EXPECT_EQ(b.recorder.data_.size(), step.delivered) << "CONNECT id " << step.connect_id;
  }
}

TEST_F(ServerOptionsTest, ConnectThroughARouterThatChangedItsPortIsAnsweredWhereItCameFrom) {
  // The payload names the port the far side bound; its router sent the datagram from another.
  const SocketAddress router{sim::Ip("203.0.113.21"), 61234};
  std::vector<uint8_t> d = ConnectFrom(1, 2000);
  net.Inject(router, b.Where(), d.data(), d.size());
  net.ClearTap();
  b.t->Pump(0);
  ASSERT_EQ(b.t->ConnectionCount(), 1u);
  SocketAddress where;
  ASSERT_TRUE(b.t->RemoteSocketAddress(b.recorder.accepted.at(0), &where));
  EXPECT_EQ(where, router);
  ASSERT_FALSE(net.Tapped().empty());
  EXPECT_EQ(HeaderOf(net.Tapped()[0]).type, CONFIRM_CONNECT);
  EXPECT_EQ(net.Tapped()[0].to, router);
  // Repeated, it is still recognised as the same connection.
  net.Inject(router, b.Where(), d.data(), d.size());
  b.t->Pump(0);
  EXPECT_EQ(b.t->ConnectionCount(), 1u);
  EXPECT_EQ(b.t->Counters().connects_repeated, 1u);
}

TEST_F(ServerOptionsTest, FloodOfForgedConnectsStopsAtTheCap) {
  for (int i = 0; i < 50; ++i) {
    SocketAddress forged{sim::Ip("198.51.100.0") + (static_cast<uint32_t>(i + 1) << 24), 2000};
    std::vector<uint8_t> d = ConnectFrom(1, 2000);
    net.Inject(forged, b.Where(), d.data(), d.size());
  }
  net.ClearTap();
  b.t->Pump(0);
  EXPECT_EQ(b.t->ConnectionCount(), 10u);
  EXPECT_EQ(b.t->Counters().connects_refused, 40u);
  EXPECT_EQ(net.Tapped().size(), 20u);  // a CONFIRM_CONNECT and an ACKNOWLEDGE each
  // The forged connections time out and free their places.
  Run(31000);
  EXPECT_EQ(b.t->ConnectionCount(), 0u);
}

TEST_F(ServerOptionsTest, UnprovenConnectionGetsAtMostThreeTimesWhatItSent) {
  SocketAddress victim{sim::Ip("203.0.113.50"), 2000};
  std::vector<uint8_t> d = ConnectFrom(1, 2000);
  net.Inject(victim, b.Where(), d.data(), d.size());
  b.t->Pump(0);
  ASSERT_EQ(b.t->ConnectionCount(), 1u);
  const std::vector<uint8_t> big = Bytes(20000);
  ASSERT_EQ(b.t->Send(1, big.data(), 20000, 8), 0);
  for (int i = 0; i < 100; ++i) {
    net.Advance(300);
    b.t->Pump(0);
    ASSERT_LE(b.t->BytesSent(1), 3 * b.t->BytesReceived(1));
  }
  EXPECT_EQ(b.t->BytesReceived(1), 84u);
  EXPECT_GT(b.t->Counters().sends_suppressed, 0u);
}

TEST_F(ServerOptionsTest, ProvenConnectionIsNoLongerLimited) {
  SocketAddress client{sim::Ip("203.0.113.50"), 2000};
  std::vector<uint8_t> d = ConnectFrom(1, 2000);
  net.Inject(client, b.Where(), d.data(), d.size());
  b.t->Pump(0);  // CONFIRM_CONNECT is message 1 of B
  std::vector<uint8_t> ack = Datagram(1, ACKNOWLEDGE, 1, 1, AckPayload(1, CONFIRM_CONNECT, 1));
  net.Inject(client, b.Where(), ack.data(), ack.size());
  b.t->Pump(0);
  EXPECT_TRUE(b.t->IsProven(1));
  const std::vector<uint8_t> big = Bytes(20000);
  ASSERT_EQ(b.t->Send(1, big.data(), 20000, 8), 0);
  b.t->Pump(0);
  EXPECT_EQ(b.t->Counters().sends_suppressed, 0u);
  EXPECT_GT(b.t->BytesSent(1), 20000u);
}

TEST_F(ServerOptionsTest, ControlMessagesMustComeFromTheConnection) {
  SocketAddress client{sim::Ip("203.0.113.50"), 2000};
  std::vector<uint8_t> d = ConnectFrom(1, 2000);
  net.Inject(client, b.Where(), d.data(), d.size());
  b.t->Pump(0);
  std::vector<uint8_t> bye = Datagram(2, CONFIRM_DISCONNECT, 1, 1, Word(1));
  net.Inject(SocketAddress{sim::Ip("203.0.113.66"), 2000}, b.Where(), bye.data(), bye.size());
  b.t->Pump(0);
  EXPECT_TRUE(b.t->AddressExists(1));
  EXPECT_EQ(b.t->Counters().dropped_control_source, 1u);
  net.Inject(client, b.Where(), bye.data(), bye.size());
  b.t->Pump(0);
  EXPECT_FALSE(b.t->AddressExists(1));
}

TEST_F(HandshakeTest, ControlMessagesForUnknownAddressesAreIgnored) {
  SocketAddress stranger{sim::Ip("203.0.113.9"), 1};
  std::vector<uint8_t> confirm(8);
  WriteU32(confirm.data(), 5);
  WriteU32(confirm.data() + 4, 6);
  for (const std::vector<uint8_t>& d :
       {Datagram(1, CONFIRM_CONNECT, 1, 1, confirm), Datagram(2, PEERCLOSE, 1, 1, Word(5)),
        Datagram(3, CONFIRM_DISCONNECT, 1, 1, Word(5)), Datagram(4, HEARTBEAT, 1, 1, Word(5))}) {
    net.Inject(stranger, b.Where(), d.data(), d.size());
  }
  net.ClearTap();
  b.t->Pump(0);
  EXPECT_TRUE(net.Tapped().empty());  // nothing is acknowledged
  EXPECT_EQ(b.t->LastResult(), RESULT_NO_ADDRESS);  // from the heartbeat's attempted ACKNOWLEDGE
  EXPECT_EQ(b.t->Counters().dropped_control_unknown, 4u);
  EXPECT_TRUE(b.recorder.events.empty());
}

TEST_F(HandshakeTest, ConnectWithPortZeroIsRefusedAndLeftUnacknowledged) {
  std::vector<uint8_t> payload(72);
  WriteConnectPayload(payload.data(), "x", 0, 1);
  std::vector<uint8_t> d = Datagram(1, CONNECT, 1, 1, payload);
  net.Inject(SocketAddress{sim::Ip("203.0.113.9"), 1}, b.Where(), d.data(), d.size());
  net.ClearTap();
  b.t->Pump(0);
  EXPECT_TRUE(net.Tapped().empty());
  EXPECT_EQ(b.t->ConnectionCount(), 0u);
  EXPECT_EQ(b.t->LastResult(), RESULT_INVALID_ARGUMENTS);
}

TEST_F(HandshakeTest, ControlCharactersInTheHostTextDoNotReachTheLog) {
  std::vector<uint8_t> payload(72);
  WriteConnectPayload(payload.data(), "evil\nline\x1b[2J", 2000, 1);
  std::vector<uint8_t> d = Datagram(1, CONNECT, 1, 1, payload);
  net.Inject(SocketAddress{sim::Ip("203.0.113.9"), 2000}, b.Where(), d.data(), d.size());
  b.t->Pump(0);
  EXPECT_TRUE(b.Traced("CONNECT: The remote user 'evil?line?[2J:2000' is using version (0,2)\n"));
}

}  // namespace
}  // namespace orb
