#include "launch_flow.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "command_line.h"
#include "exit_codes.h"
#include "member_view.h"

namespace orblaunch {

uint32_t ReconnectDelayMs(int attempt) {
  uint32_t delay = kReconnectFirstMs;
  for (int i = 1; i < attempt && delay < kReconnectMaxMs; ++i) delay *= 2;
  return std::min(delay, kReconnectMaxMs);
}

namespace {

bool Refusal(JoinAnswer a) {
  return a == JoinAnswer::kGroupFull || a == JoinAnswer::kServerFull || a == JoinAnswer::kRefused;
}

class Launch {
 public:
  Launch(const LaunchOptions& o, SessionLibrary& lib, LauncherHost& host)
      : o_(o), lib_(lib), host_(host) {
    std::snprintf(server_, sizeof server_, "%s:%u", o.server_host.c_str(), o.server_port);
  }

  int Run() {
    std::string game = host_.ResolveGame(o_.game);
    if (game.empty()) {
      Say("cannot find the game '%s'", o_.game.c_str());
      return kExitGameStart;
    }
    extended_ = lib_.Extended();
    if (extended_) {
      // The player sees the launcher's lines; the connection's trace goes to a file.
      const char* trace = o_.verbose || o_.trace_path.empty() ? nullptr : o_.trace_path.c_str();
      if (!lib_.SetTraceFile(trace) && trace != nullptr) {
        Say("cannot write %s: the connection's trace lines are dropped", trace);
      }
      if (!o_.player.empty() && !lib_.SetPlayerName(o_.player)) {
        Say("the session library refused the player name '%s'", o_.player.c_str());
      }
    }
    if (extended_ && !o_.player.empty()) {
      Say("connecting to the group server %s for group '%s' as %s", server_, o_.group.c_str(),
          o_.player.c_str());
    } else {
      Say("connecting to the group server %s for group '%s'", server_, o_.group.c_str());
    }
    if (!lib_.Init(o_.server_host, o_.server_port)) return InitFailed();

    int code = WaitForConfirmation();
    if (code == 0) code = PrepareAndPlay(game);
    lib_.EndSession();
    Say("session closed");
    return code;
  }

 private:
#if defined(__GNUC__)
  __attribute__((format(printf, 2, 3)))
#endif
  void Say(const char* format, ...) {
    char line[640] = "orblaunch: ";
    size_t n = std::strlen(line);
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + n, sizeof line - n, format, args);
    va_end(args);
    host_.Say(line);
  }
  void SayText(const std::string& text) { Say("%s", text.c_str()); }

  int InitFailed() {
    int result = lib_.LastResult();
    if (result == ORBLAN_RESULT_HOST_LOOKUP) {
      Say("cannot find the server '%s': the name does not resolve", o_.server_host.c_str());
      return kExitServerUnknown;
    }
    if (result == ORBLAN_RESULT_INVALID_ARGUMENTS) {
      Say("'%s' is not a server address the session library accepts", server_);
      return kExitServerUnknown;
    }
    Say("could not open a session: %s", lib_.ResultText(result).c_str());
    return kExitNoSession;
  }

  bool Refused() { return extended_ && lib_.Status().refused; }

  void SayRefusedConnection() {
    Say("the group server %s refused the connection: nothing listens on UDP port %u there "
        "(is orbserver running there, on that port?)", server_, o_.server_port);
  }

  // 0 once the server confirmed; otherwise the exit code.
  int WaitForConfirmation() {
    if (lib_.State() == kStateUnknown) {
      Say("this orblan.dll cannot tell when the server confirms; going on without waiting");
      return 0;
    }
    const uint64_t start = host_.NowMs();
    const uint64_t deadline = start + o_.wait_s * 1000ull;
    uint64_t next_progress = start + kProgressEveryMs;
    for (;;) {
      int s = lib_.State();
      if (s == ORBLAN_STATE_CONNECTED) {
        Say("connected to the group server %s", server_);
        return 0;
      }
      if (s == ORBLAN_STATE_LOST || s == ORBLAN_STATE_NONE) {
        Say("the server %s ended the connection before confirming it", server_);
        return kExitNoConfirmation;
      }
      if (Refused()) {
        SayRefusedConnection();
        return kExitNoConfirmation;
      }
      if (host_.Interrupted()) {
        Say("Ctrl+C: ending the session");
        return kExitInterrupted;
      }
      uint64_t now = host_.NowMs();
      if (now >= deadline) {
        Say("the server %s did not answer within %u seconds (is orbserver running there, and "
            "UDP port %u reachable?)", server_, o_.wait_s, o_.server_port);
        return kExitNoConfirmation;
      }
      if (now >= next_progress) {
        Say("still waiting for the group server %s to answer (%u of %u s)", server_,
            static_cast<unsigned>((now - start) / 1000), o_.wait_s);
        next_progress += kProgressEveryMs;
      }
      uint64_t left = deadline - now;
      host_.Pump(left < kPumpSliceMs ? static_cast<uint32_t>(left) : kPumpSliceMs);
    }
  }

  int PrepareAndPlay(const std::string& game) {
    std::string dir = DirectoryOf(game);
    if (!lib_.PreLaunch(dir, o_.group)) {
      if (extended_ && lib_.Status().link == LinkState::kPortTaken) {
        Say("another orblan session is using port 3668 on this machine; only one session at a "
            "time can link a game, so end that one first");
        return kExitOtherSession;
      }
      if (lib_.State() == ORBLAN_STATE_LOST) {
        Say("connection to the group server %s lost before the game could start", server_);
        return kExitNoConfirmation;
      }
      Say("could not place the Winsock shim wsock32.dll in %s (is orbws.dll beside orblan.dll, "
          "and can that directory be written?)", dir.c_str());
      return kExitShim;
    }
    int code = WaitForJoin();
    if (code != 0) return code;
    std::string why;
    if (!host_.StartGame(game, o_.game_args, dir, &why)) {
      Say("could not start the game %s: %s", game.c_str(), why.c_str());
      return kExitGameStart;
    }
    Say("game started: %s", game.c_str());
    return WatchGame();
  }

  // 0 when the game may start (joined, or a server that does not answer joins).
  int WaitForJoin() {
    if (!extended_) return 0;
    const uint64_t start = host_.NowMs();
    for (;;) {
      SessionStatus st = lib_.Status();
      if (st.join == JoinAnswer::kJoined) {
        ShowGroup(st, true);
        return 0;
      }
      if (Refusal(st.join)) {
        SayText(RefusalLine(st, o_.group, server_));
        return kExitJoinRefused;
      }
      if (st.join != JoinAnswer::kPending) return 0;  // a library that cannot tell
      if (lib_.State() == ORBLAN_STATE_LOST) {
        Say("connection to the group server %s lost before the game could start", server_);
        return kExitNoConfirmation;
      }
      if (host_.Interrupted()) {
        Say("Ctrl+C: ending the session");
        return kExitInterrupted;
      }
      if (host_.NowMs() - start >= kJoinAnswerWaitMs) {
        Say("the server %s has not answered the join (a server older than this launcher "
            "never does); starting the game", server_);
        join_unanswered_ = true;
        return 0;
      }
      host_.Pump(kPumpSliceMs);
    }
  }

  // What the player should know once in the group. first: the join before the game.
  void ShowGroup(SessionStatus st, bool first) {
    std::vector<GroupMember> members = lib_.Members();
    const uint64_t start = host_.NowMs();
    while (members.empty() && host_.NowMs() - start < kMemberListWaitMs && !host_.Interrupted()) {
      host_.Pump(kPumpSliceMs);
      members = lib_.Members();
    }
    st = lib_.Status();
    const std::string& group = st.group.empty() ? o_.group : st.group;
    if (first) {
      Say("joined group '%s'", group.c_str());
      const std::string note = GroupNameNote(o_.group, st.group);
      if (!note.empty()) SayText(note);
    } else {
      Say("connected to the group server %s again; back in group '%s'", server_, group.c_str());
    }
    const int total = std::max(st.members, static_cast<int>(members.size()));
    if (!members.empty()) SayText(MembersLine(group, members, total, st.capacity));
    if (total == 1) SayText(AloneLine(group, server_));
  }

  // Joins and leaves since the last look, then who is in the group now.
  void ShowNotices() {
    GroupNotice n;
    bool any = false;
    while (lib_.NextNotice(&n)) {
      SayText(NoticeLine(n));
      any = true;
    }
    if (!any) return;
    SessionStatus st = lib_.Status();
    std::vector<GroupMember> members = lib_.Members();
    const std::string& group = st.group.empty() ? o_.group : st.group;
    const int total = std::max(st.members, static_cast<int>(members.size()));
    SayText(MembersLine(group, members, total, st.capacity));
    if (total == 1) SayText(AloneLine(group, server_));
  }

  // One step of connecting again after a loss; true once back in the group.
  bool ReconnectStep(uint64_t now) {
    if (!attempting_) {
      // An attempt counted as failed goes on until the next one replaces it (its CONNECT
      // is repeated): a server that starts meanwhile answers it, and that is as good.
      if (attempt_ > 0 && lib_.State() == ORBLAN_STATE_CONNECTED) {
        SessionStatus st = lib_.Status();
        if (st.join == JoinAnswer::kJoined && !st.refused) {
          ShowGroup(st, false);
          return true;
        }
      }
      if (now < next_attempt_at_) return false;
      ++attempt_;
      attempting_ = lib_.Reconnect();
      attempt_started_ = now;
      if (!attempting_) return ScheduleNextAttempt(now, "could not open a new connection");
      return false;
    }
    SessionStatus st = lib_.Status();
    int s = lib_.State();
    if (s == ORBLAN_STATE_CONNECTED && st.join == JoinAnswer::kJoined) {
      ShowGroup(st, false);
      return true;
    }
    if (s == ORBLAN_STATE_CONNECTED && st.join == JoinAnswer::kPending &&
        now - attempt_started_ >= kReconnectAttemptMs) {
      // A server that does not answer joins: confirmed is as good as it gets.
      Say("connected to the group server %s again", server_);
      return true;
    }
    if (Refusal(st.join)) {
      return ScheduleNextAttempt(now, RefusalLine(st, o_.group, server_).c_str());
    }
    if (st.refused) return ScheduleNextAttempt(now, "the server is not running");
    if (s == ORBLAN_STATE_LOST) return ScheduleNextAttempt(now, "the server closed the connection");
    if (now - attempt_started_ >= kReconnectAttemptMs) {
      return ScheduleNextAttempt(now, "no answer");
    }
    return false;
  }

  bool ScheduleNextAttempt(uint64_t now, const char* why) {
    attempting_ = false;
    const uint32_t delay = ReconnectDelayMs(attempt_ + 1);
    next_attempt_at_ = now + delay;
    Say("connecting again to %s failed (%s); next try in %u s", server_, why, delay / 1000);
    return false;
  }

  // A late answer to the join, from a server that took long to answer it.
  void LateJoinAnswer() {
    SessionStatus st = lib_.Status();
    if (st.join == JoinAnswer::kJoined) {
      join_unanswered_ = false;
      ShowGroup(st, true);
    } else if (Refusal(st.join)) {
      join_unanswered_ = false;
      SayText(RefusalLine(st, o_.group, server_) + "; the game runs on without the group");
    }
  }

  // Tells the player what changed in the paths to the other members (path_report.h).
  void ReportPaths() {
    std::string notice;
    while (lib_.TakeNotice(&notice)) Say("%s", notice.c_str());
    std::vector<PeerPath> peers;
    if (!lib_.Peers(&peers)) return;
    for (const PathEvent& e : paths_.Update(peers, lib_.PublicAddress())) Say("%s", e.line.c_str());
  }

  void SummarisePaths() {
    std::vector<PeerPath> peers;
    if (!lib_.Peers(&peers)) return;
    for (const std::string& line : PathReport::Summary(peers)) Say("%s", line.c_str());
  }

  int WatchGame() {
    int last = ORBLAN_STATE_CONNECTED;
    uint64_t next_report = 0;
    bool stopping = false, stopped = false, reconnecting = false;
    uint64_t stop_at = 0;
    int exit_code = 0;
    for (;;) {
      if (host_.GameEnded(&exit_code)) break;
      if (host_.NowMs() >= next_report) {
        ReportPaths();
        next_report = host_.NowMs() + kPathReportMs;
      }
      const uint64_t now = host_.NowMs();
      int s = lib_.State();
      if (reconnecting) {
        if (!stopping && ReconnectStep(now)) {
          reconnecting = false;
          last = ORBLAN_STATE_CONNECTED;
        }
      } else if (extended_) {
        ShowNotices();
        if (join_unanswered_) LateJoinAnswer();
        if (s == ORBLAN_STATE_LOST || (s == ORBLAN_STATE_CONNECTED && Refused())) {
          Say("connection to the group server %s lost; the game keeps running, connecting "
              "again", server_);
          reconnecting = true;
          attempting_ = false;
          attempt_ = 0;
          next_attempt_at_ = now + ReconnectDelayMs(1);
        }
      } else if (s != last && s != kStateUnknown) {
        if (s == ORBLAN_STATE_CONNECTED)
          Say("connection to the group server %s is back", server_);
        else if (last == ORBLAN_STATE_CONNECTED)
          Say("connection to the group server %s lost; the game keeps running but no longer "
              "reaches the group", server_);
        last = s;
      }
      if (!stopping && host_.Interrupted()) {
        // A console game got the same Ctrl+C and usually ends by itself; give it time.
        Say("Ctrl+C: waiting for the game to end");
        stopping = true;
        stop_at = host_.NowMs() + kStopGraceMs;
      }
      if (stopping && !stopped && host_.NowMs() >= stop_at) {
        Say("the game did not end; stopping it");
        host_.StopGame();
        stopped = true;
      }
      host_.Pump(kPumpSliceMs);
    }
    SummarisePaths();
    if (stopped) {
      Say("game stopped");
      return kExitInterrupted;
    }
    Say("game ended with exit code %d", exit_code);
    return exit_code;
  }

  const LaunchOptions& o_;
  SessionLibrary& lib_;
  LauncherHost& host_;
  char server_[160];
  bool extended_ = false;
  bool join_unanswered_ = false;
  bool attempting_ = false;
  int attempt_ = 0;
  uint64_t next_attempt_at_ = 0;
  uint64_t attempt_started_ = 0;
  PathReport paths_;
};

}  // namespace

int RunLaunch(const LaunchOptions& options, SessionLibrary& library, LauncherHost& host) {
  return Launch(options, library, host).Run();
}

}  // namespace orblaunch
