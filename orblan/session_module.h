// The one session of orblan.dll, shared by the files that implement its exports.
#ifndef ORB_SESSION_SESSION_MODULE_H
#define ORB_SESSION_SESSION_MODULE_H

#include "session_link.h"
#include "session_state.h"
#include "transport.h"

SessionState& TheSession();
SessionLink& TheLink();
orb::Transport& TheTransport();
// The callbacks OrbLanInit gives the server connection.
ServerCallbacks TheServerCallbacks();

#endif
