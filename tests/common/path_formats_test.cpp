// The formats of relayed unicast, path report and path info, direct datagrams and the
// member route table: what one side builds the other parses back, bounds are refused, and
// the route table never hands a reader a mix of two versions nor misses while it is written.
#include <gtest/gtest.h>

#include "net_address.h"

#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "direct_path.h"
#include "link.h"
#include "member_notice.h"
#include "path_info.h"
#include "relayed_unicast.h"
#include "route_table.h"

namespace {

using orb_test::NetAddr;

std::vector<uint8_t> Link(size_t payload, uint16_t port = 26900) {
  std::vector<uint8_t> link(LINK_HEADER_SIZE + payload);
  std::vector<uint8_t> data(payload);
  for (size_t i = 0; i < payload; ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
  LinkWrap(link.data(), link.size(), port, NetAddr(127, 0, 0, 1), data.data(), payload);
  return link;
}

TEST(RelayedUnicast, RequestAndDeliveryRoundTripAndTheServerStampsTheSender) {
  const std::vector<uint8_t> link = Link(100);
  uint8_t buf[kRelayedHeaderSize + LINK_DATAGRAM_MAX];
  ASSERT_EQ(BuildUnicastRequest(0x01020304, link.data(), link.size(), buf, sizeof buf), 116u);
  EXPECT_EQ(buf[0], 0x04);  // little-endian member number
  UnicastRequest req;
  ASSERT_TRUE(ParseUnicastRequest(buf, 116, &req));
  EXPECT_EQ(req.to, 0x01020304u);
  ASSERT_EQ(req.link_length, link.size());
  EXPECT_EQ(memcmp(req.link, link.data(), link.size()), 0);

  uint8_t out[kRelayedHeaderSize + LINK_DATAGRAM_MAX];
  const size_t n = BuildRelayedDatagram(7, kRelayedUnicast, NetAddr(203, 0, 113, 21), req.link,
                                        req.link_length, out, sizeof out);
  ASSERT_EQ(n, 120u);
  RelayedDatagram got;
  ASSERT_TRUE(ParseRelayedDatagram(out, n, &got));
  EXPECT_EQ(got.from, 7u);
  EXPECT_EQ(got.kind, kRelayedUnicast);
  EXPECT_EQ(LinkGetAddress(got.link), NetAddr(203, 0, 113, 21));
  EXPECT_EQ(LinkGetPort(got.link), 26900);
  EXPECT_EQ(memcmp(got.link + LINK_HEADER_SIZE, link.data() + LINK_HEADER_SIZE, 100), 0);
}

struct BadLink {
  const char* what;
  size_t payload;
  bool break_magic;
};

class RelayedUnicastRefuses : public ::testing::TestWithParam<BadLink> {};

TEST_P(RelayedUnicastRefuses, WhatCarriesNoGameDataOrIsTooLong) {
  std::vector<uint8_t> link = Link(GetParam().payload);
  if (GetParam().break_magic) link[2] = 0;
  std::vector<uint8_t> buf(8 + link.size(), 0xEE);
  EXPECT_EQ(BuildUnicastRequest(1, link.data(), link.size(), buf.data(), buf.size()), 0u);
  EXPECT_EQ(BuildRelayedDatagram(1, 0, 0, link.data(), link.size(), buf.data(), buf.size()), 0u);
  EXPECT_EQ(buf[0], 0xEE) << "nothing written";
  // The same bytes, framed by hand, are refused by the parsers.
  std::vector<uint8_t> framed(8 + link.size(), 0);
  std::copy(link.begin(), link.end(), framed.begin() + 8);
  UnicastRequest req;
  RelayedDatagram rd;
  EXPECT_FALSE(ParseUnicastRequest(framed.data() + 4, framed.size() - 4, &req));
  EXPECT_FALSE(ParseRelayedDatagram(framed.data(), framed.size(), &rd));
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, RelayedUnicastRefuses,
    ::testing::Values(BadLink{"header only", 0, false}, BadLink{"no magic", 10, true},
                      BadLink{"longer than the shim's buffer", LINK_PAYLOAD_MAX + 1, false}),
    [](const ::testing::TestParamInfo<BadLink>& i) {
      std::string s = i.param.what;
      for (char& c : s) if (c == ' ' || c == '\'') c = '_';
      return s;
    });

TEST(RelayedUnicast, UnknownKindAndShortBuffersAreRefused) {
  const std::vector<uint8_t> link = Link(LINK_PAYLOAD_MAX);
  uint8_t buf[kRelayedHeaderSize + LINK_DATAGRAM_MAX];
  EXPECT_EQ(BuildRelayedDatagram(1, 2, 0, link.data(), link.size(), buf, sizeof buf), 0u);
  EXPECT_EQ(BuildRelayedDatagram(1, 0, 0, link.data(), link.size(), buf, sizeof buf - 1), 0u);
  ASSERT_EQ(BuildRelayedDatagram(1, 0, 0, link.data(), link.size(), buf, sizeof buf), sizeof buf);
  buf[4] = 2;
  RelayedDatagram rd;
  EXPECT_FALSE(ParseRelayedDatagram(buf, sizeof buf, &rd));
  EXPECT_FALSE(ParseRelayedDatagram(nullptr, 100, &rd));
  EXPECT_FALSE(ParseUnicastRequest(buf, 3, nullptr));
}

PathReport Report(uint8_t count) {
  PathReport r = {};
  r.flags = kPathTakesRelayed;
  r.key = 0xA1B2C3D4;
  r.count = count;
  for (uint8_t i = 0; i < count; ++i) r.candidates[i] = {NetAddr(198, 51, 100, 2 + i), uint16_t(40000 + i)};
  return r;
}

TEST(PathReport, RoundTripsWithTheBytesWhereTheyBelong) {
  for (uint8_t count : {0, 1, 4}) {
    const PathReport r = Report(count);
    uint8_t buf[64];
    const size_t n = BuildPathReport(r, buf, sizeof buf);
    ASSERT_EQ(n, 12u + 6u * count);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[4], 0xD4);
    EXPECT_EQ(buf[8], count);
    if (count > 0) {
      const uint8_t first[6] = {198, 51, 100, 2, 0x40, 0x9C};  // 40000 little-endian
      EXPECT_EQ(memcmp(buf + 12, first, 6), 0);
    }
    PathReport back;
    ASSERT_TRUE(ParsePathReport(buf, n, &back));
    EXPECT_EQ(back.flags, r.flags);
    EXPECT_EQ(back.key, r.key);
    ASSERT_EQ(back.count, count);
    for (uint8_t i = 0; i < count; ++i) {
      EXPECT_EQ(back.candidates[i].ip, r.candidates[i].ip);
      EXPECT_EQ(back.candidates[i].port, r.candidates[i].port);
    }
    EXPECT_FALSE(ParsePathReport(buf, n + 1, &back)) << "a length that disagrees with c";
    EXPECT_FALSE(ParsePathReport(buf, n - 1, &back));
  }
  uint8_t buf[64] = {};
  buf[8] = 5;
  PathReport back;
  EXPECT_FALSE(ParsePathReport(buf, 12 + 30, &back)) << "more candidates than allowed";
  PathReport five = Report(4);
  five.count = 5;
  EXPECT_EQ(BuildPathReport(five, buf, sizeof buf), 0u);
}

TEST(PathInfo, RoundTripsAndEveryCutIsRefused) {
  static PathInfo info, back;
  info = PathInfo();
  info.member = 3;
  info.seen = {NetAddr(203, 0, 113, 21), 50001};
  info.peer_count = 3;
  for (uint16_t i = 0; i < 3; ++i) {
    PathPeer& p = info.peers[i];
    p.member = 10 + i;
    p.seen = {NetAddr(203, 0, 113, 22), uint16_t(50010 + i)};
    p.flags = 1;
    p.key = 0x11111111u * (i + 1);
    p.count = static_cast<uint8_t>(i);  // 0, 1 and 2 candidates
    for (uint8_t c = 0; c < p.count; ++c) p.candidates[c] = {NetAddr(198, 51, 100, 70 + c), 3000};
  }
  std::vector<uint8_t> buf(kPathInfoMax);
  const size_t n = BuildPathInfo(info, buf.data(), buf.size());
  ASSERT_EQ(n, 12u + 3 * 16 + 3 * 6);
  ASSERT_TRUE(ParsePathInfo(buf.data(), n, &back));
  EXPECT_EQ(back.member, 3u);
  EXPECT_EQ(back.seen.ip, info.seen.ip);
  EXPECT_EQ(back.seen.port, 50001);
  ASSERT_EQ(back.peer_count, 3);
  for (uint16_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back.peers[i].member, info.peers[i].member);
    EXPECT_EQ(back.peers[i].seen.port, info.peers[i].seen.port);
    EXPECT_EQ(back.peers[i].key, info.peers[i].key);
    ASSERT_EQ(back.peers[i].count, info.peers[i].count);
    for (uint8_t c = 0; c < back.peers[i].count; ++c) {
      EXPECT_EQ(back.peers[i].candidates[c].ip, info.peers[i].candidates[c].ip);
    }
  }
  for (size_t cut = 0; cut < n; ++cut) {
    EXPECT_FALSE(ParsePathInfo(buf.data(), cut, &back)) << cut;
  }
  EXPECT_FALSE(ParsePathInfo(buf.data(), n + 1, &back)) << "trailing bytes";
  EXPECT_EQ(BuildPathInfo(info, buf.data(), n - 1), 0u);

  // The largest info fits the bound the header promises.
  info.peer_count = kMaxPathPeers;
  for (auto& p : info.peers) p.count = kMaxPathCandidates;
  EXPECT_EQ(BuildPathInfo(info, buf.data(), buf.size()), size_t(kPathInfoMax));
  info.peer_count = kMaxPathPeers + 1;
  EXPECT_EQ(BuildPathInfo(info, buf.data(), buf.size()), 0u);
}

TEST(DirectPath, ProbeAnswerAndDataRoundTrip) {
  DirectDatagram probe = {};
  probe.kind = kDirectProbe;
  probe.sender = 5;
  probe.key = 0xCAFEF00D;
  probe.probe = 17;
  probe.stamp_ms = 123456;
  probe.seen_ip = NetAddr(1, 2, 3, 4);  // not written into a probe
  uint8_t buf[kDirectDatagramMax + 1];
  ASSERT_EQ(BuildDirectProbe(probe, buf, sizeof buf), size_t(kDirectProbeSize));
  DirectDatagram got;
  ASSERT_TRUE(ParseDirect(buf, kDirectProbeSize, &got));
  EXPECT_EQ(got.kind, kDirectProbe);
  EXPECT_EQ(got.sender, 5u);
  EXPECT_EQ(got.key, 0xCAFEF00Du);
  EXPECT_EQ(got.probe, 17u);
  EXPECT_EQ(got.stamp_ms, 123456u);
  EXPECT_EQ(got.seen_ip, 0u);

  DirectDatagram answer = got;
  answer.kind = kDirectAnswer;
  answer.seen_ip = NetAddr(203, 0, 113, 22);
  answer.seen_port = 50007;
  ASSERT_EQ(BuildDirectProbe(answer, buf, sizeof buf), size_t(kDirectProbeSize));
  ASSERT_TRUE(ParseDirect(buf, kDirectProbeSize, &got));
  EXPECT_EQ(got.kind, kDirectAnswer);
  EXPECT_EQ(got.seen_ip, NetAddr(203, 0, 113, 22));
  EXPECT_EQ(got.seen_port, 50007);
  EXPECT_FALSE(ParseDirect(buf, kDirectProbeSize + 1, &got)) << "probes have one size";

  uint8_t payload[kDirectPayloadMax];
  for (size_t i = 0; i < sizeof payload; ++i) payload[i] = static_cast<uint8_t>(i);
  const size_t n = BuildDirectData(9, 0x55, 26900, 50000, payload, sizeof payload, buf, sizeof buf);
  ASSERT_EQ(n, size_t(kDirectDatagramMax));
  ASSERT_TRUE(ParseDirect(buf, n, &got));
  EXPECT_EQ(got.kind, kDirectData);
  EXPECT_EQ(got.sender, 9u);
  EXPECT_EQ(got.dest_port, 26900);
  EXPECT_EQ(got.src_port, 50000);
  ASSERT_EQ(got.payload_length, sizeof payload);
  EXPECT_EQ(memcmp(got.payload, payload, sizeof payload), 0);
  std::vector<uint8_t> too_long(kDirectPayloadMax + 1);
  EXPECT_EQ(BuildDirectData(9, 0x55, 1, 2, too_long.data(), too_long.size(), buf, sizeof buf), 0u)
      << "larger game datagrams take the server";

  buf[4] = 4;
  EXPECT_FALSE(ParseDirect(buf, n, &got)) << "unknown kind";
  buf[4] = kDirectData;
  buf[0] = 'O';
  EXPECT_FALSE(DirectIsOurs(buf, n));
  EXPECT_FALSE(ParseDirect(buf, n, &got));
}

TEST(MemberNotice, RoundTripsAndIsNoGameDatagram) {
  for (uint8_t kind : {uint8_t(kMemberTcpConnect), uint8_t(kMemberTcpFailed)}) {
    MemberNotice n = {kind, NetAddr(203, 0, 113, 22), 2300, 10060};
    uint8_t buf[kMemberNoticeSize];
    ASSERT_EQ(BuildMemberNotice(n, buf, sizeof buf), size_t(kMemberNoticeSize));
    EXPECT_EQ(LinkGetPort(buf), 0) << "port 0: never a game datagram";
    EXPECT_EQ(LinkGetAddress(buf), NetAddr(203, 0, 113, 22));
    MemberNotice back;
    ASSERT_TRUE(ParseMemberNotice(buf, sizeof buf, &back));
    EXPECT_EQ(back.kind, kind);
    EXPECT_EQ(back.port, 2300);
    EXPECT_EQ(back.error, kind == kMemberTcpFailed ? 10060 : 0);
    EXPECT_FALSE(ParseMemberNotice(buf, sizeof buf - 1, &back));
    LinkSetPort(buf, 2300);
    EXPECT_FALSE(ParseMemberNotice(buf, sizeof buf, &back)) << "a game datagram is no notice";
  }
  MemberNotice unknown = {3, 0, 0, 0};
  uint8_t buf[kMemberNoticeSize];
  EXPECT_EQ(BuildMemberNotice(unknown, buf, sizeof buf), 0u);
}

TEST(RouteTable, LookupFindsPublishedMembersOnly) {
  alignas(4) uint8_t block[ROUTE_TABLE_SIZE];
  uint32_t flags = 99;
  memset(block, 0, sizeof block);
  EXPECT_FALSE(RouteTableLookup(block, NetAddr(203, 0, 113, 22), &flags)) << "no table yet";
  RouteTableInit(block);
  EXPECT_EQ(RouteTablePublicAddress(block), 0u);
  std::vector<RouteEntry> entries;
  for (uint32_t i = 0; i < ROUTE_TABLE_ENTRIES + 5; ++i) {
    entries.push_back({NetAddr(203, 0, 113, static_cast<uint8_t>(i)), kRouteThroughSession});
  }
  RouteTablePublish(block, entries.data(), entries.size(), NetAddr(203, 0, 113, 200));
  EXPECT_EQ(RouteTablePublicAddress(block), NetAddr(203, 0, 113, 200));
  EXPECT_TRUE(RouteTableLookup(block, NetAddr(203, 0, 113, ROUTE_TABLE_ENTRIES - 1), &flags));
  EXPECT_EQ(flags, kRouteThroughSession);
  EXPECT_FALSE(RouteTableLookup(block, NetAddr(203, 0, 113, ROUTE_TABLE_ENTRIES), &flags))
      << "entries beyond the table's room are not kept";
  RouteTablePublish(block, entries.data(), 1, 0);
  EXPECT_FALSE(RouteTableLookup(block, NetAddr(203, 0, 113, 1), &flags)) << "a smaller table";
  EXPECT_TRUE(RouteTableLookup(block, NetAddr(203, 0, 113, 0), &flags));
  EXPECT_FALSE(RouteTableLookup(nullptr, 0, &flags));
}

TEST(RouteTable, AReaderNeverSeesTwoVersionsMixedNorMissesWhatBothHold) {
  // Two tables with the same number of entries: A names addresses 1..n with flags 1, B
  // names n+1..2n with flags 2, and both name kBoth last. A torn read would find an
  // address of one with the flags of the other, or an address of neither at all; a read
  // that gave up while a table was being written would miss kBoth.
  alignas(4) static uint8_t block[ROUTE_TABLE_SIZE];
  RouteTableInit(block);
  const uint32_t n = 8, kBoth = 1000;
  RouteEntry a[n + 1], b[n + 1];
  for (uint32_t i = 0; i < n; ++i) {
    a[i] = {i + 1, 1};
    b[i] = {n + i + 1, 2};
  }
  a[n] = b[n] = {kBoth, 3};
  RouteTablePublish(block, a, n + 1, 0);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    // The session library publishes now and then, not without pause: a reader that met a
    // write in progress reads again and must then find a whole table. (A busy pause: some
    // systems sleep a millisecond at the least.)
    for (uint64_t round = 0; !stop.load(); ++round) {
      RouteTablePublish(block, round & 1 ? b : a, n + 1, 0);
      const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
      while (std::chrono::steady_clock::now() < until && !stop.load()) {
      }
    }
  });
  uint64_t wrong = 0, found = 0, missed = 0;
  for (int round = 0; round < 20000; ++round) {
    for (uint32_t address = 1; address <= 2 * n; ++address) {
      uint32_t flags = 0;
      if (RouteTableLookup(block, kBoth, &flags) && flags == 3) {
        ++found;
      } else {
        ++missed;
      }
      if (!RouteTableLookup(block, address, &flags)) continue;
      if (flags != (address <= n ? 1u : 2u)) ++wrong;
    }
  }
  stop.store(true);
  writer.join();
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(missed, 0u);
  EXPECT_GT(found, 0u);
}

}  // namespace
