#include "orblan_library_win.h"

#include <windows.h>

#include <cstdio>
#include <type_traits>

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
        result_text_(Bind<OrbLanResultTextFn>(m, "OrbLanResultText")) {}
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

 private:
  OrbLanInitFn init_;
  OrbLanPreLaunchFn pre_launch_;
  OrbLanEndSessionFn end_session_;
  OrbLanSessionStateFn state_;
  OrbLanLastResultFn last_result_;
  OrbLanResultTextFn result_text_;
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
