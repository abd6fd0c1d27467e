#include "link.h"

#include <string.h>

#include "bytes.h"

int LinkWrap(uint8_t* out, size_t out_size, uint16_t port, uint32_t address_net,
             const void* payload, size_t n) {
  if (out == nullptr || n > LINK_PAYLOAD_MAX || out_size < LINK_HEADER_SIZE + n) return -1;
  if (n > 0 && payload == nullptr) return -1;
  orb::WriteU32(out, LINK_MAGIC);
  LinkSetPort(out, port);
  LinkSetSourcePort(out, 0);  // unknown: the sending session library stamps it
  LinkSetAddress(out, address_net);
  if (n > 0) memcpy(out + LINK_HEADER_SIZE, payload, n);
  return static_cast<int>(LINK_HEADER_SIZE + n);
}

bool LinkHasMagic(const void* data, size_t length) {
  if (data == nullptr || length < 4) return false;
  return orb::ReadU32(static_cast<const uint8_t*>(data)) == LINK_MAGIC;
}

bool LinkIsDatagram(const void* data, size_t length) {
  return length >= LINK_HEADER_SIZE && LinkHasMagic(data, length);
}

uint16_t LinkGetPort(const void* header) {
  return orb::ReadU16(static_cast<const uint8_t*>(header) + 4);
}

void LinkSetPort(void* header, uint16_t port) {
  orb::WriteU16(static_cast<uint8_t*>(header) + 4, port);
}

uint16_t LinkGetSourcePort(const void* header) {
  return orb::ReadU16(static_cast<const uint8_t*>(header) + 6);
}

void LinkSetSourcePort(void* header, uint16_t port) {
  orb::WriteU16(static_cast<uint8_t*>(header) + 6, port);
}

uint32_t LinkGetAddress(const void* header) {
  uint32_t a;
  memcpy(&a, static_cast<const uint8_t*>(header) + 8, 4);
  return a;
}

void LinkSetAddress(void* header, uint32_t address_net) {
  memcpy(static_cast<uint8_t*>(header) + 8, &address_net, 4);
}

namespace {

bool KnownNoticeKind(unsigned kind) { return kind == kNoticeBound || kind == kNoticeClosed; }

}  // namespace

int LinkBuildNotice(uint8_t* out, size_t out_size, const LinkNotice& notice) {
  if (out == nullptr || out_size < LINK_NOTICE_SIZE || notice.port == 0 ||
      !KnownNoticeKind(notice.kind)) {
    return -1;
  }
  orb::WriteU32(out, LINK_NOTICE_MAGIC);
  LinkSetPort(out, notice.port);
  LinkSetSourcePort(out, static_cast<uint16_t>(notice.kind));  // the same two bytes
  LinkSetAddress(out, notice.address_net);
  return static_cast<int>(LINK_NOTICE_SIZE);
}

bool LinkParseNotice(const void* data, size_t length, LinkNotice* out) {
  if (data == nullptr || out == nullptr || length != LINK_NOTICE_SIZE) return false;
  if (orb::ReadU32(static_cast<const uint8_t*>(data)) != LINK_NOTICE_MAGIC) return false;
  const uint16_t port = LinkGetPort(data);
  const uint16_t kind = LinkGetSourcePort(data);
  if (port == 0 || !KnownNoticeKind(kind)) return false;
  out->kind = static_cast<LinkNoticeKind>(kind);
  out->port = port;
  out->address_net = LinkGetAddress(data);
  return true;
}
