// Send from another thread while the pump runs: one lock serialises them. Run under
// ThreadSanitizer by the tsan configuration.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "test_support.h"

namespace orb {
namespace {

TEST(Threads, SendInATightLoopWhileAnotherThreadPumps) {
  sim::Network net(5);
  std::atomic<uint64_t> now{0};
  test::Recorder got_a, got_b;
  auto make = [&](const char* ip, test::Recorder* rec, sim::Host** host) {
    *host = net.AddHost(ip);
    TransportOptions o;
    o.io = *host;
    o.clock = [&now] { return now.load(); };
    o.trace = nullptr;
    o.observer = rec;
    return std::unique_ptr<Transport>(new Transport(o));
  };
  sim::Host *ha, *hb;
  std::unique_ptr<Transport> a = make("203.0.113.1", &got_a, &ha);
  std::unique_ptr<Transport> b = make("198.51.100.7", &got_b, &hb);
  Endpoint* ea = a->CreateEndpoint(0);
  ASSERT_NE(b->CreateEndpoint(3668), nullptr);
  const int32_t c = a->Connect(ea, "198.51.100.7", 3668, 0);

  const int kMessages = 20000;
  std::atomic<bool> done{false};
  // The pumping thread owns the network; the sender only ever calls Send.
  std::thread pump([&] {
    while (!done.load() || a->SendQueueLength() > 0 || a->UnacknowledgedCount() > 0) {
      now += 1;
      a->Pump(0);
      b->Pump(0);
    }
  });
  int failures = 0;
  for (int i = 0; i < kMessages; ++i) {
    uint8_t m[16];
    WriteU32(m, static_cast<uint32_t>(i));
    failures += a->Send(c, m, 4 + i % 12, 8) != 0;
  }
  done = true;
  pump.join();
  EXPECT_EQ(failures, 0);
  ASSERT_EQ(got_b.data_.size(), static_cast<size_t>(kMessages));
  for (int i = 0; i < kMessages; ++i) EXPECT_EQ(ReadU32(got_b.data_[i].bytes.data()), static_cast<uint32_t>(i));
  EXPECT_EQ(b->Counters().dropped_duplicate, 0u);
}

}  // namespace
}  // namespace orb
