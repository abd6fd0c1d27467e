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
    case ACKNOWLEDGE: OnAcknowledge(payload, from); break;
    case CONFIRM_CONNECT: OnConfirmConnect(h, payload, from); break;
    case HEARTBEAT: OnHeartbeat(h, payload, from); break;
    case PEERCLOSE: OnPeerClose(h, payload, from); break;
    case CONFIRM_DISCONNECT: OnConfirmDisconnect(payload, from); break;
    default: OnDataFragment(h, payload, from); break;
  }
}

// Retires the unacknowledged fragment with the acknowledged id and seq, or, for seq 0 (a
// peer that leaves the reserved bytes empty), the first one with that id: the fragments of
// one message enter the list together in seq order, so that is its lowest seq.
void Transport::Core::OnAcknowledge(const uint8_t* payload, const SocketAddress& from) {
  const uint32_t id = ReadU32(payload);
  const uint16_t seq = ReadU16(payload + 6);
  auto it = seq != 0 ? unacked_by_id_seq_.find(IdSeqKey(id, seq))
                     : unacked_by_id_seq_.lower_bound(IdSeqKey(id, 0));
  if (it == unacked_by_id_seq_.end() || (it->first >> 16) != id) {
    ++counters_.acks_unmatched;
    return;
  }
  UnackedList::iterator at = it->second;
  Outgoing* f = at->get();
  // Only an acknowledgement from where the connection is says anything about its path.
  if (f->connection->remote_socket == from) {
    f->connection->proven = true;
    NoteAcknowledged(f);
  }
  Retire(at);
}

}  // namespace orb
