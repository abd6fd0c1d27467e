// The message bucket: received data fragments grouped per connection and message id, and
// the delivery step that hands every complete message to its connection's data callback.
//
// A message of one fragment is delivered in the pass it arrives in. A message of several
// fragments waits until all of them are there (fragments are kept across passes and
// dropped 30 s after the first arrived), and every fragment is acknowledged when it joins,
// so the sender retires each one. A repeated fragment is acknowledged again when the copy
// held arrived in an earlier pass: its first acknowledgement was evidently lost.
//
// Every message is handed to the caller at most once: the ids delivered on a connection
// are remembered (delivered_window.h), and a fragment of one of them is acknowledged
// again and dropped. A repeat within one pass is dropped without a second acknowledgement,
// as a peer that knows only the published format does.
#include <string.h>

#include <algorithm>

#include "core.h"

namespace orb {

bool Transport::Core::IncompleteFits(Connection* c, size_t cost) const {
  return c->incomplete_bytes + cost <= options_.max_incomplete_bytes_per_connection &&
         incomplete_total_ + cost <= options_.max_incomplete_bytes_total;
}

void Transport::Core::DropGroup(Bucket::iterator g) {
  g->connection->incomplete_bytes -= g->held_bytes;
  incomplete_total_ -= g->held_bytes;
  groups_.erase(GroupKey(g->address, g->id));
  bucket_.erase(g);
}

void Transport::Core::OnDataFragment(const PeerHeader& h, const uint8_t* payload,
                                     const SocketAddress& from) {
  Connection* sender = LowestAt(from);
  if (!sender) {
    ++counters_.dropped_unknown_sender;
    if (options_.challenge) Park(h, payload, from);
    return;
  }
  if (h.of == 0 || h.seq == 0 || h.seq > h.of) {
    ++counters_.dropped_malformed;
    return;
  }
  if (sender->delivered.Contains(h.id)) {
    // Delivered in an earlier pass: its acknowledgement was lost, so it goes again.
    Trace("the exact message is already in the message bucket\n");
    ++counters_.dropped_duplicate;
    QueueAck(sender->address, h);
    return;
  }
  const size_t cost = h.of > 1 ? h.length + kFragmentOverheadBytes : 0;
  HeldFragment fragment;
  fragment.length = h.length;
  fragment.pass = pass_;

  auto found = groups_.find(GroupKey(sender->address, h.id));
  if (found == groups_.end()) {
    if (cost && !IncompleteFits(sender, cost)) {
      ++counters_.dropped_incomplete_limit;
      return;
    }
    Trace("Adding recceived message to the bucket\n");
    QueueAck(sender->address, h);
    Group g;
    g.connection = table_[sender->address];
    g.address = sender->address;
    g.id = h.id;
    g.type = h.type;
    g.of = h.of;
    g.opened = options_.clock();
    g.order = next_group_order_++;
    fragment.payload.assign(payload, payload + h.length);
    fragment.payload.push_back(0);
    g.fragments.emplace(h.seq, std::move(fragment));
    g.held_bytes = cost;
    sender->incomplete_bytes += cost;
    incomplete_total_ += cost;
    Bucket::iterator at = bucket_.insert(bucket_.end(), std::move(g));
    groups_[GroupKey(sender->address, h.id)] = at;
    if (h.of == 1) {
      at->ready = true;
      ready_.push_back(at);
    }
    return;
  }

  Group& g = *found->second;
  if (h.of != g.of) {
    ++counters_.dropped_malformed;
    return;
  }
  auto held = g.fragments.find(h.seq);
  if (held != g.fragments.end()) {
    Trace("the exact message is already in the message bucket\n");
    ++counters_.dropped_duplicate;
    if (g.of > 1 && held->second.pass != pass_) QueueAck(sender->address, h);
    return;
  }
  // The fragment that completes a message is always taken: it frees what the rest holds.
  const bool completes = g.fragments.size() + 1 == g.of;
  if (!completes && !IncompleteFits(sender, cost)) {
    ++counters_.dropped_incomplete_limit;
    return;
  }
  QueueAck(sender->address, h);
  fragment.payload.assign(payload, payload + h.length);
  fragment.payload.push_back(0);
  g.fragments.emplace(h.seq, std::move(fragment));
  g.held_bytes += cost;
  sender->incomplete_bytes += cost;
  incomplete_total_ += cost;
  if (g.fragments.size() == g.of && !g.ready) {
    g.ready = true;
    ready_.push_back(found->second);
  }
}

void Transport::Core::Deliver() {
  const uint64_t now = options_.clock();
  std::sort(ready_.begin(), ready_.end(),
            [](Bucket::iterator a, Bucket::iterator b) { return a->order < b->order; });
  std::vector<uint8_t> joined;
  for (Bucket::iterator g : ready_) {
    const ConnectionRef connection = g->connection;  // callbacks go through the record
    const uint8_t* data;
    size_t total;
    if (g->of == 1) {
      const HeldFragment& only = g->fragments.begin()->second;
      data = only.payload.data();
      total = only.length;
    } else {
      total = 0;
      for (auto& f : g->fragments) total += f.second.length;
      joined.resize(total + 1);
      size_t at = 0;
      for (auto& f : g->fragments) {
        if (f.second.length) memcpy(joined.data() + at, f.second.payload.data(), f.second.length);
        at += f.second.length;
      }
      data = joined.data();
    }
    // Remembered before the callback runs, so even a callback that throws has had it.
    connection->delivered.Add(g->id, now, kDeliveredMemoryMs,
                              options_.max_delivered_ids_per_connection);
    if (g->of == 1 || total > 0) {
      const int32_t length = static_cast<int32_t>(total);
      if (DataCallback cb = connection->data) cb(data, length, g->type, g->address, 0);
      if (options_.observer) options_.observer->OnData(data, length, g->type, g->address);
    }
    DropGroup(g);
  }
  ready_.clear();

  // Unfinished messages, oldest first: the bucket is in the order groups were opened.
  while (!bucket_.empty() && !bucket_.front().ready &&
         now - bucket_.front().opened > kIncompleteMessageTimeoutMs) {
    ++counters_.incomplete_expired;
    DropGroup(bucket_.begin());
  }
}

}  // namespace orb
