#include "membership_notices.h"

#include "message_types.h"

namespace orb {
namespace server {

namespace {

void SendMessage(Transport* t, int32_t to, const std::vector<uint8_t>& bytes, uint16_t type) {
  t->Send(to, bytes.data(), static_cast<int32_t>(bytes.size()), type);
}

}  // namespace

MemberEntry MembershipNotices::EntryOf(const Member& member, int32_t to) {
  MemberEntry e;
  e.id = static_cast<uint32_t>(member.address);
  e.name = member.player;
  const int32_t rtt = transport_->RoundTripMs(member.address);
  const int32_t most = kRoundTripUnknown - 1;
  e.round_trip_ms = rtt < 0 ? static_cast<uint16_t>(kRoundTripUnknown)
                            : static_cast<uint16_t>(rtt < most ? rtt : most);
  e.flags = member.address == to ? kMemberFlagYou : 0;
  return e;
}

void MembershipNotices::SendOutcome(const Member& member, const JoinOutcome& outcome) {
  SendMessage(transport_, member.address, BuildJoinOutcome(outcome), kMsgJoinOutcome);
}

void MembershipNotices::Joined(const Member& member) {
  list_due_.insert(member.address);
  MemberList list;
  list.kind = kMemberListJoined;
  list.total = static_cast<uint16_t>(member.group->members.size());
  SendToOthers(member, list);
}

void MembershipNotices::Leaving(const Member& member, LeaveReason why) {
  list_due_.erase(member.address);
  if (member.group == nullptr) return;
  MemberList list;
  list.kind = kMemberListLeft;
  list.reason = why;
  list.total = static_cast<uint16_t>(member.group->members.size() - 1);
  SendToOthers(member, list);
}

void MembershipNotices::SendToOthers(const Member& member, const MemberList& base) {
  for (Member* other : member.group->members) {
    if (other == &member || !Proven(*other)) continue;
    MemberList list = base;
    list.entries.push_back(EntryOf(member, other->address));
    SendMessage(transport_, other->address, BuildMemberList(list), kMsgMembers);
  }
}

void MembershipNotices::SendList(const Member& to) {
  MemberList list;
  list.kind = kMemberListAll;
  list.total = static_cast<uint16_t>(to.group->members.size());
  // The receiver first, so a group larger than one message still shows it.
  list.entries.push_back(EntryOf(to, to.address));
  for (const Member* m : to.group->members) {
    if (list.entries.size() >= kMaxEntriesPerMessage) break;
    if (m != &to) list.entries.push_back(EntryOf(*m, to.address));
  }
  SendMessage(transport_, to.address, BuildMemberList(list), kMsgMembers);
}

void MembershipNotices::RunOnce(uint64_t now) {
  for (auto it = list_due_.begin(); it != list_due_.end();) {
    Member* m = registry_->Find(*it);
    if (m == nullptr || m->group == nullptr) {
      it = list_due_.erase(it);
    } else if (Proven(*m)) {
      SendList(*m);
      it = list_due_.erase(it);
    } else {
      ++it;
    }
  }
  if (now < next_lists_ms_) return;
  next_lists_ms_ = now + kListIntervalMs;
  registry_->ForEachGroup([this](Group& group) {
    for (Member* m : group.members) {
      if (Proven(*m) && list_due_.count(m->address) == 0) SendList(*m);
    }
  });
}

}  // namespace server
}  // namespace orb
