// The IPX address mapping: sa_socket bytes against port bytes, emulated nodes, the records'
// layouts, and which addresses may name this machine.
#include <stdint.h>
#include <string.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ipx/address.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

uint32_t Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  uint8_t bytes[4] = {a, b, c, d};
  uint32_t v;
  memcpy(&v, bytes, 4);
  return v;
}

TEST(IpxAddrTest, SocketBytes2C01AreUdpPort300BothWays) {
  uint8_t ipx[IPX_ADDR_SIZE] = {6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2C, 0x01};
  uint16_t socket_raw = IpxSocketRaw(ipx);
  uint16_t port_raw = PortRawFromIpxSocket(socket_raw);
  uint8_t port_bytes[2];
  memcpy(port_bytes, &port_raw, 2);
  EXPECT_THAT(port_bytes, ElementsAre(0x01, 0x2C));  // 300 in network order

  uint8_t sin[INET_ADDR_SIZE];
  InetWrite(sin, port_raw, 0);
  uint8_t back[IPX_ADDR_SIZE];
  IpxWriteEmulated(back, 0, IpxSocketFromPortRaw(InetPortRaw(sin)));
  EXPECT_EQ(back[12], 0x2C);
  EXPECT_EQ(back[13], 0x01);
}

TEST(IpxAddrTest, EmulatedAddressIsNodeZeroZeroThenTheIPv4Address) {
  uint8_t ipx[IPX_ADDR_SIZE];
  memset(ipx, 0xAA, sizeof ipx);
  IpxWriteEmulated(ipx, Address(203, 0, 113, 9), 300);
  EXPECT_EQ(IpxFamily(ipx), 6);
  EXPECT_THAT(std::vector<uint8_t>(ipx + 2, ipx + 6), ElementsAre(0, 0, 0, 0));
  EXPECT_THAT(std::vector<uint8_t>(ipx + 6, ipx + 12), ElementsAre(0, 0, 0xCB, 0, 0x71, 0x09));
  EXPECT_EQ(IpxSocketRaw(ipx), 300);
  EXPECT_EQ(IpxNodeAddressNet(ipx), Address(203, 0, 113, 9));
}

TEST(IpxAddrTest, InetRecordIsFamilyPortAddressAndZeroPadding) {
  uint8_t sin[INET_ADDR_SIZE];
  memset(sin, 0xAA, sizeof sin);
  uint8_t port[2] = {0x01, 0x2C};
  uint16_t port_raw;
  memcpy(&port_raw, port, 2);
  InetWrite(sin, port_raw, Address(192, 0, 2, 7));
  const uint8_t expected[INET_ADDR_SIZE] = {2, 0, 0x01, 0x2C, 192, 0, 2, 7, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_THAT(sin, ElementsAreArray(expected));
  EXPECT_EQ(InetAddressNet(sin), Address(192, 0, 2, 7));
  EXPECT_EQ(InetPortRaw(sin), port_raw);
}

TEST(IpxAddrTest, OnlyTheFirstTwoNodeBytesMakeABroadcast) {
  uint8_t ipx[IPX_ADDR_SIZE] = {6, 0, 1, 2, 3, 4, 0xFF, 0xFF, 1, 2, 3, 4, 0, 0};
  EXPECT_TRUE(IpxIsBroadcastNode(ipx));
  ipx[7] = 0xFE;
  EXPECT_FALSE(IpxIsBroadcastNode(ipx));
  uint8_t all_but_first[IPX_ADDR_SIZE] = {6, 0, 0, 0, 0, 0, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0};
  EXPECT_FALSE(IpxIsBroadcastNode(all_but_first));
}

TEST(IpxAddrTest, NodeIsThePublicAddressElseAPrivateOneNeverAnUnreachableOne) {
  const uint32_t home[] = {Address(127, 0, 0, 1), Address(169, 254, 3, 4), Address(192, 168, 1, 2)};
  EXPECT_EQ(ChooseNodeAddress(home, 3), Address(192, 168, 1, 2)) << "a home network is a network";
  const uint32_t both[] = {Address(10, 1, 2, 3), Address(0, 0, 0, 0), Address(203, 0, 113, 9)};
  EXPECT_EQ(ChooseNodeAddress(both, 3), Address(203, 0, 113, 9));
  const uint32_t none[] = {Address(127, 0, 0, 1), Address(224, 0, 0, 1), Address(169, 254, 0, 9)};
  EXPECT_EQ(ChooseNodeAddress(none, 3), 0u);
  EXPECT_EQ(ChooseNodeAddress(nullptr, 3), 0u);
  uint8_t o[4];
  AddressOctets(Address(203, 0, 113, 9), o);
  EXPECT_THAT(o, ElementsAre(203, 0, 113, 9));
}

}  // namespace
