// Group membership between a session library and the group server: the leave message
// (member to server), the join outcome and the member list (server to member), the member
// entry they share, and the rule by which the server matches group names. A session
// library that knows only the relayed broadcast ignores the server's two messages; a
// server that knows only join and relay records ignores the leave.
//
// Every integer is little-endian; texts are zero-terminated in fixed fields, and bytes
// behind the terminating zero are written as zeros and never read. Each message may grow
// at its end: a reader takes the fields it knows and ignores what follows them.
//
// Leave, kMsgLeave (10), member to server: no payload (a longer one is ignored). The
// session ends; the server takes the member out of its group at once.
//
// Join outcome, kMsgJoinOutcome (16), server to member, the answer to each join record:
//   0   1  outcome (JoinOutcomeCode)
//   1   1  reserved, 0
//   2   2  members in the group now (after a join: the joiner included)
//   4   2  most members the group may hold
//   6   2  reserved, 0
//   8  64  the group's name as the server holds it (surrounding spaces removed; the case
//          of the member that opened the group)
//   72 64  why, in the server's words, for a refusal; empty after a join
//
// Member list, kMsgMembers (17), server to member:
//   0   1  kind (MemberListKind)
//   1   1  why members left (LeaveReason), for kMemberListLeft; else 0
//   2   1  size of one entry (kMemberEntrySize today; a reader skips bytes beyond those it
//          knows in each entry, so entries can grow without breaking older readers)
//   3   1  reserved, 0
//   4   2  entries in this message
//   6   2  members in the group in all (a list may hold fewer when the group is larger
//          than one message carries, kMaxEntriesPerMessage)
//   8   .  the entries
//
// Member entry, kMemberEntrySize (32) bytes:
//   0   4  the server's number for the member (its connection's address at the server)
//   4  24  player name from the member's join record, zero-terminated
//   28  2  round-trip time between that member and the server in ms; 0xFFFF unknown
//   30  1  flags: bit 0 kMemberFlagYou, the entry describes the receiver itself. Bits 1..7
//          are reserved for facts about a member added later (such as the way its game
//          traffic travels); a writer that knows none leaves them 0, a reader ignores
//          the ones it does not know.
//   31  1  reserved, 0
#ifndef ORB_COMMON_MEMBERSHIP_H
#define ORB_COMMON_MEMBERSHIP_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace orb {

enum : size_t {
  kGroupNameBytes = 64,    // the group field of join and relay records, and here
  kPlayerNameBytes = 24,   // the player field of the join record, and here
  kReasonBytes = 64,
  kJoinOutcomeSize = 136,
  kMemberListHeaderSize = 8,
  kMemberEntrySize = 32,
  kMaxEntriesPerMessage = 64,
};

enum JoinOutcomeCode : uint8_t {
  kJoinJoined = 0,
  kJoinGroupFull = 1,   // the group holds its maximum of members
  kJoinServerFull = 2,  // no room for another member or another group on this server
  kJoinRefused = 3,     // any other reason, in words
};

enum MemberListKind : uint8_t {
  kMemberListAll = 0,     // the whole group as it is now, round-trip times included
  kMemberListJoined = 1,  // these members have just joined
  kMemberListLeft = 2,    // these members have just left
};

enum LeaveReason : uint8_t {
  kLeftUnknown = 0,
  kLeftEnded = 1,       // its session ended (a leave message)
  kLeftTimedOut = 2,    // it stopped answering
  kLeftClosed = 3,      // its connection was closed
  kLeftReplaced = 4,    // a new connection from the same player took its place
  kLeftMovedAway = 5,   // it joined another group
};

enum : uint8_t { kMemberFlagYou = 0x01 };
enum : uint16_t { kRoundTripUnknown = 0xFFFF };

struct MemberEntry {
  uint32_t id = 0;
  std::string name;                       // up to 23 bytes, as the join record held it
  uint16_t round_trip_ms = kRoundTripUnknown;
  uint8_t flags = 0;
};

struct JoinOutcome {
  uint8_t outcome = kJoinRefused;
  uint16_t members = 0;
  uint16_t capacity = 0;
  std::string group;   // up to 63 bytes
  std::string reason;  // up to 63 bytes
};

struct MemberList {
  uint8_t kind = kMemberListAll;
  uint8_t reason = kLeftUnknown;
  uint16_t total = 0;
  std::vector<MemberEntry> entries;
};

// Builds the join outcome (kJoinOutcomeSize bytes; texts cut to fit their fields).
std::vector<uint8_t> BuildJoinOutcome(const JoinOutcome& outcome);
// Reads a join outcome of at least kJoinOutcomeSize bytes. false (out untouched) when it
// is shorter or null.
bool ParseJoinOutcome(const uint8_t* data, size_t length, JoinOutcome* out);

// Builds a member list from at most kMaxEntriesPerMessage entries (the rest are left out;
// list.total still says how many there are).
std::vector<uint8_t> BuildMemberList(const MemberList& list);
// Reads a member list. false (out untouched) when it is null, shorter than its header,
// declares an entry size below kMemberEntrySize, or holds fewer bytes than its entries.
bool ParseMemberList(const uint8_t* data, size_t length, MemberList* out);

// The text of a zero-terminated field of `size` bytes: up to its first zero.
std::string FieldText(const uint8_t* field, size_t size);

// How the server matches group names: surrounding spaces and tabs do not count, nor does
// the case of the letters A to Z; every other byte counts as it is. "Red ", " red" and
// "RED" name one group.
//
// The name without its surrounding spaces and tabs.
std::string TrimGroupName(const char* name, size_t length);
// The key groups are matched by: the trimmed name with A to Z in lower case.
std::string GroupKey(const char* name, size_t length);
// Whether two names give the same key, without building either.
bool SameGroup(const char* a, size_t a_length, const char* b, size_t b_length);

}  // namespace orb

#endif
