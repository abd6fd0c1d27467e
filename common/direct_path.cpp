#include "direct_path.h"

#include <string.h>

#include "bytes.h"

namespace {

const uint8_t kMagic[4] = {'o', 'r', 'b', 'd'};

void PutHeader(uint8_t* out, uint8_t kind, uint16_t dest_port, uint16_t src_port,
               uint32_t sender, uint32_t key) {
  memcpy(out, kMagic, 4);
  out[4] = kind;
  out[5] = 0;
  orb::WriteU16(out + 6, dest_port);
  orb::WriteU16(out + 8, src_port);
  orb::WriteU16(out + 10, 0);
  orb::WriteU32(out + 12, sender);
  orb::WriteU32(out + 16, key);
}

}  // namespace

bool DirectIsOurs(const uint8_t* data, size_t length) {
  return data != nullptr && length >= kDirectHeaderSize && memcmp(data, kMagic, 4) == 0;
}

size_t BuildDirectProbe(const DirectDatagram& d, uint8_t* out, size_t capacity) {
  if (out == nullptr || capacity < kDirectProbeSize) return 0;
  if (d.kind != kDirectProbe && d.kind != kDirectAnswer) return 0;
  PutHeader(out, d.kind, 0, 0, d.sender, d.key);
  orb::WriteU32(out + 20, d.probe);
  orb::WriteU32(out + 24, d.stamp_ms);
  const bool answer = d.kind == kDirectAnswer;
  const uint32_t ip = answer ? d.seen_ip : 0;
  memcpy(out + 28, &ip, 4);
  orb::WriteU16(out + 32, answer ? d.seen_port : 0);
  orb::WriteU16(out + 34, 0);
  return kDirectProbeSize;
}

size_t BuildDirectData(uint32_t sender, uint32_t key, uint16_t dest_port, uint16_t src_port,
                       const uint8_t* payload, size_t n, uint8_t* out, size_t capacity) {
  if (out == nullptr || n > kDirectPayloadMax || capacity < kDirectHeaderSize + n) return 0;
  if (n > 0 && payload == nullptr) return 0;
  PutHeader(out, kDirectData, dest_port, src_port, sender, key);
  if (n > 0) memcpy(out + kDirectHeaderSize, payload, n);
  return kDirectHeaderSize + n;
}

bool ParseDirect(const uint8_t* data, size_t length, DirectDatagram* out) {
  if (!DirectIsOurs(data, length) || length > kDirectDatagramMax) return false;
  const uint8_t kind = data[4];
  DirectDatagram d = {};
  d.kind = kind;
  d.sender = orb::ReadU32(data + 12);
  d.key = orb::ReadU32(data + 16);
  if (kind == kDirectProbe || kind == kDirectAnswer) {
    if (length != kDirectProbeSize) return false;
    d.probe = orb::ReadU32(data + 20);
    d.stamp_ms = orb::ReadU32(data + 24);
    if (kind == kDirectAnswer) {
      memcpy(&d.seen_ip, data + 28, 4);
      d.seen_port = orb::ReadU16(data + 32);
    }
  } else if (kind == kDirectData) {
    d.dest_port = orb::ReadU16(data + 6);
    d.src_port = orb::ReadU16(data + 8);
    d.payload = data + kDirectHeaderSize;
    d.payload_length = length - kDirectHeaderSize;
  } else {
    return false;
  }
  *out = d;
  return true;
}
