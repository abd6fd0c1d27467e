#include "registry.h"

#include <algorithm>

#include "membership.h"

namespace orb {
namespace server {

Member* GroupRegistry::AddMember(int32_t address, std::string peer, TokenBucket bucket) {
  if (members_.size() >= limits_.max_members || members_.count(address) != 0) return nullptr;
  auto result = members_.emplace(std::piecewise_construct, std::forward_as_tuple(address),
                                 std::forward_as_tuple(address, std::move(peer), bucket));
  return &result.first->second;
}

bool GroupRegistry::RemoveMember(int32_t address, std::string* left_group) {
  auto it = members_.find(address);
  if (it == members_.end()) return false;
  if (left_group) *left_group = it->second.group ? it->second.group->name : std::string();
  Leave(&it->second);
  members_.erase(it);
  return true;
}

void GroupRegistry::Leave(Member* member) {
  Group* group = member->group;
  if (group == nullptr) return;
  member->group = nullptr;
  auto& list = group->members;
  auto pos = std::find(list.begin(), list.end(), member);
  if (pos != list.end()) {
    *pos = list.back();  // order within a group does not matter
    list.pop_back();
  }
  if (list.empty()) groups_.erase(group->key);
}

JoinResult GroupRegistry::Join(int32_t address, const std::string& name,
                               std::string* left_group) {
  if (left_group) left_group->clear();
  Member* member = Find(address);
  if (member == nullptr) return JoinResult::kUnknownMember;
  const std::string key = GroupKey(name.data(), name.size());
  if (member->group != nullptr) {
    if (member->group->key == key) return JoinResult::kAlreadyMember;
    if (left_group) *left_group = member->group->name;
    Leave(member);
  }
  if (key.empty()) return JoinResult::kBadName;
  auto it = groups_.find(key);
  if (it == groups_.end()) {
    if (groups_.size() >= limits_.max_groups) return JoinResult::kGroupLimit;
    it = groups_.emplace(key, Group{TrimGroupName(name.data(), name.size()), key, {}}).first;
  }
  Group& group = it->second;
  if (group.members.size() >= limits_.max_group_members) {
    // An empty group is never left behind: this branch only runs for existing groups,
    // since a new group has no members and max_group_members is at least 1.
    return JoinResult::kGroupFull;
  }
  group.members.push_back(member);
  member->group = &group;
  return JoinResult::kJoined;
}

Member* GroupRegistry::Find(int32_t address) {
  auto it = members_.find(address);
  return it == members_.end() ? nullptr : &it->second;
}

const Group* GroupRegistry::FindGroup(const std::string& name) const {
  auto it = groups_.find(GroupKey(name.data(), name.size()));
  return it == groups_.end() ? nullptr : &it->second;
}

}  // namespace server
}  // namespace orb
