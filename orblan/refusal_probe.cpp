#include "refusal_probe.h"

bool RefusalProbe::Start(const orb::SocketAddress& server, uint64_t now_ms) {
  Stop();
  const orb::SocketHandle s = orb::UdpOpen();
  if (s == orb::kInvalidSocket) return false;
  if (!orb::UdpSetNonBlocking(s) || !orb::UdpConnect(s, server)) {
    orb::UdpClose(s);
    return false;
  }
  socket_ = s;
  next_send_ms_ = now_ms;
  next_check_ms_ = now_ms;
  Poll(now_ms);
  return true;
}

bool RefusalProbe::Poll(uint64_t now_ms) {
  if (socket_ == orb::kInvalidSocket || refused_) return refused_;
  if (now_ms < next_check_ms_) return false;
  next_check_ms_ = now_ms + kCheckMs;
  if (orb::UdpRefused(socket_)) {
    refused_ = true;
    return true;
  }
  if (now_ms >= next_send_ms_) {
    orb::UdpSend(socket_, "", 0);
    next_send_ms_ = now_ms + kIntervalMs;
  }
  return false;
}

void RefusalProbe::Stop() {
  orb::UdpClose(socket_);
  socket_ = orb::kInvalidSocket;
  refused_ = false;
}
