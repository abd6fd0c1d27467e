// The session's picture of its group, built from what the server sends.
#include "group_view.h"

#include <gtest/gtest.h>

#include "message_types.h"

using namespace orb;

namespace {

class GroupViewTest : public ::testing::Test {
 protected:
  void Outcome(uint8_t code, uint16_t members, const char* group = "Red") {
    const std::vector<uint8_t> b = BuildJoinOutcome({code, members, 8, group, code == kJoinJoined ? "" : "no"});
    view_.OnServerMessage(b.data(), b.size(), kMsgJoinOutcome);
  }
  void List(uint8_t kind, std::vector<MemberEntry> entries, uint16_t total, uint8_t reason = 0) {
    const std::vector<uint8_t> b = BuildMemberList({kind, reason, total, std::move(entries)});
    view_.OnServerMessage(b.data(), b.size(), kMsgMembers);
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const MemberEntry& e : view_.members()) names.push_back(e.name);
    return names;
  }
  GroupView view_;
};

TEST_F(GroupViewTest, ListsJoinsAndLeavesKeepTheMembersAndQueueNotices) {
  EXPECT_EQ(view_.join_state(), kJoinStateNone);
  view_.JoinSent();
  EXPECT_EQ(view_.join_state(), kJoinStatePending);
  Outcome(kJoinJoined, 2);
  EXPECT_EQ(view_.join_state(), kJoinStateJoined);
  EXPECT_EQ(view_.total(), 2u) << "known from the outcome before any list";
  List(kMemberListAll, {{2, "bob", 30, kMemberFlagYou}, {1, "alice", 20}}, 2);
  EXPECT_EQ(Names(), (std::vector<std::string>{"bob", "alice"}));
  GroupNotice n;
  EXPECT_FALSE(view_.NextNotice(&n)) << "a list is no news";

  List(kMemberListJoined, {{3, "carol", 20}}, 3);
  List(kMemberListLeft, {{1, "alice", 20}}, 2, kLeftTimedOut);
  List(kMemberListJoined, {{3, "carol", 55}}, 2);  // told twice: listed once
  EXPECT_EQ(Names(), (std::vector<std::string>{"bob", "carol"}));
  EXPECT_EQ(view_.members()[1].round_trip_ms, 55u);
  EXPECT_EQ(view_.total(), 2u);
  ASSERT_TRUE(view_.NextNotice(&n));
  EXPECT_EQ(n.kind, kMemberListJoined);
  EXPECT_EQ(n.member.name, "carol");
  ASSERT_TRUE(view_.NextNotice(&n));
  EXPECT_EQ(n.kind, kMemberListLeft);
  EXPECT_EQ(n.reason, kLeftTimedOut);
  EXPECT_EQ(n.member.name, "alice");
  ASSERT_TRUE(view_.NextNotice(&n));
  EXPECT_FALSE(view_.NextNotice(&n));

  // Garbage and other types change nothing.
  const uint8_t junk[5] = {9, 9, 9, 9, 9};
  view_.OnServerMessage(junk, sizeof junk, kMsgMembers);
  view_.OnServerMessage(junk, sizeof junk, kMsgJoinOutcome);
  view_.OnServerMessage(junk, sizeof junk, 8);
  EXPECT_EQ(Names(), (std::vector<std::string>{"bob", "carol"}));
  EXPECT_EQ(view_.join_state(), kJoinStateJoined);

  view_.Reset();
  EXPECT_EQ(view_.join_state(), kJoinStateNone);
  EXPECT_TRUE(view_.members().empty());
}

TEST_F(GroupViewTest, RefusalsAreToldApartAndForgetTheMembers) {
  const struct {
    uint8_t code;
    JoinState state;
  } cases[] = {{kJoinGroupFull, kJoinStateGroupFull},
               {kJoinServerFull, kJoinStateServerFull},
               {kJoinRefused, kJoinStateRefused},
               {77, kJoinStateRefused}};  // an outcome this session does not know
  for (const auto& c : cases) {
    List(kMemberListAll, {{1, "alice", 20}}, 1);
    Outcome(c.code, 8, "Full");
    EXPECT_EQ(view_.join_state(), c.state);
    EXPECT_EQ(view_.outcome().group, "Full");
    EXPECT_EQ(view_.outcome().reason, "no");
    EXPECT_TRUE(view_.members().empty());
  }
}

TEST_F(GroupViewTest, NoticesAreBoundedOldestDroppedFirst) {
  for (uint32_t i = 0; i < GroupView::kMaxNotices + 10; ++i) {
    List(kMemberListJoined, {{i, "p", 20}}, static_cast<uint16_t>(i + 1));
  }
  GroupNotice n;
  ASSERT_TRUE(view_.NextNotice(&n));
  EXPECT_EQ(n.member.id, 10u);
  size_t left = 1;
  while (view_.NextNotice(&n)) ++left;
  EXPECT_EQ(left, GroupView::kMaxNotices);
}

TEST_F(GroupViewTest, MembersAreBoundedWhateverTheServerAnnounces) {
  for (uint32_t i = 0; i < GroupView::kMaxMembers + 100; ++i) {
    List(kMemberListJoined, {{i, "p", 20}}, 1);
  }
  EXPECT_EQ(view_.members().size(), GroupView::kMaxMembers);
}

}  // namespace
