// A stand-in game for the shim's Wine tests. It imports wsock32.dll as a game does, by name
// (the platform's import library) and by ordinal (by_ordinal.def), and prints every result as
// "key=value" lines on standard output for the test driver to check against the trace.
//
//   game_ipx.exe ipx       start-up, byte order, IPX sockets, the registry across start-ups
//   game_ipx.exe threads   IPX sockets opened and closed by several threads at once
#include <winsock2.h>
#include <windows.h>
#include <wsipx.h>

#include <stdio.h>
#include <string.h>

extern "C" {
u_short WINAPI ord_htons(u_short);
int WINAPI ord_WSAStartup(WORD, LPWSADATA);
int WINAPI ord_WSACleanup(void);
int WINAPI ord_SetBroadcastCallback(DWORD);
int WINAPI ord_RecvBroadcastMsg(void);
}

namespace {

void Put(const char* key, long value) { printf("%s=%ld\n", key, value); }

void PutBytes(const char* key, const void* data, int n) {
  printf("%s=", key);
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (int i = 0; i < n; ++i) printf(i ? " %02X" : "%02X", p[i]);
  printf("\n");
}

int SockType(SOCKET s) {
  int type = 0, len = sizeof type;
  if (getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) != 0) return -1;
  return type;
}

int Ipx() {
  // Before any start-up: the first call loads the real library, and the error code the
  // thread held stays what it was.
  SetLastError(1234);
  Put("first_last_error", WSAGetLastError());
  Put("htons_name", htons(258));
  Put("htons_ordinal", ord_htons(258));

  WSADATA data;
  Put("startup_1_1", WSAStartup(MAKEWORD(1, 1), &data));
  Put("startup_version", data.wVersion);

  SOCKET ipx = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
  Put("ipx_socket", static_cast<long>(ipx));
  Put("ipx_type", SockType(ipx));

  SOCKADDR_IPX local;
  memset(&local, 0, sizeof local);
  local.sa_family = AF_IPX;
  const unsigned char port300[2] = {0x2C, 0x01};
  memcpy(&local.sa_socket, port300, 2);
  Put("ipx_bind", bind(ipx, reinterpret_cast<sockaddr*>(&local), sizeof local));

  // The IPX socket holds UDP port 300: a plain socket cannot have it.
  SOCKET plain = socket(AF_INET, SOCK_DGRAM, 0);
  Put("plain_socket", static_cast<long>(plain));
  sockaddr_in sin;
  memset(&sin, 0, sizeof sin);
  sin.sin_family = AF_INET;
  sin.sin_port = htons(300);
  Put("plain_bind_300", bind(plain, reinterpret_cast<sockaddr*>(&sin), sizeof sin));
  Put("plain_bind_300_error", WSAGetLastError());
  closesocket(plain);

  SOCKADDR_IPX name;
  memset(&name, 0xEE, sizeof name);
  int len = sizeof name;
  Put("ipx_getsockname", getsockname(ipx, reinterpret_cast<sockaddr*>(&name), &len));
  Put("ipx_getsockname_len", len);
  PutBytes("ipx_name", &name, sizeof name);

  unsigned char small[16];
  memset(small, 0xEE, sizeof small);
  len = 10;
  Put("ipx_getsockname_short", getsockname(ipx, reinterpret_cast<sockaddr*>(small), &len));
  Put("ipx_getsockname_short_error", WSAGetLastError());
  Put("ipx_getsockname_short_len", len);
  PutBytes("ipx_getsockname_short_buffer", small, sizeof small);

  SOCKET spx = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
  Put("spx_socket", static_cast<long>(spx));
  Put("spx_type", SockType(spx));
  SOCKET ipx0 = socket(AF_IPX, SOCK_DGRAM, 0);
  Put("ipx0_socket", static_cast<long>(ipx0));
  Put("ipx0_type", SockType(ipx0));
  // An IPX address shorter than its record is refused before anything is read from it.
  Put("ipx_bind_short", bind(ipx0, reinterpret_cast<sockaddr*>(&local), 10));
  Put("ipx_bind_short_error", WSAGetLastError());
  // The name of an unbound socket: the IPX form is written, and the real call's answer and
  // error reach the game as they would for a plain socket.
  SOCKET unbound = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in plain_unbound;
  len = sizeof plain_unbound;
  WSASetLastError(0);
  Put("plain_unbound_getsockname", getsockname(unbound, reinterpret_cast<sockaddr*>(&plain_unbound), &len));
  Put("plain_unbound_error", WSAGetLastError());
  closesocket(unbound);
  len = sizeof name;
  WSASetLastError(0);
  Put("ipx0_getsockname", getsockname(ipx0, reinterpret_cast<sockaddr*>(&name), &len));
  Put("ipx0_getsockname_error", WSAGetLastError());
  Put("ipx0_getsockname_len", len);
  Put("ipx0_getsockname_family", name.sa_family);
  Put("spx_close", closesocket(spx));

  // A nested start-up by ordinal empties the registry; cleanup in between leaves it.
  Put("startup_2_2", ord_WSAStartup(MAKEWORD(2, 2), &data));
  SOCKET later = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
  Put("later_socket", static_cast<long>(later));
  Put("cleanup_1", WSACleanup());
  len = sizeof name;
  Put("later_getsockname", getsockname(later, reinterpret_cast<sockaddr*>(&name), &len));
  Put("later_getsockname_len", len);
  Put("later_getsockname_family", name.sa_family);
  Put("later_close", closesocket(later));
  sockaddr_in plain_name;
  len = sizeof plain_name;
  Put("after_startup_getsockname", getsockname(ipx, reinterpret_cast<sockaddr*>(&plain_name), &len));
  Put("after_startup_len", len);
  Put("after_startup_family", plain_name.sin_family);

  Put("ipx_close", closesocket(ipx));
  Put("ipx0_close", closesocket(ipx0));
  Put("set_broadcast_callback", ord_SetBroadcastCallback(0x1234));
  Put("recv_broadcast_msg", ord_RecvBroadcastMsg());
  Put("cleanup_2", ord_WSACleanup());
  return 0;
}

DWORD WINAPI Churn(LPVOID) {
  for (int i = 0; i < 40; ++i) {
    SOCKET s = socket(AF_IPX, (i & 1) ? SOCK_STREAM : SOCK_DGRAM, (i & 1) ? NSPROTO_SPX : NSPROTO_IPX);
    if (s == INVALID_SOCKET) return 1;
    SOCKADDR_IPX name;
    int len = sizeof name;
    // The socket may be unbound; the call must still answer in IPX form.
    getsockname(s, reinterpret_cast<sockaddr*>(&name), &len);
    if (closesocket(s) != 0) return 2;
  }
  return 0;
}

DWORD WINAPI Restart(LPVOID) {
  for (int i = 0; i < 20; ++i) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 3;
    WSACleanup();
  }
  return 0;
}

int Threads() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 1;
  HANDLE threads[5];
  for (int i = 0; i < 4; ++i) threads[i] = CreateThread(nullptr, 0, Churn, nullptr, 0, nullptr);
  threads[4] = CreateThread(nullptr, 0, Restart, nullptr, 0, nullptr);
  WaitForMultipleObjects(5, threads, TRUE, 60000);
  int failures = 0;
  for (HANDLE t : threads) {
    DWORD code = 99;
    GetExitCodeThread(t, &code);
    if (code != 0) ++failures;
    CloseHandle(t);
  }
  Put("thread_failures", failures);
  WSACleanup();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc > 1 && strcmp(argv[1], "ipx") == 0) return Ipx();
  if (argc > 1 && strcmp(argv[1], "threads") == 0) return Threads();
  fprintf(stderr, "usage: game_ipx.exe ipx|threads\n");
  return 2;
}
