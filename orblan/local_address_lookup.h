// This machine's address text, as the relay stamps it into forwarded game datagrams.
#ifndef ORB_SESSION_LOCAL_HOST_H
#define ORB_SESSION_LOCAL_HOST_H

#include <stddef.h>

// Fills text (size bytes, 128 in the session) with the dotted text of the host's address
// that qualifies (ChooseLocalAddress): empty when the host name is unknown or no address
// qualifies.
void FindLocalAddress(char* text, size_t size);

#endif
