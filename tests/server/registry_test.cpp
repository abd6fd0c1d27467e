#include "registry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace orb {
namespace server {
namespace {

TokenBucket Bucket() { return TokenBucket(0, 1, 0); }

std::vector<int32_t> MembersOf(const GroupRegistry& r, const std::string& name) {
  std::vector<int32_t> out;
  const Group* g = r.FindGroup(name);
  if (g == nullptr) return out;
  for (const Member* m : g->members) out.push_back(m->address);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Registry, JoinRejoinAndLeave) {
  GroupRegistry r(RegistryLimits{});
  ASSERT_NE(r.AddMember(1, "a", Bucket()), nullptr);
  ASSERT_NE(r.AddMember(2, "b", Bucket()), nullptr);
  EXPECT_EQ(r.Join(1, "red"), JoinResult::kJoined);
  EXPECT_EQ(r.Join(2, "red"), JoinResult::kJoined);
  EXPECT_EQ(r.Join(2, "red"), JoinResult::kAlreadyMember);
  EXPECT_EQ(MembersOf(r, "red"), (std::vector<int32_t>{1, 2}));

  std::string left;
  EXPECT_EQ(r.Join(2, "blue", &left), JoinResult::kJoined);
  EXPECT_EQ(left, "red");
  EXPECT_EQ(MembersOf(r, "red"), (std::vector<int32_t>{1}));
  EXPECT_EQ(MembersOf(r, "blue"), (std::vector<int32_t>{2}));
  EXPECT_EQ(r.group_count(), 2u);

  EXPECT_TRUE(r.RemoveMember(1, &left));
  EXPECT_EQ(left, "red");
  EXPECT_EQ(r.FindGroup("red"), nullptr);  // emptied groups go away
  EXPECT_EQ(r.group_count(), 1u);
  EXPECT_FALSE(r.RemoveMember(1));
  EXPECT_EQ(r.Find(1), nullptr);
  EXPECT_EQ(r.Join(1, "red"), JoinResult::kUnknownMember);
  EXPECT_EQ(r.member_count(), 1u);
}

TEST(Registry, MemberLimitAndDuplicateAddresses) {
  RegistryLimits limits;
  limits.max_members = 2;
  GroupRegistry r(limits);
  EXPECT_NE(r.AddMember(1, "a", Bucket()), nullptr);
  EXPECT_EQ(r.AddMember(1, "a", Bucket()), nullptr);
  EXPECT_NE(r.AddMember(2, "b", Bucket()), nullptr);
  EXPECT_EQ(r.AddMember(3, "c", Bucket()), nullptr);
  r.RemoveMember(1);
  EXPECT_NE(r.AddMember(3, "c", Bucket()), nullptr);
}

TEST(Registry, GroupLimitCountsGroupsThatStillHaveMembers) {
  RegistryLimits limits;
  limits.max_groups = 2;
  GroupRegistry r(limits);
  for (int32_t a = 1; a <= 3; ++a) r.AddMember(a, "x", Bucket());
  EXPECT_EQ(r.Join(1, "one"), JoinResult::kJoined);
  EXPECT_EQ(r.Join(2, "two"), JoinResult::kJoined);
  EXPECT_EQ(r.Join(3, "three"), JoinResult::kGroupLimit);
  EXPECT_EQ(r.Join(3, "two"), JoinResult::kJoined);  // existing groups still open
  // The sole member of a group may move it to a new name: leaving frees the slot first.
  EXPECT_EQ(r.Join(1, "three"), JoinResult::kJoined);
  EXPECT_EQ(r.group_count(), 2u);
}

TEST(Registry, FullGroupRefusesAndTheRefusedMemberHasLeftItsOldGroup) {
  RegistryLimits limits;
  limits.max_group_members = 2;
  GroupRegistry r(limits);
  for (int32_t a = 1; a <= 3; ++a) r.AddMember(a, "x", Bucket());
  r.Join(1, "full");
  r.Join(2, "full");
  r.Join(3, "old");
  std::string left;
  EXPECT_EQ(r.Join(3, "full", &left), JoinResult::kGroupFull);
  EXPECT_EQ(left, "old");
  EXPECT_EQ(r.Find(3)->group, nullptr);
  EXPECT_EQ(r.FindGroup("old"), nullptr);
  EXPECT_EQ(MembersOf(r, "full"), (std::vector<int32_t>{1, 2}));
}

TEST(Registry, ManyMembersMoveWithoutLosingAnyone) {
  GroupRegistry r(RegistryLimits{2000, 200, 20});
  for (int32_t a = 1; a <= 1000; ++a) {
    r.AddMember(a, "x", Bucket());
    ASSERT_EQ(r.Join(a, "g" + std::to_string(a % 100)), JoinResult::kJoined);
  }
  for (int32_t a = 1; a <= 1000; a += 2) {
    ASSERT_EQ(r.Join(a, "g" + std::to_string((a + 1) % 100)), JoinResult::kJoined);
  }
  size_t total = 0;
  for (int g = 0; g < 100; ++g) {
    const Group* group = r.FindGroup("g" + std::to_string(g));
    if (group == nullptr) continue;
    for (const Member* m : group->members) EXPECT_EQ(m->group, group);
    total += group->members.size();
  }
  EXPECT_EQ(total, 1000u);
  EXPECT_EQ(r.group_count(), 50u);  // every odd-numbered group was emptied
}

}  // namespace
}  // namespace server
}  // namespace orb
