// A game's TCP connections to group members behind a home router, which orblan cannot carry:
// the shim tells the session library (member_notice.h) when the game opens one and when it
// fails at once, so that the player hears why the game cannot reach that member.
#ifndef ORBWS_DATAPATH_MEMBER_TCP_H
#define ORBWS_DATAPATH_MEMBER_TCP_H

#include "frame/shim.h"

// Before the real connect: true, with the member's address and port, when s is a stream
// socket and name a member the session library routes; the session library is told then.
bool MemberConnectBegins(SOCKET s, const struct sockaddr* name, int namelen, uint32_t* ip_net,
                         uint16_t* port);

// After it, for such a connection: a failure other than "would block" is told too. The
// thread's Winsock error is left as the real connect set it.
void MemberConnectEnded(uint32_t ip_net, uint16_t port, int result, int error);

#endif
