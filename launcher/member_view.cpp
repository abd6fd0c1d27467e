#include "member_view.h"

#include <string>

namespace orblaunch {
namespace {

std::string Quote(const std::string& text) { return "'" + text + "'"; }

std::string Players(int n) { return std::to_string(n) + (n == 1 ? " player" : " players"); }

const char* LeaveReasonText(int reason) {
  switch (reason) {
    case 1: return "";  // its session ended: nothing to add
    case 2: return " (stopped answering)";
    case 3: return " (connection closed)";
    case 4: return " (connection lost; rejoining)";
    case 5: return " (moved to another group)";
    default: return "";
  }
}

}  // namespace

std::string MembersLine(const std::string& group, const std::vector<GroupMember>& members,
                        int total, int capacity) {
  std::string line = "in group " + Quote(group) + " (";
  line += capacity > 0 ? std::to_string(total) + " of " + Players(capacity)
                       : Players(total);
  line += "):";
  const char* sep = " ";
  for (const GroupMember& m : members) {
    line += sep + m.name;
    std::string detail;
    if (m.you) detail = "you";
    if (m.round_trip_ms >= 0) {
      detail += (detail.empty() ? "" : ", ") + std::to_string(m.round_trip_ms) + " ms";
    }
    if (!detail.empty()) line += " (" + detail + ")";
    sep = ", ";
  }
  const int unlisted = total - static_cast<int>(members.size());
  if (unlisted > 0) line += std::string(members.empty() ? " " : " and ") + std::to_string(unlisted) + " more";
  return line;
}

std::string NoticeLine(const GroupNotice& n) {
  if (n.joined) return n.member.name + " joined the group";
  return n.member.name + " left the group" + LeaveReasonText(n.reason);
}

std::string GroupNameNote(const std::string& typed, const std::string& server_group) {
  if (server_group.empty() || typed == server_group) return "";
  return "group names ignore the case of letters and spaces around them: " + Quote(typed) +
         " is group " + Quote(server_group);
}

std::string AloneLine(const std::string& group, const std::string& server) {
  return "you are alone in group " + Quote(group) + " so far; the others join it with "
         "--server " + server + " and the same --group (group names ignore the case of "
         "letters and spaces around them)";
}

std::string RefusalLine(const SessionStatus& st, const std::string& typed_group,
                        const std::string& server) {
  const std::string group = st.group.empty() ? typed_group : st.group;
  std::string line = "cannot join group " + Quote(group) + " on " + server + ": ";
  switch (st.join) {
    case JoinAnswer::kGroupFull:
      line += "the group is full";
      if (st.capacity > 0) line += " (" + std::to_string(st.members) + " of " + Players(st.capacity) + ")";
      return line + "; try again when someone leaves, or pick another group";
    case JoinAnswer::kServerFull:
      return line + "the server is full" + (st.reason.empty() ? "" : " (" + st.reason + ")") +
             "; try again later";
    default:
      return line + "refused" + (st.reason.empty() ? "" : ": " + st.reason);
  }
}

}  // namespace orblaunch
