#include "records.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

TEST(JoinRecord, LayoutOf92Bytes) {
  uint8_t rec[kJoinRecordSize];
  memset(rec, 0xEE, sizeof rec);
  ASSERT_TRUE(BuildJoinRecord("Alpha", rec));
  EXPECT_STREQ(reinterpret_cast<char*>(rec), "Alpha");
  for (size_t i = 5; i < 68; ++i) EXPECT_EQ(rec[i], 0) << "offset " << i;  // zero + the 0 word
  EXPECT_STREQ(reinterpret_cast<char*>(rec + 68), "NoName");
  for (size_t i = 74; i < 92; ++i) EXPECT_EQ(rec[i], 0) << "offset " << i;
}

TEST(JoinRecord, GroupOf63CharactersTravelsWholeAnd64IsRefused) {
  uint8_t rec[kJoinRecordSize];
  const std::string g63(63, 'g');
  ASSERT_TRUE(BuildJoinRecord(g63.c_str(), rec));
  EXPECT_EQ(memcmp(rec, g63.data(), 63), 0);
  EXPECT_EQ(rec[63], 0);

  memset(rec, 0xEE, sizeof rec);
  EXPECT_FALSE(BuildJoinRecord(std::string(64, 'g').c_str(), rec));
  EXPECT_FALSE(BuildJoinRecord("", rec));
  EXPECT_FALSE(BuildJoinRecord(nullptr, rec));
  EXPECT_EQ(rec[0], 0xEE);
}

TEST(RelayRecord, HeaderThenDatagram) {
  std::vector<uint8_t> dgram(2060);
  for (size_t i = 0; i < dgram.size(); ++i) dgram[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> rec(72 + 2060, 0xEE);
  ASSERT_EQ(BuildRelayRecord("Alpha", 0x01020304, dgram.data(), dgram.size(), rec.data(), rec.size()),
            72u + 2060u);
  EXPECT_STREQ(reinterpret_cast<char*>(rec.data()), "Alpha");
  for (size_t i = 5; i < 64; ++i) EXPECT_EQ(rec[i], 0);
  const uint8_t member[] = {0x04, 0x03, 0x02, 0x01}, length[] = {0x0C, 0x08, 0x00, 0x00};
  EXPECT_EQ(memcmp(rec.data() + 64, member, 4), 0);
  EXPECT_EQ(memcmp(rec.data() + 68, length, 4), 0);  // 2060 little-endian
  EXPECT_EQ(memcmp(rec.data() + 72, dgram.data(), dgram.size()), 0);
}

TEST(RelayRecord, RefusesWhatDoesNotFit) {
  uint8_t dgram[12] = {0xF9, 0xF9, 0xF9, 0xF9};
  uint8_t rec[84];
  EXPECT_EQ(BuildRelayRecord("Alpha", 0, dgram, 12, rec, sizeof rec), 84u);
  EXPECT_EQ(BuildRelayRecord("Alpha", 0, dgram, 12, rec, sizeof rec - 1), 0u);
  EXPECT_EQ(BuildRelayRecord("", 0, dgram, 12, rec, sizeof rec), 0u);
  EXPECT_EQ(BuildRelayRecord(std::string(64, 'g').c_str(), 0, dgram, 12, rec, sizeof rec), 0u);
  EXPECT_EQ(BuildRelayRecord("Alpha", 0, nullptr, 12, rec, sizeof rec), 0u);
  EXPECT_EQ(BuildRelayRecord("Alpha", 0, nullptr, 0, rec, sizeof rec), 72u);
}

TEST(GroupName, FitsUpTo63Characters) {
  EXPECT_TRUE(GroupNameFits("a"));
  EXPECT_TRUE(GroupNameFits(std::string(63, 'a').c_str()));
  EXPECT_FALSE(GroupNameFits(std::string(64, 'a').c_str()));
  EXPECT_FALSE(GroupNameFits(""));
  EXPECT_FALSE(GroupNameFits(nullptr));
}

}  // namespace
