// Resends and time-outs: when an unacknowledged fragment goes again, and when its party
// counts as gone.
//
// A fragment goes again once its connection's resend wait (rtt.h) has passed since it was
// last sent: the smoothed round trip and its spread, doubling with each try up to 10 s. It
// times out, raising EVENT_TIMEOUT and removing its connection, once
//   - more than MESSAGE_TIMEOUT_MS have passed both since it was queued and since the
//     latest datagram from its connection's socket address (a party that is really gone),
//   - or more than kFragmentGiveUpMs have passed since it was queued, whatever came (a
//     party that answers everything but this fragment, which would otherwise hold it for
//     ever).
// So on a path that loses one datagram in five a fragment gets a dozen tries and more, and
// a session lasts as long as anything at all gets through within 30 s.
//
// Early copies. A lost fragment costs at least a resend wait, over 100 ms, where a game
// wants it within a few tens. So to a connection that has lost a fragment in the last
// kCopyHoldMs (one acknowledged after a resend that was needed), each data fragment also
// goes a second time kCopyGapMs after its first transmission: a loss that meets one of the
// two then costs the gap. Gap, not back to back, because paths lose in bursts. A copy is no
// try: it leaves the resend wait, its doubling and the time-out as they are, and the
// resend follows if neither copy is acknowledged. The round-trip sample stays timed from
// the first transmission (at most the gap too long, so the estimate keeps moving). The
// acknowledgement of the second copy usually finds the fragment retired and is an unmatched
// acknowledgement like any repeat's. Copies go only to proven connections the application
// vouched for (MarkDeliversOnce): a party that delivers a repeat arriving in a later pass
// again would hand the game the message twice. As copies hide the losses they mend, the
// hold runs from the latest loss that got through them.
//
// The time-out index holds each fragment under the time from which its time-out counts.
// That time only moves forward (the far side was heard from again); a fragment is filed
// anew under the later time when it comes to the front, so a pass looks at the fragments
// that are due and few others.
#include <algorithm>
#include <vector>

#include "core.h"

namespace orb {
namespace {

const uint64_t kCopyGapMs = 10;
const uint64_t kCopyHoldMs = 60000;

bool IsControlType(uint16_t type) { return type >= CONNECT && type <= CONFIRM_DISCONNECT; }

}  // namespace

void Transport::Core::ScheduleFirstResend(Outgoing* f) {
  f->resend_it = resend_due_.emplace(f->last_sent + f->connection->rtt.ResendAfterMs(0), f);
  f->timeout_it = timeout_due_.emplace(f->created, f);
  const Connection* c = f->connection.get();
  if (c->delivers_once && c->proven && !IsControlType(f->header.type) &&
      f->last_sent < c->copies_until) {
    f->copy_it = copy_due_.emplace(f->last_sent + kCopyGapMs, f);
    f->copy_pending = true;
  }
}

void Transport::Core::SendCopies() {
  const uint64_t now = options_.clock();
  while (!copy_due_.empty() && copy_due_.begin()->first <= now) {
    Outgoing* f = copy_due_.begin()->second;
    copy_due_.erase(copy_due_.begin());
    f->copy_pending = false;
    if (!f->connection->in_table) continue;
    ++counters_.copies;
    Trace("Message %u sent early again on address %d. %d bytes, %d of %d, %s:%u\n", f->header.id,
          f->address, f->header.length, f->header.seq, f->header.of, f->connection->host,
          static_cast<unsigned>(f->connection->endpoint->local_port));
    TransmitResend(f);
  }
}

void Transport::Core::NoteAcknowledged(Outgoing* f) {
  RttEstimator& rtt = f->connection->rtt;
  const uint64_t since = options_.clock() - f->last_sent;
  // Only a fragment sent once gives a sample: the acknowledgement of a repeated one may
  // answer any of its copies. One that comes sooner after the latest copy than any round
  // trip this path has shown answers an earlier copy: that copy was not lost, only late.
  if (f->tries == 0) {
    rtt.Sample(since);
  } else if (rtt.Measured() && since < rtt.ShortestMs()) {
    ++counters_.spurious_resends;
  } else {
    // Needed: starts or prolongs the early copies.
    f->connection->copies_until = options_.clock() + kCopyHoldMs;
  }
}

std::unique_ptr<Outgoing> Transport::Core::Retire(UnackedMap::iterator at) {
  Outgoing* f = at->second.get();
  resend_due_.erase(f->resend_it);
  timeout_due_.erase(f->timeout_it);
  if (f->copy_pending) copy_due_.erase(f->copy_it);
  std::unique_ptr<Outgoing> out = std::move(at->second);
  unacked_.erase(at);
  return out;
}

// The first fragment that times out ends the step for this pass; before that, nothing is
// resent. Otherwise every fragment whose wait has passed is resent, in the order first sent.
void Transport::Core::ResendAndTimeOut() {
  if (unacked_.empty()) return;
  const uint64_t now = options_.clock();
  while (!timeout_due_.empty()) {
    auto front = timeout_due_.begin();
    if (front->first + MESSAGE_TIMEOUT_MS >= now) break;
    Outgoing* f = front->second;
    const uint64_t heard = std::max(f->created, f->connection->last_heard);
    const uint64_t counts_from =
        std::min(heard, f->created + (kFragmentGiveUpMs - MESSAGE_TIMEOUT_MS));
    if (counts_from > front->first) {
      timeout_due_.erase(front);
      f->timeout_it = timeout_due_.emplace(counts_from, f);
      continue;
    }
    std::unique_ptr<Outgoing> gone = Retire(unacked_.find(IdSeqKey(f->header.id, f->header.seq)));
    ++counters_.timeouts;
    Trace("Message %u timed out on address %d. %d bytes, %d of %d, %s:%u\n", gone->header.id,
          gone->address, gone->header.length, gone->header.seq, gone->header.of,
          gone->connection->host, static_cast<unsigned>(gone->connection->endpoint->local_port));
    RaiseEvent(gone->connection, gone->address, EVENT_TIMEOUT);
    RemoveConnection(gone->address);
    return;
  }

  std::vector<Outgoing*> due;
  for (auto it = resend_due_.begin(); it != resend_due_.end() && it->first < now; ++it)
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
    f->resend_it = resend_due_.emplace(now + f->connection->rtt.ResendAfterMs(f->tries), f);
  }
}

uint64_t Transport::Core::NextDue() {
  if (!send_queue_.empty()) return 0;
  uint64_t due = UINT64_MAX;
  // Each step acts once "more than" its interval has passed: one millisecond after.
  if (!resend_due_.empty()) due = std::min(due, resend_due_.begin()->first + 1);
  if (!timeout_due_.empty())
    due = std::min(due, timeout_due_.begin()->first + MESSAGE_TIMEOUT_MS + 1);
  if (!copy_due_.empty()) due = std::min(due, copy_due_.begin()->first);
  if (!heartbeat_due_.empty())
    due = std::min(due, heartbeat_due_.begin()->first + HEARTBEAT_INTERVAL_MS + 1);
  // Between passes the bucket holds unfinished messages only, oldest first.
  if (!bucket_.empty())
    due = std::min(due, bucket_.front().opened + kIncompleteMessageTimeoutMs + 1);
  return due;
}

}  // namespace orb
