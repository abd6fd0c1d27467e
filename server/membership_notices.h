// What the group server tells members about their group (membership.h): the answer to
// each join record, who joins and who leaves, and every member's round-trip time.
//
// A member hears of the group only once its connection is proven (it acknowledged from its
// own address what the server sent it): the list would otherwise be sent to whatever
// address a forged CONNECT named. The server applies a join, and so answers it, only once
// the connection is proven too.
#ifndef ORB_SERVER_MEMBERSHIP_NOTICES_H
#define ORB_SERVER_MEMBERSHIP_NOTICES_H

#include <stdint.h>

#include <unordered_set>

#include "membership.h"
#include "registry.h"
#include "transport.h"

namespace orb {
namespace server {

class MembershipNotices {
 public:
  // How often every member of a group is sent the list with its round-trip times.
  static constexpr uint64_t kListIntervalMs = 15000;

  MembershipNotices(Transport* transport, GroupRegistry* registry)
      : transport_(transport), registry_(registry) {}

  // Sends member its join outcome.
  void SendOutcome(const Member& member, const JoinOutcome& outcome);
  // member has just entered its group: the others are told, and member gets the whole
  // list once it is proven.
  void Joined(const Member& member);
  // member is about to leave its group (it is still in it): the others are told why.
  void Leaving(const Member& member, LeaveReason why);
  // The member is gone for good: nothing more is due to it.
  void Forget(int32_t address) { list_due_.erase(address); }

  // Once per pump pass: lists due to members that have become proven, and every
  // kListIntervalMs the list with fresh round-trip times to every proven member.
  void RunOnce(uint64_t now);

  // The entry describing member, as seen by the member with address `to`.
  MemberEntry EntryOf(const Member& member, int32_t to);

 private:
  void SendList(const Member& to);
  void SendToOthers(const Member& member, const MemberList& list);
  // The server's own verdict (GroupServer::OnProven), which also weighed the limits.
  static bool Proven(const Member& m) { return m.proven; }

  Transport* transport_;
  GroupRegistry* registry_;
  std::unordered_set<int32_t> list_due_;
  uint64_t next_lists_ms_ = 0;
};

}  // namespace server
}  // namespace orb

#endif
