#include "listen_io.h"

#include <errno.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

namespace orb {
namespace server {

ListenIo::ListenIo(uint32_t ip) : ip_(ip), in_(kBatch), out_(kBatch) {}

ListenIo::~ListenIo() { Flush(); }

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
  // Bursts (a thousand members connecting at once, a group's acknowledgements arriving
  // together) need deeper socket buffers than the default, but not so deep that an
  // overloaded server relays broadcasts seconds old. The kernel caps the request at its
  // own maximum; a refusal only leaves the default.
  int bytes = kSocketBufferBytes;
  setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  setsockopt(static_cast<int>(s), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
  uint16_t actual = port;
  UdpBoundPort(s, &actual);
  *handle = s;
  *bound_port = actual;
  return RESULT_NO_ERROR;
}

int ListenIo::Receive(intptr_t handle, uint8_t* buffer, int capacity, SocketAddress* from,
                      int* error) {
  if (in_handle_ != handle) {
    in_handle_ = handle;
    in_next_ = in_count_ = 0;
    in_drained_ = false;
  }
  if (in_next_ == in_count_) {
    if (in_drained_) {
      // The last batch was short, so the socket was empty a moment ago: report that
      // instead of a system call that would most likely say the same. Anything that
      // arrived since is read in the next pass, which the wait for readability starts.
      in_drained_ = false;
      return kNothing;
    }
    mmsghdr msgs[kBatch];
    iovec iov[kBatch];
    sockaddr_in peers[kBatch];
    memset(msgs, 0, sizeof msgs);
    for (int i = 0; i < kBatch; ++i) {
      iov[i].iov_base = in_[i].bytes;
      iov[i].iov_len = sizeof in_[i].bytes;
      msgs[i].msg_hdr.msg_iov = &iov[i];
      msgs[i].msg_hdr.msg_iovlen = 1;
      msgs[i].msg_hdr.msg_name = &peers[i];
      msgs[i].msg_hdr.msg_namelen = sizeof peers[i];
    }
    int got = recvmmsg(static_cast<int>(handle), msgs, kBatch, MSG_DONTWAIT, nullptr);
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return kNothing;
      *error = errno;
      return kError;
    }
    if (got == 0) return kNothing;
    for (int i = 0; i < got; ++i) {
      in_[i].length = static_cast<int>(msgs[i].msg_len);
      in_[i].truncated = (msgs[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
      in_[i].peer.ip = peers[i].sin_addr.s_addr;
      in_[i].peer.port = ntohs(peers[i].sin_port);
    }
    in_next_ = 0;
    in_count_ = got;
    in_drained_ = got < kBatch;
  }
  const Slot& slot = in_[in_next_++];
  // As with a plain read: a datagram larger than the buffer is an error, and consumed.
  if (slot.truncated || slot.length > capacity) {
    *error = EMSGSIZE;
    return kError;
  }
  memcpy(buffer, slot.bytes, static_cast<size_t>(slot.length));
  *from = slot.peer;
  return slot.length;
}

void ListenIo::SendTo(intptr_t handle, const uint8_t* data, int length,
                      const SocketAddress& to) {
  if (length < 0 || length > kReceiveBufferBytes) return;
  if (out_count_ == kBatch || (out_count_ > 0 && handle != out_handle_)) Flush();
  out_handle_ = handle;
  Slot& slot = out_[out_count_++];
  memcpy(slot.bytes, data, static_cast<size_t>(length));
  slot.length = length;
  slot.peer = to;
}

void ListenIo::Flush() {
  int at = 0;
  while (at < out_count_) {
    mmsghdr msgs[kBatch];
    iovec iov[kBatch];
    sockaddr_in peers[kBatch];
    memset(msgs, 0, sizeof msgs);
    int n = out_count_ - at;
    for (int i = 0; i < n; ++i) {
      Slot& slot = out_[at + i];
      iov[i].iov_base = slot.bytes;
      iov[i].iov_len = static_cast<size_t>(slot.length);
      memset(&peers[i], 0, sizeof peers[i]);
      peers[i].sin_family = AF_INET;
      peers[i].sin_addr.s_addr = slot.peer.ip;
      peers[i].sin_port = htons(slot.peer.port);
      msgs[i].msg_hdr.msg_iov = &iov[i];
      msgs[i].msg_hdr.msg_iovlen = 1;
      msgs[i].msg_hdr.msg_name = &peers[i];
      msgs[i].msg_hdr.msg_namelen = sizeof peers[i];
    }
    int sent = sendmmsg(static_cast<int>(out_handle_), msgs, static_cast<unsigned>(n), 0);
    if (sent < 0 && errno == EINTR) continue;
    // A datagram the kernel refuses is lost, as a failed sendto would be: skip it.
    at += sent > 0 ? sent : 1;
  }
  out_count_ = 0;
}

void ListenIo::Close(intptr_t handle) {
  if (handle == out_handle_) Flush();
  if (handle == in_handle_) in_handle_ = -1;
  UdpClose(handle);
}

}  // namespace server
}  // namespace orb
