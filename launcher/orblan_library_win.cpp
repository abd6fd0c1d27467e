#include "orblan_library_win.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "orblan.h"

namespace orblaunch {
namespace {

// The pointer types are the exports' own prototypes.
template <typename Fn, typename Export>
constexpr bool Same(Export) {
  return std::is_same<Fn, Export>::value;
}
static_assert(Same<OrbLanInitFn>(&OrbLanInit), "OrbLanInit");
static_assert(Same<OrbLanPreLaunchFn>(&OrbLanPreLaunch), "OrbLanPreLaunch");
static_assert(Same<OrbLanEndSessionFn>(&OrbLanEndSession), "OrbLanEndSession");
static_assert(Same<OrbLanLastResultFn>(&OrbLanLastResult), "OrbLanLastResult");
static_assert(Same<OrbLanResultTextFn>(&OrbLanResultText), "OrbLanResultText");
static_assert(Same<OrbLanSessionStateFn>(&OrbLanSessionState), "OrbLanSessionState");
static_assert(Same<OrbLanSetPlayerNameFn>(&OrbLanSetPlayerName), "OrbLanSetPlayerName");
static_assert(Same<OrbLanSetTraceFileFn>(&OrbLanSetTraceFile), "OrbLanSetTraceFile");
static_assert(Same<OrbLanGetStatusFn>(&OrbLanGetStatus), "OrbLanGetStatus");
static_assert(Same<OrbLanGetMembersFn>(&OrbLanGetMembers), "OrbLanGetMembers");
static_assert(Same<OrbLanNextNoticeFn>(&OrbLanNextNotice), "OrbLanNextNotice");
static_assert(Same<OrbLanReconnectFn>(&OrbLanReconnect), "OrbLanReconnect");

GroupMember FromMember(const OrbLanMember& m) {
  GroupMember g;
  g.id = m.id;
  g.name.assign(m.name, strnlen(m.name, sizeof m.name));
  g.round_trip_ms = m.round_trip_ms;
  g.you = (m.flags & ORBLAN_MEMBER_YOU) != 0;
  return g;
}
static_assert(Same<OrbLanPeersFn>(&OrbLanPeers), "OrbLanPeers");
static_assert(Same<OrbLanPublicAddressFn>(&OrbLanPublicAddress), "OrbLanPublicAddress");
static_assert(Same<OrbLanTakeNoticeFn>(&OrbLanTakeNotice), "OrbLanTakeNotice");

template <typename Fn>
Fn Bind(HMODULE m, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

class OrbLanLibrary : public SessionLibrary {
 public:
  explicit OrbLanLibrary(HMODULE m)
      : init_(Bind<OrbLanInitFn>(m, "OrbLanInit")),
        pre_launch_(Bind<OrbLanPreLaunchFn>(m, "OrbLanPreLaunch")),
        end_session_(Bind<OrbLanEndSessionFn>(m, "OrbLanEndSession")),
        state_(Bind<OrbLanSessionStateFn>(m, "OrbLanSessionState")),
        last_result_(Bind<OrbLanLastResultFn>(m, "OrbLanLastResult")),
        result_text_(Bind<OrbLanResultTextFn>(m, "OrbLanResultText")),
        set_player_(Bind<OrbLanSetPlayerNameFn>(m, "OrbLanSetPlayerName")),
        set_trace_(Bind<OrbLanSetTraceFileFn>(m, "OrbLanSetTraceFile")),
        status_(Bind<OrbLanGetStatusFn>(m, "OrbLanGetStatus")),
        members_(Bind<OrbLanGetMembersFn>(m, "OrbLanGetMembers")),
        notice_(Bind<OrbLanNextNoticeFn>(m, "OrbLanNextNotice")),
        reconnect_(Bind<OrbLanReconnectFn>(m, "OrbLanReconnect")),
        peers_(Bind<OrbLanPeersFn>(m, "OrbLanPeers")),
        public_address_(Bind<OrbLanPublicAddressFn>(m, "OrbLanPublicAddress")),
        take_notice_(Bind<OrbLanTakeNoticeFn>(m, "OrbLanTakeNotice")) {}
  // The library stays loaded until the process ends: its tables outlive the session.
  ~OrbLanLibrary() override = default;

  const char* Missing() const {
    if (!init_) return "OrbLanInit";
    if (!pre_launch_) return "OrbLanPreLaunch";
    if (!end_session_) return "OrbLanEndSession";
    return nullptr;
  }

  bool Init(const std::string& host, unsigned port) override { return init_(host.c_str(), port) == 1; }
  bool PreLaunch(const std::string& dir, const std::string& group) override {
    return pre_launch_(dir.c_str(), group.c_str()) == 1;
  }
  void EndSession() override { end_session_(); }
  int State() override {
    if (!state_) return kStateUnknown;
    int s = state_();
    return s >= ORBLAN_STATE_NONE && s <= ORBLAN_STATE_LOST ? s : kStateUnknown;
  }
  int LastResult() override { return last_result_ ? last_result_() : 0; }
  std::string ResultText(int code) override {
    const char* text = result_text_ ? result_text_(code) : nullptr;
    if (text != nullptr) return text;
    char fallback[32];
    std::snprintf(fallback, sizeof fallback, "result code %d", code);
    return fallback;
  }
  bool SetPlayerName(const std::string& name) override {
    return set_player_ && set_player_(name.c_str()) == 1;
  }
  bool SetTraceFile(const char* path) override { return set_trace_ && set_trace_(path) == 1; }
  SessionStatus Status() override {
    SessionStatus out;
    OrbLanStatus st;
    memset(&st, 0, sizeof st);
    st.size = sizeof st;
    if (!status_ || status_(&st) != 1) return out;
    out.join = st.join >= 0 && st.join <= 5 ? static_cast<JoinAnswer>(st.join) : JoinAnswer::kUnknown;
    out.link = st.link >= 0 && st.link <= 2 ? static_cast<LinkState>(st.link) : LinkState::kUnknown;
    out.refused = st.refused != 0;
    out.round_trip_ms = st.round_trip_ms;
    out.members = st.members;
    out.capacity = st.capacity;
    out.group.assign(st.group, strnlen(st.group, sizeof st.group));
    out.reason.assign(st.reason, strnlen(st.reason, sizeof st.reason));
    return out;
  }
  std::vector<GroupMember> Members() override {
    std::vector<GroupMember> out;
    if (!members_) return out;
    OrbLanMember list[64];
    const int listed = members_(list, 64);
    for (int i = 0; i < listed && i < 64; ++i) out.push_back(FromMember(list[i]));
    return out;
  }
  bool NextNotice(GroupNotice* out) override {
    OrbLanNotice n;
    if (!notice_ || notice_(&n) != 1) return false;
    out->joined = n.kind == ORBLAN_NOTICE_JOINED;
    out->reason = n.reason;
    out->member = FromMember(n.member);
    return true;
  }
  bool Reconnect() override { return reconnect_ && reconnect_() == 1; }
  bool Extended() override { return status_ && members_ && notice_ && reconnect_; }
  bool Peers(std::vector<PeerPath>* out) override {
    out->clear();
    if (!peers_) return false;
    OrbLanPeer buf[64];
    const int n = peers_(buf, 64);
    for (int i = 0; i < n && i < 64; ++i) {
      PeerPath p;
      p.member = buf[i].member;
      p.address = buf[i].address;
      p.port = buf[i].port;
      p.path = buf[i].path <= 2 ? static_cast<PathKind>(buf[i].path) : PathKind::kTrying;
      p.rtt_ms = buf[i].rtt_ms;
      p.sent_direct = buf[i].sent_direct;
      p.sent_server = buf[i].sent_server;
      p.received_direct = buf[i].received_direct;
      p.received_server = buf[i].received_server;
      out->push_back(p);
    }
    return true;
  }
  std::string PublicAddress() override {
    char text[64];
    if (!public_address_ || public_address_(text, sizeof text) != 1) return "";
    return text;
  }
  bool TakeNotice(std::string* line) override {
    char text[512];
    if (!take_notice_ || take_notice_(text, sizeof text) != 1) return false;
    *line = text;
    return true;
  }

 private:
  OrbLanInitFn init_;
  OrbLanPreLaunchFn pre_launch_;
  OrbLanEndSessionFn end_session_;
  OrbLanSessionStateFn state_;
  OrbLanLastResultFn last_result_;
  OrbLanResultTextFn result_text_;
  OrbLanSetPlayerNameFn set_player_;
  OrbLanSetTraceFileFn set_trace_;
  OrbLanGetStatusFn status_;
  OrbLanGetMembersFn members_;
  OrbLanNextNoticeFn notice_;
  OrbLanReconnectFn reconnect_;
  OrbLanPeersFn peers_;
  OrbLanPublicAddressFn public_address_;
  OrbLanTakeNoticeFn take_notice_;
};

}  // namespace

std::unique_ptr<SessionLibrary> LoadOrbLan(const std::string& dll_path, std::string* error) {
  HMODULE m = LoadLibraryA(dll_path.c_str());
  if (m == nullptr) {
    char text[400];
    std::snprintf(text, sizeof text, "cannot load %s (Windows error %lu)", dll_path.c_str(),
                  static_cast<unsigned long>(GetLastError()));
    *error = text;
    return nullptr;
  }
  std::unique_ptr<OrbLanLibrary> lib(new OrbLanLibrary(m));
  if (const char* missing = lib->Missing()) {
    *error = dll_path + " does not export " + missing;
    FreeLibrary(m);
    return nullptr;
  }
  return std::unique_ptr<SessionLibrary>(lib.release());
}

}  // namespace orblaunch
