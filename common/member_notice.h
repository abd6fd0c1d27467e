// Notices from the shim to the session library about what a game does with a group member
// that the link itself does not carry: a link datagram (link.h) whose port field is 0 (no
// game datagram goes to port 0) and whose address field is the member's address, sent to
// 127.0.0.1:3668 from a socket of the shim's own. 8 bytes follow the header:
//   12 1  kind: 1 the game opens a TCP connection to the member, 2 that connection failed
//   13 1  zero
//   14 2  the TCP port, little-endian
//   16 4  kind 2: the Winsock error, little-endian; otherwise zero
#ifndef ORB_COMMON_MEMBER_NOTICE_H
#define ORB_COMMON_MEMBER_NOTICE_H

#include <stddef.h>
#include <stdint.h>

enum MemberNoticeKind : uint8_t { kMemberTcpConnect = 1, kMemberTcpFailed = 2 };
enum : size_t { kMemberNoticeSize = 20 };

struct MemberNotice {
  uint8_t kind;
  uint32_t member_ip;  // network order
  uint16_t port;
  int32_t error;
};

// Writes the notice into out (at least kMemberNoticeSize bytes). Returns kMemberNoticeSize, or 0
// for an unknown kind or too small a buffer.
size_t BuildMemberNotice(const MemberNotice& notice, uint8_t* out, size_t capacity);

// True, with *out filled, when the datagram is a link notice of a known kind.
bool ParseMemberNotice(const uint8_t* data, size_t length, MemberNotice* out);

#endif
