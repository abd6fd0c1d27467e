// Socket notices to the session library (common/link.h): the shim tells it of every game
// datagram socket that is bound or closed, with the address and port it is bound to, so that
// relayed datagrams reach sockets that never broadcast (a game server that only listens) and
// a socket bound to one of the machine's addresses. Sent from a socket of the shim's own, so
// the game's sockets see no traffic and no error of their own from it. Windows only.
#ifndef ORBWS_DATAPATH_NOTICE_H
#define ORBWS_DATAPATH_NOTICE_H

#include "frame/shim.h"
#include "link.h"

// Tells the session library that datagram socket s is bound (kNoticeBound, after a
// successful bind or implicit bind) or is about to be closed (kNoticeClosed, before the real
// close). Nothing is sent for a stream socket or a socket without a local port. Never
// changes the Winsock error the game reads; failures are only traced.
void NoticeSocket(SOCKET s, LinkNoticeKind kind);

// Sends length bytes of another notice form (member_notice.h) from the same socket of the
// shim's own. Returns whether they left; never changes the Winsock error the game reads.
bool SendToSessionLibrary(const uint8_t* bytes, int length);

// Closes the shim's own socket (the game's WSACleanup may end Winsock under it, and its
// handle could then be given to a socket of the game). The next notice opens a new one.
void CloseNoticeSocket();

#endif
