// One pump pass: receive, deliver, transmit the send queue, resend and time out, early
// copies, heartbeats.
#include <algorithm>
#include <iterator>
#include <vector>

#include "core.h"

namespace orb {

void Transport::Core::Pass() {
  in_pass_ = true;
  ++pass_;
  ReceiveAll();
  Deliver();
  TransmitQueue();
  ResendAndTimeOut();
  SendCopies();
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
  if (send_queue_.empty()) return;
  const uint64_t now = options_.clock();
  while (!send_queue_.empty()) {
    std::unique_ptr<Outgoing> f = std::move(send_queue_.front());
    send_queue_.pop_front();
    Endpoint* e = f->connection->endpoint;
    Transmit(e, std::move(f), false, now);
  }
}

// Sends the fragment's datagram and, unless it is a resend or an acknowledgement, files it
// at the end of the unacknowledged list, its resend timed from now.
void Transport::Core::Transmit(Endpoint* endpoint, std::unique_ptr<Outgoing> f, bool resend,
                               uint64_t now) {
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
  raw->position = next_position_++;
  raw->last_sent = now;
  const uint64_t key = IdSeqKey(raw->header.id, raw->header.seq);
  auto at = unacked_.find(key);
  // Only when the 32-bit message id has come round while a fragment of 4 billion messages
  // ago is still outstanding: that one is long stale and gives way.
  if (at != unacked_.end()) Retire(at);
  unacked_.emplace(key, std::move(f));
  ScheduleFirstResend(raw);
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
