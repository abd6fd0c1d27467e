// The stateless answer to a CONNECT (challenge.h) and the acknowledgement that turns it
// into a connection.
#include "core.h"

namespace orb {

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
  return true;
}

}  // namespace orb
