// The datagram paths' decisions, natively: which road a send takes, the broadcast wrap and
// its refusals, the launcher test, the unwrap and the choice of source record.
#include "datapath/addr.h"
#include "datapath/broadcast_peers.h"
#include "datapath/plan.h"
#include "route_table.h"

#include <gtest/gtest.h>

#include "../common/net_address.h"

#include <array>
#include <cstring>
#include <vector>

namespace {

using orb_test::NetAddr;

uint16_t NetPort(uint16_t port) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
  uint16_t v;
  memcpy(&v, bytes, 2);
  return v;
}

std::array<uint8_t, kInetAddrLen> Inet(uint8_t a, uint8_t b, uint8_t c, uint8_t d,
                                       uint16_t port) {
  std::array<uint8_t, kInetAddrLen> sin{};
  InetWrite(sin.data(), NetPort(port), NetAddr(a, b, c, d));
  return sin;
}

std::array<uint8_t, kIpxAddrLen> Ipx(std::array<uint8_t, 6> node, uint8_t sock0,
                                     uint8_t sock1) {
  std::array<uint8_t, kIpxAddrLen> sipx{};
  sipx[0] = IPX_FAMILY;
  sipx[2] = 0x12;  // a net number, which never matters
  memcpy(sipx.data() + 6, node.data(), 6);
  sipx[12] = sock0;
  sipx[13] = sock1;
  return sipx;
}

TEST(SendPath, TcpipOnlyTheLimitedBroadcastIsCaught) {
  auto all = Inet(255, 255, 255, 255, 300);
  auto subnet = Inet(192, 168, 1, 255, 300);
  auto one = Inet(203, 0, 113, 7, 300);
  EXPECT_EQ(ChooseSendPath(false, all.data(), 16), SendPath::kInetBroadcast);
  EXPECT_EQ(ChooseSendPath(false, subnet.data(), 16), SendPath::kPassThrough);
  EXPECT_EQ(ChooseSendPath(false, one.data(), 16), SendPath::kPassThrough);
  // A longer record is still read as a sockaddr_in (only its first 16 bytes).
  EXPECT_EQ(ChooseSendPath(false, all.data(), 24), SendPath::kInetBroadcast);
}

TEST(SendPath, TcpipShortOrMissingDestinationIsNotRead) {
  // A broadcast address in a record the caller says is short: the real library answers.
  auto all = Inet(255, 255, 255, 255, 300);
  EXPECT_EQ(ChooseSendPath(false, all.data(), 15), SendPath::kPassThrough);
  EXPECT_EQ(ChooseSendPath(false, all.data(), 0), SendPath::kPassThrough);
  EXPECT_EQ(ChooseSendPath(false, all.data(), -1), SendPath::kPassThrough);
  EXPECT_EQ(ChooseSendPath(false, nullptr, 16), SendPath::kPassThrough);
}

TEST(SendPath, IpxBroadcastCountsOnlyTheFirstTwoNodeBytes) {
  auto bc = Ipx({0xFF, 0xFF, 0x01, 0x02, 0x03, 0x04}, 0x2C, 0x01);
  auto all = Ipx({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x2C, 0x01);
  auto half = Ipx({0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 0x2C, 0x01);
  auto direct = Ipx({0x00, 0x00, 0x7F, 0x00, 0x00, 0x01}, 0x2C, 0x01);
  EXPECT_EQ(ChooseSendPath(true, bc.data(), 14), SendPath::kIpxBroadcast);
  EXPECT_EQ(ChooseSendPath(true, all.data(), 14), SendPath::kIpxBroadcast);
  EXPECT_EQ(ChooseSendPath(true, half.data(), 14), SendPath::kIpxDirect);
  EXPECT_EQ(ChooseSendPath(true, direct.data(), 14), SendPath::kIpxDirect);
  // An IPX socket reads its destination as SOCKADDR_IPX whatever family it claims: the
  // last two address bytes of this sockaddr_in lie where the first two node bytes are.
  auto inet = Inet(198, 51, 255, 255, 300);
  EXPECT_EQ(ChooseSendPath(true, inet.data(), 16), SendPath::kIpxBroadcast);
  auto inet_all = Inet(255, 255, 0, 1, 300);
  EXPECT_EQ(ChooseSendPath(true, inet_all.data(), 16), SendPath::kIpxDirect);
}

TEST(SendPath, IpxShortOrMissingDestinationIsAFault) {
  auto bc = Ipx({0xFF, 0xFF, 0, 0, 0, 0}, 0x2C, 0x01);
  EXPECT_EQ(ChooseSendPath(true, bc.data(), 13), SendPath::kBadDestination);
  EXPECT_EQ(ChooseSendPath(true, bc.data(), -5), SendPath::kBadDestination);
  EXPECT_EQ(ChooseSendPath(true, nullptr, 14), SendPath::kBadDestination);
}

TEST(SendPath, MembersTheSessionLibraryRoutesGoToTheLauncherOthersAsBefore) {
  alignas(4) static uint8_t table[ROUTE_TABLE_SIZE];
  RouteTableInit(table);
  const RouteEntry member = {NetAddr(203, 0, 113, 22), kRouteThroughSession};
  RouteTablePublish(table, &member, 1, NetAddr(203, 0, 113, 21));
  auto to_member = Inet(203, 0, 113, 22, 26900);
  auto to_other = Inet(203, 0, 113, 23, 26900);
  auto all = Inet(255, 255, 255, 255, 26900);
  auto ipx_member = Ipx({0, 0, 203, 0, 113, 22}, 0x4E, 0x51);
  auto ipx_other = Ipx({0, 0, 203, 0, 113, 23}, 0x4E, 0x51);
  struct Case {
    bool ipx;
    const uint8_t* to;
    int len;
    const void* table;
    SendPath expected;
  } cases[] = {
      {false, to_member.data(), 20, table, SendPath::kInetMember},
      {false, to_other.data(), 20, table, SendPath::kPassThrough},
      {false, all.data(), 20, table, SendPath::kInetBroadcast},
      {false, to_member.data(), 20, nullptr, SendPath::kPassThrough},  // no session's table
      {false, to_member.data(), int(LINK_PAYLOAD_MAX) + 1, table, SendPath::kPassThrough},
      {true, ipx_member.data(), 20, table, SendPath::kIpxMember},
      {true, ipx_other.data(), 20, table, SendPath::kIpxDirect},
      {true, ipx_member.data(), int(LINK_PAYLOAD_MAX) + 1, table, SendPath::kIpxDirect},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseSendPath(c.ipx, c.to, c.ipx ? kIpxAddrLen : kInetAddrLen, false, c.table, c.len),
              c.expected)
        << (c.ipx ? "ipx " : "inet ") << int(c.to[c.ipx ? 11 : 7]) << " len " << c.len;
  }
  EXPECT_EQ(DestinationIpv4(true, ipx_member.data()), NetAddr(203, 0, 113, 22));
  EXPECT_EQ(DestinationIpv4(false, to_member.data()), NetAddr(203, 0, 113, 22));
}

TEST(IpxDestination, ConvertsToIpv4TextAndSocketValue) {
  auto d = Ipx({0x00, 0x00, 0xC0, 0xA8, 0x01, 0x05}, 0x2C, 0x01);
  char text[kAddressTextSize];
  IpxNodeIpv4Text(d.data(), text);
  EXPECT_STREQ(text, "192.168.1.5");
  // sa_socket bytes 2C 01 hold the value 300, which is the UDP port.
  EXPECT_EQ(IpxSocketRaw(d.data()), 300);
  auto high = Ipx({0, 0, 255, 255, 255, 255}, 0x54, 0x0E);
  IpxNodeIpv4Text(high.data(), text);
  EXPECT_STREQ(text, "255.255.255.255");
  EXPECT_EQ(IpxSocketRaw(high.data()), LINK_PORT);
}

TEST(WrapBroadcast, TcpipTwentyBytesToPort300) {
  uint8_t payload[20];
  for (int i = 0; i < 20; ++i) payload[i] = static_cast<uint8_t>(i + 1);
  LinkBuffer buf;
  ASSERT_EQ(WrapBroadcast(&buf, 300, NetAddr(127, 0, 0, 1), payload, 20), 32);
  const uint8_t head[] = {0xF9, 0xF9, 0xF9, 0xF9, 0x2C, 0x01};
  EXPECT_EQ(memcmp(buf.bytes, head, 6), 0);
  const uint8_t loop[] = {0x7F, 0, 0, 1};
  EXPECT_EQ(memcmp(buf.bytes + 8, loop, 4), 0);
  EXPECT_EQ(memcmp(buf.bytes + 12, payload, 20), 0);
}

TEST(WrapBroadcast, IpxPortFieldHoldsTheSocketBytesAsStored) {
  auto d = Ipx({0xFF, 0xFF, 1, 2, 3, 4}, 0x34, 0x12);
  LinkBuffer buf;
  ASSERT_EQ(WrapBroadcast(&buf, IpxSocketRaw(d.data()), NetAddr(127, 0, 0, 1), "x", 1), 13);
  EXPECT_EQ(buf.bytes[4], 0x34);
  EXPECT_EQ(buf.bytes[5], 0x12);
}

TEST(WrapBroadcast, SizesAtTheEdgesAndRefusals) {
  std::vector<uint8_t> big(LINK_PAYLOAD_MAX + 1, 0xAB);
  LinkBuffer buf;
  EXPECT_EQ(WrapBroadcast(&buf, 1, 0, nullptr, 0), 12);
  EXPECT_EQ(WrapBroadcast(&buf, 1, 0, big.data(), LINK_PAYLOAD_MAX),
            static_cast<int>(LINK_DATAGRAM_MAX));
  EXPECT_EQ(buf.bytes[LINK_DATAGRAM_MAX - 1], 0xAB);

  memset(buf.bytes, 0x11, sizeof buf.bytes);
  EXPECT_EQ(BroadcastRefusal(big.data(), LINK_PAYLOAD_MAX + 1), kWsaEMsgSize);
  EXPECT_EQ(WrapBroadcast(&buf, 1, 0, big.data(), LINK_PAYLOAD_MAX + 1), -1);
  EXPECT_EQ(buf.bytes[0], 0x11) << "a refused broadcast must leave the buffer alone";
  EXPECT_EQ(BroadcastRefusal(big.data(), 0x7FFFFFFF), kWsaEMsgSize);
  EXPECT_EQ(BroadcastRefusal(big.data(), -1), kWsaEFault);
  EXPECT_EQ(BroadcastRefusal(nullptr, 4), kWsaEFault);
  EXPECT_EQ(BroadcastRefusal(nullptr, 0), 0);
  EXPECT_EQ(WrapBroadcast(&buf, 1, 0, big.data(), -1), -1);
}

TEST(LauncherSource, NeedsPort3668AndTheLoopbackText) {
  auto link = Inet(127, 0, 0, 1, LINK_PORT);
  auto other_port = Inet(127, 0, 0, 1, 3669);
  auto swapped = Inet(127, 0, 0, 1, 0x540E);  // 3668 with its bytes the wrong way round
  EXPECT_TRUE(IsLauncherSource(link.data(), "127.0.0.1"));
  EXPECT_FALSE(IsLauncherSource(other_port.data(), "127.0.0.1"));
  EXPECT_FALSE(IsLauncherSource(swapped.data(), "127.0.0.1"));
  EXPECT_FALSE(IsLauncherSource(link.data(), "127.0.0.2"));
  EXPECT_FALSE(IsLauncherSource(link.data(), "203.0.113.5"));
  EXPECT_FALSE(IsLauncherSource(link.data(), nullptr));
  EXPECT_TRUE(IsLinkPortSource(link.data()));
  EXPECT_FALSE(IsLinkPortSource(other_port.data()));
  EXPECT_FALSE(IsLinkPortSource(swapped.data()));
  EXPECT_FALSE(IsLinkPortSource(nullptr));
}

// A socket bound to one of the machine's addresses gets relayed datagrams from that
// address, port 3668; a socket bound to every address (0) never matches this form.
TEST(LauncherSource, OnTheSocketsOwnAddress) {
  auto from_own = Inet(203, 0, 113, 11, LINK_PORT);
  auto other_port = Inet(203, 0, 113, 11, 3669);
  EXPECT_TRUE(IsLauncherOnSocketAddress(from_own.data(), NetAddr(203, 0, 113, 11)));
  EXPECT_FALSE(IsLauncherOnSocketAddress(from_own.data(), NetAddr(203, 0, 113, 12)));
  EXPECT_FALSE(IsLauncherOnSocketAddress(from_own.data(), 0));
  EXPECT_FALSE(IsLauncherOnSocketAddress(other_port.data(), NetAddr(203, 0, 113, 11)));
  EXPECT_FALSE(IsLauncherOnSocketAddress(nullptr, NetAddr(203, 0, 113, 11)));
}

TEST(Unwrap, MovesThePayloadDownAndReportsTheOrigin) {
  uint8_t payload[20];
  for (int i = 0; i < 20; ++i) payload[i] = static_cast<uint8_t>(0xC0 + i);
  // The game's buffer is larger than the datagram; bytes past it must stay.
  std::vector<uint8_t> buf(64, 0x5A);
  ASSERT_EQ(LinkWrap(buf.data(), buf.size(), 300, NetAddr(203, 0, 113, 5), payload, 20), 32);
  LinkOrigin origin{};
  ASSERT_EQ(UnwrapLinkDatagram(buf.data(), 32, &origin), 20);
  EXPECT_EQ(memcmp(buf.data(), payload, 20), 0);
  EXPECT_EQ(buf[32], 0x5A);
  EXPECT_EQ(origin.address_net, NetAddr(203, 0, 113, 5));
  EXPECT_EQ(origin.port_field, 300);
}

// The far game sees the sending socket's port when the header carries it (bytes 6 and 7),
// and the port the datagram was sent to when they are 0, as a peer built to the first form
// of the link leaves them.
TEST(Unwrap, ReportsTheSendingSocketsPortWhenTheHeaderHasIt) {
  struct Case {
    uint16_t source_port;
    uint16_t reported;
  } cases[] = {{0, 300}, {50000, 50000}, {300, 300}, {1, 1}};
  for (const Case& c : cases) {
    uint8_t buf[LINK_HEADER_SIZE + 3];
    ASSERT_EQ(LinkWrap(buf, sizeof buf, 300, NetAddr(203, 0, 113, 5), "abc", 3), 15);
    LinkSetSourcePort(buf, c.source_port);
    LinkOrigin origin{};
    ASSERT_EQ(UnwrapLinkDatagram(buf, 15, &origin), 3);
    EXPECT_EQ(origin.port_field, 300);
    EXPECT_EQ(origin.source_port, c.source_port);
    EXPECT_EQ(LinkOriginPort(origin), c.reported) << c.source_port;
  }
}

TEST(Unwrap, HeaderOnlyGivesZeroBytes) {
  uint8_t buf[12];
  ASSERT_EQ(LinkWrap(buf, sizeof buf, 9, NetAddr(198, 51, 100, 2), nullptr, 0), 12);
  LinkOrigin origin{};
  EXPECT_EQ(UnwrapLinkDatagram(buf, 12, &origin), 0);
  EXPECT_EQ(origin.port_field, 9);
}

TEST(Unwrap, RefusesShortOrForeignContentUntouched) {
  uint8_t buf[32];
  ASSERT_EQ(LinkWrap(buf, sizeof buf, 300, 0, "abcdefghijklmnopqrst", 20), 32);
  uint8_t copy[32];
  memcpy(copy, buf, sizeof buf);
  LinkOrigin origin{};
  EXPECT_EQ(UnwrapLinkDatagram(buf, 11, &origin), -1);
  EXPECT_EQ(UnwrapLinkDatagram(buf, -1, &origin), -1);
  buf[3] = 0xF8;
  memcpy(copy, buf, sizeof buf);
  EXPECT_EQ(UnwrapLinkDatagram(buf, 32, &origin), -1);
  EXPECT_EQ(memcmp(buf, copy, sizeof buf), 0);
}

TEST(SourcePlan, NullSourceIsReceivedIntoTheShimsOwnRecord) {
  int len = 16;
  uint8_t rec[16] = {};
  EXPECT_EQ(ChooseSourcePlan(false, false, nullptr, nullptr), SourcePlan::kOwnNoWrite);
  EXPECT_EQ(ChooseSourcePlan(false, false, nullptr, &len), SourcePlan::kOwnNoWrite);
  EXPECT_EQ(ChooseSourcePlan(true, false, nullptr, nullptr), SourcePlan::kOwnNoWrite);
  EXPECT_EQ(ChooseSourcePlan(false, false, rec, &len), SourcePlan::kGameRecord);
}

TEST(SourcePlan, TcpipNeedsRoomForSixteenBytes) {
  uint8_t rec[16] = {};
  int len = 15;
  EXPECT_EQ(ChooseSourcePlan(false, false, rec, &len), SourcePlan::kFault);
  len = 0;
  EXPECT_EQ(ChooseSourcePlan(false, false, rec, &len), SourcePlan::kFault);
  EXPECT_EQ(ChooseSourcePlan(false, false, rec, nullptr), SourcePlan::kFault);
  len = 64;
  EXPECT_EQ(ChooseSourcePlan(false, false, rec, &len), SourcePlan::kGameRecord);
}

TEST(SourcePlan, IpxNeedsRoomForFourteenBytes) {
  uint8_t rec[16] = {};
  int len = 14;
  EXPECT_EQ(ChooseSourcePlan(true, false, rec, &len), SourcePlan::kOwnRecord);
  len = 13;
  EXPECT_EQ(ChooseSourcePlan(true, false, rec, &len), SourcePlan::kFault);
  len = -1;
  EXPECT_EQ(ChooseSourcePlan(true, false, rec, &len), SourcePlan::kFault);
  EXPECT_EQ(ChooseSourcePlan(true, false, rec, nullptr), SourcePlan::kFault);
}

// Winsock ignores the source record on connection-oriented sockets, whatever its length.
TEST(SourcePlan, StreamSocketsIgnoreTheSourceRecord) {
  uint8_t rec[16] = {};
  int lens[] = {-1, 0, 8, 14, 16, 64};
  for (bool ipx : {false, true}) {
    EXPECT_EQ(ChooseSourcePlan(ipx, true, nullptr, nullptr), SourcePlan::kIgnore);
    EXPECT_EQ(ChooseSourcePlan(ipx, true, rec, nullptr), SourcePlan::kIgnore);
    for (int len : lens) EXPECT_EQ(ChooseSourcePlan(ipx, true, rec, &len), SourcePlan::kIgnore);
  }
  // A TCP/IP socket's kind matters (and is asked for) only when the record is too short.
  int len = 15;
  EXPECT_TRUE(SourceRecordTooShort(false, rec, &len));
  EXPECT_TRUE(SourceRecordTooShort(false, rec, nullptr));
  EXPECT_FALSE(SourceRecordTooShort(false, nullptr, &len));
  EXPECT_FALSE(SourceRecordTooShort(true, rec, &len));
  len = 16;
  EXPECT_FALSE(SourceRecordTooShort(false, rec, &len));
}

// connect: only a broadcast destination of the socket's own family, given whole, is kept
// from the real library.
TEST(ConnectPath, BroadcastDestinationsOfFullLength) {
  auto all = Inet(255, 255, 255, 255, 300);
  auto one = Inet(203, 0, 113, 7, 300);
  auto bc = Ipx({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x34, 0x12);
  auto node = Ipx({0x00, 0x00, 0xCB, 0x00, 0x71, 0x07}, 0x34, 0x12);
  struct Case {
    bool ipx;
    const uint8_t* name;
    int len;
    ConnectPath want;
  } cases[] = {
      {false, all.data(), 16, ConnectPath::kInetBroadcast},
      {false, all.data(), 15, ConnectPath::kPassThrough},
      {false, one.data(), 16, ConnectPath::kPassThrough},
      {false, bc.data(), 16, ConnectPath::kPassThrough},  // an IPX record on a TCP/IP socket
      {false, nullptr, 16, ConnectPath::kPassThrough},
      {true, bc.data(), 14, ConnectPath::kIpxBroadcast},
      {true, bc.data(), 13, ConnectPath::kPassThrough},
      {true, node.data(), 14, ConnectPath::kPassThrough},
      {true, all.data(), 16, ConnectPath::kPassThrough},  // a sockaddr_in on an IPX socket
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseConnectPath(c.ipx, c.name, c.len), c.want) << c.ipx << " " << c.len;
  }
  // The link header's port field, as sendto to the same destination writes it.
  EXPECT_EQ(BroadcastPortField(ConnectPath::kInetBroadcast, all.data()), 300);
  EXPECT_EQ(BroadcastPortField(ConnectPath::kIpxBroadcast, bc.data()), IpxSocketRaw(bc.data()));
  EXPECT_EQ(BroadcastPortField(ConnectPath::kIpxBroadcast, bc.data()), 0x1234);
}

// sendto without a destination on a socket connected to a broadcast goes to the launcher;
// with one, it takes the usual road.
TEST(SendPath, ConnectedBroadcastWithoutDestination) {
  auto one = Inet(203, 0, 113, 7, 300);
  EXPECT_EQ(ChooseSendPath(false, nullptr, 0, true), SendPath::kConnectedBroadcast);
  EXPECT_EQ(ChooseSendPath(true, nullptr, 0, true), SendPath::kConnectedBroadcast);
  EXPECT_EQ(ChooseSendPath(false, one.data(), 16, true), SendPath::kPassThrough);
  EXPECT_EQ(ChooseSendPath(false, nullptr, 0, false), SendPath::kPassThrough);
  EXPECT_EQ(ChooseSendPath(true, nullptr, 0, false), SendPath::kBadDestination);
}

TEST(BroadcastPeers, RememberedUntilForgottenAndBounded) {
  auto all = Inet(255, 255, 255, 255, 300);
  auto bc = Ipx({0xFF, 0xFF, 0, 0, 0, 0}, 0x2C, 0x01);
  ASSERT_EQ(BroadcastPeerCount(), 0);
  EXPECT_FALSE(FindBroadcastPeer(7, nullptr));
  ASSERT_TRUE(RememberBroadcastPeer(7, 300, all.data(), 16));
  ASSERT_TRUE(RememberBroadcastPeer(8, 300, bc.data(), 14));
  ASSERT_TRUE(RememberBroadcastPeer(7, 301, all.data(), 16));  // connected again: replaced
  BroadcastPeer p{};
  ASSERT_TRUE(FindBroadcastPeer(7, &p));
  EXPECT_EQ(p.port_field, 301);
  EXPECT_EQ(p.length, 16);
  EXPECT_EQ(memcmp(p.address, all.data(), 16), 0);
  ASSERT_TRUE(FindBroadcastPeer(8, &p));
  EXPECT_EQ(p.length, 14);
  EXPECT_EQ(memcmp(p.address, bc.data(), 14), 0);
  EXPECT_EQ(BroadcastPeerCount(), 2);
  ForgetBroadcastPeer(7);
  ForgetBroadcastPeer(99);
  EXPECT_FALSE(FindBroadcastPeer(7, &p));
  EXPECT_TRUE(FindBroadcastPeer(8, &p));
  EXPECT_FALSE(RememberBroadcastPeer(9, 1, all.data(), 17));
  EXPECT_FALSE(RememberBroadcastPeer(9, 1, nullptr, 16));
  for (int h = 100; BroadcastPeerCount() < kBroadcastPeersMax; ++h) {
    ASSERT_TRUE(RememberBroadcastPeer(h, 1, all.data(), 16));
  }
  EXPECT_FALSE(RememberBroadcastPeer(9, 1, all.data(), 16)) << "full";
  EXPECT_TRUE(RememberBroadcastPeer(8, 2, all.data(), 16)) << "a known socket needs no room";
  for (int h = 100; h < 100 + kBroadcastPeersMax; ++h) ForgetBroadcastPeer(h);
  ForgetBroadcastPeer(8);
  EXPECT_EQ(BroadcastPeerCount(), 0);
}

// A socket bound to one of the machine's addresses sends its link datagrams to that address;
// every other socket to 127.0.0.1.
TEST(LinkDestination, TheSocketsOwnAddressOrLoopback) {
  EXPECT_EQ(LinkDestinationFor(0), NetAddr(127, 0, 0, 1));
  EXPECT_EQ(LinkDestinationFor(NetAddr(127, 0, 0, 1)), NetAddr(127, 0, 0, 1));
  EXPECT_EQ(LinkDestinationFor(NetAddr(127, 0, 0, 2)), NetAddr(127, 0, 0, 1));
  EXPECT_EQ(LinkDestinationFor(NetAddr(255, 255, 255, 255)), NetAddr(127, 0, 0, 1));
  EXPECT_EQ(LinkDestinationFor(NetAddr(203, 0, 113, 11)), NetAddr(203, 0, 113, 11));
}

TEST(PortOrder, HostAndNetworkOrderWithoutWinsock) {
  const uint16_t raw = PortRawFromHost(300);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&raw)[0], 0x01);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&raw)[1], 0x2C);
  EXPECT_EQ(PortHostFromRaw(raw), 300);
  EXPECT_EQ(LoopbackAddressNet(), NetAddr(127, 0, 0, 1));
}

TEST(WsaRecvRewrite, OnlyOneBufferCompletingInsideTheCall) {
  EXPECT_TRUE(WsaRecvIsRewritable(false, false, 1, true, true, true));
  EXPECT_FALSE(WsaRecvIsRewritable(true, false, 1, true, true, true));
  EXPECT_FALSE(WsaRecvIsRewritable(false, true, 1, true, true, true));
  EXPECT_FALSE(WsaRecvIsRewritable(false, false, 2, true, true, true));
  EXPECT_FALSE(WsaRecvIsRewritable(false, false, 0, true, true, true));
  EXPECT_FALSE(WsaRecvIsRewritable(false, false, 1, false, true, true));
  EXPECT_FALSE(WsaRecvIsRewritable(false, false, 1, true, false, true));
  EXPECT_FALSE(WsaRecvIsRewritable(false, false, 1, true, true, false));
}

TEST(DottedText, ParsesOnlyFourOctets) {
  uint8_t o[4];
  EXPECT_TRUE(ParseDottedOctets("0.0.0.0", o));
  EXPECT_TRUE(ParseDottedOctets("255.255.255.255", o));
  EXPECT_EQ(o[3], 255);
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "1.2.3.4x"}) {
    EXPECT_FALSE(ParseDottedOctets(bad, o)) << bad;
    EXPECT_EQ(o[0] | o[1] | o[2] | o[3], 0) << bad;
  }
  EXPECT_FALSE(ParseDottedOctets(nullptr, o));
}

}  // namespace
