#include "sim_network.h"

#include <algorithm>
#include <string.h>

#include "wire.h"

namespace orb {
namespace sim {
namespace {

// Heap order for an inbox: the earliest (deliver_at, order) comes out first.
bool Later(const Network::Queued& a, const Network::Queued& b) {
  return a.deliver_at != b.deliver_at ? a.deliver_at > b.deliver_at : a.order > b.order;
}

// Datagram buffers come in three sizes (acknowledgements and control messages, game
// datagrams, full fragments), so a spare one always fits what its size class holds.
const size_t kBufferClasses[] = {128, 512, 2048};

int BufferClass(size_t size) {
  for (int c = 0; c < 3; ++c)
    if (size <= kBufferClasses[c]) return c;
  return -1;
}

}  // namespace

uint64_t Random::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

bool Random::Chance(double p) {
  if (p <= 0) return false;
  return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0) < p;
}

uint64_t Random::Below(uint64_t n) { return n ? Next() % n : 0; }

uint32_t Ip(const char* text) { return ParseIPv4(text); }

Network::~Network() {}

Host* Network::AddHost(const char* ip_text) {
  hosts_.emplace_back(new Host(this, Ip(ip_text)));
  return hosts_.back().get();
}

void Network::AddName(const std::string& name, const char* ip_text) { names_[name] = Ip(ip_text); }

bool Network::ResolveName(const char* host, uint32_t* ip) const {
  auto it = names_.find(host);
  if (it == names_.end()) return false;
  *ip = it->second;
  return true;
}

uint64_t Network::BytesSentTo(const SocketAddress& to) const {
  auto it = bytes_to_.find(Key(to.ip, to.port));
  return it == bytes_to_.end() ? 0 : it->second;
}

uint64_t Network::DatagramsSentTo(const SocketAddress& to) const {
  auto it = datagrams_to_.find(Key(to.ip, to.port));
  return it == datagrams_to_.end() ? 0 : it->second;
}

size_t Network::InFlight() const {
  size_t n = 0;
  for (auto& s : sockets_) n += s.second.inbox.size();
  return n;
}

int32_t Network::Open(uint32_t ip, uint16_t port, intptr_t* handle, uint16_t* bound_port) {
  if (port == 0) {
    do {
      port = next_ephemeral_++;
      if (next_ephemeral_ == 0) next_ephemeral_ = 49152;
    } while (bound_.count(Key(ip, port)));
  }
  const uint64_t key = Key(ip, port);
  if (bound_.count(key)) return RESULT_BIND;
  const intptr_t h = next_handle_++;
  sockets_[h].bound = SocketAddress{ip, port};
  bound_[key] = h;
  *handle = h;
  *bound_port = port;
  return 0;
}

Network::Socket* Network::Find(intptr_t handle) {
  auto it = sockets_.find(handle);
  return it == sockets_.end() ? nullptr : &it->second;
}

void Network::Close(intptr_t handle) {
  auto it = sockets_.find(handle);
  if (it == sockets_.end()) return;
  bound_.erase(Key(it->second.bound.ip, it->second.bound.port));
  sockets_.erase(it);
}

void Network::Send(intptr_t handle, const uint8_t* data, int length, const SocketAddress& to) {
  Socket* s = Find(handle);
  if (!s || length < 0) return;
  Schedule(s->bound, to, data, static_cast<size_t>(length));
}

void Network::AddNat(uint32_t public_ip, NatRules rules) { nats_[public_ip].rules = rules; }

void Network::PutBehindNat(uint32_t private_ip, uint32_t public_ip) {
  behind_[private_ip] = public_ip;
}

void Network::SetBlocked(uint32_t ip1, uint32_t ip2, bool blocked) {
  for (auto pair : {std::make_pair(ip1, ip2), std::make_pair(ip2, ip1)}) {
    if (blocked) {
      blocked_.insert(pair);
    } else {
      blocked_.erase(pair);
    }
  }
}

bool Network::Outbound(const SocketAddress& from, const SocketAddress& to,
                       SocketAddress* public_from) {
  auto router = behind_.find(from.ip);
  if (router == behind_.end()) return false;
  auto same_side = behind_.find(to.ip);
  if (same_side != behind_.end() && same_side->second == router->second) return false;  // LAN
  Nat& nat = nats_[router->second];
  const std::pair<uint64_t, uint64_t> flow(Key(from.ip, from.port),
                                           nat.rules.per_destination ? Key(to.ip, to.port) : 0);
  auto known = nat.by_flow.find(flow);
  uint16_t port;
  if (known != nat.by_flow.end()) {
    port = known->second;
  } else {
    port = from.port;
    while (nat.by_public_port.count(port) != 0) {
      port = port == 65535 ? 1024 : static_cast<uint16_t>(port + 1);
    }
    nat.by_flow[flow] = port;
    nat.by_public_port[port].inside = from;
  }
  nat.by_public_port[port].answers_from.insert(Key(to.ip, to.port));
  *public_from = SocketAddress{router->second, port};
  return true;
}

bool Network::Route(SocketAddress* from, SocketAddress* to) {
  const SocketAddress sender = *from;
  SocketAddress translated;
  if (Outbound(sender, *to, &translated)) *from = translated;
  if (blocked_.count(std::make_pair(from->ip, to->ip)) != 0) return false;
  auto nat = nats_.find(to->ip);
  if (nat == nats_.end()) return true;
  auto router = behind_.find(sender.ip);
  if (router != behind_.end() && router->second == to->ip && !nat->second.rules.hairpin) {
    return false;
  }
  auto mapping = nat->second.by_public_port.find(to->port);
  if (mapping == nat->second.by_public_port.end() ||
      mapping->second.answers_from.count(Key(from->ip, from->port)) == 0) {
    return false;
  }
  *to = mapping->second.inside;
  return true;
}

void Network::SendShortLived(intptr_t handle, const SocketAddress& to) {
  Socket* s = Find(handle);
  SocketAddress public_from;
  if (s != nullptr) Outbound(s->bound, to, &public_from);
}

void Network::Inject(const SocketAddress& from, const SocketAddress& to, const void* data,
                     size_t size) {
  Schedule(from, to, static_cast<const uint8_t*>(data), size);
}

void Network::Schedule(const SocketAddress& from, const SocketAddress& to, const uint8_t* data,
                       size_t size) {
  ++sent_;
  bytes_to_[Key(to.ip, to.port)] += size;
  ++datagrams_to_[Key(to.ip, to.port)];
  if (tap_on_) tapped_.push_back(WireDatagram{now_, from, to, Copy(data, size)});
  SocketAddress source = from, dest = to;
  if (!Route(&source, &dest)) {
    ++dropped_at_nat_;
    return;
  }
  if (random_.Chance(conditions_.loss)) {
    ++lost_;
    return;
  }
  int copies = 1;
  if (random_.Chance(conditions_.duplicate)) {
    ++duplicated_;
    copies = 2;
  }
  auto target = bound_.find(Key(dest.ip, dest.port));
  for (int i = 0; i < copies; ++i) {
    const uint64_t at = now_ + conditions_.delay_ms + random_.Below(conditions_.jitter_ms + 1ull);
    if (target == bound_.end()) {
      ++undeliverable_;
      continue;
    }
    std::vector<Queued>& inbox = sockets_[target->second].inbox;
    inbox.push_back(Queued{at, order_++, source, Copy(data, size)});
    std::push_heap(inbox.begin(), inbox.end(), Later);
  }
}

bool Network::TakeDue(Socket* s, Queued* out) {
  if (s->inbox.empty() || s->inbox.front().deliver_at > now_) return false;
  std::pop_heap(s->inbox.begin(), s->inbox.end(), Later);
  *out = std::move(s->inbox.back());
  s->inbox.pop_back();
  return true;
}

std::vector<uint8_t> Network::Copy(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes;
  const int c = BufferClass(size);
  if (c >= 0 && !spare_[c].empty()) {
    bytes.swap(spare_[c].back());
    spare_[c].pop_back();
  } else if (c >= 0) {
    bytes.reserve(kBufferClasses[c]);
  }
  bytes.assign(data, data + size);
  return bytes;
}

void Network::Recycle(std::vector<uint8_t>* bytes) {
  // Enough for every datagram a busy test has in flight; others are let go.
  for (int c = 0; c < 3; ++c) {
    if (bytes->capacity() == kBufferClasses[c] && spare_[c].size() < 256) {
      spare_[c].push_back(std::move(*bytes));
      return;
    }
  }
}

void Network::ClearTap() {
  for (WireDatagram& d : tapped_) Recycle(&d.bytes);
  tapped_.clear();
}

int32_t Host::Open(uint16_t port, intptr_t* handle, uint16_t* bound_port) {
  if (fail_open_) return fail_open_;
  return network_->Open(ip_, port, handle, bound_port);
}

int Host::Receive(intptr_t handle, uint8_t* buffer, int capacity, SocketAddress* from, int* error) {
  Network::Socket* s = network_->Find(handle);
  if (!s) return kNothing;
  if (errors_left_ > 0) {
    --errors_left_;
    *error = error_code_;
    return kError;
  }
  Network::Queued q;
  if (!network_->TakeDue(s, &q)) return kNothing;
  const int size = static_cast<int>(q.bytes.size());
  const bool fits = q.bytes.size() <= static_cast<size_t>(capacity);
  if (fits && !silent_ && size > 0) memcpy(buffer, q.bytes.data(), q.bytes.size());
  network_->Recycle(&q.bytes);
  if (silent_) return kNothing;
  if (!fits) {
    *error = 10040;  // WSAEMSGSIZE: the datagram is consumed
    return kError;
  }
  *from = q.from;
  return size;
}

void Host::SendToWithTtl(intptr_t handle, const uint8_t* data, int length,
                         const SocketAddress& to, int ttl) {
  if (ttl > 2) {
    SendTo(handle, data, length, to);
  } else if (!silent_) {
    network_->SendShortLived(handle, to);
  }
}

void Host::SendTo(intptr_t handle, const uint8_t* data, int length, const SocketAddress& to) {
  if (silent_) return;
  network_->Send(handle, data, length, to);
}

void Host::Close(intptr_t handle) { network_->Close(handle); }

bool Host::Resolve(const char* host, uint32_t* ip) {
  uint32_t parsed = ParseIPv4(host);
  if (parsed != kAddressNone) {
    *ip = parsed;
    return true;
  }
  return network_->ResolveName(host, ip);
}

std::vector<uint8_t> Datagram(uint32_t id, uint16_t type, uint16_t seq, uint16_t of,
                              const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> d(12 + payload.size());
  WritePeerHeader(d.data(), PeerHeader{id, type, seq, of, static_cast<uint16_t>(payload.size())});
  std::copy(payload.begin(), payload.end(), d.begin() + 12);
  return d;
}

std::vector<uint8_t> ConnectBytes(uint16_t port, int32_t address, const char* host) {
  std::vector<uint8_t> p(72);
  WriteConnectPayload(p.data(), host, port, address);
  return p;
}

}  // namespace sim
}  // namespace orb
