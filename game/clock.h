// The game's two clocks (Windows): a monotonic one for its own timing, and the wall clock
// in microseconds, stamped into every message so that two games on one machine can tell
// how long a datagram travelled between them.
#ifndef NETQUEST_CLOCK_H
#define NETQUEST_CLOCK_H

#include <cstdint>

namespace netquest {

uint64_t MonotonicMs();
uint64_t WallClockUs();

}  // namespace netquest

#endif
