// orblan.dll: the module-wide session, the library's start-up, the pump timer, the
// server connection's callbacks and the exports.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "deploy_win.h"
#include "game_paths.h"
#include "link.h"
#include "local_address_lookup.h"
#include "member_link.h"
#include "member_router.h"
#include "notices.h"
#include "message_types.h"
#include "orblan.h"
#include "original_dll_win.h"
#include "platform.h"
#include "records.h"
#include "relay.h"
#include "route_table_win.h"
#include "session_link.h"
#include "session_log.h"
#include "session_module.h"
#include "session_state.h"
#include "trace_sink.h"
#include "transport.h"

namespace {

const UINT kPumpPeriodMs = 20;

SessionState g_session;
SessionLink g_link;
bool g_sockets_started_at_load = false;
uint16_t g_endpoint_port = 0;  // the server endpoint's port: where members reach us directly

// What varies between two sessions anywhere: time, process, where things lie in memory.
uint64_t KeySeed() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  const uint64_t here = reinterpret_cast<uintptr_t>(&counter);
  return static_cast<uint64_t>(counter.QuadPart) ^ (uint64_t(GetCurrentProcessId()) << 32) ^
         GetTickCount() ^ (here << 16);
}

// Datagrams from other members (direct paths) reach the transport on the server endpoint
// and go to the router; trace lines go to standard output until the launcher points them
// elsewhere.
orb::TransportOptions SessionTransportOptions() {
  orb::TransportOptions o;
  o.trace = SessionTrace;
  o.stray = [](const uint8_t* data, int size, const orb::SocketAddress& from) {
    return RouteStray(g_session, TheTransport(), data, size, from);
  };
  return o;
}

NoticeBoard g_notices;

MemberRouter& TheRouter() {
  static MemberRouter router(NewPathKey(KeySeed()));
  return router;
}

void CALLBACK PumpTick(HWND, UINT, UINT_PTR, DWORD) {
  try {
    TheTransport().Pump(0);
    RouteTick(g_session, TheTransport());
    AfterPumpPass(g_link, orb::MonotonicMs());
    FlushSessionTrace();
  } catch (...) {
    // Out of memory inside a pass: nothing may unwind into the launcher's message loop.
  }
}

void OnServerEvent(int32_t address, int32_t code, int32_t) {
  ApplyServerEvent(g_session, address, code);
  if (code == orb::EVENT_CONNECTED) ConnectionConfirmed(g_session, g_link, TheTransport(), address);
}

void OnServerData(const uint8_t* data, int32_t length, int32_t type, int32_t address, int32_t) {
  if (RouteFromServer(g_session, TheTransport(), data, length, type, address)) return;
  OnSessionServerData(g_session, g_link, data, length, type, address);
}

void StopPumpTimer() {
  if (g_session.pump_timer != 0) KillTimer(nullptr, g_session.pump_timer);
  g_session.pump_timer = 0;
}

// The directory of this library's own file, without its last backslash.
void FindModuleDirectory(HINSTANCE module) {
  char* dir = g_session.module_dir;
  const DWORD n = GetModuleFileNameA(module, dir, kPathBytes);
  if (n == 0 || n >= kPathBytes) {
    dir[0] = '\0';  // truncated: the shim source cannot be found, so launches fail cleanly
    return;
  }
  char* slash = strrchr(dir, '\\');
  if (slash != nullptr) *slash = '\0';
}

int InitSession(const char* serverHost, unsigned int serverPort) {
  SessionState& s = g_session;
  orb::Transport& t = TheTransport();
  s.group[0] = '\0';
  s.member = 0;
  orb::Endpoint* endpoint = t.CreateEndpoint(0);
  if (endpoint == nullptr) return 0;
  s.server_socket.store(endpoint->handle);
  g_endpoint_port = endpoint->local_port;
  TheRouter().Reset(NewPathKey(KeySeed()));
  s.router = &TheRouter();
  g_notices.Clear();
  s.notices = &g_notices;
  if (s.route_table == nullptr) s.route_table = CreateRouteTableMemory();
  const int32_t address =
      t.Connect(endpoint, serverHost, static_cast<uint16_t>(serverPort & 0xFFFF), 0);
  if (address == 0) return 0;
  t.SetEventCallback(address, orb::EVENT_CONNECTED, OnServerEvent);
  t.SetEventCallback(address, orb::EVENT_PEERCLOSE, OnServerEvent);
  t.SetEventCallback(address, orb::EVENT_TIMEOUT, OnServerEvent);
  t.SetDataCallback(address, OnServerData);

  StopPumpTimer();  // a second OrbLanInit must not leave a second timer pumping
  s.pump_timer = SetTimer(nullptr, 0, kPumpPeriodMs, PumpTick);  // 0 when it fails
  FindLocalAddress(s.local_address, sizeof s.local_address);
  s.paths.shim_path[0] = '\0';
  BeginSession(s, address);
  ConnectionOpened(g_link, t, serverHost, static_cast<uint16_t>(serverPort & 0xFFFF), endpoint,
                   address);
  return 1;
}

int PrepareLaunch(const char* gameDir, const char* groupName) {
  SessionState& s = g_session;
  if (gameDir == nullptr || !s.active.load() || groupName == nullptr || groupName[0] == '\0') {
    return 0;
  }
  // One launch per session: a running worker reads the group name this would overwrite.
  if (s.relay_running.load()) return 0;
  // What the records and path buffers cannot hold is refused before anything changes.
  GamePaths paths;
  char shim_source[kPathBytes];
  if (!orb::GroupNameFits(groupName) || !FormGamePaths(gameDir, &paths) ||
      !JoinPath(s.module_dir, "orbws.dll", shim_source, sizeof shim_source)) {
    return 0;
  }
  // One session per machine: with the port taken, this game's broadcasts would reach
  // the other session and be relayed into its group.
  g_link.link_taken.store(!LinkPortFree(LINK_PORT));
  if (g_link.link_taken.load()) return 0;

  strcpy(s.group, groupName);  // fits: GroupNameFits checked it
  QueueJoin(s, g_link, TheTransport());
  SendPathReport(s, TheTransport(), g_endpoint_port);
  s.paths = paths;
  SetCurrentDirectoryA(s.paths.game_dir);
  // Nothing is done at "<game dir>\ws2_32.dll": a game that ships that library keeps it.
  char saved[kPathBytes];
  const bool can_save = FormSavedPath(s.paths.shim_path, saved, sizeof saved);
  const Original original =
      can_save ? SetAsideOriginal(s.paths.shim_path, saved, shim_source) : Original::kFailed;
  if (original != Original::kSetAside) ClearAttributes(s.paths.shim_path);
  ClearAttributes(s.paths.log_path);
  WriteSessionLog(s.paths.log_path, s.group, gameDir);
  // A file of the player's that cannot be kept is not overwritten (without a saved
  // path, only a missing file counts as none).
  if (original == Original::kFailed && GetFileAttributesA(s.paths.shim_path) != INVALID_FILE_ATTRIBUTES) {
    return 0;
  }
  if (!PlaceShim(shim_source, s.paths.shim_path)) {
    if (original == Original::kSetAside) RestoreOriginal(s.paths.shim_path, saved);
    return 0;
  }
  if (original == Original::kSetAside) {
    ScheduleRestartRestore(s.paths.shim_path, saved);
  } else {
    ScheduleRestartRename(s.paths.shim_path, nullptr);
  }
  g_link.shim_placed = true;
  g_link.link_port = LINK_PORT;
  StartRelayWorker(s, TheTransport(), LINK_PORT);  // a failure leaves the game unlinked
  g_link.link_taken.store(!s.relay_bound.load() && !s.relay_running.load());
  return 1;
}

void EndTheSession() {
  SessionState& s = g_session;
  s.active.store(false);  // the worker leaves its loop within one readiness wait
  LeaveServer(s, g_link, TheTransport(), kLeaveWaitMs);
  EndSession(s);
  PublishRoutes(s);  // empty: a game that goes on sends as it would without orblan
  StopPumpTimer();
  g_link.probe.Stop();
  if (g_link.shim_placed) {
    g_link.shim_placed = false;
    RemoveShim(s.paths.shim_path);
    char saved[kPathBytes];
    if (FormSavedPath(s.paths.shim_path, saved, sizeof saved)) {
      RestoreOriginal(s.paths.shim_path, saved);
    }
  }
  WaitForRelayWorker(s);
  FlushSessionTrace();
  Sleep(10);
}

}  // namespace

// Outside the anonymous namespace: the runtime's start-up calls it by name.
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Unloaded by FreeLibrary without OrbLanEndSession: a timer left behind would call
    // into the unloaded code. (It can be killed only here, on the thread that set it.)
    g_session.active.store(false);
    StopPumpTimer();
    return TRUE;
  }
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  if (!orb::SocketsStartup(&g_sockets_started_at_load)) return FALSE;
  FindModuleDirectory(module);
  return TRUE;
}

SessionState& TheSession() { return g_session; }
SessionLink& TheLink() { return g_link; }
orb::Transport& TheTransport() {
  // The one transport of the process: its tables live as long as the library.
  static orb::Transport transport(SessionTransportOptions());
  return transport;
}
ServerCallbacks TheServerCallbacks() {
  return ServerCallbacks{OnServerEvent, OnServerData,
                         [] { SendPathReport(g_session, TheTransport(), g_endpoint_port); }};
}

// The exports: nothing unwinds across the library's boundary.

extern "C" int ORBLAN_CALL OrbLanInit(const char* serverHost, unsigned int serverPort) {
  try {
    return InitSession(serverHost, serverPort);
  } catch (...) {
    return 0;
  }
}

extern "C" int ORBLAN_CALL OrbLanPreLaunch(const char* gameDir, const char* groupName) {
  try {
    return PrepareLaunch(gameDir, groupName);
  } catch (...) {
    return 0;
  }
}

extern "C" int ORBLAN_CALL OrbLanEndSession(void) {
  try {
    EndTheSession();
  } catch (...) {
  }
  return 0;
}

extern "C" int ORBLAN_CALL OrbLanLastResult(void) {
  try {
    return TheTransport().LastResult();
  } catch (...) {
    return 0;
  }
}

extern "C" const char* ORBLAN_CALL OrbLanResultText(int code) {
  const char* text = orb::Transport::ResultText(code);
  return text != nullptr ? text : "[??] unknown result code";
}

extern "C" int ORBLAN_CALL OrbLanSessionState(void) { return g_session.phase.load(); }

extern "C" int ORBLAN_CALL OrbLanPeers(OrbLanPeer* out, int max) {
  if (out == nullptr && max > 0) return -1;
  try {
    const std::vector<MemberView> members = TheRouter().Members();
    for (size_t i = 0; i < members.size() && static_cast<int>(i) < max; ++i) {
      const MemberView& m = members[i];
      OrbLanPeer& p = out[i];
      p.member = m.path.member;
      p.address = m.path.seen.ip;
      p.port = m.path.seen.port;
      p.path = static_cast<unsigned int>(m.path.state);
      p.rtt_ms = m.path.rtt_ms;
      p.sent_direct = static_cast<unsigned int>(m.sent_direct);
      p.sent_server = static_cast<unsigned int>(m.sent_server);
      p.received_direct = static_cast<unsigned int>(m.received_direct);
      p.received_server = static_cast<unsigned int>(m.received_server);
    }
    return static_cast<int>(members.size());
  } catch (...) {
    return 0;
  }
}

extern "C" int ORBLAN_CALL OrbLanPublicAddress(char* text, int size) {
  if (text == nullptr || size <= 0) return 0;
  text[0] = '\0';
  try {
    const PathAddress seen = TheRouter().public_address();
    if (seen.ip == 0) return 0;
    char ip[16];
    orb::FormatIPv4(seen.ip, ip, sizeof ip);
    const int n = snprintf(text, static_cast<size_t>(size), "%s:%u", ip, seen.port);
    if (n < 0 || n >= size) {
      text[0] = '\0';
      return 0;
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

extern "C" int ORBLAN_CALL OrbLanTakeNotice(char* text, int size) {
  if (text == nullptr || size <= 0) return 0;
  text[0] = '\0';
  try {
    std::string line;
    if (!g_notices.Take(&line)) return 0;
    snprintf(text, static_cast<size_t>(size), "%s", line.c_str());  // cut to fit
    return 1;
  } catch (...) {
    return 0;
  }
}
