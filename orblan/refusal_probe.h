// Tells within a fraction of a second that nothing listens at the group server's address:
// the server's host answers a datagram to a closed port with an ICMP "port unreachable",
// which the peer transport's own socket never reports (it is not connected, and under Wine
// an unconnected socket hears of no refusal at all). The probe is a second UDP socket,
// connected to the server, that sends an empty datagram now and then: a server drops
// datagrams shorter than the peer header unread, so only a closed port answers it.
#ifndef ORB_SESSION_REFUSAL_PROBE_H
#define ORB_SESSION_REFUSAL_PROBE_H

#include <stdint.h>

#include "platform.h"

class RefusalProbe {
 public:
  // How often an empty datagram goes out: an ICMP answer may be lost or rate-limited.
  static constexpr uint32_t kIntervalMs = 500;
  // How often Poll looks at the socket at most: each look is a socket read, which under
  // Wine is a round trip to its server, and an idle session would pay it on every 20 ms
  // pump pass.
  static constexpr uint32_t kCheckMs = 100;

  RefusalProbe() = default;
  ~RefusalProbe() { Stop(); }
  RefusalProbe(const RefusalProbe&) = delete;
  RefusalProbe& operator=(const RefusalProbe&) = delete;

  // Starts probing `server` (forgetting an earlier refusal). false when no socket can be
  // made; the probe then never reports a refusal.
  bool Start(const orb::SocketAddress& server, uint64_t now_ms);
  // Looks for a refusal (at most every kCheckMs) and sends the next datagram when due.
  // Returns true once the server's host has refused; it stays true until Start or Stop.
  bool Poll(uint64_t now_ms);
  void Stop();
  bool refused() const { return refused_; }
  bool running() const { return socket_ != orb::kInvalidSocket; }

 private:
  orb::SocketHandle socket_ = orb::kInvalidSocket;
  uint64_t next_send_ms_ = 0;
  uint64_t next_check_ms_ = 0;
  bool refused_ = false;
};

#endif
