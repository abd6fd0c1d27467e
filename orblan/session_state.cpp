#include "session_state.h"

void ApplyServerEvent(SessionState& s, int32_t address, int32_t code) {
  if (address == 0 || address != s.server_connection.load()) return;
  if (s.phase.load() == ORBLAN_STATE_NONE) return;
  switch (code) {
    case orb::EVENT_CONNECTED:
      s.phase.store(ORBLAN_STATE_CONNECTED);
      s.active.store(true);
      break;
    case orb::EVENT_PEERCLOSE:
    case orb::EVENT_TIMEOUT:
      s.active.store(false);
      s.phase.store(ORBLAN_STATE_LOST);
      break;
    default:
      break;
  }
}

void BeginSession(SessionState& s, int32_t address) {
  s.server_connection.store(address);
  s.phase.store(ORBLAN_STATE_WAITING);
  s.active.store(true);
}

void EndSession(SessionState& s) {
  s.active.store(false);
  s.phase.store(ORBLAN_STATE_NONE);
}
