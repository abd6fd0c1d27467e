// The join and relay records: what the session library builds is what the group server
// parses, byte for byte, and every refusal comes with its own reason.
#include "records.h"

#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "link.h"

namespace orb {
namespace {

std::string Text(const char* p, size_t n) { return std::string(p, n); }

TEST(JoinRecord, BuildsThe92ByteLayoutAndParsesItBack) {
  uint8_t rec[kJoinRecordSize];
  memset(rec, 0xEE, sizeof rec);
  ASSERT_TRUE(BuildJoinRecord("Alpha", rec));
  EXPECT_STREQ(reinterpret_cast<char*>(rec), "Alpha");
  for (size_t i = 5; i < 68; ++i) EXPECT_EQ(rec[i], 0) << "offset " << i;  // zero + the 0 word
  EXPECT_STREQ(reinterpret_cast<char*>(rec + 68), "NoName");
  for (size_t i = 74; i < 92; ++i) EXPECT_EQ(rec[i], 0) << "offset " << i;

  JoinRecord j;
  ASSERT_EQ(ParseJoinRecord(rec, sizeof rec, &j), RecordError::kNone);
  EXPECT_EQ(Text(j.group, j.group_length), "Alpha");
  EXPECT_EQ(Text(j.player, j.player_length), "NoName");
}

// Group names as a launcher passes them: those that fit travel whole as raw bytes, the
// rest are refused before anything is written.
struct GroupCase {
  const char* label;
  std::string name;
  bool null;
  bool fits;
};

class GroupName : public ::testing::TestWithParam<GroupCase> {};

TEST_P(GroupName, FitsTheFieldTravelsWholeOrIsRefused) {
  const GroupCase& c = GetParam();
  const char* group = c.null ? nullptr : c.name.c_str();
  EXPECT_EQ(GroupNameFits(group), c.fits);
  uint8_t rec[kJoinRecordSize];
  memset(rec, 0xEE, sizeof rec);
  uint8_t link[LINK_HEADER_SIZE + 1] = {0xF9, 0xF9, 0xF9, 0xF9};
  uint8_t relay[kRelayHeaderSize + sizeof link];
  memset(relay, 0xEE, sizeof relay);
  const size_t relay_length = BuildRelayRecord(group, 0, link, sizeof link, relay, sizeof relay);
  if (!c.fits) {
    EXPECT_FALSE(BuildJoinRecord(group, rec));
    EXPECT_EQ(rec[0], 0xEE);
    EXPECT_EQ(relay_length, 0u);
    EXPECT_EQ(relay[0], 0xEE);
    return;
  }
  ASSERT_TRUE(BuildJoinRecord(group, rec));
  EXPECT_EQ(memcmp(rec, c.name.data(), c.name.size()), 0);
  EXPECT_EQ(rec[c.name.size()], 0);
  JoinRecord j;
  ASSERT_EQ(ParseJoinRecord(rec, sizeof rec, &j), RecordError::kNone);
  EXPECT_EQ(Text(j.group, j.group_length), c.name);
  ASSERT_EQ(relay_length, sizeof relay);
  RelayRecord r;
  ASSERT_EQ(ParseRelayRecord(relay, relay_length, &r), RecordError::kNone);
  EXPECT_EQ(Text(r.group, r.group_length), c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Records, GroupName,
    ::testing::Values(GroupCase{"one", "a", false, true},
                      GroupCase{"sixty_three", std::string(63, 'g'), false, true},
                      GroupCase{"raw_utf8", "caf\xC3\xA9", false, true},
                      GroupCase{"sixty_four", std::string(64, 'g'), false, false},
                      GroupCase{"empty", "", false, false},
                      GroupCase{"null", "", true, false}),
    [](const ::testing::TestParamInfo<GroupCase>& i) { return std::string(i.param.label); });

TEST(JoinRecord, PlayerFieldIsReadRawAndNeverBeyondItsField) {
  uint8_t rec[kJoinRecordSize];
  ASSERT_TRUE(BuildJoinRecord("lobby", rec));
  const char odd[] = "a\nb\x1b[2J";  // the server makes it printable for its log
  memcpy(rec + 68, odd, sizeof odd);
  JoinRecord j;
  ASSERT_EQ(ParseJoinRecord(rec, sizeof rec, &j), RecordError::kNone);
  EXPECT_EQ(Text(j.player, j.player_length), odd);
  // A player field without its zero is cut at the field, not read beyond it.
  memset(rec + 68, 'x', kPlayerField);
  ASSERT_EQ(ParseJoinRecord(rec, sizeof rec, &j), RecordError::kNone);
  EXPECT_EQ(Text(j.player, j.player_length), std::string(kPlayerField, 'x'));
}

// The name a launcher gives travels in the player field, or the record is not built.
TEST(JoinRecord, PlayerNameTravelsOrIsRefused) {
  const struct {
    std::string name;
    bool fits;
  } cases[] = {{"alice", true}, {std::string(23, 'n'), true}, {"J\xFCrgen", true},
               {std::string(24, 'n'), false}, {"", false}, {"tab\there", false},
               {"del\x7F", false}};
  for (const auto& c : cases) {
    uint8_t rec[kJoinRecordSize];
    memset(rec, 0xEE, sizeof rec);
    EXPECT_EQ(PlayerNameFits(c.name.c_str()), c.fits) << c.name;
    ASSERT_EQ(BuildJoinRecord("lobby", rec, c.name.c_str()), c.fits) << c.name;
    if (!c.fits) {
      EXPECT_EQ(rec[0], 0xEE) << "nothing written";
      continue;
    }
    JoinRecord j;
    ASSERT_EQ(ParseJoinRecord(rec, sizeof rec, &j), RecordError::kNone);
    EXPECT_EQ(Text(j.player, j.player_length), c.name);
  }
  EXPECT_FALSE(PlayerNameFits(nullptr));
}

TEST(RelayRecord, BuildsHeaderThenDatagramAndParsesItBack) {
  std::vector<uint8_t> dgram(LINK_DATAGRAM_MAX);
  for (size_t i = 0; i < dgram.size(); ++i) dgram[i] = static_cast<uint8_t>(i * 7);
  LinkWrap(dgram.data(), dgram.size(), 300, 0x0100007F, nullptr, 0);  // a link header in front
  std::vector<uint8_t> rec(72 + 2060, 0xEE);
  ASSERT_EQ(
      BuildRelayRecord("Alpha", 0x01020304, dgram.data(), dgram.size(), rec.data(), rec.size()),
      72u + 2060u);
  EXPECT_STREQ(reinterpret_cast<char*>(rec.data()), "Alpha");
  for (size_t i = 5; i < 64; ++i) EXPECT_EQ(rec[i], 0);
  const uint8_t member[] = {0x04, 0x03, 0x02, 0x01}, length[] = {0x0C, 0x08, 0x00, 0x00};
  EXPECT_EQ(memcmp(rec.data() + 64, member, 4), 0);
  EXPECT_EQ(memcmp(rec.data() + 68, length, 4), 0);  // 2060 little-endian
  EXPECT_EQ(memcmp(rec.data() + 72, dgram.data(), dgram.size()), 0);

  RelayRecord r;
  ASSERT_EQ(ParseRelayRecord(rec.data(), rec.size(), &r), RecordError::kNone);
  EXPECT_EQ(Text(r.group, r.group_length), "Alpha");
  EXPECT_EQ(r.member, 0x01020304u);
  EXPECT_EQ(r.link, rec.data() + 72);  // points into the record, nothing copied
  EXPECT_EQ(r.link_length, 2060u);
}

TEST(RelayRecord, RefusesToBuildWhatDoesNotFit) {
  uint8_t dgram[12] = {0xF9, 0xF9, 0xF9, 0xF9};
  uint8_t rec[84];
  EXPECT_EQ(BuildRelayRecord("Alpha", 0, dgram, 12, rec, sizeof rec), 84u);
  EXPECT_EQ(BuildRelayRecord("Alpha", 0, dgram, 12, rec, sizeof rec - 1), 0u);
  EXPECT_EQ(BuildRelayRecord("Alpha", 0, nullptr, 12, rec, sizeof rec), 0u);
  EXPECT_EQ(BuildRelayRecord("Alpha", 0, nullptr, 0, rec, sizeof rec), 72u);
}

// A record as the session library builds it (a join for "lobby", or a relay for "g" around
// a link datagram of n bytes: the magic, then patterned bytes), changed by `mutate` as it
// arrives, and the parser's verdict on it.
struct Arrival {
  const char* label;
  bool relay;
  size_t n;
  std::function<void(std::vector<uint8_t>& bytes, size_t& length, bool& null)> mutate;
  RecordError expected;
};

void AsBuilt(std::vector<uint8_t>&, size_t&, bool&) {}
void NoData(std::vector<uint8_t>&, size_t&, bool& null) { null = true; }
void EmptyGroup(std::vector<uint8_t>& b, size_t&, bool&) { b[0] = 0; }
void UnterminatedGroup(std::vector<uint8_t>& b, size_t&, bool&) {
  memset(b.data(), 'x', kGroupField);
}

class RecordArrival : public ::testing::TestWithParam<Arrival> {};

TEST_P(RecordArrival, IsAcceptedOrRefusedForItsReason) {
  const Arrival& a = GetParam();
  std::vector<uint8_t> rec;
  size_t length;
  if (a.relay) {
    std::vector<uint8_t> link(a.n);
    for (size_t i = 0; i < a.n; ++i) link[i] = i < 4 ? 0xF9 : static_cast<uint8_t>(i);
    rec.assign(kRelayHeaderSize + a.n + 1, 0);
    length = BuildRelayRecord("g", 0, link.data(), a.n, rec.data(), rec.size());
    ASSERT_EQ(length, kRelayHeaderSize + a.n);
  } else {
    rec.assign(kJoinRecordSize + 1, 0);
    ASSERT_TRUE(BuildJoinRecord("lobby", rec.data()));
    length = kJoinRecordSize;
  }
  bool null = false;
  a.mutate(rec, length, null);
  const uint8_t* data = null ? nullptr : rec.data();
  JoinRecord j;
  RelayRecord r;
  EXPECT_EQ(a.relay ? ParseRelayRecord(data, length, &r) : ParseJoinRecord(data, length, &j),
            a.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordArrival,
    ::testing::Values(
        Arrival{"join_as_built", false, 0, AsBuilt, RecordError::kNone},
        Arrival{"join_one_short", false, 0, [](std::vector<uint8_t>&, size_t& l, bool&) { l = 91; },
                RecordError::kJoinSize},
        Arrival{"join_one_over", false, 0, [](std::vector<uint8_t>&, size_t& l, bool&) { l = 93; },
                RecordError::kJoinSize},
        Arrival{"join_null", false, 0, NoData, RecordError::kJoinSize},
        Arrival{"join_empty_group", false, 0, EmptyGroup, RecordError::kJoinGroup},
        Arrival{"join_unterminated_group", false, 0, UnterminatedGroup, RecordError::kJoinGroup},
        Arrival{"relay_shortest", true, 13, AsBuilt, RecordError::kNone},
        Arrival{"relay_longest", true, 2060, AsBuilt, RecordError::kNone},
        Arrival{"relay_null", true, 20, NoData, RecordError::kRelayHeader},
        Arrival{"relay_short_header", true, 20,
                [](std::vector<uint8_t>&, size_t& l, bool&) { l = 71; }, RecordError::kRelayHeader},
        Arrival{"relay_oversized", true, 2061, AsBuilt, RecordError::kRelayOversized},
        Arrival{"relay_one_byte_missing", true, 40,
                [](std::vector<uint8_t>&, size_t& l, bool&) { --l; }, RecordError::kRelayLength},
        Arrival{"relay_one_byte_extra", true, 40,
                [](std::vector<uint8_t>&, size_t& l, bool&) { ++l; }, RecordError::kRelayLength},
        // A huge count must not be trusted for any read.
        Arrival{"relay_huge_count", true, 40,
                [](std::vector<uint8_t>& b, size_t&, bool&) { b[71] = 0x80; },
                RecordError::kRelayLength},
        Arrival{"relay_header_only", true, 12, AsBuilt, RecordError::kRelayTooShort},
        Arrival{"relay_empty_group", true, 30, EmptyGroup, RecordError::kRelayGroup},
        Arrival{"relay_unterminated_group", true, 30, UnterminatedGroup, RecordError::kRelayGroup},
        Arrival{"relay_bad_magic", true, 30,
                [](std::vector<uint8_t>& b, size_t&, bool&) { b[75] = 0xF8; },
                RecordError::kRelayMagic}),
    [](const ::testing::TestParamInfo<Arrival>& i) { return std::string(i.param.label); });

}  // namespace
}  // namespace orb
