#include "member_link.h"

#include <vector>

#include "link.h"
#include "member_notice.h"
#include "message_types.h"
#include "notices.h"
#include "platform.h"
#include "relay.h"
#include "route_table.h"

uint32_t NewPathKey(uint64_t seed) {
  // splitmix64: every bit of the seed reaches every bit of the key.
  uint64_t z = seed + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  const uint32_t key = static_cast<uint32_t>(z ^ (z >> 32));
  return key != 0 ? key : 1;
}

void CarryOut(SessionState& s, orb::Transport& t, RouterOutput& out) {
  const int32_t server = s.server_connection.load();
  for (const RouterOutput::Direct& d : out.direct) {
    t.SendDatagram(server, d.bytes.data(), static_cast<int32_t>(d.bytes.size()),
                   orb::SocketAddress{d.to.ip, d.to.port}, d.ttl);
  }
  for (const RouterOutput::ToServer& m : out.server) {
    t.Send(server, m.bytes.data(), static_cast<int32_t>(m.bytes.size()), m.type);
  }
  for (const std::vector<uint8_t>& link : out.game) {
    DeliverToGame(s, link.data(), static_cast<int32_t>(link.size()));
  }
  if (out.routes_changed) PublishRoutes(s);
  out.Clear();
}

bool RouteFromServer(SessionState& s, orb::Transport& t, const uint8_t* data, int32_t length,
                     int32_t type, int32_t address) {
  if (s.router == nullptr || address == 0 || address != s.server_connection.load()) return false;
  if (type != kMsgUnicastDelivery && type != kMsgPathInfo) return false;
  if (data == nullptr || length < 0) return true;
  // Only our server sends path info, and it delivers each message once: a lossy path to
  // it may take early copies (transport.h).
  if (type == kMsgPathInfo) t.MarkDeliversOnce(address);
  RouterOutput out;
  s.router->OnServerMessage(data, static_cast<size_t>(length), type, orb::MonotonicMs(), &out);
  CarryOut(s, t, out);
  return true;
}

bool RouteStray(SessionState& s, orb::Transport& t, const uint8_t* data, int size,
                const orb::SocketAddress& from) {
  if (s.router == nullptr || data == nullptr || size < 0) return false;
  RouterOutput out;
  const bool ours = s.router->OnEndpointDatagram(data, static_cast<size_t>(size),
                                                 PathAddress{from.ip, from.port},
                                                 orb::MonotonicMs(), &out);
  CarryOut(s, t, out);
  return ours;
}

void RouteFromGame(SessionState& s, orb::Transport& t, const uint8_t* link, int n,
                   uint16_t src_port) {
  if (s.router == nullptr || link == nullptr || n < 0) return;
  RouterOutput out;
  s.router->OnGameUnicast(link, static_cast<size_t>(n), src_port, &out);
  CarryOut(s, t, out);
}

void NoteFromGame(SessionState& s, const uint8_t* link, int n) {
  MemberNotice notice;
  if (s.notices == nullptr || link == nullptr || n < 0 ||
      !ParseMemberNotice(link, static_cast<size_t>(n), &notice)) {
    return;
  }
  const uint32_t member = s.router != nullptr ? s.router->MemberAt(notice.member_ip, notice.port) : 0;
  s.notices->Add(notice, member);
}

void RouteTick(SessionState& s, orb::Transport& t) {
  if (s.router == nullptr) return;
  RouterOutput out;
  s.router->Tick(orb::MonotonicMs(), &out);
  CarryOut(s, t, out);
}

void SendPathReport(SessionState& s, orb::Transport& t, uint16_t endpoint_port) {
  if (s.router == nullptr) return;
  uint32_t addresses[16];
  char name[128];
  int count = 0;
  if (orb::LocalHostName(name, sizeof name)) count = orb::LookupHostIPv4(name, addresses, 16);
  uint8_t report[kPathReportHeaderSize + kMaxPathCandidates * kPathCandidateSize];
  const size_t n =
      s.router->BuildReport(addresses, count, endpoint_port, report, sizeof report);
  if (n != 0) {
    t.Send(s.server_connection.load(), report, static_cast<int32_t>(n), kMsgPathReport);
  }
}

void PublishRoutes(SessionState& s) {
  if (s.route_table == nullptr) return;
  std::vector<RouteEntry> entries;
  uint32_t public_ip = 0;
  if (s.router != nullptr && s.active.load()) s.router->Routes(&entries, &public_ip);
  RouteTablePublish(s.route_table, entries.data(), entries.size(), public_ip);
}
