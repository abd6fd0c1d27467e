// The calls a game makes that the shim only passes on, with every result and error code
// printed, one per line. The test driver runs it against Wine's own wsock32 and through the
// shim, and the two outputs must be the same. Nothing printed depends on the run: no socket
// handles, no ephemeral port numbers.
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

void Put(const char* key, long value) { printf("%s=%ld\n", key, value); }
void PutText(const char* key, const char* text) { printf("%s=%s\n", key, text ? text : "(null)"); }
void PutError(const char* key) { Put(key, WSAGetLastError()); }

sockaddr_in Loopback(u_short port) {
  sockaddr_in sin;
  memset(&sin, 0, sizeof sin);
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr.s_addr = inet_addr("127.0.0.1");
  return sin;
}

sockaddr* Sa(sockaddr_in* sin) { return reinterpret_cast<sockaddr*>(sin); }

void Names() {
  Put("htons", htons(0x1234));
  Put("ntohs", ntohs(0x3412));
  Put("htonl", static_cast<long>(htonl(0x01020304)));
  Put("ntohl", static_cast<long>(ntohl(0x04030201)));
  Put("inet_addr", static_cast<long>(inet_addr("203.0.113.5")));
  Put("inet_addr_bad", static_cast<long>(inet_addr("not-an-address")));
  in_addr a;
  a.s_addr = inet_addr("198.51.100.7");
  PutText("inet_ntoa", inet_ntoa(a));

  char host[256];
  Put("gethostname", gethostname(host, sizeof host));
  char tiny[1];
  Put("gethostname_short", gethostname(tiny, sizeof tiny));
  PutError("gethostname_short_error");
  hostent* self = gethostbyname(host);
  Put("gethostbyname_self", self != nullptr);
  hostent* local = gethostbyname("localhost");
  Put("gethostbyname_localhost", local != nullptr);
  if (local) {
    in_addr first;
    memcpy(&first, local->h_addr_list[0], 4);
    PutText("localhost_address", inet_ntoa(first));
    Put("localhost_length", local->h_length);
  }
  protoent* udp = getprotobyname("udp");
  Put("getprotobyname_udp", udp ? udp->p_proto : -1);
  protoent* tcp = getprotobynumber(6);
  PutText("getprotobynumber_6", tcp ? tcp->p_name : nullptr);
  servent* http = getservbyname("http", "tcp");
  Put("getservbyname_http", http ? ntohs(http->s_port) : -1);
  servent* p80 = getservbyport(htons(80), "tcp");
  PutText("getservbyport_80", p80 ? p80->s_name : nullptr);
  Put("isblocking", WSAIsBlocking());
}

void Tcp() {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
  Put("tcp_socket_valid", listener != INVALID_SOCKET);
  int on = 1;
  Put("setsockopt_reuseaddr",
      setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&on), sizeof on));
  int value = 0, len = sizeof value;
  Put("getsockopt_reuseaddr",
      getsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&value), &len));
  Put("getsockopt_reuseaddr_value", value != 0);
  Put("getsockopt_bad_level", getsockopt(listener, 12345, 1, reinterpret_cast<char*>(&value), &len));
  PutError("getsockopt_bad_level_error");

  sockaddr_in any = Loopback(0);
  Put("bind", bind(listener, Sa(&any), sizeof any));
  sockaddr_in bound;
  int blen = sizeof bound;
  Put("getsockname", getsockname(listener, Sa(&bound), &blen));
  Put("getsockname_len", blen);
  Put("getsockname_port_set", bound.sin_port != 0);
  Put("listen", listen(listener, 4));

  // Nothing to accept yet.
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(listener, &readable);
  timeval zero = {0, 0};
  Put("select_idle", select(0, &readable, nullptr, nullptr, &zero));

  SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
  Put("connect", connect(client, Sa(&bound), sizeof bound));
  FD_ZERO(&readable);
  FD_SET(listener, &readable);
  timeval second = {5, 0};
  Put("select_ready", select(0, &readable, nullptr, nullptr, &second));
  Put("fd_isset", FD_ISSET(listener, &readable) != 0);

  sockaddr_in peer;
  int plen = sizeof peer;
  SOCKET server = accept(listener, Sa(&peer), &plen);
  Put("accept_valid", server != INVALID_SOCKET);
  Put("accept_len", plen);
  PutText("accept_peer", inet_ntoa(peer.sin_addr));
  sockaddr_in far_end;
  int flen = sizeof far_end;
  Put("getpeername", getpeername(client, Sa(&far_end), &flen));
  Put("getpeername_matches", far_end.sin_port == bound.sin_port);

  int nodelay = 1;
  Put("setsockopt_nodelay", setsockopt(client, IPPROTO_TCP, TCP_NODELAY,
                                       reinterpret_cast<char*>(&nodelay), sizeof nodelay));
  Put("send", send(client, "hello, lan", 10, 0));
  FD_ZERO(&readable);
  FD_SET(server, &readable);
  Put("select_data", select(0, &readable, nullptr, nullptr, &second));
  u_long pending = 0;
  Put("ioctl_fionread", ioctlsocket(server, FIONREAD, &pending));
  Put("fionread", static_cast<long>(pending));
  char buf[32] = "";
  Put("recv", recv(server, buf, sizeof buf, 0));
  PutText("recv_data", buf);

  u_long nonblocking = 1;
  Put("ioctl_fionbio", ioctlsocket(server, FIONBIO, &nonblocking));
  Put("recv_nothing", recv(server, buf, sizeof buf, 0));
  PutError("recv_nothing_error");

  Put("shutdown", shutdown(client, SD_SEND));
  Put("recv_end", recv(server, buf, sizeof buf, 0));
  Put("close_client", closesocket(client));
  Put("close_server", closesocket(server));

  // A port nobody listens on: the listener's, once it is closed.
  Put("close_listener", closesocket(listener));
  SOCKET refused = socket(AF_INET, SOCK_STREAM, 0);
  Put("connect_refused", connect(refused, Sa(&bound), sizeof bound));
  PutError("connect_refused_error");
  closesocket(refused);
}

void Udp() {
  SOCKET a = socket(AF_INET, SOCK_DGRAM, 0);
  SOCKET b = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in any = Loopback(0);
  bind(a, Sa(&any), sizeof any);
  bind(b, Sa(&any), sizeof any);
  sockaddr_in to;
  int len = sizeof to;
  getsockname(b, Sa(&to), &len);
  Put("sendto", sendto(a, "datagram", 8, 0, Sa(&to), sizeof to));
  char buf[16] = "";
  sockaddr_in from;
  int flen = sizeof from;
  Put("recvfrom", recvfrom(b, buf, sizeof buf, 0, Sa(&from), &flen));
  PutText("recvfrom_data", buf);
  Put("recvfrom_len", flen);
  PutText("recvfrom_source", inet_ntoa(from.sin_addr));
  // Too small a buffer for the datagram.
  sendto(a, "datagram", 8, 0, Sa(&to), sizeof to);
  Put("recvfrom_small", recvfrom(b, buf, 4, 0, Sa(&from), &flen));
  PutError("recvfrom_small_error");
  closesocket(a);
  closesocket(b);
}

void Errors() {
  Put("close_invalid", closesocket(INVALID_SOCKET));
  PutError("close_invalid_error");
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  char buf[4];
  Put("recv_unconnected", recv(s, buf, sizeof buf, 0));
  PutError("recv_unconnected_error");
  Put("listen_unbound", listen(s, 1));
  PutError("listen_unbound_error");
  closesocket(s);
  Put("socket_bad_family", static_cast<long>(socket(12345, SOCK_STREAM, 0)));
  PutError("socket_bad_family_error");
  WSASetLastError(10022);
  PutError("set_last_error");
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  WSADATA data;
  Put("startup", WSAStartup(MAKEWORD(1, 1), &data));
  Put("startup_version", data.wVersion);
  Names();
  Tcp();
  Udp();
  Errors();
  Put("cleanup", WSACleanup());
  Put("cleanup_again", WSACleanup());
  PutError("cleanup_again_error");
  return 0;
}
