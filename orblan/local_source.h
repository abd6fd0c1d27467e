// Whether a datagram that reached the link socket came from this machine. The link socket
// listens on every address of the machine (so that nothing on the network is told the port is
// closed), but only the shim inside a game on this machine may use it: a datagram from
// anywhere else is dropped and counted, and never relayed in this player's name.
#ifndef ORB_SESSION_LOCAL_SOURCE_H
#define ORB_SESSION_LOCAL_SOURCE_H

#include <stddef.h>
#include <stdint.h>

// True for a loopback address (127.0.0.0/8) and for one of this machine's own addresses: the
// address the system itself would send from to reach it. Opens and closes one socket for the
// latter; no datagram is sent.
bool IsThisMachinesAddress(uint32_t address_net);

// The same answer, remembered for the last few addresses asked about, so that a stream of
// datagrams from one source costs one probe. The probe is injectable for tests.
class LocalSourceCheck {
 public:
  typedef bool (*Probe)(uint32_t address_net);
  enum : size_t { kRemembered = 16 };

  explicit LocalSourceCheck(Probe probe = nullptr)
      : probe_(probe != nullptr ? probe : IsThisMachinesAddress) {}
  bool IsLocal(uint32_t address_net);

 private:
  struct Answer {
    uint32_t address_net;
    bool local;
  };
  Probe probe_;
  Answer answers_[kRemembered] = {};
  size_t count_ = 0;
  size_t next_ = 0;  // the slot the next new answer replaces once all are used
};

#endif
