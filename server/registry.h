// Who is connected and which group each member is in. A member is named by the address
// of its connection; a group by the name in its members' join records, matched as
// GroupKey (membership.h) says: without surrounding spaces, A to Z in either case. Groups
// exist while they have members. Look-ups are hashed, so the cost does not grow with the
// number of members; a group keeps its members in a small vector for the relay fan-out.
#ifndef ORB_SERVER_REGISTRY_H
#define ORB_SERVER_REGISTRY_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "member_path.h"
#include "token_bucket.h"

namespace orb {
namespace server {

struct RegistryLimits {
  size_t max_members = 1024;
  size_t max_groups = 256;
  size_t max_group_members = 32;
};

struct Group;

struct Member {
  int32_t address = 0;
  std::string peer;          // "a.b.c.d:port", for the log
  uint64_t socket_key = 0;   // the peer's IPv4 address and port in one number
  std::string player;        // printable player name from the last join
  Group* group = nullptr;    // none until a join succeeds
  bool proven = false;       // once the transport says so; a connection stays proven
  TokenBucket bucket;
  uint64_t records_in = 0;
  uint64_t accepted_ms = 0;  // when the connection was added
  bool ever_joined = false;
  // A join that arrived before the connection was proven, applied when it is (an unproven
  // connection may be a forged address and must not take a place in a group).
  std::string pending_group;
  // The log's join lines for this member: when the last was written, and how many since.
  uint64_t join_line_ms = 0;
  bool join_line_written = false;
  uint64_t join_lines_held = 0;
  MemberPath path;  // relayed unicast and path info (unicast_relay.cpp)

  Member(int32_t addr, std::string peer_text, TokenBucket b)
      : address(addr), peer(std::move(peer_text)), bucket(b) {}
};

struct Group {
  std::string name;  // as its first member wrote it, surrounding spaces removed
  std::string key;   // what names are matched by
  std::vector<Member*> members;
};

// kBadName: a name of nothing but spaces.
enum class JoinResult { kJoined, kAlreadyMember, kGroupLimit, kGroupFull, kBadName, kUnknownMember };

class GroupRegistry {
 public:
  explicit GroupRegistry(const RegistryLimits& limits) : limits_(limits) {
    if (limits_.max_group_members == 0) limits_.max_group_members = 1;
  }
  GroupRegistry(const GroupRegistry&) = delete;
  GroupRegistry& operator=(const GroupRegistry&) = delete;

  // Adds a member in no group. Returns it, or null when the address is already known or
  // the member limit is reached.
  Member* AddMember(int32_t address, std::string peer, TokenBucket bucket);

  // Removes the member (and its group, if it was the last one there). Returns false for
  // an unknown address. *left_group, when given, receives the group it was in ("" if none).
  bool RemoveMember(int32_t address, std::string* left_group = nullptr);

  // Puts the member into the named group. A member in another group leaves it first,
  // even when the new group refuses it, because it asked to leave. *left_group, when
  // given, receives the name of the group it left ("" if none).
  JoinResult Join(int32_t address, const std::string& group, std::string* left_group = nullptr);

  Member* Find(int32_t address);
  // The group that name matches, or null.
  const Group* FindGroup(const std::string& name) const;
  size_t member_count() const { return members_.size(); }
  size_t group_count() const { return groups_.size(); }
  const RegistryLimits& limits() const { return limits_; }

  template <typename F>
  void ForEachMember(F f) {
    for (auto& entry : members_) f(entry.second);
  }
  template <typename F>
  void ForEachGroup(F f) {
    for (auto& entry : groups_) f(entry.second);
  }

 private:
  void Leave(Member* member);

  RegistryLimits limits_;
  std::unordered_map<int32_t, Member> members_;
  std::unordered_map<std::string, Group> groups_;
};

}  // namespace server
}  // namespace orb

#endif
