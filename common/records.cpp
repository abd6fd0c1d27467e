#include "records.h"

#include <string.h>

#include "bytes.h"
#include "link.h"

namespace orb {

namespace {

void PutGroup(uint8_t* field, const char* group) {
  memset(field, 0, kGroupField);
  memcpy(field, group, strlen(group));
}

// Length of a zero-terminated text in a fixed field, or `size` when no zero is there.
size_t FieldTextLength(const uint8_t* field, size_t size) {
  const void* zero = memchr(field, 0, size);
  return zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - field) : size;
}

// True when the group field holds 1 to 63 characters and a terminating zero.
bool GroupFieldValid(const uint8_t* field, size_t* length) {
  *length = FieldTextLength(field, kGroupField);
  return *length != 0 && *length != kGroupField;
}

}  // namespace

bool GroupNameFits(const char* group) {
  if (group == nullptr || group[0] == '\0') return false;
  return strnlen(group, kGroupField) < kGroupField;
}

bool PlayerNameFits(const char* player) {
  if (player == nullptr || player[0] == '\0') return false;
  const size_t n = strnlen(player, kPlayerField);
  if (n >= kPlayerField) return false;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(player[i]);
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool BuildJoinRecord(const char* group, uint8_t out[kJoinRecordSize], const char* player) {
  if (!GroupNameFits(group) || !PlayerNameFits(player) || out == nullptr) return false;
  memset(out, 0, kJoinRecordSize);
  PutGroup(out, group);
  WriteU32(out + 64, 0);
  memcpy(out + 68, player, strlen(player));
  return true;
}

size_t BuildRelayRecord(const char* group, uint32_t member, const uint8_t* datagram,
                        size_t n, uint8_t* out, size_t capacity) {
  if (!GroupNameFits(group) || out == nullptr) return 0;
  if (datagram == nullptr && n > 0) return 0;
  if (n > UINT32_MAX || capacity < kRelayHeaderSize || capacity - kRelayHeaderSize < n) return 0;
  PutGroup(out, group);
  WriteU32(out + 64, member);
  WriteU32(out + 68, static_cast<uint32_t>(n));
  if (n > 0) memcpy(out + kRelayHeaderSize, datagram, n);
  return kRelayHeaderSize + n;
}

RecordError ParseJoinRecord(const uint8_t* data, size_t length, JoinRecord* out) {
  if (data == nullptr || length != kJoinRecordSize) return RecordError::kJoinSize;
  size_t group_length;
  if (!GroupFieldValid(data, &group_length)) return RecordError::kJoinGroup;
  out->group = reinterpret_cast<const char*>(data);
  out->group_length = group_length;
  out->player = reinterpret_cast<const char*>(data + 68);
  out->player_length = FieldTextLength(data + 68, kPlayerField);
  return RecordError::kNone;
}

RecordError ParseRelayRecord(const uint8_t* data, size_t length, RelayRecord* out) {
  if (data == nullptr || length < kRelayHeaderSize) return RecordError::kRelayHeader;
  if (length - kRelayHeaderSize > LINK_DATAGRAM_MAX) return RecordError::kRelayOversized;
  const uint32_t n = ReadU32(data + 68);
  if (n != length - kRelayHeaderSize) return RecordError::kRelayLength;
  if (n <= LINK_HEADER_SIZE) return RecordError::kRelayTooShort;
  size_t group_length;
  // No member can have joined a group of such a name.
  if (!GroupFieldValid(data, &group_length)) return RecordError::kRelayGroup;
  const uint8_t* link = data + kRelayHeaderSize;
  if (!LinkIsDatagram(link, n)) return RecordError::kRelayMagic;
  out->group = reinterpret_cast<const char*>(data);
  out->group_length = group_length;
  out->member = ReadU32(data + 64);
  out->link = link;
  out->link_length = n;
  return RecordError::kNone;
}

}  // namespace orb
