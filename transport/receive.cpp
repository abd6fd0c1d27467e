// The receive path: draining every endpoint and dispatching each datagram.
//
// Order of the checks on one datagram (each failing check drops it quietly and counts it):
//   0. from a socket address no connection uses: offered to the stray hook first, if set;
//   1. a failed read is logged "recv error: %d" and skipped; a read of 0 bytes is skipped;
//   2. fewer than 12 bytes: dropped (dropped_short);
//   3. a header length beyond the bytes that arrived: dropped (dropped_truncated);
//      bytes beyond the header length are ignored;
//   4. logged as "We have an unprocessed message: ...";
//   5. a control type (CONNECT .. CONFIRM_DISCONNECT) with a payload length other than
//      72, 8, 8, 4, 4, 4: dropped (dropped_control_length);
//   6. dispatch: CONNECT and the other control types to handshake.cpp, ACKNOWLEDGE to the
//      unacknowledged list (below), every other type to the message bucket (bucket.cpp).
#include "core.h"

namespace orb {
namespace {

// Payload length of each control type, or -1 for a data type.
int ControlLength(uint16_t type) {
  switch (type) {
    case CONNECT: return kConnectPayloadBytes;
    case ACKNOWLEDGE: return 8;
    case CONFIRM_CONNECT: return 8;
    case HEARTBEAT: return 4;
    case PEERCLOSE: return 4;
    case CONFIRM_DISCONNECT: return 4;
    default: return -1;
  }
}

// A socket that keeps failing would otherwise hold the pass for ever.
const int kMaxConsecutiveReadErrors = 16;

}  // namespace

void Transport::Core::ReceiveAll() {
  uint8_t buffer[kReceiveBufferBytes];
  // By index: a callback may append an endpoint while this loop runs.
  for (size_t i = 0; i < endpoints_.size(); ++i) {
    Endpoint* e = endpoints_[i].get();
    size_t reads = 0;
    int errors_in_a_row = 0;
    for (;;) {
      if (options_.max_datagrams_per_pass && reads >= options_.max_datagrams_per_pass) break;
      SocketAddress from = {0, 0};
      int error = 0;
      int n = io_->Receive(e->handle, buffer, sizeof buffer, &from, &error);
      if (n == DatagramIo::kNothing) break;
      ++reads;
      if (n < 0) {
        ++counters_.receive_errors;
        Trace("recv error: %d\n", error);
        if (++errors_in_a_row >= kMaxConsecutiveReadErrors) break;
        continue;
      }
      errors_in_a_row = 0;
      if (n == 0) continue;
      ++counters_.datagrams_received;
      Process(e, buffer, n, from);
    }
  }
}

void Transport::Core::Process(Endpoint* endpoint, const uint8_t* datagram, int size,
                              const SocketAddress& from) {
  if (options_.stray && LowestAt(from) == nullptr && options_.stray(datagram, size, from)) {
    ++counters_.strays_taken;
    return;
  }
  if (size < kPeerHeaderBytes) {
    ++counters_.dropped_short;
    return;
  }
  const PeerHeader h = ReadPeerHeader(datagram);
  if (h.length > size - kPeerHeaderBytes) {
    ++counters_.dropped_truncated;
    return;
  }
  Trace("We have an unprocessed message: id:%d, len:%d, type:%d, seq:%d of %d\n",
        static_cast<int>(h.id), h.length, h.type, h.seq, h.of);
  const uint8_t* payload = datagram + kPeerHeaderBytes;
  const int expected = ControlLength(h.type);
  if (expected >= 0 && h.length != expected) {
    ++counters_.dropped_control_length;
    return;
  }
  if (h.type == CONNECT) {  // counts its bytes against the connection it opens
    OnConnect(endpoint, h, payload, size, from);
    return;
  }
  if (Connection* c = LowestAt(from)) {
    c->bytes_received += static_cast<uint64_t>(size);
    c->last_heard = options_.clock();  // the party is there: see resend.cpp
  }
  switch (h.type) {
    case ACKNOWLEDGE: OnAcknowledge(endpoint, payload, from); break;
    case CONFIRM_CONNECT: OnConfirmConnect(h, payload, from); break;
    case HEARTBEAT: OnHeartbeat(h, payload, from); break;
    case PEERCLOSE: OnPeerClose(h, payload, from); break;
    case CONFIRM_DISCONNECT: OnConfirmDisconnect(payload, from); break;
    default: OnDataFragment(h, payload, from); break;
  }
}

// An acknowledgement retires only a fragment that was sent to the socket address it came
// from, so a stranger cannot cancel resends meant for somebody else. Matching: the fragment
// with the acknowledged id and seq (our peers write the seq into the reserved bytes 6-7);
// otherwise the first outstanding fragment with that id, as a peer that leaves those bytes
// empty or holding anything else expects. The unacknowledged fragments are ordered by
// (id, seq), so that is its lowest outstanding seq. Once a peer has shown that
// it writes the seq (exact matches on two different seqs), a seq of the message that
// matches nothing is a repeated acknowledgement and retires nothing: falling back would
// retire a sibling that may have been lost. One exact match is no proof: a peer that
// writes the same leftover value into every acknowledgement matches a fragment now and
// then, and must still have the others retired by the first-of-the-id rule.
UnackedMap::iterator Transport::Core::AckTarget(uint32_t id, uint16_t seq,
                                               const SocketAddress& from, bool* elsewhere) {
  const auto none = unacked_.end();
  auto exact = seq != 0 ? unacked_.find(IdSeqKey(id, seq)) : none;
  if (exact != none) {
    Connection* c = exact->second->connection.get();
    if (c->remote_socket == from) {
      if (c->exact_seq_seen == 0)
        c->exact_seq_seen = seq;
      else if (c->exact_seq_seen != seq)
        c->acks_carry_seq = true;
      return exact;
    }
    *elsewhere = true;
  }
  auto first = unacked_.lower_bound(IdSeqKey(id, 0));
  if (first == none || (first->first >> 16) != id) return none;
  const Outgoing* f = first->second.get();
  if (!(f->connection->remote_socket == from)) {
    *elsewhere = true;
    return none;
  }
  if (f->connection->acks_carry_seq && seq >= 1 && seq <= f->header.of) return none;
  return first;
}

void Transport::Core::OnAcknowledge(Endpoint* endpoint, const uint8_t* payload,
                                    const SocketAddress& from) {
  const uint32_t id = ReadU32(payload);
  const uint16_t type = ReadU16(payload + 4);
  const uint16_t seq = ReadU16(payload + 6);
  bool elsewhere = false;
  auto it = AckTarget(id, seq, from, &elsewhere);
  if (it == unacked_.end()) {
    // Perhaps the acknowledgement of a stateless answer (whose id may equal one of ours).
    if (options_.challenge && type == CONFIRM_CONNECT && AcceptChallenge(endpoint, id, from))
      return;
    if (elsewhere)
      ++counters_.acks_refused;
    else
      ++counters_.acks_unmatched;
    return;
  }
  Outgoing* f = it->second.get();
  const ConnectionRef connection = f->connection;
  NoteAcknowledged(f);  // AckTarget matches only a fragment sent to where this came from
  Retire(it);
  if (connection->proven) return;
  connection->proven = true;
  if (connection->in_table && options_.observer) options_.observer->OnProven(connection->address);
}

}  // namespace orb
