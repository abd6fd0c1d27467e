#include "message.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace netquest {
namespace {

const char kMagic[] = "NETQUEST/1";

bool ParseUnsigned(const std::string& text, int base, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text) {
    bool ok = base == 16 ? c != '\0' && std::strchr("0123456789abcdefABCDEF", c) != nullptr
                         : (c >= '0' && c <= '9');
    if (!ok) return false;
  }
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), nullptr, base);
  if (errno != 0 || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

std::string CleanName(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (out.size() == kMaxNameLength) break;
    unsigned char u = static_cast<unsigned char>(c);
    out += (u > 0x20 && u < 0x7F && c != '=') ? c : '_';
  }
  return out.empty() ? "player" : out;
}

std::string Encode(const Message& m) {
  char line[kMaxMessageBytes + 1];
  const char* kind = m.kind == MessageKind::kHello ? "HELLO" : "REPLY";
  int n = std::snprintf(line, sizeof line, "%s %s id=%08x seq=%u t=%llu name=%s", kMagic, kind,
                        static_cast<unsigned>(m.id), static_cast<unsigned>(m.seq),
                        static_cast<unsigned long long>(m.sent_us), CleanName(m.name).c_str());
  if (m.kind == MessageKind::kReply && n > 0 && static_cast<size_t>(n) < sizeof line)
    std::snprintf(line + n, sizeof line - n, " to=%08x", static_cast<unsigned>(m.to));
  return line;
}

bool Decode(const void* data, size_t length, Message* out) {
  if (data == nullptr || length == 0 || length > kMaxMessageBytes) return false;
  std::string text(static_cast<const char*>(data), length);
  if (text.find('\0') != std::string::npos) return false;

  // Split on single spaces: magic, kind, then key=value fields.
  std::string fields[8];
  size_t count = 0, start = 0;
  while (start <= text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    if (count == 8) return false;
    fields[count++] = text.substr(start, end - start);
    start = end + 1;
  }
  if (count < 2 || fields[0] != kMagic) return false;

  Message m;
  if (fields[1] == "HELLO") m.kind = MessageKind::kHello;
  else if (fields[1] == "REPLY") m.kind = MessageKind::kReply;
  else return false;

  bool have_id = false, have_seq = false, have_t = false, have_name = false, have_to = false;
  for (size_t i = 2; i < count; ++i) {
    size_t eq = fields[i].find('=');
    if (eq == std::string::npos) return false;
    std::string key = fields[i].substr(0, eq), value = fields[i].substr(eq + 1);
    uint64_t v = 0;
    if (key == "id" && !have_id && ParseUnsigned(value, 16, 0xFFFFFFFFu, &v)) {
      m.id = static_cast<uint32_t>(v);
      have_id = true;
    } else if (key == "seq" && !have_seq && ParseUnsigned(value, 10, 0xFFFFFFFFu, &v)) {
      m.seq = static_cast<uint32_t>(v);
      have_seq = true;
    } else if (key == "t" && !have_t && ParseUnsigned(value, 10, UINT64_MAX, &v)) {
      m.sent_us = v;
      have_t = true;
    } else if (key == "name" && !have_name && !value.empty() && CleanName(value) == value) {
      m.name = value;
      have_name = true;
    } else if (key == "to" && !have_to && m.kind == MessageKind::kReply &&
               ParseUnsigned(value, 16, 0xFFFFFFFFu, &v)) {
      m.to = static_cast<uint32_t>(v);
      have_to = true;
    } else {
      return false;
    }
  }
  if (!have_id || !have_seq || !have_t || !have_name) return false;
  if (m.kind == MessageKind::kReply && !have_to) return false;
  *out = m;
  return true;
}

}  // namespace netquest
