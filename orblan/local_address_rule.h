// The text of this machine's IPv4 address, which the relay stamps into every game
// datagram it forwards.
#ifndef ORB_SESSION_LOCAL_ADDRESS_H
#define ORB_SESSION_LOCAL_ADDRESS_H

#include <stddef.h>

#include <stdint.h>

// text (size bytes) holds the host name, or is empty. Walks the count IPv4 addresses
// (network byte order, in the order the host's look-up gave them) and replaces text with
// the dotted form of the first one whose first number is not 127, 192, 169 or 0. Only the
// first number decides: 10.x and 172.x qualify, every 192.x is passed over. Returns whether
// one qualified; text is unchanged otherwise.
bool ChooseLocalAddress(const uint32_t* addresses, int count, char* text, size_t size);

#endif
