// The text of this machine's IPv4 address, which the relay stamps into every game
// datagram it forwards (a group server that knows better writes over it with the address it
// sees the machine at).
#ifndef ORB_SESSION_LOCAL_ADDRESS_H
#define ORB_SESSION_LOCAL_ADDRESS_H

#include <stddef.h>

#include <stdint.h>

// Walks the count IPv4 addresses (network byte order, in the order the host's look-up gave
// them), passing over those no other machine can reach it at (0.x, 127.x, 169.254.x.x,
// 224.x and above), and writes the dotted form of the first public one into text (size
// bytes), or of the first private one (10.x, 172.16-31.x, 192.168.x, 100.64-127.x) when
// there is no public one. Returns whether one qualified; text is empty otherwise.
bool ChooseLocalAddress(const uint32_t* addresses, int count, char* text, size_t size);

#endif
