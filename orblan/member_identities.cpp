#include "member_identities.h"

#include <algorithm>

namespace {
// Moved ports wrap to here, past the well-known ports.
const uint16_t kLowestMovedPort = 1024;
}  // namespace

void MemberIdentities::SetMember(uint32_t member, uint32_t ip) {
  auto known = members_.find(member);
  if (known != members_.end()) {
    if (known->second == ip) return;
    RemoveMember(member);
  }
  members_[member] = ip;
  order_[member] = next_order_++;
  places_[ip].members.push_back(member);
}

void MemberIdentities::SetSelf(uint32_t self, uint32_t ip) {
  if (has_self_ && self_ == self && AddressOf(self) == ip) return;
  if (has_self_) RemoveMember(self_);
  RemoveMember(self);
  Place& place = places_[ip];
  if (!place.members.empty()) {
    // The member that was first keeps the ports the game has seen, as moved ones.
    const uint32_t demoted = place.members.front();
    for (uint16_t port : place.first_ports) place.by_seen_port[port] = Moved{demoted, port};
    place.first_ports.clear();
  }
  place.members.insert(place.members.begin(), self);
  members_[self] = ip;
  order_[self] = next_order_++;
  self_ = self;
  has_self_ = true;
}

void MemberIdentities::RemoveMember(uint32_t member) {
  auto known = members_.find(member);
  if (known == members_.end()) return;
  auto place_it = places_.find(known->second);
  if (place_it != places_.end()) {
    Place& place = place_it->second;
    if (FirstAt(member, place)) place.first_ports.clear();
    place.members.erase(std::remove(place.members.begin(), place.members.end(), member),
                        place.members.end());
    for (auto it = place.by_seen_port.begin(); it != place.by_seen_port.end();) {
      it = it->second.member == member ? place.by_seen_port.erase(it) : std::next(it);
    }
    if (place.members.empty()) places_.erase(place_it);
  }
  order_.erase(member);
  members_.erase(known);
  if (has_self_ && self_ == member) has_self_ = false;
}

uint32_t MemberIdentities::AddressOf(uint32_t member) const {
  auto it = members_.find(member);
  return it == members_.end() ? 0 : it->second;
}

bool MemberIdentities::FirstAt(uint32_t member, const Place& place) const {
  return !place.members.empty() && place.members.front() == member;
}

uint16_t MemberIdentities::FreePortAbove(const Place& place, uint16_t port) const {
  uint16_t p = port;
  for (uint32_t tries = 0; tries < 65536; ++tries) {
    p = p == 65535 ? kLowestMovedPort : static_cast<uint16_t>(p + 1);
    if (place.by_seen_port.count(p) == 0 && place.first_ports.count(p) == 0) return p;
  }
  return port;  // 64 thousand ports moved at one address: unreachable in practice
}

SeenAddress MemberIdentities::Seen(uint32_t member, uint16_t real_port) {
  auto known = members_.find(member);
  if (known == members_.end()) return SeenAddress{0, 0};
  const uint32_t ip = known->second;
  Place& place = places_[ip];
  for (const auto& entry : place.by_seen_port) {
    if (entry.second.member == member && entry.second.real_port == real_port) {
      return SeenAddress{ip, entry.first};
    }
  }
  if (FirstAt(member, place) && place.by_seen_port.count(real_port) == 0) {
    place.first_ports.insert(real_port);  // the first member's ports are its own
    return SeenAddress{ip, real_port};
  }
  const uint16_t seen = FreePortAbove(place, real_port);
  place.by_seen_port[seen] = Moved{member, real_port};
  return SeenAddress{ip, seen};
}

bool MemberIdentities::Resolve(uint32_t ip, uint16_t port, uint32_t* member,
                               uint16_t* real_port) const {
  auto place_it = places_.find(ip);
  if (place_it == places_.end() || place_it->second.members.empty()) return false;
  const Place& place = place_it->second;
  auto moved = place.by_seen_port.find(port);
  if (moved != place.by_seen_port.end()) {
    *member = moved->second.member;
    *real_port = moved->second.real_port;
    return true;
  }
  if (has_self_ && place.members.front() == self_) return false;  // this machine's own
  *member = place.members.front();
  *real_port = port;
  return true;
}

std::vector<uint32_t> MemberIdentities::Members() const {
  std::vector<std::pair<uint64_t, uint32_t>> by_order;
  for (const auto& entry : order_) {
    if (!(has_self_ && entry.first == self_)) by_order.push_back({entry.second, entry.first});
  }
  std::sort(by_order.begin(), by_order.end());
  std::vector<uint32_t> out;
  for (const auto& entry : by_order) out.push_back(entry.second);
  return out;
}
