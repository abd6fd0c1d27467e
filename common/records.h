// The two data messages a member sends the group server, built by the session library and
// parsed by the server (message types kMsgJoin and kMsgRelay, message_types.h).
//
// Join record, message type 0, exactly 92 bytes, once per game launch:
//   offset 0   64 bytes  group name, zero-terminated
//   offset 64   4 bytes  unsigned, always 0 (not read)
//   offset 68  24 bytes  player name, zero-terminated: "NoName" unless the launcher named one
//
// Relay record, message type 8, 72 + n bytes, one per game broadcast:
//   offset 0   64 bytes  group name, zero-terminated
//   offset 64   4 bytes  member value, unsigned little-endian (0 from this library)
//   offset 68   4 bytes  n, unsigned little-endian
//   offset 72   n bytes  a link datagram (link.h), its address field already stamped
//
// Builders write bytes behind a terminating zero as zeros. Parsers check every bound before
// reading, never copy the game data, and point into the caller's buffer.
#ifndef ORB_COMMON_RECORDS_H
#define ORB_COMMON_RECORDS_H

#include <stddef.h>
#include <stdint.h>

namespace orb {

enum : size_t {
  kGroupField = 64,  // 63 characters and the terminating zero
  kPlayerField = 24,
  kJoinRecordSize = 92,
  kRelayHeaderSize = 72,
};

// Why a record was refused; relay checks run in the order listed.
enum class RecordError {
  kNone,
  kJoinSize,        // a join record is not exactly 92 bytes
  kJoinGroup,       // its group name is empty or fills the field without a zero
  kRelayHeader,     // shorter than the 72-byte relay header
  kRelayOversized,  // more than the largest link datagram behind the header
  kRelayLength,     // n disagrees with the bytes that arrived
  kRelayTooShort,   // n is 12 or less: a link header and no game data
  kRelayGroup,      // the group name is empty or fills the field without a zero
  kRelayMagic,      // the link datagram does not begin with the link magic
};

struct JoinRecord {
  const char* group;  // raw bytes up to the terminating zero, 1 to 63 of them
  size_t group_length;
  const char* player;  // raw bytes up to the zero, or the whole 24-byte field
  size_t player_length;
};

struct RelayRecord {
  const char* group;  // raw bytes up to the terminating zero, 1 to 63 of them
  size_t group_length;
  uint32_t member;
  const uint8_t* link;  // the link datagram
  size_t link_length;   // n
};

// True when group is a non-empty text that fits the 64-byte group field.
bool GroupNameFits(const char* group);

// The player name of a launcher that names nobody.
#define ORB_DEFAULT_PLAYER_NAME "NoName"

// True when player is 1 to 23 bytes, none of them a control character: it fits the
// 24-byte player field of the join record.
bool PlayerNameFits(const char* player);

// Writes the join record into out. Returns false, writing nothing, when the group or the
// player name does not fit its field.
bool BuildJoinRecord(const char* group, uint8_t out[kJoinRecordSize],
                     const char* player = ORB_DEFAULT_PLAYER_NAME);

// Writes the relay record for the n-byte link datagram into out (capacity bytes).
// Returns 72 + n, or 0 (nothing written) when the group does not fit, datagram is null
// with n > 0, or the record does not fit out.
size_t BuildRelayRecord(const char* group, uint32_t member, const uint8_t* datagram,
                        size_t n, uint8_t* out, size_t capacity);

// Fills *out and returns kNone for a valid join record; otherwise returns why not.
RecordError ParseJoinRecord(const uint8_t* data, size_t length, JoinRecord* out);

// Fills *out and returns kNone for a relay record that passes every check of its own
// (whether the group is the sender's is for the caller to decide); otherwise returns the
// first check that failed.
RecordError ParseRelayRecord(const uint8_t* data, size_t length, RelayRecord* out);

}  // namespace orb

#endif
