// Loads a copy of the shim by path, under whatever file name the copy has, and calls a few
// of its exports through GetProcAddress; prints each result as "key=value". It imports no
// Winsock library itself.
//
//   probe_load.exe PATH ws2       the shim loaded as WS2_32.DLL: a full session
//   probe_load.exe PATH missing   a shim whose system library does not exist
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

typedef int(WINAPI* StartupFn)(WORD, LPWSADATA);
typedef int(WINAPI* CleanupFn)(void);
typedef SOCKET(WINAPI* SocketFn)(int, int, int);
typedef int(WINAPI* CloseFn)(SOCKET);
typedef int(WINAPI* ConnectFn)(SOCKET, const sockaddr*, int);
typedef u_short(WINAPI* HtonsFn)(u_short);
typedef int(WINAPI* LastErrorFn)(void);

HMODULE g_shim;

template <typename Fn>
Fn Get(const char* name) {
  Fn fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(g_shim, name)));
  if (!fn) {
    printf("missing_export=%s\n", name);
    ExitProcess(3);
  }
  return fn;
}

void Put(const char* key, long value) { printf("%s=%ld\n", key, value); }

int Ws2() {
  WSADATA data;
  Put("startup", Get<StartupFn>("WSAStartup")(MAKEWORD(2, 2), &data));
  SOCKET s = Get<SocketFn>("socket")(AF_INET, SOCK_DGRAM, 0);
  Put("socket_valid", s != INVALID_SOCKET);
  Put("close", Get<CloseFn>("closesocket")(s));
  Put("htons", Get<HtonsFn>("htons")(258));
  Put("cleanup", Get<CleanupFn>("WSACleanup")());
  // Unloaded before the process ends: the shim's detach runs while SCRIBE.DLL still logs.
  Put("freed", FreeLibrary(g_shim) != 0);
  return 0;
}

int Missing() {
  // connect has no load step of its own: only its failure line.
  sockaddr_in sin;
  memset(&sin, 0, sizeof sin);
  Put("connect", Get<ConnectFn>("connect")(5, reinterpret_cast<sockaddr*>(&sin), sizeof sin));
  WSADATA data;
  Put("startup", Get<StartupFn>("WSAStartup")(MAKEWORD(1, 1), &data));
  Put("socket", static_cast<long>(Get<SocketFn>("socket")(AF_INET, SOCK_DGRAM, 0)));
  Put("htons", Get<HtonsFn>("htons")(258));
  Put("last_error", Get<LastErrorFn>("WSAGetLastError")());
  Put("cleanup", Get<CleanupFn>("WSACleanup")());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 3) {
    fprintf(stderr, "usage: probe_load.exe PATH ws2|missing\n");
    return 2;
  }
  g_shim = LoadLibraryA(argv[1]);
  if (!g_shim) {
    printf("load_error=%lu\n", GetLastError());
    return 4;
  }
  char loaded[MAX_PATH] = "";
  GetModuleFileNameA(g_shim, loaded, sizeof loaded);
  printf("loaded=%s\n", loaded);
  if (strcmp(argv[2], "ws2") == 0) return Ws2();
  if (strcmp(argv[2], "missing") == 0) return Missing();
  return 2;
}
