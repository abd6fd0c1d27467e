// Data message types between a session library and the group server, carried by the peer
// transport (every other type code is the transport's own connection protocol). A session
// library that knows only the relayed broadcast (8) ignores every other type it receives, and
// the server treats a member that never sends the newer types exactly as before; each newer
// message's layout lives in a header of its own beside this one.
#ifndef ORB_COMMON_MESSAGE_TYPES_H
#define ORB_COMMON_MESSAGE_TYPES_H

#include <stdint.h>

enum OrbMessageType : uint16_t {
  // Member to server.
  kMsgJoin = 0,             // join record: group and player name
  kMsgRelay = 8,            // relay record: a game broadcast for the rest of the group;
                            // server to member: the bare link datagram
  kMsgRelayUnicast = 9,     // a game datagram for one member, through the server
  kMsgLeave = 10,           // the session ends: leave the group now
  kMsgPathReport = 20,      // takes relayed datagrams; path key, local candidates
  // Server to member.
  kMsgJoinOutcome = 16,     // joined (with the members present) or refused, with why
  kMsgMembers = 17,         // who is in the group: joins, leaves, round-trip times
  kMsgUnicastDelivery = 18, // a game datagram of another member, with the sender named
  kMsgPathInfo = 19,        // where the server sees this member and the other members
};

#endif
