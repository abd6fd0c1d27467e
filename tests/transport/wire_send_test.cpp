// The datagram layout, result texts, Connect's checks and Send's fragmenting and ids.
#include <gtest/gtest.h>

#include <string.h>

#include "test_support.h"

namespace orb {
namespace {

using test::Bytes;
using test::HeaderOf;
using test::Peer;

const char kServer[] = "198.51.100.7";

TEST(Wire, HeaderIsLittleEndianInFieldOrder) {
  uint8_t out[12];
  WritePeerHeader(out, PeerHeader{0x04030201u, 0x7E90, 0x0201, 0x0403, 0x0605});
  const uint8_t expected[12] = {1, 2, 3, 4, 0x90, 0x7E, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(0, memcmp(out, expected, 12));
  PeerHeader h = ReadPeerHeader(expected);
  EXPECT_EQ(h.id, 0x04030201u);
  EXPECT_EQ(h.type, 0x7E90);
  EXPECT_EQ(h.seq, 0x0201);
  EXPECT_EQ(h.of, 0x0403);
  EXPECT_EQ(h.length, 0x0605);
}

TEST(Wire, ConnectPayloadLayout) {
  uint8_t p[72];
  memset(p, 0xEE, sizeof p);
  WriteConnectPayload(p, "host.example", 3668, 7);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], 2);
  EXPECT_STREQ(reinterpret_cast<char*>(p + 2), "host.example");
  EXPECT_EQ(p[66], 0x54);  // 3668 little-endian: 54 0E
  EXPECT_EQ(p[67], 0x0E);
  EXPECT_EQ(ReadU32(p + 68), 7u);
  ConnectPayload r = ReadConnectPayload(p);
  EXPECT_EQ(r.version_first, 0);
  EXPECT_EQ(r.version_second, 2);
  EXPECT_EQ(r.port, 3668);
  EXPECT_EQ(r.address, 7);
}

TEST(Wire, ConnectPayloadWithoutNulStillReadsAsBoundedText) {
  uint8_t p[72];
  memset(p, 'A', sizeof p);
  ConnectPayload r = ReadConnectPayload(p);
  EXPECT_EQ(strlen(r.host), 64u);
}

TEST(Wire, FragmentCountRule) {
  EXPECT_EQ(FragmentCount(0), 1);
  EXPECT_EQ(FragmentCount(1399), 1);
  EXPECT_EQ(FragmentCount(1400), 2);
  EXPECT_EQ(FragmentCount(1401), 2);
  EXPECT_EQ(FragmentCount(2800), 3);
}

TEST(ResultText, AllNineCodesAndNothingElse) {
  EXPECT_STREQ(Transport::ResultText(0), "[ 0] no error");
  EXPECT_STREQ(Transport::ResultText(-1), "[-1] no error");
  EXPECT_STREQ(Transport::ResultText(-2), "[-2] unable to load wsock32.dll");
  EXPECT_STREQ(Transport::ResultText(-3), "[-3] unable to aquire socket");
  EXPECT_STREQ(Transport::ResultText(-4), "[-4] unable to bind to socket");
  EXPECT_STREQ(Transport::ResultText(-5), "[-5] unable to set socket to non-blocking");
  EXPECT_STREQ(Transport::ResultText(-6), "[-6] invalid arguments passed");
  EXPECT_STREQ(Transport::ResultText(-7), "[-7] unable to look up host name");
  EXPECT_STREQ(Transport::ResultText(-8), "[-8] the address does not exist");
  EXPECT_EQ(Transport::ResultText(1), nullptr);
  EXPECT_EQ(Transport::ResultText(-9), nullptr);
}

TEST(WorkedExample, FirstDatagramOfAFreshTransportIsItsConnect) {
  sim::Network net;
  net.SetTap(true);
  Peer a(net, "203.0.113.1");
  ASSERT_NE(a.endpoint, nullptr);
  ASSERT_EQ(a.t->Connect(a.endpoint, kServer, 3668, 0), 1);
  a.t->Pump(0);
  ASSERT_EQ(net.Tapped().size(), 1u);
  const std::vector<uint8_t>& d = net.Tapped()[0].bytes;
  ASSERT_EQ(d.size(), 84u);
  const uint8_t header[] = {0x01, 0, 0, 0, 0x90, 0x7E, 0x01, 0, 0x01, 0, 0x48, 0, 0x00, 0x02};
  EXPECT_EQ(0, memcmp(d.data(), header, sizeof header));
  EXPECT_STREQ(reinterpret_cast<const char*>(d.data() + 14), kServer);
  EXPECT_EQ(ReadU16(d.data() + 12 + 66), a.endpoint->local_port);
  EXPECT_EQ(ReadU32(d.data() + 12 + 68), 1u);
  EXPECT_EQ(net.Tapped()[0].to.ip, sim::Ip(kServer));
  EXPECT_EQ(net.Tapped()[0].to.port, 3668);
  EXPECT_EQ(a.trace.at(0), "Connect() 198.51.100.7:3668 remote:0\n");
}

class SendTest : public ::testing::Test {
 protected:
  SendTest() : net(), a(net, "203.0.113.1") {
    net.SetTap(true);
    first = a.t->Connect(a.endpoint, kServer, 3668, 5);  // passive: nothing is queued
    second = a.t->Connect(a.endpoint, "198.51.100.8", 3668, 6);
  }
  // Fragments of the latest pump pass.
  std::vector<PeerHeader> Pumped() {
    net.ClearTap();
    a.t->Pump(0);
    std::vector<PeerHeader> out;
    for (auto& d : net.Tapped()) out.push_back(HeaderOf(d));
    return out;
  }
  sim::Network net;
  Peer a;
  int32_t first = 0, second = 0;
};

TEST_F(SendTest, FragmentsAtTheBoundaries) {
  struct Case {
    int32_t length;
    std::vector<uint16_t> lengths;
  } cases[] = {{0, {0}}, {1399, {1399}}, {1400, {1400, 0}}, {1401, {1400, 1}},
               {2800, {1400, 1400, 0}}};
  for (const Case& c : cases) {
    std::vector<uint8_t> data = Bytes(static_cast<size_t>(c.length) + 1, 3);
    ASSERT_EQ(a.t->Send(first, data.data(), c.length, 8), 0);
    std::vector<PeerHeader> out = Pumped();
    ASSERT_EQ(out.size(), c.lengths.size()) << c.length;
    for (size_t i = 0; i < out.size(); ++i) {
      EXPECT_EQ(out[i].seq, i + 1);
      EXPECT_EQ(out[i].of, c.lengths.size());
      EXPECT_EQ(out[i].length, c.lengths[i]);
      EXPECT_EQ(out[i].id, a.t->MessageIdCounter());
      EXPECT_EQ(out[i].type, 8);
      EXPECT_EQ(net.Tapped()[i].bytes.size(), 12u + c.lengths[i]);
      EXPECT_EQ(0, memcmp(net.Tapped()[i].bytes.data() + 12, data.data() + i * 1400, c.lengths[i]));
    }
  }
}

TEST_F(SendTest, ConsecutiveIdsAcrossConnections) {
  ASSERT_EQ(a.t->Send(first, "x", 1, 0), 0);
  ASSERT_EQ(a.t->Send(second, "y", 1, 0), 0);
  std::vector<PeerHeader> out = Pumped();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].id, 1u);
  EXPECT_EQ(out[1].id, 2u);
  EXPECT_EQ(net.Tapped()[0].to.ip, sim::Ip(kServer));
  EXPECT_EQ(net.Tapped()[1].to.ip, sim::Ip("198.51.100.8"));
}

TEST_F(SendTest, NegativeLengthUsesAnIdAndQueuesNothing) {
  EXPECT_EQ(a.t->Send(first, "x", -1, 0), 0);
  EXPECT_EQ(a.t->MessageIdCounter(), 1u);
  EXPECT_EQ(a.t->SendQueueLength(), 0u);
  ASSERT_EQ(a.t->Send(first, "x", 1, 0), 0);
  EXPECT_EQ(Pumped().at(0).id, 2u);
}

TEST_F(SendTest, UnknownAddressFailsAndLeavesTheCounter) {
  EXPECT_EQ(a.t->Send(99, "x", 1, 0), -1);
  EXPECT_EQ(a.t->LastResult(), RESULT_NO_ADDRESS);
  EXPECT_EQ(a.t->MessageIdCounter(), 0u);
  // Success does not reset the code.
  EXPECT_EQ(a.t->Send(first, "x", 1, 0), 0);
  EXPECT_EQ(a.t->LastResult(), RESULT_NO_ADDRESS);
}

TEST_F(SendTest, MissingDataForAPositiveLengthIsRefused) {
  EXPECT_EQ(a.t->Send(first, nullptr, 10, 0), -1);
  EXPECT_EQ(a.t->LastResult(), RESULT_INVALID_ARGUMENTS);
  EXPECT_EQ(a.t->SendQueueLength(), 0u);
  EXPECT_EQ(a.t->Send(first, nullptr, 0, 0), 0);  // no bytes to copy: one empty fragment
  EXPECT_EQ(a.t->SendQueueLength(), 1u);
}

TEST_F(SendTest, MessageTooLongForSixteenBitFragmentCountIsRefused) {
  const int32_t too_long = 65535 * 1400;  // 65536 fragments
  std::vector<uint8_t> big(static_cast<size_t>(too_long));
  EXPECT_EQ(a.t->Send(first, big.data(), too_long, 8), -1);
  EXPECT_EQ(a.t->LastResult(), RESULT_INVALID_ARGUMENTS);
  EXPECT_EQ(a.t->SendQueueLength(), 0u);
  EXPECT_EQ(a.t->Send(first, big.data(), too_long - 1, 8), 0);
  EXPECT_EQ(a.t->SendQueueLength(), 65535u);
}

TEST_F(SendTest, SendCopiesTheCallersBuffer) {
  char data[4] = {'a', 'b', 'c', 'd'};
  ASSERT_EQ(a.t->Send(first, data, 4, 0), 0);
  memset(data, 0, sizeof data);
  Pumped();
  EXPECT_EQ(0, memcmp(net.Tapped().at(0).bytes.data() + 12, "abcd", 4));
}

TEST(ConnectTest, ChecksItsArgumentsInOrder) {
  sim::Network net;
  net.AddName("server.test", kServer);
  Peer a(net, "203.0.113.1");

  EXPECT_EQ(a.t->Connect(a.endpoint, nullptr, 3668, 0), 0);
  EXPECT_EQ(a.t->LastResult(), RESULT_INVALID_ARGUMENTS);
  EXPECT_EQ(a.t->Connect(a.endpoint, kServer, 0, 0), 0);
  EXPECT_EQ(a.t->LastResult(), RESULT_INVALID_ARGUMENTS);
  EXPECT_TRUE(a.trace.empty());  // nothing logged before the checks pass

  Endpoint foreign = {12345, 999};
  EXPECT_EQ(a.t->Connect(&foreign, kServer, 3668, 0), 0);
  EXPECT_EQ(a.t->LastResult(), RESULT_INVALID_ARGUMENTS);
  EXPECT_EQ(a.trace.size(), 1u);  // logged, then refused

  EXPECT_EQ(a.t->Connect(a.endpoint, "no-such-host.test", 3668, 0), 0);
  EXPECT_EQ(a.t->LastResult(), RESULT_HOST_LOOKUP);

  // A failed Connect uses up no address.
  EXPECT_EQ(a.t->Connect(a.endpoint, "server.test", 3668, 0), 1);
  EXPECT_EQ(a.t->Connect(a.endpoint, kServer, 3668, 0), 2);
  SocketAddress where;
  ASSERT_TRUE(a.t->RemoteSocketAddress(1, &where));
  EXPECT_EQ(where.ip, sim::Ip(kServer));
  EXPECT_EQ(where.port, 3668);
}

TEST(ConnectTest, HostOf63CharactersFitsAnd64IsRefused) {
  sim::Network net;
  std::string name63(63, 'h'), name64(64, 'h');
  net.AddName(name63, kServer);
  net.AddName(name64, kServer);
  net.SetTap(true);
  Peer a(net, "203.0.113.1");
  EXPECT_EQ(a.t->Connect(a.endpoint, name64.c_str(), 3668, 0), 0);
  EXPECT_EQ(a.t->LastResult(), RESULT_INVALID_ARGUMENTS);
  EXPECT_EQ(a.t->Connect(a.endpoint, name63.c_str(), 3668, 0), 1);
  a.t->Pump(0);
  const uint8_t* payload = net.Tapped().at(0).bytes.data() + 12;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(payload + 2)), name63);
  EXPECT_EQ(payload[65], 0);
}

TEST(ConnectTest, ConnectionCapRefusesBeyondIt) {
  sim::Network net;
  TransportOptions o;
  o.max_connections = 2;
  Peer a(net, "203.0.113.1", o);
  EXPECT_EQ(a.t->Connect(a.endpoint, kServer, 1, 9), 1);
  EXPECT_EQ(a.t->Connect(a.endpoint, kServer, 2, 9), 2);
  EXPECT_EQ(a.t->Connect(a.endpoint, kServer, 3, 9), 0);
  EXPECT_EQ(a.t->LastResult(), RESULT_INVALID_ARGUMENTS);
  EXPECT_EQ(a.t->Counters().connects_refused, 1u);
  EXPECT_TRUE(a.t->RemoveConnection(1));
  EXPECT_EQ(a.t->Connect(a.endpoint, kServer, 3, 9), 3);
}

TEST(EndpointTest, CreationFailuresSetTheirCodes) {
  sim::Network net;
  Peer a(net, "203.0.113.1", TransportOptions(), 4000);
  ASSERT_NE(a.endpoint, nullptr);
  EXPECT_EQ(a.endpoint->local_port, 4000);
  EXPECT_EQ(a.t->CreateEndpoint(4000), nullptr);  // port in use
  EXPECT_EQ(a.t->LastResult(), RESULT_BIND);
  Endpoint* chosen = a.t->CreateEndpoint(0);
  ASSERT_NE(chosen, nullptr);
  EXPECT_NE(chosen->local_port, 0);
  a.host->FailOpenWith(RESULT_WINSOCK_START);
  EXPECT_EQ(a.t->CreateEndpoint(0), nullptr);
  EXPECT_EQ(a.t->LastResult(), RESULT_WINSOCK_START);
}

TEST(CallbackTest, SlotsZeroToThreeOnlyAndUnknownAddressesIgnored) {
  sim::Network net;
  Peer a(net, "203.0.113.1");
  int32_t c = a.t->Connect(a.endpoint, kServer, 3668, 0);
  a.t->SetEventCallback(c, 4, test::RecordEvent);
  a.t->SetEventCallback(77, 0, test::RecordEvent);
  a.t->SetDataCallback(77, test::RecordData);
  EXPECT_FALSE(a.t->AddressExists(77));
  EXPECT_TRUE(a.t->AddressExists(c));
  EXPECT_TRUE(a.t->RemoveConnection(c));
  EXPECT_FALSE(a.t->RemoveConnection(c));
  EXPECT_TRUE(test::g_events.empty());
}

}  // namespace
}  // namespace orb
