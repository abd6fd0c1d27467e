#include "delivered_window.h"

#include <algorithm>

namespace orb {

bool DeliveredWindow::Contains(uint32_t id) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                             [](const Entry& e, uint32_t x) { return e.id < x; });
  return it != entries_.end() && it->id == id;
}

void DeliveredWindow::Add(uint32_t id, uint64_t now_ms, uint64_t keep_ms, size_t max_ids) {
  const uint32_t now_s = static_cast<uint32_t>(now_ms / 1000);
  const uint32_t keep_s = static_cast<uint32_t>((keep_ms + 999) / 1000);
  // The lowest ids are the oldest but for a message that arrived late: forgetting from the
  // front by age may keep such a one a little longer, never drop a younger one early.
  while (!entries_.empty() && now_s - entries_.front().at_s > keep_s) entries_.pop_front();
  if (max_ids == 0) return;
  auto at = std::lower_bound(entries_.begin(), entries_.end(), id,
                             [](const Entry& e, uint32_t x) { return e.id < x; });
  if (at != entries_.end() && at->id == id) {
    at->at_s = now_s;
    return;
  }
  entries_.insert(at, Entry{id, now_s});
  while (entries_.size() > max_ids) entries_.pop_front();
}

}  // namespace orb
