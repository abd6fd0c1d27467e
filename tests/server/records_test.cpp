#include "records.h"

#include <gtest/gtest.h>
#include <string.h>

#include <vector>

namespace orb {
namespace server {
namespace {

std::vector<uint8_t> Join(const char* group, const char* player) {
  std::vector<uint8_t> r(kJoinRecordSize, 0);
  memcpy(r.data(), group, strlen(group));
  memcpy(r.data() + 68, player, strlen(player));
  return r;
}

// A relay record around a link datagram of n bytes (n >= 4 gets the magic).
std::vector<uint8_t> Relay(const char* group, size_t n) {
  std::vector<uint8_t> r(kRelayHeaderSize + n, 0);
  memcpy(r.data(), group, strlen(group));
  r[68] = static_cast<uint8_t>(n);
  r[69] = static_cast<uint8_t>(n >> 8);
  for (size_t i = 0; i < 4 && i < n; ++i) r[72 + i] = 0xF9;
  for (size_t i = 4; i < n; ++i) r[72 + i] = static_cast<uint8_t>(i);
  return r;
}

TEST(JoinRecord, ValidRecordGivesGroupAndPlayer) {
  auto r = Join("lobby", "NoName");
  JoinRecord j;
  DropReason why;
  ASSERT_TRUE(ParseJoinRecord(r.data(), r.size(), &j, &why));
  EXPECT_EQ(j.group, "lobby");
  EXPECT_EQ(j.player, "NoName");
}

TEST(JoinRecord, GroupNamesAreRawBytesAndPlayerNamesArePrintable) {
  auto r = Join("caf\xC3\xA9", "a\nb\x1b[2J");
  JoinRecord j;
  DropReason why;
  ASSERT_TRUE(ParseJoinRecord(r.data(), r.size(), &j, &why));
  EXPECT_EQ(j.group, "caf\xC3\xA9");
  EXPECT_EQ(j.player, "a?b?[2J");
  // A player field without its zero is cut at the field, not read beyond it.
  memset(r.data() + 68, 'x', kPlayerNameField);
  ASSERT_TRUE(ParseJoinRecord(r.data(), r.size(), &j, &why));
  EXPECT_EQ(j.player, std::string(kPlayerNameField, 'x'));
}

TEST(JoinRecord, MalformedRecordsAreRefused) {
  JoinRecord j;
  DropReason why = DropReason::kCount;
  auto r = Join("lobby", "NoName");
  EXPECT_FALSE(ParseJoinRecord(r.data(), 91, &j, &why));
  EXPECT_EQ(why, DropReason::kJoinMalformed);
  r.push_back(0);
  EXPECT_FALSE(ParseJoinRecord(r.data(), r.size(), &j, &why));
  EXPECT_FALSE(ParseJoinRecord(nullptr, 92, &j, &why));
  auto empty = Join("", "NoName");
  EXPECT_FALSE(ParseJoinRecord(empty.data(), empty.size(), &j, &why));
  auto unterminated = Join("", "NoName");
  memset(unterminated.data(), 'g', kGroupNameField);
  EXPECT_FALSE(ParseJoinRecord(unterminated.data(), unterminated.size(), &j, &why));
  // 63 characters and the zero still fit.
  unterminated[63] = 0;
  ASSERT_TRUE(ParseJoinRecord(unterminated.data(), unterminated.size(), &j, &why));
  EXPECT_EQ(j.group.size(), 63u);
}

TEST(RelayRecord, ValidRecordPointsAtTheLinkDatagram) {
  auto r = Relay("lobby", 20);
  RelayRecord rec;
  DropReason why;
  ASSERT_TRUE(ParseRelayRecord(r.data(), r.size(), &rec, &why));
  EXPECT_EQ(std::string(rec.group, rec.group_length), "lobby");
  EXPECT_EQ(rec.link, r.data() + 72);
  EXPECT_EQ(rec.link_length, 20u);
}

TEST(RelayRecord, LengthBoundsAreExact) {
  RelayRecord rec;
  DropReason why;
  auto at_min = Relay("g", 13);
  EXPECT_TRUE(ParseRelayRecord(at_min.data(), at_min.size(), &rec, &why));
  auto header_only = Relay("g", 12);
  EXPECT_FALSE(ParseRelayRecord(header_only.data(), header_only.size(), &rec, &why));
  EXPECT_EQ(why, DropReason::kRelayTooShort);
  auto at_max = Relay("g", 2060);
  EXPECT_TRUE(ParseRelayRecord(at_max.data(), at_max.size(), &rec, &why));
  auto over = Relay("g", 2061);
  EXPECT_FALSE(ParseRelayRecord(over.data(), over.size(), &rec, &why));
  EXPECT_EQ(why, DropReason::kRelayOversized);
  auto short_header = Relay("g", 20);
  EXPECT_FALSE(ParseRelayRecord(short_header.data(), 71, &rec, &why));
  EXPECT_EQ(why, DropReason::kRelayMalformed);
}

TEST(RelayRecord, CountThatDisagreesWithWhatArrivedIsRefused) {
  RelayRecord rec;
  DropReason why;
  auto r = Relay("g", 40);
  EXPECT_FALSE(ParseRelayRecord(r.data(), r.size() - 1, &rec, &why));
  EXPECT_EQ(why, DropReason::kRelayLength);
  r.push_back(0);
  EXPECT_FALSE(ParseRelayRecord(r.data(), r.size(), &rec, &why));
  EXPECT_EQ(why, DropReason::kRelayLength);
  // A huge count must not be trusted for any read.
  auto big = Relay("g", 40);
  big[71] = 0x80;
  EXPECT_FALSE(ParseRelayRecord(big.data(), big.size(), &rec, &why));
  EXPECT_EQ(why, DropReason::kRelayLength);
}

TEST(RelayRecord, MagicAndGroupNameAreChecked) {
  RelayRecord rec;
  DropReason why;
  auto r = Relay("g", 30);
  r[75] = 0xF8;
  EXPECT_FALSE(ParseRelayRecord(r.data(), r.size(), &rec, &why));
  EXPECT_EQ(why, DropReason::kRelayBadMagic);
  auto unnamed = Relay("", 30);
  EXPECT_FALSE(ParseRelayRecord(unnamed.data(), unnamed.size(), &rec, &why));
  EXPECT_EQ(why, DropReason::kRelayWrongGroup);
  memset(unnamed.data(), 'x', kGroupNameField);
  EXPECT_FALSE(ParseRelayRecord(unnamed.data(), unnamed.size(), &rec, &why));
  EXPECT_EQ(why, DropReason::kRelayWrongGroup);
}

}  // namespace
}  // namespace server
}  // namespace orb
