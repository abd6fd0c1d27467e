// orblaunch: its command line, the game's command line, and the launch itself against a
// fake session library and a fake Windows whose clock the tests move.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "command_line.h"
#include "exit_codes.h"
#include "launch_flow.h"
#include "launch_options.h"

namespace orblaunch {
namespace {

ParseResult Parse(std::vector<const char*> args, LaunchOptions* o, std::string* error) {
  args.insert(args.begin(), "orblaunch");
  return ParseLaunchOptions(static_cast<int>(args.size()), args.data(), o, error);
}

TEST(LaunchOptions, GameArgumentsStayTheGames) {
  LaunchOptions o;
  std::string error;
  ASSERT_EQ(Parse({"--server", "203.0.113.1:4000", "--group", "lan", "--wait", "3", "C:\\q\\q.exe",
                   "--server", "x", "-h"}, &o, &error), ParseResult::kRun) << error;
  EXPECT_EQ(o.server_host, "203.0.113.1");
  EXPECT_EQ(o.server_port, 4000);
  EXPECT_EQ(o.group, "lan");
  EXPECT_EQ(o.wait_s, 3u);
  EXPECT_EQ(o.game, "C:\\q\\q.exe");
  EXPECT_EQ(o.game_args, (std::vector<std::string>{"--server", "x", "-h"}));

  ASSERT_EQ(Parse({"--group", "g", "--server", "orb.example", "q.exe"}, &o, &error), ParseResult::kRun);
  EXPECT_EQ(o.server_port, kDefaultServerPort);
  EXPECT_EQ(o.wait_s, kDefaultWaitSeconds);
  EXPECT_TRUE(o.game_args.empty());
}

TEST(LaunchOptions, MistakesAreNamed) {
  const std::string too_long(64, 'g');
  struct Case { std::vector<const char*> args; const char* mentions; } cases[] = {
      {{"--group", "g", "q.exe"}, "--server"},
      {{"--server", "h", "q.exe"}, "--group"},
      {{"--server", "h", "--group", "g"}, "GAME.EXE"},
      {{"--server", "h:0", "--group", "g", "q.exe"}, "--server"},
      {{"--server", "h:65536", "--group", "g", "q.exe"}, "--server"},
      {{"--server", ":300", "--group", "g", "q.exe"}, "--server"},
      {{"--server", "::1", "--group", "g", "q.exe"}, "--server"},
      {{"--server", "h:3x", "--group", "g", "q.exe"}, "--server"},
      {{"--server", "h", "--group", "", "q.exe"}, "--group"},
      {{"--server", "h", "--group", too_long.c_str(), "q.exe"}, "63"},
      {{"--server", "h", "--group", "g", "--wait", "0", "q.exe"}, "--wait"},
      {{"--server", "h", "--group", "g", "--wait"}, "--wait"},
      {{"--server", "h", "--group", "g", "--fast", "q.exe"}, "--fast"},
  };
  for (const Case& c : cases) {
    LaunchOptions o;
    std::string error;
    EXPECT_EQ(Parse(c.args, &o, &error), ParseResult::kError) << c.mentions;
    EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
  }
  std::string long_group(63, 'g');
  LaunchOptions o;
  std::string error;
  EXPECT_EQ(Parse({"--server", "h", "--group", long_group.c_str(), "q.exe"}, &o, &error), ParseResult::kRun);
}

TEST(CommandLine, QuotesAsTheCRuntimeSplits) {
  EXPECT_EQ(QuoteArgument("plain"), "plain");
  EXPECT_EQ(QuoteArgument(""), "\"\"");
  EXPECT_EQ(QuoteArgument("two words"), "\"two words\"");
  EXPECT_EQ(QuoteArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
  EXPECT_EQ(QuoteArgument("C:\\Program Files\\"), "\"C:\\Program Files\\\\\"");
  EXPECT_EQ(QuoteArgument("a\\\\\"b"), "\"a\\\\\\\\\\\"b\"");
  EXPECT_EQ(QuoteArgument("C:\\dir\\x"), "C:\\dir\\x") << "backslashes alone are literal";
  EXPECT_EQ(BuildCommandLine("C:\\Games\\Net Quest\\nq.exe", {"--name", "Big Al"}),
            "\"C:\\Games\\Net Quest\\nq.exe\" --name \"Big Al\"");
}

TEST(CommandLine, DirectoryOfAGame) {
  EXPECT_EQ(DirectoryOf("C:\\Games\\Quest\\q.exe"), "C:\\Games\\Quest");
  EXPECT_EQ(DirectoryOf("C:\\q.exe"), "C:\\");
  EXPECT_EQ(DirectoryOf("Z:/tmp/w/q.exe"), "Z:/tmp/w");
  EXPECT_EQ(DirectoryOf("q.exe"), "");
}

// The session library as a script: what each call answers, and a log of the calls.
class FakeLibrary : public SessionLibrary {
 public:
  bool init_ok = true;
  bool pre_launch_ok = true;
  int last_result = 0;
  int state = ORBLAN_STATE_WAITING;
  std::vector<std::string> calls;

  bool Init(const std::string& host, unsigned port) override {
    calls.push_back("Init " + host + ":" + std::to_string(port));
    return init_ok;
  }
  bool PreLaunch(const std::string& dir, const std::string& group) override {
    calls.push_back("PreLaunch " + dir + " " + group);
    return pre_launch_ok;
  }
  void EndSession() override { calls.push_back("EndSession"); }
  int State() override { return state; }
  int LastResult() override { return last_result; }
  std::string ResultText(int code) override { return "[" + std::to_string(code) + "] text"; }
};

// Windows as a script: Pump moves the clock and runs the test's hooks at given times.
class FakeHost : public LauncherHost {
 public:
  uint64_t now = 0;
  uint64_t pumped_ms = 0;
  bool interrupted = false;
  bool game_exists = true;
  bool start_ok = true;
  bool game_running = false, game_ended = false, game_stopped = false;
  int game_code = 0;
  std::string started_program, started_dir;
  std::vector<std::string> started_args;
  std::vector<std::string> said;
  std::vector<std::string>* calls = nullptr;  // shared with the library: one order of events
  std::function<void(uint64_t)> on_time;      // runs at every pump with the new time

  uint64_t NowMs() override { return now; }
  void Pump(uint32_t ms) override {
    ASSERT_GT(ms, 0u) << "a zero pump would spin";
    now += ms;
    pumped_ms += ms;
    if (on_time) on_time(now);
  }
  bool Interrupted() override { return interrupted; }
  std::string ResolveGame(const std::string& path) override {
    return game_exists ? "C:\\Games\\Quest\\" + path : "";
  }
  bool StartGame(const std::string& program, const std::vector<std::string>& args,
                 const std::string& dir, std::string* error) override {
    if (calls) calls->push_back("StartGame");
    if (!start_ok) {
      *error = "Windows error 193";
      return false;
    }
    started_program = program;
    started_args = args;
    started_dir = dir;
    game_running = true;
    return true;
  }
  bool GameEnded(int* code) override {
    if (!game_ended) return false;
    *code = game_code;
    return true;
  }
  void StopGame() override {
    game_stopped = true;
    game_ended = true;
    game_code = 1;
  }
  void Say(const std::string& line) override { said.push_back(line); }

  bool SaidSomething(const std::string& part) const {
    for (const auto& s : said)
      if (s.find(part) != std::string::npos) return true;
    return false;
  }
};

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options.server_host = "203.0.113.1";
    options.server_port = 3669;
    options.group = "lan";
    options.wait_s = 15;
    options.game = "quest.exe";
    options.game_args = {"--name", "alice"};
    host.calls = &lib.calls;
  }
  int Run() { return RunLaunch(options, lib, host); }
  std::string Said() const {
    std::string all;
    for (const auto& s : host.said) all += s + "\n";
    return all;
  }

  LaunchOptions options;
  FakeLibrary lib;
  FakeHost host;
};

TEST_F(LaunchTest, FullSessionInTheRequiredOrderEndsWithTheGamesCode) {
  host.on_time = [&](uint64_t t) {
    if (t == 200) lib.state = ORBLAN_STATE_CONNECTED;
    if (t >= 5000 && host.game_running) host.game_ended = true, host.game_code = 42;
  };
  EXPECT_EQ(Run(), 42);
  EXPECT_EQ(lib.calls, (std::vector<std::string>{"Init 203.0.113.1:3669",
                                                 "PreLaunch C:\\Games\\Quest lan", "StartGame",
                                                 "EndSession"}));
  EXPECT_EQ(host.started_program, "C:\\Games\\Quest\\quest.exe");
  EXPECT_EQ(host.started_dir, "C:\\Games\\Quest");
  EXPECT_EQ(host.started_args, options.game_args);
  for (const char* step : {"connecting to the group server 203.0.113.1:3669", "connected",
                           "game started", "game ended with exit code 42", "session closed"})
    EXPECT_TRUE(host.SaidSomething(step)) << step << "\n" << Said();
  EXPECT_FALSE(host.SaidSomething("lost"));
}

TEST_F(LaunchTest, MessagesFlowWhileWaitingForTheServer) {
  // The session library's timer only runs while the launcher pumps: waiting must pump,
  // never sleep, and the game starts only once the server has confirmed.
  host.on_time = [&](uint64_t t) {
    EXPECT_TRUE(lib.calls.size() == 1 || lib.state == ORBLAN_STATE_CONNECTED);
    if (t >= 1000) lib.state = ORBLAN_STATE_CONNECTED;
    if (host.game_running) host.game_ended = true;
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_GE(host.pumped_ms, 1000u);
}

TEST_F(LaunchTest, UnknownServerNameIsReportedAndNothingPrepared) {
  lib.init_ok = false;
  lib.last_result = ORBLAN_RESULT_HOST_LOOKUP;
  EXPECT_EQ(Run(), kExitServerUnknown);
  EXPECT_TRUE(host.SaidSomething("cannot find the server '203.0.113.1'")) << Said();
  EXPECT_EQ(lib.calls, (std::vector<std::string>{"Init 203.0.113.1:3669"}));
}

TEST_F(LaunchTest, OtherInitFailuresCarryTheLibrarysText) {
  lib.init_ok = false;
  lib.last_result = -3;
  EXPECT_EQ(Run(), kExitNoSession);
  EXPECT_TRUE(host.SaidSomething("could not open a session: [-3] text")) << Said();
}

TEST_F(LaunchTest, SilentServerTimesOutAfterTheWait) {
  EXPECT_EQ(Run(), kExitNoConfirmation);
  EXPECT_EQ(host.now, 15000u) << "gives up exactly at --wait, not later";
  EXPECT_TRUE(host.SaidSomething("did not answer within 15 seconds")) << Said();
  EXPECT_EQ(lib.calls, (std::vector<std::string>{"Init 203.0.113.1:3669", "EndSession"}));
}

TEST_F(LaunchTest, ServerClosingBeforeConfirmationIsNoSession) {
  host.on_time = [&](uint64_t t) { if (t >= 300) lib.state = ORBLAN_STATE_LOST; };
  EXPECT_EQ(Run(), kExitNoConfirmation);
  EXPECT_LT(host.now, 1000u);
  EXPECT_TRUE(host.SaidSomething("ended the connection before confirming")) << Said();
}

TEST_F(LaunchTest, ShimThatCannotBePlacedStopsBeforeTheGame) {
  lib.state = ORBLAN_STATE_CONNECTED;
  lib.pre_launch_ok = false;
  EXPECT_EQ(Run(), kExitShim);
  EXPECT_TRUE(host.SaidSomething("could not place the Winsock shim wsock32.dll in C:\\Games\\Quest")) << Said();
  EXPECT_EQ(lib.calls.back(), "EndSession");
  EXPECT_FALSE(host.game_running);
}

TEST_F(LaunchTest, ConnectionLostJustBeforePreLaunchSaysSo) {
  // The library refuses because the flag fell; the state tells the two apart.
  struct LosingLibrary : FakeLibrary {
    bool PreLaunch(const std::string& d, const std::string& g) override {
      state = ORBLAN_STATE_LOST;
      return FakeLibrary::PreLaunch(d, g);
    }
  } losing;
  losing.state = ORBLAN_STATE_CONNECTED;
  losing.pre_launch_ok = false;
  EXPECT_EQ(RunLaunch(options, losing, host), kExitNoConfirmation);
  EXPECT_TRUE(host.SaidSomething("lost before the game could start")) << Said();
}

TEST_F(LaunchTest, GameThatCannotStartOrDoesNotExist) {
  lib.state = ORBLAN_STATE_CONNECTED;
  host.start_ok = false;
  EXPECT_EQ(Run(), kExitGameStart);
  EXPECT_TRUE(host.SaidSomething("could not start the game C:\\Games\\Quest\\quest.exe: Windows error 193")) << Said();
  EXPECT_EQ(lib.calls.back(), "EndSession") << "the shim placed for it is removed again";

  FakeLibrary fresh;
  FakeHost nowhere;
  nowhere.game_exists = false;
  EXPECT_EQ(RunLaunch(options, fresh, nowhere), kExitGameStart);
  EXPECT_TRUE(fresh.calls.empty()) << "no session is opened for a game that is not there";
  EXPECT_TRUE(nowhere.SaidSomething("cannot find the game 'quest.exe'"));
}

TEST_F(LaunchTest, LostConnectionIsToldOnceAndTheGameKeepsRunning) {
  lib.state = ORBLAN_STATE_CONNECTED;
  host.on_time = [&](uint64_t t) {
    if (t >= 1000) lib.state = ORBLAN_STATE_LOST;
    if (t >= 9000) host.game_ended = true, host.game_code = 0;
  };
  EXPECT_EQ(Run(), 0);
  int told = 0;
  for (const auto& s : host.said) told += s.find("connection to the group server 203.0.113.1:3669 lost") != std::string::npos;
  EXPECT_EQ(told, 1) << Said();
  EXPECT_FALSE(host.game_stopped);
  EXPECT_GE(host.now, 9000u) << "the launcher waited for the game, not for the server";
}

TEST_F(LaunchTest, CtrlCWhileWaitingEndsTheSession) {
  host.on_time = [&](uint64_t t) { if (t >= 500) host.interrupted = true; };
  EXPECT_EQ(Run(), kExitInterrupted);
  EXPECT_EQ(lib.calls, (std::vector<std::string>{"Init 203.0.113.1:3669", "EndSession"}));
}

TEST_F(LaunchTest, CtrlCDuringTheGameLetsItEndThenStopsIt) {
  lib.state = ORBLAN_STATE_CONNECTED;
  // A console game ends on the same Ctrl+C: its code is passed on.
  host.on_time = [&](uint64_t t) {
    if (t >= 1000) host.interrupted = true;
    if (t >= 1200) host.game_ended = true, host.game_code = 0xC000013A - 0x100000000ll;
  };
  EXPECT_EQ(Run(), static_cast<int>(0xC000013Au));
  EXPECT_FALSE(host.game_stopped);

  // A game that ignores it is stopped after the grace time, and the session still ends.
  FakeLibrary lib2;
  lib2.state = ORBLAN_STATE_CONNECTED;
  FakeHost host2;
  host2.on_time = [&](uint64_t t) { if (t >= 1000) host2.interrupted = true; };
  EXPECT_EQ(RunLaunch(options, lib2, host2), kExitInterrupted);
  EXPECT_TRUE(host2.game_stopped);
  EXPECT_GE(host2.now, 1000u + kStopGraceMs);
  EXPECT_LE(host2.now, 1000u + kStopGraceMs + 2 * kPumpSliceMs);
  EXPECT_EQ(lib2.calls.back(), "EndSession");
}

TEST_F(LaunchTest, LibraryWithoutStateReportGoesOnWithoutWaiting) {
  lib.state = kStateUnknown;
  host.on_time = [&](uint64_t) { if (host.game_running) host.game_ended = true; };
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(host.SaidSomething("cannot tell when the server confirms")) << Said();
}

}  // namespace
}  // namespace orblaunch
