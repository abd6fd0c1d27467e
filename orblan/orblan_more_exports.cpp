// orblan.dll's added exports (orblan.h): the player's name, where the trace goes, what
// the server says about the group, and connecting again. Like the first three, they run
// on the launcher's thread and never let anything unwind into the launcher.
#include <string.h>

#include "orblan.h"
#include "session_module.h"
#include "trace_sink.h"

using namespace orb;

namespace {

// Copies text into a field of size bytes, cut to fit with its terminating zero.
void CopyText(char* field, size_t size, const std::string& text) {
  const size_t n = text.size() < size - 1 ? text.size() : size - 1;
  memcpy(field, text.data(), n);
  field[n] = '\0';
}

void ToMember(const MemberEntry& e, OrbLanMember* out) {
  out->id = e.id;
  CopyText(out->name, sizeof out->name, e.name);
  out->round_trip_ms = e.round_trip_ms == kRoundTripUnknown ? -1 : e.round_trip_ms;
  out->flags = e.flags;
}

int LinkOf(SessionState& s, SessionLink& x) {
  if (x.link_taken.load()) return ORBLAN_LINK_PORT_TAKEN;
  return s.relay_bound.load() ? ORBLAN_LINK_LISTENING : ORBLAN_LINK_NONE;
}

}  // namespace

extern "C" int ORBLAN_CALL OrbLanSetPlayerName(const char* name) {
  return SetPlayerName(TheLink(), name) ? 1 : 0;
}

extern "C" int ORBLAN_CALL OrbLanSetTraceFile(const char* path) {
  return SetSessionTrace(path) ? 1 : 0;
}

extern "C" int ORBLAN_CALL OrbLanGetStatus(OrbLanStatus* status) {
  if (status == nullptr || status->size < sizeof(OrbLanStatus)) return 0;
  try {
    SessionState& s = TheSession();
    SessionLink& x = TheLink();
    const unsigned int size = status->size;
    memset(status, 0, sizeof *status);
    status->size = size;
    status->state = s.phase.load();
    status->join = x.group.join_state();
    status->link = LinkOf(s, x);
    status->refused = x.probe.refused() ? 1 : 0;
    const int32_t server = s.server_connection.load();
    status->round_trip_ms = server != 0 ? TheTransport().RoundTripMs(server) : -1;
    const JoinOutcome outcome = x.group.outcome();
    status->members = static_cast<int>(x.group.total());
    status->capacity = outcome.capacity;
    CopyText(status->group, sizeof status->group, outcome.group);
    CopyText(status->reason, sizeof status->reason, outcome.reason);
    return 1;
  } catch (...) {
    return 0;
  }
}

extern "C" int ORBLAN_CALL OrbLanGetMembers(OrbLanMember* out, int max) {
  try {
    const std::vector<MemberEntry> members = TheLink().group.members();
    for (int i = 0; out != nullptr && i < max && i < static_cast<int>(members.size()); ++i) {
      ToMember(members[i], &out[i]);
    }
    return static_cast<int>(members.size());
  } catch (...) {
    return 0;
  }
}

extern "C" int ORBLAN_CALL OrbLanNextNotice(OrbLanNotice* out) {
  if (out == nullptr) return 0;
  GroupNotice n;
  if (!TheLink().group.NextNotice(&n)) return 0;
  out->kind = n.kind == kMemberListJoined ? ORBLAN_NOTICE_JOINED : ORBLAN_NOTICE_LEFT;
  out->reason = n.reason;
  ToMember(n.member, &out->member);
  return 1;
}

extern "C" int ORBLAN_CALL OrbLanReconnect(void) {
  try {
    return Reconnect(TheSession(), TheLink(), TheTransport(), TheServerCallbacks()) != 0 ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
