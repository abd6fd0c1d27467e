// Who may hold a connection slot. Only members hold one for long: a connection counts as a
// member once it is proven (it acknowledged, from its own socket address, what the server
// sent it), and members are capped in total and per source IPv4 address. Connections not
// yet proven wait in a small pool of their own, with a few places per address; when the
// pool (or an address's share of it) is full, a CONNECT is answered statelessly instead
// (the transport's challenge), so a flood of CONNECTs from forged addresses holds nothing
// and never keeps an honest player out. A connecting-side address of 0 or less is refused:
// such a connection would get no heartbeats and never time out.
#ifndef ORB_SERVER_ADMISSION_H
#define ORB_SERVER_ADMISSION_H

#include <stddef.h>
#include <stdint.h>

#include <unordered_map>

#include "transport.h"

namespace orb {
namespace server {

struct AdmissionLimits {
  size_t max_members = 1024;   // proven connections in total
  size_t max_per_ip = 64;      // proven connections from one IPv4 address
  size_t max_unproven = 256;   // connections held before they are proven
  size_t max_unproven_per_ip = 8;
};

enum class AdmissionVerdict {
  kAdmit,          // hold a connection for it now
  kChallenge,      // answer statelessly
  kRefuseAddress,  // connecting-side address 0 or less
  kRefusePerIp,    // its address already has max_per_ip members
};

class Admission {
 public:
  explicit Admission(const AdmissionLimits& limits) : limits_(limits) {}

  // What to do with a CONNECT from ip naming `remote`. `replacing`: a member already has
  // the socket address the connection would have (its session library started over), so
  // it would take that member's place rather than add one.
  AdmissionVerdict OnConnect(uint32_t ip, int32_t remote, bool replacing) const;
  // Whether a connection from ip that has just been proven may become a member.
  bool MemberFits(uint32_t ip, bool replacing) const;
  bool PerIpFull(uint32_t ip) const;

  // Book-keeping, called as connections are added, proven and removed.
  void Add(uint32_t ip);
  void Prove(uint32_t ip);
  void Remove(uint32_t ip, bool proven);

  size_t members() const { return members_; }
  size_t unproven() const { return unproven_; }
  const AdmissionLimits& limits() const { return limits_; }

 private:
  struct Counts {
    size_t members = 0;
    size_t unproven = 0;
  };
  AdmissionLimits limits_;
  std::unordered_map<uint32_t, Counts> by_ip_;
  size_t members_ = 0;
  size_t unproven_ = 0;
};

// A key for the transport's stateless answers, from the operating system's random source.
ChallengeKey RandomChallengeKey();

}  // namespace server
}  // namespace orb

#endif
