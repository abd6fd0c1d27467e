// The server's datagram I/O: the platform's UDP sockets, bound to the one address the
// operator chose (the transport's own I/O binds every interface), remembering why the
// last bind failed so "port in use" can be told to the operator plainly.
//
// A busy server moves hundreds of thousands of datagrams a second and a system call per
// datagram is most of its cost, so reads are taken in batches (recvmmsg) and handed out
// one by one, and sends are gathered and leave together (sendmmsg) when the batch is full
// or at Flush, which the server calls at the end of every pump pass.
#ifndef ORB_SERVER_LISTEN_IO_H
#define ORB_SERVER_LISTEN_IO_H

#include <stdint.h>

#include <vector>

#include "transport.h"

namespace orb {
namespace server {

class ListenIo : public DatagramIo {
 public:
  static const int kSocketBufferBytes = 2 << 20;
  static const int kBatch = 64;

  // ip in network byte order; 0 for every interface.
  explicit ListenIo(uint32_t ip);
  ~ListenIo() override;

  int32_t Open(uint16_t port, intptr_t* handle, uint16_t* bound_port) override;
  int Receive(intptr_t handle, uint8_t* buffer, int capacity, SocketAddress* from,
              int* error) override;
  void SendTo(intptr_t handle, const uint8_t* data, int length,
              const SocketAddress& to) override;
  void Close(intptr_t handle) override;

  // Sends whatever SendTo gathered.
  void Flush();

  // The platform error code of the latest failed Open (0 if none failed).
  int last_open_error() const { return last_open_error_; }

 private:
  struct Slot {
    uint8_t bytes[kReceiveBufferBytes];
    int length;
    bool truncated;
    SocketAddress peer;
  };

  uint32_t ip_;
  int last_open_error_ = 0;
  // Datagrams read ahead, for one handle at a time (the server has one endpoint).
  std::vector<Slot> in_;
  intptr_t in_handle_ = -1;
  int in_next_ = 0, in_count_ = 0;
  bool in_drained_ = false;
  // Datagrams waiting to be sent, all from out_handle_.
  std::vector<Slot> out_;
  intptr_t out_handle_ = -1;
  int out_count_ = 0;
};

}  // namespace server
}  // namespace orb

#endif
