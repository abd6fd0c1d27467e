// The stateless answer to a CONNECT (challenge.h) and the acknowledgement that turns it
// into a connection.
#include <string.h>

#include "core.h"

namespace orb {
namespace {

const size_t kParkedMax = 256;
const size_t kParkedPerSource = 4;
const uint64_t kParkedMs = 10000;

}  // namespace

void Transport::Core::SendChallenge(Endpoint* endpoint, const SocketAddress& to, int32_t remote) {
  const Challenge c = MakeChallenge(options_.challenge_key, to.ip, to.port, remote,
                                    options_.clock());
  uint8_t datagram[kPeerHeaderBytes + 8];
  WritePeerHeader(datagram, PeerHeader{c.message_id, CONFIRM_CONNECT, 1, 1, 8});
  WriteU32(datagram + kPeerHeaderBytes, static_cast<uint32_t>(remote));
  WriteU32(datagram + kPeerHeaderBytes + 4, static_cast<uint32_t>(c.accepting_address));
  // Sent once and never resent: a far side that misses it repeats its CONNECT, which is
  // left unacknowledged until the connection exists.
  io_->SendTo(endpoint->handle, datagram, sizeof datagram, to);
  ++counters_.connects_challenged;
  ++counters_.datagrams_sent;
}

bool Transport::Core::AcceptChallenge(Endpoint* endpoint, uint32_t id, const SocketAddress& from) {
  int32_t remote = 0, accepting = 0;
  if (!CheckChallenge(options_.challenge_key, from.ip, from.port, id, options_.clock(), &remote,
                      &accepting)) {
    ++counters_.challenges_failed;
    return false;
  }
  if (aliases_.count(accepting)) return false;  // a repeat: the connection exists
  if (table_.size() >= options_.max_connections) {
    ++counters_.connects_refused;
    return true;
  }
  char host[16];
  FormatIPv4(from.ip, host, sizeof host);
  ConnectionRef c = AddConnection(endpoint, host, from.ip, from.port, remote);
  c->alias = accepting;
  aliases_[accepting] = c->address;
  c->remote_unknown = remote == 0;
  c->proven = true;
  ++counters_.challenges_proven;
  Trace("CONFIRM CONNECT acknowledged: address %d for %s:%u\n", c->address, host,
        static_cast<unsigned>(from.port));
  if (options_.observer) {
    options_.observer->OnAccepted(c->address);
    if (c->in_table) options_.observer->OnProven(c->address);
  }
  if (c->in_table) ReplayParked(endpoint, from);
  return true;
}

void Transport::Core::Park(const PeerHeader& h, const uint8_t* payload, const SocketAddress& from) {
  const uint64_t now = options_.clock();
  while (!parked_.empty() && (parked_.size() >= kParkedMax || now - parked_.front().at > kParkedMs))
    parked_.pop_front();
  const uint64_t source = SocketKey(from);
  size_t from_source = 0;
  for (const Parked& p : parked_) from_source += p.source == source;
  if (from_source >= kParkedPerSource) return;
  Parked p;
  p.source = source;
  p.at = now;
  p.datagram.resize(kPeerHeaderBytes + h.length);
  WritePeerHeader(p.datagram.data(), h);
  if (h.length) memcpy(p.datagram.data() + kPeerHeaderBytes, payload, h.length);
  parked_.push_back(std::move(p));
}

void Transport::Core::ReplayParked(Endpoint* endpoint, const SocketAddress& from) {
  const uint64_t source = SocketKey(from);
  const uint64_t now = options_.clock();
  std::vector<std::vector<uint8_t>> mine;
  for (auto it = parked_.begin(); it != parked_.end();) {
    if (it->source != source) {
      ++it;
      continue;
    }
    if (now - it->at <= kParkedMs) mine.push_back(std::move(it->datagram));
    it = parked_.erase(it);
  }
  for (const auto& d : mine) {
    ++counters_.early_data_replayed;
    Process(endpoint, d.data(), static_cast<int>(d.size()), from);
  }
}

}  // namespace orb
