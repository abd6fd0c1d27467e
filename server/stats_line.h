// The counting parts of the server's statistics line: what happened since the previous
// line, as counts and as rates per second, and the totals since the start.
#ifndef ORB_SERVER_STATS_LINE_H
#define ORB_SERVER_STATS_LINE_H

#include <stdint.h>

#include <string>

namespace orb {
namespace server {

struct StatsCounts {
  uint64_t joins = 0;
  uint64_t leaves = 0;
  uint64_t records_in = 0;
  uint64_t relayed = 0;
  uint64_t datagrams_out = 0;
};

// "last 60 s: joins=2 leaves=1 records_in=120 (2.0/s) relayed=118 (2.0/s)
// datagrams_out=236 (3.9/s)": the differences between two readings taken interval_ms
// apart. An interval of 0 gives rates of 0.
std::string IntervalText(const StatsCounts& before, const StatsCounts& after, uint64_t interval_ms);

// "joins=2 leaves=1 records_in=120 relayed=118 datagrams_out=236".
std::string TotalsText(const StatsCounts& totals);

// Events per second, to one decimal, in words: "2.0/s".
std::string RateText(uint64_t count, uint64_t interval_ms);

}  // namespace server
}  // namespace orb

#endif
