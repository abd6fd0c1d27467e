// What recvfrom and WSARecvFrom do to a datagram once the real library has received it: a
// link datagram from the session library (source port 3668 on 127.0.0.1, or on the address
// the receiving datagram socket is bound to; magic F9 F9 F9 F9) loses its header and takes the
// remote machine's address and the sending socket's port (the broadcast's port when the
// header does not carry it) as its source; on an emulated IPX socket every source is given in
// IPX form. The two exports differ only in their trace texts and in whether they dump data.
#ifndef ORBWS_DATAPATH_REWRITE_H
#define ORBWS_DATAPATH_REWRITE_H

#include "frame/shim.h"

struct RecvTexts {
  const char* failed;          // "... failed (%d)", an IPX receive that failed
  const char* from_launcher;   // the source passed the launcher test
  const char* converted;       // the header was removed
  const char* size;            // "... of size %d(%d header/%d buffer)"
  const char* corrupt;         // from the launcher but not a link datagram
  const char* via_tcpip;       // every datagram on an IPX socket
  const char* iface;           // "... interface[%d] : address == %s, port == %d"
  const char* address;         // "... address = %u.%u.%u.%u"
  const char* netnum;
  const char* nodenum;
  const char* socket;
  const char* other_source;    // "... <- %s:%u", or null: no line and no dumps at all
};

extern const RecvTexts kRecvfromTexts;
extern const RecvTexts kWsaRecvFromTexts;
// recv and WSARecv unwrap as the two above do; the IPX texts are unused (they report no
// source), and the caller writes its own dump.
extern const RecvTexts kRecvTexts;
extern const RecvTexts kWsaRecvTexts;

// A failed receive on an emulated IPX socket: writes the failure line with the real error
// and leaves that error for the game.
void ReportIpxReceiveFailure(const RecvTexts& t);

// TCP/IP socket, or any socket whose source the caller does not report (recv, WSARecv).
// count bytes were received into buf, and src (16 bytes) holds the source the real library
// reported. Unwraps a link datagram from the launcher into buf and src. Returns the byte
// count for the game.
int RewriteInetReceive(const RecvTexts& t, SOCKET s, char* buf, int count,
                       struct sockaddr_in* src);

// Emulated IPX socket. count bytes were received into buf with the shim's own record own.
// Unwraps as above, then gives the source in IPX form: written into from with *fromlen set
// to 14 when from is not null (the caller has checked the room). Returns the byte count.
int RewriteIpxReceive(const RecvTexts& t, SOCKET s, char* buf, int count,
                      struct sockaddr_in* own, struct sockaddr* from, int* fromlen);

#endif
