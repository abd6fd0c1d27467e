#include "link.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

// inet_addr("a.b.c.d") as it lies in memory: the bytes in dotted order.
uint32_t NetAddr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t v;
  memcpy(&v, bytes, 4);
  return v;
}

TEST(LinkWrap, BroadcastOfTwentyBytesToPort300) {
  uint8_t payload[20];
  for (int i = 0; i < 20; ++i) payload[i] = static_cast<uint8_t>(0xA0 + i);
  std::array<uint8_t, LINK_DATAGRAM_MAX> buf;
  buf.fill(0xEE);

  ASSERT_EQ(LinkWrap(buf.data(), buf.size(), 300, NetAddr(127, 0, 0, 1), payload, 20), 32);

  const uint8_t header[] = {0xF9, 0xF9, 0xF9, 0xF9, 0x2C, 0x01};
  EXPECT_EQ(memcmp(buf.data(), header, 6), 0);
  const uint8_t loopback[] = {0x7F, 0x00, 0x00, 0x01};
  EXPECT_EQ(memcmp(buf.data() + 8, loopback, 4), 0);
  EXPECT_EQ(memcmp(buf.data() + 12, payload, 20), 0);
  EXPECT_EQ(buf[32], 0xEE) << "wrote past the datagram";

  // The session library stamps its own address; the far side reads it back unchanged.
  LinkSetAddress(buf.data(), NetAddr(203, 0, 113, 5));
  const uint8_t stamped[] = {0xCB, 0x00, 0x71, 0x05};
  EXPECT_EQ(memcmp(buf.data() + 8, stamped, 4), 0);
  EXPECT_EQ(LinkGetAddress(buf.data()), NetAddr(203, 0, 113, 5));
  EXPECT_EQ(LinkGetPort(buf.data()), 300);
}

TEST(LinkPort, IsLittleEndianOnTheWire) {
  uint8_t h[LINK_HEADER_SIZE] = {};
  LinkSetPort(h, 300);
  EXPECT_EQ(h[4], 0x2C);
  EXPECT_EQ(h[5], 0x01);
  LinkSetPort(h, LINK_PORT);
  EXPECT_EQ(h[4], 0x54);
  EXPECT_EQ(h[5], 0x0E);
  EXPECT_EQ(LinkGetPort(h), 3668);
  LinkSetPort(h, 0xFFFF);
  EXPECT_EQ(LinkGetPort(h), 0xFFFF);
}

TEST(LinkWrap, EmptyPayloadGivesHeaderOnly) {
  uint8_t buf[LINK_HEADER_SIZE];
  EXPECT_EQ(LinkWrap(buf, sizeof buf, 9, NetAddr(127, 0, 0, 1), nullptr, 0), 12);
  EXPECT_TRUE(LinkIsDatagram(buf, 12));
  EXPECT_EQ(LinkGetPort(buf), 9);
}

TEST(LinkWrap, RefusesWhatDoesNotFitAndWritesNothing) {
  std::vector<uint8_t> payload(LINK_PAYLOAD_MAX + 1, 0x55);
  std::vector<uint8_t> buf(LINK_DATAGRAM_MAX + 16, 0xEE);

  EXPECT_EQ(LinkWrap(buf.data(), buf.size(), 1, 0, payload.data(), LINK_PAYLOAD_MAX + 1), -1);
  for (uint8_t b : buf) ASSERT_EQ(b, 0xEE);

  // Exactly the largest payload fits the 2060-byte buffer.
  EXPECT_EQ(LinkWrap(buf.data(), LINK_DATAGRAM_MAX, 1, 0, payload.data(), LINK_PAYLOAD_MAX),
            static_cast<int>(LINK_DATAGRAM_MAX));
  EXPECT_EQ(buf[LINK_DATAGRAM_MAX], 0xEE);

  // A caller buffer one byte short is refused, not overrun.
  std::fill(buf.begin(), buf.end(), 0xEE);
  EXPECT_EQ(LinkWrap(buf.data(), 12 + 99, 1, 0, payload.data(), 100), -1);
  EXPECT_EQ(buf[0], 0xEE);
  EXPECT_EQ(LinkWrap(nullptr, 100, 1, 0, payload.data(), 10), -1);
  EXPECT_EQ(LinkWrap(buf.data(), buf.size(), 1, 0, nullptr, 10), -1);
}

TEST(LinkIsDatagram, NeedsMagicAndFullHeader) {
  uint8_t d[16] = {0xF9, 0xF9, 0xF9, 0xF9};
  EXPECT_TRUE(LinkIsDatagram(d, 12));
  EXPECT_TRUE(LinkIsDatagram(d, 16));
  EXPECT_FALSE(LinkIsDatagram(d, 11));
  EXPECT_FALSE(LinkIsDatagram(nullptr, 12));
  for (int i = 0; i < 4; ++i) {
    uint8_t bad[12] = {0xF9, 0xF9, 0xF9, 0xF9};
    bad[i] = 0xF8;
    EXPECT_FALSE(LinkIsDatagram(bad, 12)) << "byte " << i;
  }
}

TEST(LinkHeader, SpareBytesAreIgnoredByReaders) {
  uint8_t a[LINK_HEADER_SIZE], b[LINK_HEADER_SIZE];
  LinkWrap(a, sizeof a, 2300, NetAddr(198, 51, 100, 7), nullptr, 0);
  memcpy(b, a, sizeof a);
  b[6] = 0x12;
  b[7] = 0x34;
  EXPECT_EQ(LinkIsDatagram(a, 12), LinkIsDatagram(b, 12));
  EXPECT_EQ(LinkGetPort(a), LinkGetPort(b));
  EXPECT_EQ(LinkGetAddress(a), LinkGetAddress(b));
}

}  // namespace

namespace {

TEST(LinkConstants, MatchWhatBothLibrariesAgreeOn) {
  EXPECT_EQ(LINK_PORT, 3668);
  EXPECT_EQ(LINK_HEADER_SIZE, 12u);
  EXPECT_EQ(LINK_PAYLOAD_MAX, 2048u);
  EXPECT_EQ(LINK_DATAGRAM_MAX, 2060u);
  EXPECT_STREQ(LINK_LOOPBACK_TEXT, "127.0.0.1");
  // All four bytes are F9, so the magic reads the same in either byte order.
  const uint32_t magic = LINK_MAGIC;
  uint8_t bytes[4];
  memcpy(bytes, &magic, 4);
  for (uint8_t b : bytes) EXPECT_EQ(b, 0xF9);
}

TEST(LinkWrap, PayloadIsCopiedUnchangedWhateverItHolds) {
  // A game datagram that itself looks like a link header is still just payload.
  uint8_t payload[LINK_HEADER_SIZE + 4] = {0xF9, 0xF9, 0xF9, 0xF9, 0x54, 0x0E, 0, 0, 127, 0, 0, 1, 0, 0xFF, 0x80, 0x7F};
  uint8_t buf[LINK_DATAGRAM_MAX];
  ASSERT_EQ(LinkWrap(buf, sizeof buf, 47624, NetAddr(198, 51, 100, 9), payload, sizeof payload),
            static_cast<int>(LINK_HEADER_SIZE + sizeof payload));
  EXPECT_EQ(memcmp(buf + LINK_HEADER_SIZE, payload, sizeof payload), 0);
  EXPECT_EQ(LinkGetPort(buf), 47624);
  EXPECT_EQ(buf[4], 0x08);
  EXPECT_EQ(buf[5], 0xBA);
  EXPECT_EQ(LinkGetAddress(buf), NetAddr(198, 51, 100, 9));
}

}  // namespace
