// The two data messages members send: the join record (type 0) and the relay record
// (type 8). Parsing checks every bound before reading and never copies the game data.
//
// Join record, exactly 92 bytes:
//   0   64  group name, zero-terminated
//   64   4  unsigned 32-bit, 0 (not used)
//   68  24  player name, zero-terminated (kept for the log only)
//
// Relay record, 72 + n bytes:
//   0   64  group name, zero-terminated
//   64   4  member value (not used)
//   68   4  n, unsigned 32-bit little-endian
//   72   n  a link datagram: magic F9 F9 F9 F9 and a 12-byte header, then game data
#ifndef ORB_SERVER_RECORDS_H
#define ORB_SERVER_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "drops.h"

namespace orb {
namespace server {

enum : uint16_t { kJoinRecordType = 0, kRelayRecordType = 8 };
enum : size_t {
  kGroupNameField = 64,
  kPlayerNameField = 24,
  kJoinRecordSize = 92,
  kRelayHeaderSize = 72,
};
// The largest link datagram a session library forwards: its 12-byte header and 2048
// bytes of game data.
size_t MaxRelayedLinkDatagram();

struct JoinRecord {
  std::string group;   // raw bytes up to the terminating zero, 1 to 63 of them
  std::string player;  // printable form, for the log
};

struct RelayRecord {
  const char* group;          // raw bytes up to the terminating zero, in the caller's buffer
  size_t group_length;
  const uint8_t* link;        // points into the caller's buffer
  size_t link_length;         // n
};

// Returns true and fills *out for a valid join record; otherwise false and *reason.
bool ParseJoinRecord(const uint8_t* data, size_t length, JoinRecord* out, DropReason* reason);

// Returns true and fills *out for a relay record that passes every check of its own, in
// this order: at least the 72-byte header; no more than the largest link datagram behind
// it; n equal to what arrived; n > 12; a terminated, non-empty group name; the link magic; whether the group is the sender's is for the caller to decide.
bool ParseRelayRecord(const uint8_t* data, size_t length, RelayRecord* out,
                      DropReason* reason);

}  // namespace server
}  // namespace orb

#endif
