// Which address the local game sees for another member's game, and back. A member is seen
// at the address the group server sees it at (its router's public address, never a private
// one), from its game socket's real port. Members behind one router share that address, so
// each gets ports of its own: the first member known at an address keeps its real ports,
// and a port of a later member there is moved to a free port above it (26900 becomes
// 26901), so that the local game can tell them apart and answer each. The mapping is this
// machine's own; other machines may number the ports differently.
//
// Not thread-safe: the member router holds its lock around every call.
#ifndef ORB_SESSION_MEMBER_IDENTITIES_H
#define ORB_SESSION_MEMBER_IDENTITIES_H

#include <stdint.h>

#include <map>
#include <set>
#include <vector>

struct SeenAddress {
  uint32_t ip;    // network order
  uint16_t port;  // host order
};

class MemberIdentities {
 public:
  // Adds a member at ip, or moves it there (its earlier ports are forgotten).
  void SetMember(uint32_t member, uint32_t ip);
  // This machine itself: the first at its public address whatever came before, so that a
  // member behind the same router is never shown at this machine's own address and port.
  // Ports already shown for a member there stay that member's.
  void SetSelf(uint32_t self, uint32_t ip);
  // Forgets the member and its ports; the next member known at its address may take over
  // its unmoved ports.
  void RemoveMember(uint32_t member);
  bool Knows(uint32_t member) const { return members_.count(member) != 0; }
  // The member's address, 0 when unknown.
  uint32_t AddressOf(uint32_t member) const;

  // Where the local game sees a datagram of a known member's socket on real_port; a new
  // port is given one now. {0, 0} for an unknown member.
  SeenAddress Seen(uint32_t member, uint16_t real_port);

  // Which member and real port the local game means by ip:port. false when no member is
  // at ip, or ip:port is this machine's own (SetSelf).
  bool Resolve(uint32_t ip, uint16_t port, uint32_t* member, uint16_t* real_port) const;

  // Every member, in the order they became known.
  std::vector<uint32_t> Members() const;

 private:
  struct Moved {
    uint32_t member;
    uint16_t real_port;
  };
  struct Place {
    std::vector<uint32_t> members;           // in the order they became known; [0] keeps ports
    std::map<uint16_t, Moved> by_seen_port;  // every port given out that is not implicit
    std::set<uint16_t> first_ports;          // the first member's own ports given out
  };
  bool FirstAt(uint32_t member, const Place& place) const;
  uint16_t FreePortAbove(const Place& place, uint16_t port) const;

  std::map<uint32_t, uint32_t> members_;  // member -> ip
  std::map<uint32_t, uint64_t> order_;    // member -> when it became known
  uint64_t next_order_ = 0;
  std::map<uint32_t, Place> places_;      // ip -> who is there
  uint32_t self_ = 0;                     // 0: not yet known
  bool has_self_ = false;
};

#endif
