#include "listen_io.h"

namespace orb {
namespace server {

int32_t ListenIo::Open(uint16_t port, intptr_t* handle, uint16_t* bound_port) {
  SocketHandle s = UdpOpen();
  if (s == kInvalidSocket) {
    last_open_error_ = SocketLastError();
    return RESULT_SOCKET;
  }
  if (!UdpBind(s, ip_, port)) {
    last_open_error_ = SocketLastError();
    UdpClose(s);
    return RESULT_BIND;
  }
  if (!UdpSetNonBlocking(s)) {
    last_open_error_ = SocketLastError();
    UdpClose(s);
    return RESULT_NON_BLOCKING;
  }
  uint16_t actual = port;
  UdpBoundPort(s, &actual);
  *handle = s;
  *bound_port = actual;
  return RESULT_NO_ERROR;
}

// Everything but binding is the platform I/O's: the handle is a platform socket either way.
int ListenIo::Receive(intptr_t handle, uint8_t* buffer, int capacity, SocketAddress* from,
                      int* error) {
  return PlatformDatagramIo()->Receive(handle, buffer, capacity, from, error);
}

void ListenIo::SendTo(intptr_t handle, const uint8_t* data, int length,
                      const SocketAddress& to) {
  PlatformDatagramIo()->SendTo(handle, data, length, to);
}

void ListenIo::Close(intptr_t handle) { PlatformDatagramIo()->Close(handle); }

}  // namespace server
}  // namespace orb
