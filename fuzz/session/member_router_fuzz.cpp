// Fuzz target for what reaches the session library's member router from the network and
// from the game: relayed datagrams (type 18) and path info (type 19) from the server, direct
// datagrams on the server endpoint, and link datagrams the shim addressed to a member. The
// router starts with path info naming two members, so that probes, answers and direct data
// with the right key reach the deeper code.
//
// Input: records of [kind: 1 byte][length: 2 bytes LE][bytes]. kind & 3 picks the road (type
// 18, type 19, the endpoint, the game); kind & 4 takes the bytes from a listed member's
// address (else a stranger's); kind & 8 advances the clock 1.7 s and runs a tick first.
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "member_router.h"
#include "message_types.h"
#include "path_info.h"

namespace {

const uint32_t kKey = 0x01020304;

// Reads every byte the router wants sent or delivered, so a wrong length shows under
// AddressSanitizer.
void Touch(const RouterOutput& out) {
  volatile uint8_t sum = 0;
  for (const auto& d : out.direct) for (uint8_t b : d.bytes) sum = static_cast<uint8_t>(sum + b);
  for (const auto& m : out.server) for (uint8_t b : m.bytes) sum = static_cast<uint8_t>(sum + b);
  for (const auto& g : out.game) for (uint8_t b : g) sum = static_cast<uint8_t>(sum + b);
  (void)sum;
}

void Prime(MemberRouter* router, uint64_t now) {
  static PathInfo info;
  info = PathInfo();
  info.member = 1;
  info.seen = {0x157100CBu, 40001};  // 203.0.113.21
  info.peer_count = 2;
  for (uint16_t i = 0; i < 2; ++i) {
    PathPeer& p = info.peers[i];
    p.member = 2 + i;
    p.seen = {0x167100CBu, static_cast<uint16_t>(40002 + i)};  // both at 203.0.113.22
    p.flags = kPathTakesRelayed;
    p.key = 0xA0A0A0A0u + i;
    p.count = 1;
    p.candidates[0] = {0x426433C6u + (i << 24), 5000};  // 198.51.100.66, .67
  }
  std::vector<uint8_t> bytes(kPathInfoMax);
  bytes.resize(BuildPathInfo(info, bytes.data(), bytes.size()));
  RouterOutput out;
  router->OnServerMessage(bytes.data(), bytes.size(), kMsgPathInfo, now, &out);
  Touch(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemberRouter router(kKey);
  uint64_t now = 1000000;
  Prime(&router, now);
  size_t at = 0;
  while (at + 3 <= size) {
    const uint8_t kind = data[at];
    size_t length = static_cast<size_t>(data[at + 1] | data[at + 2] << 8);
    at += 3;
    if (length > size - at) length = size - at;
    // A copy of exactly the record, so reads past its end are caught.
    std::vector<uint8_t> record(data + at, data + at + length);
    at += length;
    RouterOutput out;
    if (kind & 8) {
      now += 1700;
      router.Tick(now, &out);
    }
    const PathAddress from = (kind & 4) ? PathAddress{0x167100CBu, 40002}
                                        : PathAddress{0x090000CBu, 9999};
    switch (kind & 3) {
      case 0: router.OnServerMessage(record.data(), record.size(), kMsgUnicastDelivery, now, &out); break;
      case 1: router.OnServerMessage(record.data(), record.size(), kMsgPathInfo, now, &out); break;
      case 2: router.OnEndpointDatagram(record.data(), record.size(), from, now, &out); break;
      default: router.OnGameUnicast(record.data(), record.size(), 26900, &out); break;
    }
    Touch(out);
  }
  std::vector<RouteEntry> routes;
  uint32_t public_ip = 0;
  router.Routes(&routes, &public_ip);
  router.Members();
  return 0;
}
