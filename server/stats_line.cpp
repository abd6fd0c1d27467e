#include "stats_line.h"

#include <stdio.h>

namespace orb {
namespace server {

std::string RateText(uint64_t count, uint64_t interval_ms) {
  // Tenths of an event per second, rounded, in integers so no platform prints it apart.
  const uint64_t tenths = interval_ms == 0 ? 0 : (count * 10000 + interval_ms / 2) / interval_ms;
  char text[32];
  snprintf(text, sizeof text, "%llu.%llu/s", static_cast<unsigned long long>(tenths / 10),
           static_cast<unsigned long long>(tenths % 10));
  return text;
}

std::string IntervalText(const StatsCounts& before, const StatsCounts& after,
                         uint64_t interval_ms) {
  // Counters only grow; a reading taken out of order still gives no wrapped number.
  auto delta = [](uint64_t a, uint64_t b) { return b >= a ? b - a : 0; };
  const uint64_t records = delta(before.records_in, after.records_in);
  const uint64_t relayed = delta(before.relayed, after.relayed);
  const uint64_t out = delta(before.datagrams_out, after.datagrams_out);
  char text[256];
  snprintf(text, sizeof text,
           "last %llu s: joins=%llu leaves=%llu records_in=%llu (%s) relayed=%llu (%s) "
           "datagrams_out=%llu (%s)",
           static_cast<unsigned long long>((interval_ms + 500) / 1000),
           static_cast<unsigned long long>(delta(before.joins, after.joins)),
           static_cast<unsigned long long>(delta(before.leaves, after.leaves)),
           static_cast<unsigned long long>(records), RateText(records, interval_ms).c_str(),
           static_cast<unsigned long long>(relayed), RateText(relayed, interval_ms).c_str(),
           static_cast<unsigned long long>(out), RateText(out, interval_ms).c_str());
  return text;
}

std::string TotalsText(const StatsCounts& t) {
  char text[200];
  snprintf(text, sizeof text, "joins=%llu leaves=%llu records_in=%llu relayed=%llu datagrams_out=%llu",
           static_cast<unsigned long long>(t.joins), static_cast<unsigned long long>(t.leaves),
           static_cast<unsigned long long>(t.records_in), static_cast<unsigned long long>(t.relayed),
           static_cast<unsigned long long>(t.datagrams_out));
  return text;
}

}  // namespace server
}  // namespace orb
