// The ids of the messages recently delivered on one connection, so that a repeat (its
// acknowledgement was lost and its sender sent it again) is acknowledged again but not
// handed to the caller a second time.
//
// Bounded twice: an id is forgotten once it is older than the time its sender may go on
// resending it (kDeliveredMemoryMs), and the oldest ids go first when more than the given
// count are held. Ids of one sender grow with time, so they are kept sorted and new ones
// land at the end: 8 bytes an id, look-up by binary search.
#ifndef ORB_TRANSPORT_DELIVERED_WINDOW_H
#define ORB_TRANSPORT_DELIVERED_WINDOW_H

#include <stddef.h>
#include <stdint.h>

#include <deque>

namespace orb {

class DeliveredWindow {
 public:
  // Whether id is held.
  bool Contains(uint32_t id) const;
  // Holds id, delivered at now_ms; first forgets what is older than keep_ms, then, while
  // more than max_ids would be held, the lowest ids. max_ids 0 holds nothing.
  void Add(uint32_t id, uint64_t now_ms, uint64_t keep_ms, size_t max_ids);
  void Clear() { entries_.clear(); }
  size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    uint32_t id;
    uint32_t at_s;  // seconds of the monotonic clock: the memory is minutes long
  };
  std::deque<Entry> entries_;  // ascending id
};

}  // namespace orb

#endif
