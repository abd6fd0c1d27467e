// Readable text for a Winsock or Win32 error code, behind GetErrStr.
#ifndef ORB_SCRIBE_ERR_TEXT_H
#define ORB_SCRIBE_ERR_TEXT_H

#include <stddef.h>

namespace scribe {

// The symbolic name of a Winsock error (10004 gives "WSAEINTR"), or null.
const char* WinsockErrorName(int code);

// "WSAECONNRESET (10054): Connection reset by peer", or for other codes the system's text:
// "5: Access is denied", or "error 12345" when there is none. Cut to fit size; returns the
// length written.
size_t ErrorText(int code, char* out, size_t size);

}  // namespace scribe

#endif
