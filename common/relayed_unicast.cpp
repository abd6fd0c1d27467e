#include "relayed_unicast.h"

#include <string.h>

#include "bytes.h"
#include "link.h"

namespace {

// A link datagram that carries at least one byte of game data and fits the shim's buffer.
bool CarriesGameData(const uint8_t* link, size_t n) {
  return link != nullptr && n > LINK_HEADER_SIZE && n <= LINK_DATAGRAM_MAX &&
         LinkIsDatagram(link, n);
}

}  // namespace

size_t BuildUnicastRequest(uint32_t to, const uint8_t* link, size_t n, uint8_t* out,
                           size_t capacity) {
  if (out == nullptr || !CarriesGameData(link, n) || capacity < kUnicastHeaderSize + n) return 0;
  orb::WriteU32(out, to);
  memcpy(out + kUnicastHeaderSize, link, n);
  return kUnicastHeaderSize + n;
}

bool ParseUnicastRequest(const uint8_t* data, size_t length, UnicastRequest* out) {
  if (data == nullptr || length < kUnicastHeaderSize) return false;
  const uint8_t* link = data + kUnicastHeaderSize;
  const size_t n = length - kUnicastHeaderSize;
  if (!CarriesGameData(link, n)) return false;
  out->to = orb::ReadU32(data);
  out->link = link;
  out->link_length = n;
  return true;
}

size_t BuildRelayedDatagram(uint32_t from, uint8_t kind, uint32_t from_address,
                            const uint8_t* link, size_t n, uint8_t* out, size_t capacity) {
  if (out == nullptr || !CarriesGameData(link, n) || capacity < kRelayedHeaderSize + n ||
      kind > kRelayedUnicast) {
    return 0;
  }
  orb::WriteU32(out, from);
  out[4] = kind;
  out[5] = out[6] = out[7] = 0;
  memcpy(out + kRelayedHeaderSize, link, n);
  LinkSetAddress(out + kRelayedHeaderSize, from_address);
  return kRelayedHeaderSize + n;
}

bool ParseRelayedDatagram(const uint8_t* data, size_t length, RelayedDatagram* out) {
  if (data == nullptr || length < kRelayedHeaderSize || data[4] > kRelayedUnicast) return false;
  const uint8_t* link = data + kRelayedHeaderSize;
  const size_t n = length - kRelayedHeaderSize;
  if (!CarriesGameData(link, n)) return false;
  out->from = orb::ReadU32(data);
  out->kind = data[4];
  out->link = link;
  out->link_length = n;
  return true;
}
