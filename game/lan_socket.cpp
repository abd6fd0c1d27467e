#include "lan_socket.h"

#include <cstdio>
#include <cstring>

namespace netquest {

std::string AddressText(Transport t, const LanAddress& a) {
  char text[64];
  if (t == Transport::kUdp) {
    std::snprintf(text, sizeof text, "%s:%u", inet_ntoa(a.u.in.sin_addr),
                  static_cast<unsigned>(ntohs(a.u.in.sin_port)));
  } else {
    const unsigned char* net = reinterpret_cast<const unsigned char*>(a.u.ipx.sa_netnum);
    const unsigned char* node = reinterpret_cast<const unsigned char*>(a.u.ipx.sa_nodenum);
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X:%04X", net[0],
                  net[1], net[2], net[3], node[0], node[1], node[2], node[3], node[4], node[5],
                  static_cast<unsigned>(ntohs(a.u.ipx.sa_socket)));
  }
  return text;
}

unsigned long OwnAddress() {
  char host[256] = "";
  if (gethostname(host, sizeof host) != 0) return htonl(INADDR_ANY);
  const hostent* entry = gethostbyname(host);
  if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list == nullptr) {
    return htonl(INADDR_ANY);
  }
  for (int i = 0; entry->h_addr_list[i] != nullptr; ++i) {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(entry->h_addr_list[i]);
    if (a[0] == 0 || a[0] == 127) continue;
    unsigned long address;
    std::memcpy(&address, a, 4);
    return address;
  }
  return htonl(INADDR_ANY);
}

LanSocket::~LanSocket() {
  if (s_ != INVALID_SOCKET) closesocket(s_);
}

int LanSocket::Open(uint16_t port_or_socket, bool own_address, const char** call) {
  const unsigned long address = own_address ? OwnAddress() : htonl(INADDR_ANY);
  if (transport_ == Transport::kUdp)
    s_ = socket(AF_INET, SOCK_DGRAM, 0);
  else
    s_ = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
  if (s_ == INVALID_SOCKET) {
    *call = "socket";
    return WSAGetLastError();
  }
  BOOL on = TRUE;
  if (setsockopt(s_, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
    *call = "setsockopt";
    return WSAGetLastError();
  }
  LanAddress local;
  std::memset(&local, 0, sizeof local);
  if (transport_ == Transport::kUdp) {
    local.u.in.sin_family = AF_INET;
    local.u.in.sin_addr.s_addr = address;
    local.u.in.sin_port = htons(port_or_socket);
    local.length = sizeof local.u.in;
  } else {
    local.u.ipx.sa_family = AF_IPX;
    std::memcpy(local.u.ipx.sa_nodenum + 2, &address, 4);  // node 00 00 a b c d
    local.u.ipx.sa_socket = htons(port_or_socket);
    local.length = sizeof local.u.ipx;
  }
  if (bind(s_, &local.u.any, local.length) != 0) {
    *call = "bind";
    return WSAGetLastError();
  }
  return 0;
}

std::string LanSocket::LocalName() const {
  LanAddress a;
  std::memset(&a, 0, sizeof a);
  a.length = sizeof a.u;
  if (getsockname(s_, &a.u.any, &a.length) != 0) return "unknown";
  return AddressText(transport_, a);
}

int LanSocket::Broadcast(const std::string& bytes, uint16_t port_or_socket) {
  LanAddress to;
  std::memset(&to, 0, sizeof to);
  if (transport_ == Transport::kUdp) {
    to.u.in.sin_family = AF_INET;
    to.u.in.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    to.u.in.sin_port = htons(port_or_socket);
    to.length = sizeof to.u.in;
  } else {
    to.u.ipx.sa_family = AF_IPX;
    std::memset(to.u.ipx.sa_nodenum, 0xFF, sizeof to.u.ipx.sa_nodenum);
    to.u.ipx.sa_socket = htons(port_or_socket);
    to.length = sizeof to.u.ipx;
  }
  return SendTo(to, bytes);
}

int LanSocket::SendTo(const LanAddress& to, const std::string& bytes) {
  int n = sendto(s_, bytes.data(), static_cast<int>(bytes.size()), 0, &to.u.any, to.length);
  return n == SOCKET_ERROR ? WSAGetLastError() : 0;
}

int LanSocket::Receive(char* buf, int size, LanAddress* from, int* error) {
  std::memset(from, 0, sizeof *from);
  from->length = sizeof from->u;
  int n = recvfrom(s_, buf, size, 0, &from->u.any, &from->length);
  if (n == SOCKET_ERROR) *error = WSAGetLastError();
  return n;
}

}  // namespace netquest
