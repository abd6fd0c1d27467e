#include "err_text.h"

#include <stdio.h>
#include <string.h>

#include "scribe_platform.h"

namespace scribe {
namespace {

struct Entry {
  int code;
  const char* name;
  const char* text;
};

// The Winsock 1.1 error codes (10000 + the BSD number, and the resolver's 11001 to 11004).
// Their texts are written out here because older systems have no message for some of them.
const Entry kWinsock[] = {
    {10004, "WSAEINTR", "Interrupted function call"},
    {10009, "WSAEBADF", "Bad file descriptor"},
    {10013, "WSAEACCES", "Permission denied"},
    {10014, "WSAEFAULT", "Bad address"},
    {10022, "WSAEINVAL", "Invalid argument"},
    {10024, "WSAEMFILE", "Too many open sockets"},
    {10035, "WSAEWOULDBLOCK", "Resource temporarily unavailable"},
    {10036, "WSAEINPROGRESS", "Operation now in progress"},
    {10037, "WSAEALREADY", "Operation already in progress"},
    {10038, "WSAENOTSOCK", "Socket operation on nonsocket"},
    {10039, "WSAEDESTADDRREQ", "Destination address required"},
    {10040, "WSAEMSGSIZE", "Message too long"},
    {10041, "WSAEPROTOTYPE", "Protocol wrong type for socket"},
    {10042, "WSAENOPROTOOPT", "Bad protocol option"},
    {10043, "WSAEPROTONOSUPPORT", "Protocol not supported"},
    {10044, "WSAESOCKTNOSUPPORT", "Socket type not supported"},
    {10045, "WSAEOPNOTSUPP", "Operation not supported"},
    {10046, "WSAEPFNOSUPPORT", "Protocol family not supported"},
    {10047, "WSAEAFNOSUPPORT", "Address family not supported by protocol family"},
    {10048, "WSAEADDRINUSE", "Address already in use"},
    {10049, "WSAEADDRNOTAVAIL", "Cannot assign requested address"},
    {10050, "WSAENETDOWN", "Network is down"},
    {10051, "WSAENETUNREACH", "Network is unreachable"},
    {10052, "WSAENETRESET", "Network dropped connection on reset"},
    {10053, "WSAECONNABORTED", "Software caused connection abort"},
    {10054, "WSAECONNRESET", "Connection reset by peer"},
    {10055, "WSAENOBUFS", "No buffer space available"},
    {10056, "WSAEISCONN", "Socket is already connected"},
    {10057, "WSAENOTCONN", "Socket is not connected"},
    {10058, "WSAESHUTDOWN", "Cannot send after socket shutdown"},
    {10059, "WSAETOOMANYREFS", "Too many references"},
    {10060, "WSAETIMEDOUT", "Connection timed out"},
    {10061, "WSAECONNREFUSED", "Connection refused"},
    {10062, "WSAELOOP", "Cannot translate name"},
    {10063, "WSAENAMETOOLONG", "Name too long"},
    {10064, "WSAEHOSTDOWN", "Host is down"},
    {10065, "WSAEHOSTUNREACH", "No route to host"},
    {10066, "WSAENOTEMPTY", "Directory not empty"},
    {10067, "WSAEPROCLIM", "Too many processes"},
    {10068, "WSAEUSERS", "User quota exceeded"},
    {10069, "WSAEDQUOT", "Disk quota exceeded"},
    {10070, "WSAESTALE", "Stale file handle reference"},
    {10071, "WSAEREMOTE", "Item is remote"},
    {10091, "WSASYSNOTREADY", "Network subsystem is unavailable"},
    {10092, "WSAVERNOTSUPPORTED", "Winsock version out of range"},
    {10093, "WSANOTINITIALISED", "Successful WSAStartup not yet performed"},
    {10101, "WSAEDISCON", "Graceful shutdown in progress"},
    {11001, "WSAHOST_NOT_FOUND", "Host not found"},
    {11002, "WSATRY_AGAIN", "Nonauthoritative host not found"},
    {11003, "WSANO_RECOVERY", "This is a nonrecoverable error"},
    {11004, "WSANO_DATA", "Valid name, no data record of requested type"},
};

const Entry* FindWinsock(int code) {
  for (const Entry& e : kWinsock)
    if (e.code == code) return &e;
  return nullptr;
}

}  // namespace

const char* WinsockErrorName(int code) {
  const Entry* e = FindWinsock(code);
  return e != nullptr ? e->name : nullptr;
}

size_t ErrorText(int code, char* out, size_t size) {
  if (out == nullptr || size == 0) return 0;
  int n;
  if (const Entry* e = FindWinsock(code)) {
    n = snprintf(out, size, "%s (%d): %s", e->name, code, e->text);
  } else {
    char text[256];
    if (code != 0 && SystemErrorText(code, text, sizeof text)) {
      n = snprintf(out, size, "%d: %s", code, text);
    } else if (code == 0) {
      n = snprintf(out, size, "0: no error");
    } else {
      n = snprintf(out, size, "error %d", code);
    }
  }
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

}  // namespace scribe
