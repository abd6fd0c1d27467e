// The default DatagramIo: the platform's UDP sockets.
#include <mutex>

#include "transport.h"

namespace orb {

bool DatagramIo::Resolve(const char* host, uint32_t* ip) {
  uint32_t parsed = ParseIPv4(host);
  if (parsed != kAddressNone) {
    *ip = parsed;
    return true;
  }
  return LookupHostIPv4(host, ip, 1) == 1;
}

namespace {

class PlatformIo : public DatagramIo {
 public:
  int32_t Open(uint16_t port, intptr_t* handle, uint16_t* bound_port) override {
    {
      std::lock_guard<std::mutex> hold(startup_lock_);
      if (!SocketsStartup(&started_)) return RESULT_WINSOCK_START;
    }
    SocketHandle s = UdpOpen();
    if (s == kInvalidSocket) return RESULT_SOCKET;
    if (!UdpBind(s, 0, port)) {
      UdpClose(s);
      return RESULT_BIND;
    }
    uint16_t bound = port;
    if (!UdpBoundPort(s, &bound)) bound = port;
    if (!UdpSetNonBlocking(s)) {
      UdpClose(s);
      return RESULT_NON_BLOCKING;
    }
    *handle = s;
    *bound_port = bound;
    return 0;
  }

  // One read on the non-blocking socket: "would block" is the readiness query's "nothing
  // pending", at half the socket calls of a zero time-out select before every read (a
  // Winsock call costs about 40 us under Wine).
  int Receive(intptr_t handle, uint8_t* buffer, int capacity, SocketAddress* from,
              int* error) override {
    int n = UdpReceiveFrom(handle, buffer, capacity, from);
    if (n >= 0) return n;
    int e = SocketLastError();
    if (SocketErrorWouldBlock(e)) return kNothing;
    *error = e;
    return kError;
  }

  void SendTo(intptr_t handle, const uint8_t* data, int length, const SocketAddress& to) override {
    UdpSendTo(handle, data, length, to);
  }

  void SendToWithTtl(intptr_t handle, const uint8_t* data, int length, const SocketAddress& to,
                     int ttl) override {
    UdpSendToWithTtl(handle, data, length, to, ttl);
  }

  void Close(intptr_t handle) override { UdpClose(handle); }

 private:
  std::mutex startup_lock_;
  bool started_ = false;  // the endpoint-creation start-up of Windows Sockets
};

}  // namespace

DatagramIo* PlatformDatagramIo() {
  static PlatformIo io;
  return &io;
}

}  // namespace orb
