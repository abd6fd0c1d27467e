// What the session library knows about its group, from the server's join outcome (type 16)
// and member lists (type 17): whether the join was taken, who is in the group with their
// round-trip times, and the joins and leaves a launcher has not yet shown. A server that
// sends neither leaves it at "join sent" with nobody known, as before these messages.
//
// Fed on the pump's thread, read by the exports; a lock keeps a launcher that reads from
// another thread safe.
#ifndef ORB_SESSION_GROUP_VIEW_H
#define ORB_SESSION_GROUP_VIEW_H

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "membership.h"

enum JoinState : int {
  kJoinStateNone = 0,     // no join record sent on this connection
  kJoinStatePending = 1,  // sent, not answered
  kJoinStateJoined = 2,
  kJoinStateGroupFull = 3,
  kJoinStateServerFull = 4,
  kJoinStateRefused = 5,
};

struct GroupNotice {
  uint8_t kind;    // orb::kMemberListJoined or orb::kMemberListLeft
  uint8_t reason;  // LeaveReason, for a leave
  orb::MemberEntry member;
};

class GroupView {
 public:
  static constexpr size_t kMaxNotices = 64;
  // Members kept at most: a server that announces joins without end cannot make the
  // session hold them all (a real group is far smaller).
  static constexpr size_t kMaxMembers = 1024;

  // A new connection: nothing known, nothing sent.
  void Reset();
  // The join record has been queued.
  void JoinSent();
  // A message from the server connection of type `type`. Types other than the join
  // outcome and the member list, and messages that do not parse, change nothing.
  void OnServerMessage(const uint8_t* data, size_t length, int32_t type);

  JoinState join_state() const;
  // The latest outcome (valid once join_state() is past kJoinStatePending).
  orb::JoinOutcome outcome() const;
  // The members as the server last told them, in its order; total() may be larger when
  // the group did not fit one list.
  std::vector<orb::MemberEntry> members() const;
  size_t total() const;
  // Takes the oldest notice. false when none waits. When more than kMaxNotices pile up,
  // the oldest are dropped.
  bool NextNotice(GroupNotice* out);

 private:
  void ApplyList(const orb::MemberList& list);

  mutable std::mutex lock_;
  JoinState state_ = kJoinStateNone;
  orb::JoinOutcome outcome_;
  std::vector<orb::MemberEntry> members_;
  size_t total_ = 0;
  std::deque<GroupNotice> notices_;
};

#endif
