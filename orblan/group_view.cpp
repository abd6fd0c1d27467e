#include "group_view.h"

#include <algorithm>

#include "message_types.h"

using namespace orb;

namespace {

JoinState StateOf(uint8_t outcome) {
  switch (outcome) {
    case kJoinJoined: return kJoinStateJoined;
    case kJoinGroupFull: return kJoinStateGroupFull;
    case kJoinServerFull: return kJoinStateServerFull;
    default: return kJoinStateRefused;
  }
}

}  // namespace

void GroupView::Reset() {
  std::lock_guard<std::mutex> hold(lock_);
  state_ = kJoinStateNone;
  outcome_ = JoinOutcome();
  members_.clear();
  total_ = 0;
}

void GroupView::JoinSent() {
  std::lock_guard<std::mutex> hold(lock_);
  state_ = kJoinStatePending;
}

void GroupView::OnServerMessage(const uint8_t* data, size_t length, int32_t type) {
  if (type == kMsgJoinOutcome) {
    JoinOutcome o;
    if (!ParseJoinOutcome(data, length, &o)) return;
    std::lock_guard<std::mutex> hold(lock_);
    outcome_ = o;
    state_ = StateOf(o.outcome);
    if (state_ != kJoinStateJoined) {
      members_.clear();
      total_ = 0;
    } else if (total_ == 0) {
      total_ = o.members;
    }
  } else if (type == kMsgMembers) {
    MemberList list;
    if (!ParseMemberList(data, length, &list)) return;
    std::lock_guard<std::mutex> hold(lock_);
    ApplyList(list);
  }
}

void GroupView::ApplyList(const MemberList& list) {
  total_ = list.total;
  if (list.kind == kMemberListAll) {
    members_ = list.entries;
    return;
  }
  if (list.kind != kMemberListJoined && list.kind != kMemberListLeft) return;
  for (const MemberEntry& e : list.entries) {
    auto same = [&e](const MemberEntry& m) { return m.id == e.id; };
    members_.erase(std::remove_if(members_.begin(), members_.end(), same), members_.end());
    if (list.kind == kMemberListJoined && members_.size() < kMaxMembers) members_.push_back(e);
    if (notices_.size() >= kMaxNotices) notices_.pop_front();
    notices_.push_back(GroupNotice{list.kind, list.reason, e});
  }
}

JoinState GroupView::join_state() const {
  std::lock_guard<std::mutex> hold(lock_);
  return state_;
}

JoinOutcome GroupView::outcome() const {
  std::lock_guard<std::mutex> hold(lock_);
  return outcome_;
}

std::vector<MemberEntry> GroupView::members() const {
  std::lock_guard<std::mutex> hold(lock_);
  return members_;
}

size_t GroupView::total() const {
  std::lock_guard<std::mutex> hold(lock_);
  return total_;
}

bool GroupView::NextNotice(GroupNotice* out) {
  std::lock_guard<std::mutex> hold(lock_);
  if (notices_.empty()) return false;
  *out = notices_.front();
  notices_.pop_front();
  return true;
}
