// What orblaunch tells the player about the group, in words: who is in it with their
// round-trip times, who joins and leaves, how group names are matched, being alone, and
// why the server refused a join. Plain functions over what the session library reports.
#ifndef ORBLAUNCH_MEMBER_VIEW_H
#define ORBLAUNCH_MEMBER_VIEW_H

#include <string>
#include <vector>

#include "session_library.h"

namespace orblaunch {

// "in group 'Red' (3 of 8 players): alice (you, 12 ms), bob (40 ms), carol": each
// member with the round trip between that player and the server, when known. When the
// server listed fewer than it has, "and N more". capacity 0: unknown, left out.
std::string MembersLine(const std::string& group, const std::vector<GroupMember>& members,
                        int total, int capacity);

// "bob joined the group" / "bob left the group (timed out)".
std::string NoticeLine(const GroupNotice& notice);

// When the server spells the group otherwise than the player typed it (names match
// without regard to the case of A to Z or to surrounding spaces): a line saying so.
// "" when the spellings agree.
std::string GroupNameNote(const std::string& typed, const std::string& server_group);

// For a player alone in the group: who must do what to play with them.
std::string AloneLine(const std::string& group, const std::string& server);

// Why the server refused the join, in one line naming the group.
std::string RefusalLine(const SessionStatus& status, const std::string& typed_group,
                        const std::string& server);

}  // namespace orblaunch

#endif
