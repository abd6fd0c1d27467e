// The membership messages round trip byte for byte, readers survive what older and newer
// writers send, and group names match as the server promises.
#include "membership.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include <string.h>

using namespace orb;

namespace {

TEST(JoinOutcomeFormat, RoundTripAndLayout) {
  JoinOutcome o{kJoinGroupFull, 0x0102, 32, "Red Team", "group 'Red Team' is full (32 of 32 players)"};
  const std::vector<uint8_t> bytes = BuildJoinOutcome(o);
  ASSERT_EQ(bytes.size(), kJoinOutcomeSize);
  EXPECT_EQ(bytes[0], kJoinGroupFull);
  EXPECT_EQ(bytes[2], 0x02);  // little-endian
  EXPECT_EQ(bytes[3], 0x01);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[8])), "Red Team");
  EXPECT_EQ(bytes[8 + 63], 0);
  JoinOutcome back;
  ASSERT_TRUE(ParseJoinOutcome(bytes.data(), bytes.size(), &back));
  EXPECT_EQ(std::tie(back.outcome, back.members, back.capacity, back.group, back.reason),
            std::tie(o.outcome, o.members, o.capacity, o.group, o.reason));

  // Too long texts are cut to their fields; a longer message (a newer writer) still reads;
  // a shorter one does not.
  o.group = std::string(100, 'g');
  o.reason = std::string(100, 'r');
  std::vector<uint8_t> longer = BuildJoinOutcome(o);
  longer.resize(kJoinOutcomeSize + 40, 0xEE);
  ASSERT_TRUE(ParseJoinOutcome(longer.data(), longer.size(), &back));
  EXPECT_EQ(back.group, std::string(63, 'g'));
  EXPECT_EQ(back.reason, std::string(63, 'r'));
  // A writer that fills a field to its last byte leaves no terminator: read as cut.
  std::fill(longer.begin() + 8, longer.begin() + 8 + 128, 'x');
  ASSERT_TRUE(ParseJoinOutcome(longer.data(), longer.size(), &back));
  EXPECT_EQ(back.group, std::string(63, 'x'));
  EXPECT_EQ(back.reason, std::string(63, 'x'));
  EXPECT_FALSE(ParseJoinOutcome(longer.data(), kJoinOutcomeSize - 1, &back));
  EXPECT_FALSE(ParseJoinOutcome(nullptr, kJoinOutcomeSize, &back));
}

TEST(MemberListFormat, RoundTripOfEveryKind) {
  for (uint8_t kind : {kMemberListAll, kMemberListJoined, kMemberListLeft}) {
    const MemberList list{kind, static_cast<uint8_t>(kind == kMemberListLeft ? kLeftTimedOut : kLeftUnknown), 3,
                          {{7, "alice", 23, kMemberFlagYou}, {0x01020304, "bob", kRoundTripUnknown, 0},
                           {9, std::string(30, 'n'), 65534, 0x80}}};
    const std::vector<uint8_t> bytes = BuildMemberList(list);
    ASSERT_EQ(bytes.size(), kMemberListHeaderSize + 3 * kMemberEntrySize);
    EXPECT_EQ(bytes[2], kMemberEntrySize);
    EXPECT_EQ(bytes[kMemberListHeaderSize + kMemberEntrySize], 0x04) << "id little-endian";
    MemberList back;
    ASSERT_TRUE(ParseMemberList(bytes.data(), bytes.size(), &back));
    EXPECT_EQ(back.kind, kind);
    EXPECT_EQ(back.reason, list.reason);
    EXPECT_EQ(back.total, 3u);
    ASSERT_EQ(back.entries.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      const MemberEntry &got = back.entries[i], &sent = list.entries[i];
      EXPECT_EQ(std::tie(got.id, got.round_trip_ms, got.flags), std::tie(sent.id, sent.round_trip_ms, sent.flags)) << i;
    }
    EXPECT_EQ(back.entries[0].name, "alice");
    EXPECT_EQ(back.entries[2].name, std::string(23, 'n'));
  }
}

TEST(MemberListFormat, LargeGroupsAreCutAndTheTotalStillTold) {
  MemberList list;
  list.total = 100;
  for (uint32_t i = 0; i < 100; ++i) list.entries.push_back({i, "p", 1, 0});
  const std::vector<uint8_t> bytes = BuildMemberList(list);
  MemberList back;
  ASSERT_TRUE(ParseMemberList(bytes.data(), bytes.size(), &back));
  EXPECT_EQ(back.entries.size(), static_cast<size_t>(kMaxEntriesPerMessage));
  EXPECT_EQ(back.total, 100u);
}

// A newer writer with larger entries is read by this reader; broken lists are refused.
TEST(MemberListFormat, WiderEntriesReadAndBrokenListsRefused) {
  const size_t wide = kMemberEntrySize + 8;
  std::vector<uint8_t> bytes(kMemberListHeaderSize + 2 * wide, 0);
  bytes[0] = kMemberListJoined;
  bytes[2] = static_cast<uint8_t>(wide);
  bytes[4] = 2;
  bytes[6] = 5;
  for (int i = 0; i < 2; ++i) {
    uint8_t* e = &bytes[kMemberListHeaderSize + i * wide];
    e[0] = static_cast<uint8_t>(10 + i);
    memcpy(e + 4, i == 0 ? "carol" : "dave", 5);
    e[28] = 40;
    e[30] = 0x06;                 // bits this reader does not know are passed on as they are
    memset(e + 32, 0xAB, 8);      // fields this reader does not know
  }
  MemberList back;
  ASSERT_TRUE(ParseMemberList(bytes.data(), bytes.size(), &back));
  ASSERT_EQ(back.entries.size(), 2u);
  EXPECT_EQ(back.entries[1].id, 11u);
  EXPECT_EQ(back.entries[1].name, "dave");
  EXPECT_EQ(back.entries[1].round_trip_ms, 40u);
  EXPECT_EQ(back.total, 5u);

  std::vector<uint8_t> narrow = bytes;
  narrow[2] = kMemberEntrySize - 1;
  EXPECT_FALSE(ParseMemberList(narrow.data(), narrow.size(), &back));
  EXPECT_FALSE(ParseMemberList(bytes.data(), bytes.size() - 1, &back)) << "an entry cut short";
  EXPECT_FALSE(ParseMemberList(bytes.data(), kMemberListHeaderSize - 1, &back));
  std::vector<uint8_t> huge_count = bytes;
  huge_count[4] = 0xFF;
  huge_count[5] = 0xFF;
  EXPECT_FALSE(ParseMemberList(huge_count.data(), huge_count.size(), &back));
  EXPECT_EQ(back.entries.size(), 2u) << "a refused list leaves the output alone";
}

struct NameCase {
  const char* a;
  const char* b;
  bool same;
};

class GroupNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(GroupNames, MatchIgnoringCaseAndSurroundingSpaces) {
  const NameCase& c = GetParam();
  const std::string a = c.a, b = c.b;
  EXPECT_EQ(SameGroup(a.data(), a.size(), b.data(), b.size()), c.same) << a << "|" << b;
  EXPECT_EQ(GroupKey(a.data(), a.size()) == GroupKey(b.data(), b.size()), c.same);
}

INSTANTIATE_TEST_SUITE_P(
    Membership, GroupNames,
    ::testing::Values(NameCase{"Red", "red", true}, NameCase{"red ", " RED", true},
                      NameCase{"\tred\t", "red", true}, NameCase{"red team", "Red Team", true},
                      NameCase{"red team", "redteam", false}, NameCase{"red  team", "red team", false},
                      NameCase{"red", "red2", false}, NameCase{"\xC4pfel", "\xE4pfel", false},
                      NameCase{"   ", "", true}, NameCase{"a", "", false}));

TEST(GroupNames, TrimKeepsTheCaseAndTheInside) {
  EXPECT_EQ(TrimGroupName("  Red  Team \t", 13), "Red  Team");
  EXPECT_EQ(GroupKey("  Red  Team \t", 13), "red  team");
  EXPECT_EQ(TrimGroupName("   ", 3), "");
  EXPECT_EQ(TrimGroupName(nullptr, 5), "");
}

}  // namespace
