// The two data messages the session library sends the group server.
//
// Join record, message type 0, 92 bytes, once per game launch:
//   offset 0   64 bytes  group name, zero-terminated
//   offset 64   4 bytes  unsigned, always 0
//   offset 68  24 bytes  player name, zero-terminated: "NoName" unless the launcher set one
//
// Relay record, message type 8, 72 + n bytes, one per game broadcast:
//   offset 0   64 bytes  group name, zero-terminated
//   offset 64   4 bytes  member value, unsigned little-endian (always 0)
//   offset 68   4 bytes  n, unsigned little-endian
//   offset 72   n bytes  the link datagram, its address field already stamped
//
// Bytes behind a terminating zero are written as zeros.
#ifndef ORB_SESSION_RECORDS_H
#define ORB_SESSION_RECORDS_H

#include <stddef.h>
#include <stdint.h>

enum : uint16_t { kJoinType = 0, kRelayType = 8 };
enum : size_t {
  kGroupField = 64,  // 63 characters and the terminating zero
  kJoinRecordSize = 92,
  kRelayHeaderSize = 72,
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

#endif
