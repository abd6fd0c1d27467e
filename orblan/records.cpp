#include "records.h"

#include <string.h>

namespace {

void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void PutGroup(uint8_t* field, const char* group) {
  memset(field, 0, kGroupField);
  memcpy(field, group, strlen(group));
}

}  // namespace

bool GroupNameFits(const char* group) {
  if (group == nullptr || group[0] == '\0') return false;
  return strnlen(group, kGroupField) < kGroupField;
}

bool PlayerNameFits(const char* player) {
  if (player == nullptr || player[0] == '\0') return false;
  const size_t n = strnlen(player, 24);
  if (n >= 24) return false;
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
  PutU32(out + 64, 0);
  memcpy(out + 68, player, strlen(player));
  return true;
}

size_t BuildRelayRecord(const char* group, uint32_t member, const uint8_t* datagram,
                        size_t n, uint8_t* out, size_t capacity) {
  if (!GroupNameFits(group) || out == nullptr) return 0;
  if (datagram == nullptr && n > 0) return 0;
  if (n > UINT32_MAX || capacity < kRelayHeaderSize || capacity - kRelayHeaderSize < n) return 0;
  PutGroup(out, group);
  PutU32(out + 64, member);
  PutU32(out + 68, static_cast<uint32_t>(n));
  if (n > 0) memcpy(out + kRelayHeaderSize, datagram, n);
  return kRelayHeaderSize + n;
}
