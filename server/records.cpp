#include "records.h"

#include <string.h>

#include "link.h"
#include "log.h"

namespace orb {
namespace server {

size_t MaxRelayedLinkDatagram() { return LINK_DATAGRAM_MAX; }

namespace {
// Length of a zero-terminated text in a fixed field, or `field` when no zero is there.
size_t FieldTextLength(const uint8_t* field, size_t size) {
  const void* zero = memchr(field, 0, size);
  return zero ? static_cast<const uint8_t*>(zero) - field : size;
}

uint32_t ReadU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
}  // namespace

bool ParseJoinRecord(const uint8_t* data, size_t length, JoinRecord* out, DropReason* reason) {
  *reason = DropReason::kJoinMalformed;
  if (data == nullptr || length != kJoinRecordSize) return false;
  size_t group_length = FieldTextLength(data, kGroupNameField);
  if (group_length == 0 || group_length == kGroupNameField) return false;
  out->group.assign(reinterpret_cast<const char*>(data), group_length);
  const uint8_t* player = data + 68;
  out->player = PrintableText(reinterpret_cast<const char*>(player),
                              FieldTextLength(player, kPlayerNameField), kPlayerNameField);
  return true;
}

bool ParseRelayRecord(const uint8_t* data, size_t length, RelayRecord* out,
                      DropReason* reason) {
  if (data == nullptr || length < kRelayHeaderSize) {
    *reason = DropReason::kRelayMalformed;
    return false;
  }
  if (length - kRelayHeaderSize > MaxRelayedLinkDatagram()) {
    *reason = DropReason::kRelayOversized;
    return false;
  }
  uint32_t n = ReadU32LE(data + 68);
  if (n != length - kRelayHeaderSize) {
    *reason = DropReason::kRelayLength;
    return false;
  }
  if (n <= LINK_HEADER_SIZE) {
    *reason = DropReason::kRelayTooShort;
    return false;
  }
  size_t group_length = FieldTextLength(data, kGroupNameField);
  if (group_length == 0 || group_length == kGroupNameField) {
    // No member can have joined a group of that name.
    *reason = DropReason::kRelayWrongGroup;
    return false;
  }
  const uint8_t* link = data + kRelayHeaderSize;
  if (!LinkIsDatagram(link, n)) {
    *reason = DropReason::kRelayBadMagic;
    return false;
  }
  out->group = reinterpret_cast<const char*>(data);
  out->group_length = group_length;
  out->link = link;
  out->link_length = n;
  return true;
}

}  // namespace server
}  // namespace orb
