// Fuzz target: what a group server sends a session about its group. The first input byte
// picks the message type (even: join outcome, odd: member list), the rest is the message.
// The session's group view takes each, must never fault, and keeps its promises: the
// members it holds and the notices waiting stay bounded whatever a server sends.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "group_view.h"
#include "membership.h"
#include "message_types.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static GroupView view;  // one view across inputs, as a session sees message after message
  const int32_t type = (data[0] & 1) ? kMsgMembers : kMsgJoinOutcome;
  view.OnServerMessage(data + 1, size - 1, type);
  orb::MemberList list;
  if (orb::ParseMemberList(data + 1, size - 1, &list)) {
    // Rebuilt, it reads back the same entries (the first kMaxEntriesPerMessage of them).
    const std::vector<uint8_t> again = orb::BuildMemberList(list);
    orb::MemberList back;
    Check(orb::ParseMemberList(again.data(), again.size(), &back));
    Check(back.entries.size() <= orb::kMaxEntriesPerMessage);
  }
  orb::JoinOutcome outcome;
  if (orb::ParseJoinOutcome(data + 1, size - 1, &outcome)) {
    Check(outcome.group.size() < orb::kGroupNameBytes && outcome.reason.size() < orb::kReasonBytes);
  }
  Check(view.members().size() <= GroupView::kMaxMembers);
  GroupNotice notice;
  size_t notices = 0;
  while (view.NextNotice(&notice)) ++notices;
  Check(notices <= GroupView::kMaxNotices);
  return 0;
}
