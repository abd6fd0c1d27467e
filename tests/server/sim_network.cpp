#include "sim_network.h"

#include <string.h>

namespace orb {
namespace test {

void SimNetwork::AddNat(uint32_t public_ip, NatRules rules) { nats_[public_ip].rules = rules; }

void SimNetwork::PutBehindNat(uint32_t private_ip, uint32_t public_ip) {
  behind_[private_ip] = public_ip;
}

void SimNetwork::ForwardPort(uint32_t public_ip, uint16_t port, const SocketAddress& inside) {
  nats_[public_ip].forwarded[port] = inside;
}

void SimNetwork::ResetNat(uint32_t public_ip) {
  Nat& nat = nats_[public_ip];
  nat.by_public_port.clear();
  nat.by_flow.clear();
}

void SimNetwork::SetBlocked(uint32_t ip1, uint32_t ip2, bool blocked) {
  for (auto pair : {std::make_pair(ip1, ip2), std::make_pair(ip2, ip1)}) {
    if (blocked) {
      blocked_.insert(pair);
    } else {
      blocked_.erase(pair);
    }
  }
}

bool SimNetwork::Outbound(const SocketAddress& from, const SocketAddress& to,
                          SocketAddress* public_from) {
  auto router = behind_.find(from.ip);
  if (router == behind_.end()) return false;
  auto same_side = behind_.find(to.ip);
  if (same_side != behind_.end() && same_side->second == router->second) return false;  // LAN
  Nat& nat = nats_[router->second];
  const std::pair<uint64_t, uint64_t> flow(Key(from), nat.rules.per_destination ? Key(to) : 0);
  auto known = nat.by_flow.find(flow);
  uint16_t port;
  if (known != nat.by_flow.end()) {
    port = known->second;
  } else {
    port = from.port;
    while (nat.by_public_port.count(port) != 0 || nat.forwarded.count(port) != 0) {
      port = port == 65535 ? 1024 : static_cast<uint16_t>(port + 1);
    }
    nat.by_flow[flow] = port;
    nat.by_public_port[port].inside = from;
  }
  nat.by_public_port[port].answers_from.insert(Key(to));
  *public_from = SocketAddress{router->second, port};
  return true;
}

bool SimNetwork::Inbound(Nat& nat, const SocketAddress& from, const SocketAddress& to,
                         SocketAddress* inside) {
  auto forwarded = nat.forwarded.find(to.port);
  if (forwarded != nat.forwarded.end()) {
    *inside = forwarded->second;
    return true;
  }
  auto mapping = nat.by_public_port.find(to.port);
  if (mapping == nat.by_public_port.end() || mapping->second.answers_from.count(Key(from)) == 0) {
    ++dropped_at_nat_;
    return false;
  }
  *inside = mapping->second.inside;
  return true;
}

void SimNetwork::DeliverShortLived(const SocketAddress& from, const SocketAddress& to) {
  SocketAddress public_from;
  Outbound(from, to, &public_from);
}

void SimNetwork::Deliver(const SocketAddress& from, const SocketAddress& to,
                         const uint8_t* data, size_t length) {
  SocketAddress source = from;
  SocketAddress dest = to;
  SocketAddress translated;
  if (Outbound(from, to, &translated)) source = translated;
  if (blocked_.count(std::make_pair(source.ip, dest.ip)) != 0) return;
  auto nat = nats_.find(dest.ip);
  if (nat != nats_.end()) {
    auto router = behind_.find(from.ip);
    const bool from_inside = router != behind_.end() && router->second == dest.ip;
    if (from_inside && !nat->second.rules.hairpin) {
      ++dropped_at_nat_;
      return;
    }
    if (!Inbound(nat->second, source, dest, &dest)) return;
  }
  Queue(source, dest, data, length);
}

void SimNetwork::Queue(const SocketAddress& from, const SocketAddress& to, const uint8_t* data,
                       size_t length) {
  bytes_to_[Key(to)] += length;
  ++datagrams_to_[Key(to)];
  auto it = bound_.find(Key(to));
  if (it == bound_.end()) return;
  it->second.push_back(SimDatagram{from, std::vector<uint8_t>(data, data + length)});
}

uint64_t SimNetwork::BytesSentTo(const SocketAddress& to) const {
  auto it = bytes_to_.find(Key(to));
  return it == bytes_to_.end() ? 0 : it->second;
}

uint64_t SimNetwork::DatagramsSentTo(const SocketAddress& to) const {
  auto it = datagrams_to_.find(Key(to));
  return it == datagrams_to_.end() ? 0 : it->second;
}

bool SimNetwork::Bind(const SocketAddress& at) {
  return bound_.emplace(Key(at), std::deque<SimDatagram>()).second;
}

void SimNetwork::Unbind(const SocketAddress& at) { bound_.erase(Key(at)); }

std::deque<SimDatagram>* SimNetwork::Queue(const SocketAddress& at) {
  auto it = bound_.find(Key(at));
  return it == bound_.end() ? nullptr : &it->second;
}

SimIo::SimIo(SimNetwork* network, const char* ip) : network_(network), ip_(ParseIPv4(ip)) {}

int32_t SimIo::Open(uint16_t port, intptr_t* handle, uint16_t* bound_port) {
  SocketAddress at{ip_, port != 0 ? port : network_->NextPort()};
  if (!network_->Bind(at)) return RESULT_BIND;
  sockets_.push_back(at);
  *handle = static_cast<intptr_t>(sockets_.size() - 1);
  *bound_port = at.port;
  return RESULT_NO_ERROR;
}

int SimIo::Receive(intptr_t handle, uint8_t* buffer, int capacity, SocketAddress* from,
                   int* error) {
  std::deque<SimDatagram>* q = network_->Queue(sockets_.at(handle));
  if (q == nullptr || q->empty()) return kNothing;
  SimDatagram d = std::move(q->front());
  q->pop_front();
  if (silent_) return kNothing;
  if (static_cast<int>(d.bytes.size()) > capacity) {
    *error = 90;  // EMSGSIZE
    return kError;
  }
  if (!d.bytes.empty()) memcpy(buffer, d.bytes.data(), d.bytes.size());
  *from = d.from;
  return static_cast<int>(d.bytes.size());
}

void SimIo::SendTo(intptr_t handle, const uint8_t* data, int length, const SocketAddress& to) {
  if (silent_ || length < 0) return;
  network_->Deliver(sockets_.at(handle), to, data, static_cast<size_t>(length));
}

void SimIo::SendToWithTtl(intptr_t handle, const uint8_t* data, int length,
                          const SocketAddress& to, int ttl) {
  if (ttl > 2) {
    SendTo(handle, data, length, to);
  } else if (!silent_) {
    network_->DeliverShortLived(sockets_.at(handle), to);
  }
}

void SimIo::Close(intptr_t handle) { network_->Unbind(sockets_.at(handle)); }

bool SimIo::Resolve(const char* host, uint32_t* ip) {
  uint32_t v = ParseIPv4(host);
  if (v == kAddressNone) return false;
  *ip = v;
  return true;
}

std::vector<uint8_t> PeerDatagram(uint32_t id, uint16_t type, uint16_t seq, uint16_t of,
                                  const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> d(12);
  uint16_t length = static_cast<uint16_t>(payload.size());
  for (int i = 0; i < 4; ++i) d[i] = static_cast<uint8_t>(id >> (8 * i));
  d[4] = type & 0xFF; d[5] = type >> 8;
  d[6] = seq & 0xFF;  d[7] = seq >> 8;
  d[8] = of & 0xFF;   d[9] = of >> 8;
  d[10] = length & 0xFF; d[11] = length >> 8;
  d.insert(d.end(), payload.begin(), payload.end());
  return d;
}

std::vector<uint8_t> ConnectPayload(uint16_t port, int32_t address) {
  std::vector<uint8_t> p(72, 0);
  p[0] = 0;
  p[1] = 2;
  memcpy(&p[2], "203.0.113.1", 11);
  p[66] = port & 0xFF;
  p[67] = port >> 8;
  for (int i = 0; i < 4; ++i) p[68 + i] = static_cast<uint8_t>(uint32_t(address) >> (8 * i));
  return p;
}

}  // namespace test
}  // namespace orb
