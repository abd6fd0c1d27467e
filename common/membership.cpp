#include "membership.h"

#include <string.h>

#include "bytes.h"

namespace orb {
namespace {

// Copies text into a zeroed field of `size` bytes, cut so the terminating zero fits.
void PutText(uint8_t* field, size_t size, const std::string& text) {
  const size_t n = text.size() < size - 1 ? text.size() : size - 1;
  memcpy(field, text.data(), n);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The trimmed range of name.
void Trimmed(const char* name, size_t length, size_t* begin, size_t* end) {
  size_t b = 0, e = name != nullptr ? length : 0;
  while (b < e && IsBlank(name[b])) ++b;
  while (e > b && IsBlank(name[e - 1])) --e;
  *begin = b;
  *end = e;
}

}  // namespace

// A field's last byte is its terminator's place: a sender that filled it is read up to there.
std::string FieldText(const uint8_t* field, size_t size) {
  const size_t room = size - 1;
  const void* zero = memchr(field, 0, room);
  const size_t n = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - field) : room;
  return std::string(reinterpret_cast<const char*>(field), n);
}

std::vector<uint8_t> BuildJoinOutcome(const JoinOutcome& o) {
  std::vector<uint8_t> out(kJoinOutcomeSize, 0);
  out[0] = o.outcome;
  WriteU16(&out[2], o.members);
  WriteU16(&out[4], o.capacity);
  PutText(&out[8], kGroupNameBytes, o.group);
  PutText(&out[72], kReasonBytes, o.reason);
  return out;
}

bool ParseJoinOutcome(const uint8_t* data, size_t length, JoinOutcome* out) {
  if (data == nullptr || length < kJoinOutcomeSize) return false;
  JoinOutcome o;
  o.outcome = data[0];
  o.members = ReadU16(data + 2);
  o.capacity = ReadU16(data + 4);
  o.group = FieldText(data + 8, kGroupNameBytes);
  o.reason = FieldText(data + 72, kReasonBytes);
  *out = o;
  return true;
}

std::vector<uint8_t> BuildMemberList(const MemberList& list) {
  const size_t n = list.entries.size() < kMaxEntriesPerMessage ? list.entries.size()
                                                                 : kMaxEntriesPerMessage;
  std::vector<uint8_t> out(kMemberListHeaderSize + n * kMemberEntrySize, 0);
  out[0] = list.kind;
  out[1] = list.reason;
  out[2] = static_cast<uint8_t>(kMemberEntrySize);
  WriteU16(&out[4], static_cast<uint16_t>(n));
  WriteU16(&out[6], list.total);
  for (size_t i = 0; i < n; ++i) {
    const MemberEntry& e = list.entries[i];
    uint8_t* p = &out[kMemberListHeaderSize + i * kMemberEntrySize];
    WriteU32(p, e.id);
    PutText(p + 4, kPlayerNameBytes, e.name);
    WriteU16(p + 28, e.round_trip_ms);
    p[30] = e.flags;
  }
  return out;
}

bool ParseMemberList(const uint8_t* data, size_t length, MemberList* out) {
  if (data == nullptr || length < kMemberListHeaderSize) return false;
  const size_t entry_size = data[2];
  const size_t count = ReadU16(data + 4);
  if (entry_size < kMemberEntrySize) return false;
  if ((length - kMemberListHeaderSize) / entry_size < count) return false;
  MemberList list;
  list.kind = data[0];
  list.reason = data[1];
  list.total = ReadU16(data + 6);
  list.entries.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = data + kMemberListHeaderSize + i * entry_size;
    MemberEntry e;
    e.id = ReadU32(p);
    e.name = FieldText(p + 4, kPlayerNameBytes);
    e.round_trip_ms = ReadU16(p + 28);
    e.flags = p[30];
    list.entries.push_back(e);
  }
  *out = list;
  return true;
}

std::string TrimGroupName(const char* name, size_t length) {
  size_t b, e;
  Trimmed(name, length, &b, &e);
  return std::string(name != nullptr ? name + b : "", e - b);
}

std::string GroupKey(const char* name, size_t length) {
  std::string key = TrimGroupName(name, length);
  for (char& c : key) c = Fold(c);
  return key;
}

bool SameGroup(const char* a, size_t a_length, const char* b, size_t b_length) {
  size_t ab, ae, bb, be;
  Trimmed(a, a_length, &ab, &ae);
  Trimmed(b, b_length, &bb, &be);
  if (ae - ab != be - bb) return false;
  for (size_t i = 0; i < ae - ab; ++i) {
    if (Fold(a[ab + i]) != Fold(b[bb + i])) return false;
  }
  return true;
}

}  // namespace orb
