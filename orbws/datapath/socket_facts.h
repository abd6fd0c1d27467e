// What the datagram paths ask the real library about a game socket, without trace lines and
// without changing the Winsock error the game reads afterwards: its kind and its local name.
// Windows only.
#ifndef ORBWS_DATAPATH_SOCKET_FACTS_H
#define ORBWS_DATAPATH_SOCKET_FACTS_H

#include "frame/shim.h"

// True for a datagram socket: an emulated IPX socket asked for with NSPROTO_IPX, or a socket
// whose SO_TYPE is SOCK_DGRAM. False when the real library cannot tell.
bool SocketIsDatagram(SOCKET s);

// True for a stream socket: an emulated SPX socket, or SO_TYPE SOCK_STREAM. False when the
// real library cannot tell.
bool SocketIsStream(SOCKET s);

// The socket's local IPv4 name as the real library gives it (never the IPX form). False when
// the socket has none (not bound yet) or the query fails.
bool SocketLocalName(SOCKET s, struct sockaddr_in* name);

#endif
