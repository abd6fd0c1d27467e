// This machine's address text, as the relay stamps it into forwarded game datagrams.
#ifndef ORB_SESSION_LOCAL_HOST_H
#define ORB_SESSION_LOCAL_HOST_H

#include <stddef.h>

// Fills text (size bytes, 128 in the session) with the host name, then replaces it with
// the dotted text of the host's first address that qualifies (ChooseLocalAddress). An
// unknown host name leaves it empty; a name without a qualifying address stays the name.
void FindLocalAddress(char* text, size_t size);

#endif
