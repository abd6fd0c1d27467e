// The server's datagram I/O: the platform's UDP sockets, bound to the one address the
// operator chose (the transport's own I/O binds every interface), remembering why the
// last bind failed so "port in use" can be told to the operator plainly.
#ifndef ORB_SERVER_LISTEN_IO_H
#define ORB_SERVER_LISTEN_IO_H

#include <stdint.h>

#include "transport.h"

namespace orb {
namespace server {

class ListenIo : public DatagramIo {
 public:
  // ip in network byte order; 0 for every interface.
  explicit ListenIo(uint32_t ip) : ip_(ip) {}

  int32_t Open(uint16_t port, intptr_t* handle, uint16_t* bound_port) override;
  int Receive(intptr_t handle, uint8_t* buffer, int capacity, SocketAddress* from,
              int* error) override;
  void SendTo(intptr_t handle, const uint8_t* data, int length,
              const SocketAddress& to) override;
  void Close(intptr_t handle) override;

  // The platform error code of the latest failed Open (0 if none failed).
  int last_open_error() const { return last_open_error_; }

 private:
  uint32_t ip_;
  int last_open_error_ = 0;
};

}  // namespace server
}  // namespace orb

#endif
