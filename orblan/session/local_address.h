// The text of this machine's IPv4 address, which the relay stamps into every game
// datagram it forwards.
#ifndef ORB_SESSION_LOCAL_ADDRESS_H
#define ORB_SESSION_LOCAL_ADDRESS_H

#include <stddef.h>

// text (size bytes) holds the host name, or is empty. Walks addresses, a null-terminated
// list of 4-byte IPv4 addresses in network order (a hostent's h_addr_list), and replaces
// text with the dotted form of the first one whose first number is not 127, 192, 169 or 0.
// Only the first number decides: 10.x and 172.x qualify, every 192.x is passed over.
// Returns whether one qualified; text is unchanged otherwise. A null list changes nothing.
bool ChooseLocalAddress(const char* const* addresses, char* text, size_t size);

#endif
