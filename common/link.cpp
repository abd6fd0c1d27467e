#include "link.h"

#include <string.h>

int LinkWrap(uint8_t* out, size_t out_size, uint16_t port, uint32_t address_net,
             const void* payload, size_t n) {
  if (out == nullptr || n > LINK_PAYLOAD_MAX || out_size < LINK_HEADER_SIZE + n) return -1;
  if (n > 0 && payload == nullptr) return -1;
  const uint8_t magic[4] = {0xF9, 0xF9, 0xF9, 0xF9};
  memcpy(out, magic, 4);
  LinkSetPort(out, port);
  out[6] = 0;
  out[7] = 0;
  LinkSetAddress(out, address_net);
  if (n > 0) memcpy(out + LINK_HEADER_SIZE, payload, n);
  return static_cast<int>(LINK_HEADER_SIZE + n);
}

bool LinkIsDatagram(const void* data, size_t length) {
  if (data == nullptr || length < LINK_HEADER_SIZE) return false;
  const uint8_t* d = static_cast<const uint8_t*>(data);
  return d[0] == 0xF9 && d[1] == 0xF9 && d[2] == 0xF9 && d[3] == 0xF9;
}

uint16_t LinkGetPort(const void* header) {
  const uint8_t* h = static_cast<const uint8_t*>(header);
  return static_cast<uint16_t>(h[4] | (h[5] << 8));
}

void LinkSetPort(void* header, uint16_t port) {
  uint8_t* h = static_cast<uint8_t*>(header);
  h[4] = static_cast<uint8_t>(port & 0xFF);
  h[5] = static_cast<uint8_t>(port >> 8);
}

uint16_t LinkGetSourcePort(const void* header) {
  const uint8_t* h = static_cast<const uint8_t*>(header);
  return static_cast<uint16_t>(h[6] | (h[7] << 8));
}

void LinkSetSourcePort(void* header, uint16_t port) {
  uint8_t* h = static_cast<uint8_t*>(header);
  h[6] = static_cast<uint8_t>(port & 0xFF);
  h[7] = static_cast<uint8_t>(port >> 8);
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

const uint8_t kNoticeMagic[4] = {0xF9, 0xF9, 0xF9, 0xF6};

bool KnownNoticeKind(unsigned kind) { return kind == kNoticeBound || kind == kNoticeClosed; }

}  // namespace

int LinkBuildNotice(uint8_t* out, size_t out_size, const LinkNotice& notice) {
  if (out == nullptr || out_size < LINK_NOTICE_SIZE || notice.port == 0 ||
      !KnownNoticeKind(notice.kind)) {
    return -1;
  }
  memcpy(out, kNoticeMagic, 4);
  LinkSetPort(out, notice.port);
  LinkSetSourcePort(out, static_cast<uint16_t>(notice.kind));  // the same two bytes
  LinkSetAddress(out, notice.address_net);
  return static_cast<int>(LINK_NOTICE_SIZE);
}

bool LinkParseNotice(const void* data, size_t length, LinkNotice* out) {
  if (data == nullptr || out == nullptr || length != LINK_NOTICE_SIZE) return false;
  if (memcmp(data, kNoticeMagic, 4) != 0) return false;
  const uint16_t port = LinkGetPort(data);
  const uint16_t kind = LinkGetSourcePort(data);
  if (port == 0 || !KnownNoticeKind(kind)) return false;
  out->kind = static_cast<LinkNoticeKind>(kind);
  out->port = port;
  out->address_net = LinkGetAddress(data);
  return true;
}
