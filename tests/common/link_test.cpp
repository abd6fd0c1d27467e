#include "link.h"

#include <gtest/gtest.h>

#include "net_address.h"

#include <array>
#include <cstring>
#include <vector>

namespace {

using orb_test::NetAddr;

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

// Bytes 6 and 7 carry the sending socket's port, little-endian; the shim's wrap leaves 0
// ("unknown"), and nothing else in the header depends on them.
TEST(LinkHeader, SourcePortLivesInBytesSixAndSeven) {
  uint8_t a[LINK_HEADER_SIZE];
  LinkWrap(a, sizeof a, 2300, NetAddr(198, 51, 100, 7), nullptr, 0);
  EXPECT_EQ(LinkGetSourcePort(a), 0) << "the wrap writes \"unknown\"";
  LinkSetSourcePort(a, 0xC350);
  EXPECT_EQ(a[6], 0x50);
  EXPECT_EQ(a[7], 0xC3);
  EXPECT_EQ(LinkGetSourcePort(a), 0xC350);
  EXPECT_TRUE(LinkIsDatagram(a, 12));
  EXPECT_EQ(LinkGetPort(a), 2300);
  EXPECT_EQ(LinkGetAddress(a), NetAddr(198, 51, 100, 7));
}

// A socket notice, as the shim sends it and the session library reads it.
struct NoticeCase {
  LinkNoticeKind kind;
  uint16_t port;
  uint32_t address;
  uint8_t bytes[LINK_NOTICE_SIZE];
};

class LinkNoticeForms : public ::testing::TestWithParam<NoticeCase> {};

TEST_P(LinkNoticeForms, BuildsTheDocumentedBytesAndReadsThemBack) {
  const NoticeCase& c = GetParam();
  uint8_t buf[LINK_NOTICE_SIZE + 4];
  memset(buf, 0xEE, sizeof buf);
  ASSERT_EQ(LinkBuildNotice(buf, LINK_NOTICE_SIZE, {c.kind, c.port, c.address}),
            static_cast<int>(LINK_NOTICE_SIZE));
  EXPECT_EQ(memcmp(buf, c.bytes, LINK_NOTICE_SIZE), 0);
  EXPECT_EQ(buf[LINK_NOTICE_SIZE], 0xEE) << "wrote past the notice";
  // A session library that knows only link datagrams tests the magic and drops it.
  EXPECT_FALSE(LinkIsDatagram(buf, LINK_NOTICE_SIZE));
  LinkNotice back{};
  ASSERT_TRUE(LinkParseNotice(buf, LINK_NOTICE_SIZE, &back));
  EXPECT_EQ(back.kind, c.kind);
  EXPECT_EQ(back.port, c.port);
  EXPECT_EQ(back.address_net, c.address);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, LinkNoticeForms,
    ::testing::Values(
        NoticeCase{kNoticeBound, 26900, NetAddr(203, 0, 113, 11),
                   {0xF9, 0xF9, 0xF9, 0xF6, 0x14, 0x69, 1, 0, 203, 0, 113, 11}},
        NoticeCase{kNoticeBound, 1, 0, {0xF9, 0xF9, 0xF9, 0xF6, 1, 0, 1, 0, 0, 0, 0, 0}},
        NoticeCase{kNoticeClosed, 0xFFFF, NetAddr(127, 0, 0, 1),
                   {0xF9, 0xF9, 0xF9, 0xF6, 0xFF, 0xFF, 2, 0, 127, 0, 0, 1}}));

TEST(LinkNotice, RefusesWhatIsNoNotice) {
  uint8_t good[LINK_NOTICE_SIZE];
  ASSERT_EQ(LinkBuildNotice(good, sizeof good, {kNoticeBound, 300, 0}), 12);
  struct Damage {
    size_t at;
    uint8_t value;
  } damages[] = {{0, 0xF8}, {3, 0xF9}, {4, 0}, {6, 0}, {6, 3}, {7, 1}};
  for (const Damage& d : damages) {
    uint8_t bad[LINK_NOTICE_SIZE];
    memcpy(bad, good, sizeof bad);
    bad[d.at] = d.value;
    if (d.at == 4) bad[5] = 0;  // port 0
    LinkNotice out{kNoticeClosed, 7, 9};
    EXPECT_FALSE(LinkParseNotice(bad, sizeof bad, &out)) << "byte " << d.at;
    EXPECT_EQ(out.port, 7) << "a refused notice leaves the result alone";
  }
  LinkNotice out;
  EXPECT_FALSE(LinkParseNotice(good, 11, &out));
  EXPECT_FALSE(LinkParseNotice(good, 13, &out));
  EXPECT_FALSE(LinkParseNotice(nullptr, 12, &out));
  // A link datagram is never a notice.
  uint8_t link[LINK_NOTICE_SIZE];
  LinkWrap(link, sizeof link, 300, 0, nullptr, 0);
  EXPECT_FALSE(LinkParseNotice(link, sizeof link, &out));

  uint8_t buf[LINK_NOTICE_SIZE] = {};
  EXPECT_EQ(LinkBuildNotice(buf, 11, {kNoticeBound, 300, 0}), -1);
  EXPECT_EQ(LinkBuildNotice(buf, sizeof buf, {kNoticeBound, 0, 0}), -1);
  EXPECT_EQ(LinkBuildNotice(buf, sizeof buf, {static_cast<LinkNoticeKind>(3), 300, 0}), -1);
  EXPECT_EQ(LinkBuildNotice(nullptr, 12, {kNoticeBound, 300, 0}), -1);
  for (uint8_t b : buf) EXPECT_EQ(b, 0) << "a refused notice writes nothing";
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
