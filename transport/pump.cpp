// One pump pass: receive, deliver, transmit the send queue, resend and time out, heartbeats.
#include <algorithm>
#include <iterator>

#include "core.h"

namespace orb {

void Transport::Core::Pass() {
  in_pass_ = true;
  ++pass_;
  ReceiveAll();
  Deliver();
  TransmitQueue();
  ResendAndTimeOut();
  Heartbeats();
  in_pass_ = false;
}

void Transport::Core::AbandonPass() {
  ready_.clear();
  for (Bucket::iterator g = bucket_.begin(); g != bucket_.end();) {
    Bucket::iterator next = std::next(g);
    if (g->ready) DropGroup(g);
    g = next;
  }
  in_pass_ = false;
}

void Transport::Core::TransmitQueue() {
  // Fragments go out in the order queued, whether or not their address is still in the
  // table. Nothing in this step queues more.
  while (!send_queue_.empty()) {
    std::unique_ptr<Outgoing> f = std::move(send_queue_.front());
    send_queue_.pop_front();
    Endpoint* e = f->connection->endpoint;
    Transmit(e, std::move(f), false);
  }
}

// Sends the fragment's datagram and, unless it is a resend or an acknowledgement, files it
// at the end of the unacknowledged list.
void Transport::Core::Transmit(Endpoint* endpoint, std::unique_ptr<Outgoing> f, bool resend) {
  Connection* c = f->connection.get();
  const uint64_t size = f->wire.size();
  if (options_.anti_amplification && !c->proven &&
      c->bytes_sent + size > 3 * c->bytes_received) {
    ++counters_.sends_suppressed;
  } else {
    io_->SendTo(endpoint->handle, f->wire.data(), static_cast<int>(f->wire.size()),
                c->remote_socket);
    c->bytes_sent += size;
    ++counters_.datagrams_sent;
  }
  if (resend || f->header.type == ACKNOWLEDGE) return;
  Outgoing* raw = f.get();
  raw->transmitted = options_.clock();
  raw->position = next_position_++;
  raw->list_it = unacked_.insert(unacked_.end(), std::move(f));
  unacked_by_id_seq_[IdSeqKey(raw->header.id, raw->header.seq)] = raw->list_it;
  raw->resend_it = resend_due_.emplace(raw->last_sent, raw);
}

void Transport::Core::TransmitResend(Outgoing* f) {
  Connection* c = f->connection.get();
  const uint64_t size = f->wire.size();
  if (options_.anti_amplification && !c->proven &&
      c->bytes_sent + size > 3 * c->bytes_received) {
    ++counters_.sends_suppressed;
    return;
  }
  io_->SendTo(c->endpoint->handle, f->wire.data(), static_cast<int>(size), c->remote_socket);
  c->bytes_sent += size;
  ++counters_.datagrams_sent;
}

// Walks the unacknowledged list from its front, as if fragment by fragment: the first one
// queued more than 30000 ms ago times out and ends the scan; before it, every fragment last
// sent more than 10000 ms ago is resent. Fragments enter the list in the order they were
// queued on a monotonic clock, so only the front can be the first to time out, and if it
// does not, none does; the ones due for a resend come from an index by last-sent time and
// are resent in list order.
void Transport::Core::ResendAndTimeOut() {
  if (unacked_.empty()) return;
  const uint64_t now = options_.clock();
  Outgoing* front = unacked_.front().get();
  if (now - front->created > MESSAGE_TIMEOUT_MS) {
    std::unique_ptr<Outgoing> f = std::move(unacked_.front());
    resend_due_.erase(f->resend_it);
    unacked_by_id_seq_.erase(IdSeqKey(f->header.id, f->header.seq));
    unacked_.pop_front();
    ++counters_.timeouts;
    Trace("Message %u timed out on address %d. %d bytes, %d of %d, %s:%u\n", f->header.id,
          f->address, f->header.length, f->header.seq, f->header.of, f->connection->host,
          static_cast<unsigned>(f->connection->endpoint->local_port));
    RaiseEvent(f->connection, f->address, EVENT_TIMEOUT);
    RemoveConnection(f->address);
    return;
  }
  if (now <= RESEND_INTERVAL_MS) return;
  const uint64_t due_before = now - RESEND_INTERVAL_MS;  // last sent < this: more than 10 s
  std::vector<Outgoing*> due;
  for (auto it = resend_due_.begin(); it != resend_due_.end() && it->first < due_before; ++it)
    due.push_back(it->second);
  if (due.empty()) return;
  std::sort(due.begin(), due.end(),
            [](const Outgoing* a, const Outgoing* b) { return a->position < b->position; });
  for (Outgoing* f : due) {
    ++f->tries;
    ++counters_.resends;
    Trace("Message %u being resent (%d tries so far) on address %d. %d bytes, %d of %d, %s:%u\n",
          f->header.id, f->tries, f->address, f->header.length, f->header.seq, f->header.of,
          f->connection->host, static_cast<unsigned>(f->connection->endpoint->local_port));
    if (f->connection->in_table) TransmitResend(f);
    f->last_sent = now;
    resend_due_.erase(f->resend_it);
    f->resend_it = resend_due_.emplace(now, f);
  }
}

// Every open connection whose stamp is more than 30000 ms old, in ascending address order.
void Transport::Core::Heartbeats() {
  const uint64_t now = options_.clock();
  std::vector<int32_t> due;
  for (auto it = heartbeat_due_.begin(); it != heartbeat_due_.end(); ++it) {
    if (now - it->first <= HEARTBEAT_INTERVAL_MS) break;
    due.push_back(it->second);
  }
  std::sort(due.begin(), due.end());
  for (int32_t address : due) {
    Connection* c = Find(address);
    if (!c || !c->heartbeat_queued) continue;
    Trace("HEARTBEAT: sending heartbeat on address %d\n", address);
    uint8_t payload[4];
    WriteU32(payload, static_cast<uint32_t>(c->remote_address));
    Send(address, payload, sizeof payload, HEARTBEAT);
    heartbeat_due_.erase(std::make_pair(c->last_heartbeat, address));
    c->last_heartbeat = now;
    heartbeat_due_.insert(std::make_pair(now, address));
  }
}

}  // namespace orb
