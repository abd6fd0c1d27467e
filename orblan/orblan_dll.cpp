// orblan.dll: the module-wide session, the library's start-up, the pump timer, the
// server connection's callbacks and the exports.
#include <windows.h>

#include <string.h>

#include "deploy_win.h"
#include "game_paths.h"
#include "link.h"
#include "local_address_lookup.h"
#include "message_types.h"
#include "orblan.h"
#include "platform.h"
#include "records.h"
#include "relay.h"
#include "session_log.h"
#include "session_state.h"
#include "transport.h"

namespace {

const UINT kPumpPeriodMs = 20;

SessionState g_session;
bool g_sockets_started_at_load = false;

// The one transport of the process: its tables live as long as the library.
orb::Transport& TheTransport() {
  static orb::Transport transport;
  return transport;
}

void CALLBACK PumpTick(HWND, UINT, UINT_PTR, DWORD) {
  try {
    TheTransport().Pump(0);
  } catch (...) {
    // Out of memory inside a pass: nothing may unwind into the launcher's message loop.
  }
}

void OnServerEvent(int32_t address, int32_t code, int32_t) {
  ApplyServerEvent(g_session, address, code);
}

void OnServerData(const uint8_t* data, int32_t length, int32_t type, int32_t address, int32_t) {
  DeliverFromServer(g_session, data, length, type, address);
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
  uint8_t join[orb::kJoinRecordSize];
  GamePaths paths;
  char shim_source[kPathBytes];
  if (!orb::BuildJoinRecord(groupName, join) || !FormGamePaths(gameDir, &paths) ||
      !JoinPath(s.module_dir, "orbws.dll", shim_source, sizeof shim_source)) {
    return 0;
  }

  strcpy(s.group, groupName);  // fits: BuildJoinRecord checked it
  TheTransport().Send(s.server_connection.load(), join, orb::kJoinRecordSize, kMsgJoin);
  s.paths = paths;
  SetCurrentDirectoryA(s.paths.game_dir);
  // Nothing is done at "<game dir>\ws2_32.dll": a game that ships that library keeps it.
  ClearAttributes(s.paths.shim_path);
  ClearAttributes(s.paths.log_path);
  WriteSessionLog(s.paths.log_path, s.group, gameDir);
  if (!PlaceShim(shim_source, s.paths.shim_path)) return 0;
  ScheduleRestartRename(s.paths.shim_path, nullptr);
  StartRelayWorker(s, TheTransport(), LINK_PORT);  // a failure leaves the game unlinked
  return 1;
}

void EndTheSession() {
  SessionState& s = g_session;
  EndSession(s);  // the worker leaves its loop within one readiness wait
  StopPumpTimer();
  RemoveShim(s.paths.shim_path);
  WaitForRelayWorker(s);
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
