// orblaunch: its command line, the game's command line, and the launch itself against a
// fake session library and a fake Windows whose clock the tests move.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "command_line.h"
#include "exit_codes.h"
#include "launch_flow.h"
#include "launch_options.h"
#include "member_view.h"

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

  EXPECT_TRUE(o.player.empty()) << "the program fills in the Windows user name";
  EXPECT_FALSE(o.verbose);

  ASSERT_EQ(Parse({"--group", "g", "--server", "orb.example", "--verbose", "--name", "Big Al",
                   "q.exe", "--verbose"}, &o, &error), ParseResult::kRun);
  EXPECT_EQ(o.server_port, kDefaultServerPort);
  EXPECT_EQ(o.wait_s, kDefaultWaitSeconds);
  EXPECT_EQ(o.player, "Big Al");
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.game_args, std::vector<std::string>{"--verbose"});
}

TEST(LaunchOptions, WindowsUserNameBecomesAPlayerName) {
  EXPECT_EQ(PlayerNameFrom("alice"), "alice");
  EXPECT_EQ(PlayerNameFrom("a very long windows user name"), "a very long windows use");
  EXPECT_EQ(PlayerNameFrom("tab\tbell\a"), "tab?bell?");
  EXPECT_EQ(PlayerNameFrom(""), "");
  EXPECT_TRUE(PlayerNameUsable(PlayerNameFrom("J\xFCrgen")));
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
      {{"--server", "h", "--group", "   ", "q.exe"}, "spaces"},
      {{"--server", "h", "--group", "g", "--name", "", "q.exe"}, "--name"},
      {{"--server", "h", "--group", "g", "--name", "twenty-four characters!!", "q.exe"}, "23"},
      {{"--server", "h", "--group", "g", "--name", "tab\there", "q.exe"}, "--name"},
      {{"--server", "h", "--group", "g", "--name"}, "--name"},
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

  // The added exports: a server that answers joins at once, by default.
  bool extended = true;
  std::string player, trace = "(not set)";
  SessionStatus status = Joined();
  std::vector<GroupMember> members;
  std::deque<GroupNotice> notices;
  std::function<bool()> on_reconnect = [] { return false; };
  bool SetPlayerName(const std::string& name) override {
    player = name;
    return true;
  }
  bool SetTraceFile(const char* path) override {
    trace = path ? path : "(standard output)";
    return true;
  }
  SessionStatus Status() override { return status; }
  std::vector<GroupMember> Members() override { return members; }
  bool NextNotice(GroupNotice* out) override {
    if (notices.empty()) return false;
    *out = notices.front();
    notices.pop_front();
    return true;
  }
  bool Reconnect() override {
    calls.push_back("Reconnect");
    return on_reconnect();
  }
  bool Extended() override { return extended; }

  static SessionStatus Joined() {
    SessionStatus st;
    st.join = JoinAnswer::kJoined;
    st.link = LinkState::kListening;
    st.members = 2;
    st.capacity = 8;
    st.group = "lan";
    return st;
  }
};

GroupMember Member(const char* name, int rtt, bool you = false) {
  GroupMember m;
  m.name = name;
  m.round_trip_ms = rtt;
  m.you = you;
  return m;
}

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

  bool SaidSomething(const std::string& part) const { return Count(part) > 0; }
  int Count(const std::string& part) const {
    int n = 0;
    for (const auto& s : said) n += s.find(part) != std::string::npos;
    return n;
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
  // The calls the library saw: Init, and the given ones after it.
  static std::vector<std::string> InitThen(std::vector<std::string> rest) {
    rest.insert(rest.begin(), "Init 203.0.113.1:3669");
    return rest;
  }
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
  EXPECT_EQ(lib.calls, InitThen({"PreLaunch C:\\Games\\Quest lan", "StartGame", "EndSession"}));
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
  EXPECT_EQ(lib.calls, InitThen({}));
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
  EXPECT_EQ(lib.calls, InitThen({"EndSession"}));
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
  EXPECT_EQ(host.Count("connection to the group server 203.0.113.1:3669 lost"), 1) << Said();
  EXPECT_FALSE(host.game_stopped);
  EXPECT_GE(host.now, 9000u) << "the launcher waited for the game, not for the server";
}

TEST_F(LaunchTest, CtrlCWhileWaitingEndsTheSession) {
  host.on_time = [&](uint64_t t) { if (t >= 500) host.interrupted = true; };
  EXPECT_EQ(Run(), kExitInterrupted);
  EXPECT_EQ(lib.calls, InitThen({"EndSession"}));
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

PeerPath Peer(unsigned member, PathKind path, unsigned rtt = 0) {
  PeerPath p;
  p.member = member;
  p.address = 0x167100CB;  // 203.0.113.22: bytes CB 00 71 16 in memory
  p.port = 40002;
  p.path = path;
  p.rtt_ms = rtt;
  return p;
}

std::vector<PathNews> NewsOf(const std::vector<PathEvent>& events) {
  std::vector<PathNews> news;
  for (const PathEvent& e : events) news.push_back(e.news);
  return news;
}

TEST(PathReport, TellsOutcomesAndChangesNotEveryLook) {
  using N = PathNews;
  using K = PathKind;
  struct Step {
    std::vector<PeerPath> peers;
    std::string public_address;
    std::vector<N> expected;
  } steps[] = {
      {{Peer(2, K::kTrying), Peer(3, K::kTrying)}, "", {}},  // probing is not news
      {{Peer(2, K::kTrying), Peer(3, K::kTrying)}, "203.0.113.21:40001", {N::kPublicAddress}},
      {{Peer(2, K::kDirect, 31), Peer(3, K::kTrying)}, "203.0.113.21:40001", {N::kDirect}},
      {{Peer(2, K::kDirect, 33), Peer(3, K::kServer)}, "203.0.113.21:40001", {N::kThroughServer}},
      {{Peer(2, K::kDirect, 30), Peer(3, K::kTrying)}, "203.0.113.21:40001", {}},  // a retry
      {{Peer(2, K::kDirect, 30), Peer(3, K::kServer)}, "203.0.113.21:40001", {}},  // told once
      {{Peer(2, K::kTrying), Peer(3, K::kServer)}, "203.0.113.21:40001", {N::kDirectLost}},
      {{Peer(2, K::kServer), Peer(3, K::kDirect, 80)}, "203.0.113.21:40001", {N::kDirect}},
      {{Peer(2, K::kDirect, 31)}, "203.0.113.21:40001", {N::kDirect}},  // 3 left: no news
  };
  PathReport report;
  int i = 0;
  for (const Step& step : steps) {
    const std::vector<PathEvent> events = report.Update(step.peers, step.public_address);
    EXPECT_EQ(NewsOf(events), step.expected) << "step " << i;
    for (const PathEvent& e : events) EXPECT_FALSE(e.line.empty()) << "step " << i;
    ++i;
  }
}

TEST(PathReport, SummaryHasALinePerMemberWithItsCounts) {
  PeerPath p = Peer(2, PathKind::kDirect, 31);
  p.sent_direct = 1187;
  p.sent_server = 13;
  const std::vector<std::string> lines = PathReport::Summary({p, Peer(3, PathKind::kServer)});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("1187"), std::string::npos);
  EXPECT_NE(lines[0].find("203.0.113.22"), std::string::npos);
  EXPECT_EQ(AddressText(0x167100CB), "203.0.113.22");
}

TEST_F(LaunchTest, PathsAreReportedWhileTheGameRunsAndSummedUpAtItsEnd) {
  struct PathLibrary : FakeLibrary {
    std::vector<PeerPath> peers;
    bool Peers(std::vector<PeerPath>* out) override {
      *out = peers;
      return true;
    }
    std::string PublicAddress() override { return "203.0.113.21:40001"; }
  } paths;
  paths.state = ORBLAN_STATE_CONNECTED;
  paths.peers = {Peer(2, PathKind::kTrying)};
  host.on_time = [&](uint64_t t) {
    if (t >= 2000) paths.peers = {Peer(2, PathKind::kDirect, 31)};
    if (t >= 6000) host.game_ended = true;
  };
  EXPECT_EQ(RunLaunch(options, paths, host), 0);
  EXPECT_EQ(host.Count("direct path to member 2"), 1) << Said();
  EXPECT_TRUE(host.SaidSomething("the game sent 0 datagrams directly")) << Said();
  EXPECT_TRUE(host.SaidSomething("203.0.113.21:40001")) << Said();
}

TEST_F(LaunchTest, LibraryWithoutStateReportGoesOnWithoutWaiting) {
  lib.state = kStateUnknown;
  lib.extended = false;
  host.on_time = [&](uint64_t) { if (host.game_running) host.game_ended = true; };
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(host.SaidSomething("cannot tell when the server confirms")) << Said();
}

// --- The group: the server's answer to the join, who is in it, and losing the server ----

struct RefusalCase {
  JoinAnswer answer;
  int members, capacity;
  const char* reason;
  const char* told;
};

class JoinRefusal : public LaunchTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(JoinRefusal, OneLineNamingTheGroupAndNoGame) {
  const RefusalCase& c = GetParam();
  lib.state = ORBLAN_STATE_CONNECTED;
  lib.status.join = JoinAnswer::kPending;
  host.on_time = [&](uint64_t t) {
    if (t >= 300) {
      lib.status.join = c.answer;
      lib.status.members = c.members;
      lib.status.capacity = c.capacity;
      lib.status.reason = c.reason;
      lib.status.group = "Lan";
    }
  };
  EXPECT_EQ(Run(), kExitJoinRefused);
  EXPECT_EQ(lib.calls, InitThen({"PreLaunch C:\\Games\\Quest lan", "EndSession"}));
  EXPECT_EQ(host.Count("cannot join group 'Lan' on 203.0.113.1:3669: "), 1) << Said();
  EXPECT_TRUE(host.SaidSomething(c.told)) << Said();
  EXPECT_LT(host.now, 1000u) << "told as soon as the server answers";
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, JoinRefusal,
    ::testing::Values(
        RefusalCase{JoinAnswer::kGroupFull, 2, 2, "group 'Lan' is full", "the group is full (2 of 2 players)"},
        RefusalCase{JoinAnswer::kServerFull, 0, 8, "the server holds its maximum of 256 groups",
                    "the server is full (the server holds its maximum of 256 groups)"},
        RefusalCase{JoinAnswer::kRefused, 0, 8, "a group name needs more than spaces",
                    "refused: a group name needs more than spaces"}));

TEST_F(LaunchTest, JoinedPlayerSeesWhoIsThereAndHowTheGroupIsSpelled) {
  options.group = "lan ";
  lib.state = ORBLAN_STATE_CONNECTED;
  lib.status.group = "LAN";
  lib.members = {Member("alice", 12, true), Member("bob", 40)};
  host.on_time = [&](uint64_t t) {
    if (t == 2000) lib.notices.push_back(GroupNotice{true, 0, Member("carol", 80)});
    if (t == 2000) lib.members.push_back(Member("carol", 80)), lib.status.members = 3;
    if (t == 3000) {
      lib.notices.push_back(GroupNotice{false, 2, Member("bob", 40)});
      lib.notices.push_back(GroupNotice{false, 1, Member("carol", 80)});
      lib.members = {Member("alice", 12, true)};
      lib.status.members = 1;
    }
    if (t >= 4000 && host.game_running) host.game_ended = true;
  };
  EXPECT_EQ(Run(), 0);
  const std::vector<std::string> expected = {
      "orblaunch: joined group 'LAN'",
      "orblaunch: group names ignore the case of letters and spaces around them: 'lan ' is group 'LAN'",
      "orblaunch: in group 'LAN' (2 of 8 players): alice (you, 12 ms), bob (40 ms)",
      "orblaunch: game started: C:\\Games\\Quest\\quest.exe",
      "orblaunch: carol joined the group",
      "orblaunch: in group 'LAN' (3 of 8 players): alice (you, 12 ms), bob (40 ms), carol (80 ms)",
      "orblaunch: bob left the group (stopped answering)",
      "orblaunch: carol left the group",
      "orblaunch: in group 'LAN' (1 of 8 players): alice (you, 12 ms)",
  };
  size_t at = 0;
  for (const std::string& line : host.said) {
    if (at < expected.size() && line == expected[at]) ++at;
  }
  EXPECT_EQ(at, expected.size()) << "missing or out of order: " << expected[at] << "\n" << Said();
  EXPECT_EQ(host.Count("you are alone in group 'LAN' so far"), 1) << Said();
  EXPECT_EQ(lib.player, "") << "no --name: the program sets the user name, the flow passes none";
}

TEST_F(LaunchTest, NameAndTraceFileGoToTheLibrary) {
  options.player = "alice";
  options.trace_path = "C:\\orblan\\orblan-trace.log";
  lib.state = ORBLAN_STATE_CONNECTED;
  host.on_time = [&](uint64_t) { if (host.game_running) host.game_ended = true; };
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(lib.player, "alice");
  EXPECT_EQ(lib.trace, options.trace_path);
  EXPECT_TRUE(host.SaidSomething("for group 'lan' as alice"));

  FakeLibrary verbose;
  verbose.state = ORBLAN_STATE_CONNECTED;
  FakeHost host2;
  host2.on_time = [&](uint64_t) { if (host2.game_running) host2.game_ended = true; };
  options.verbose = true;
  EXPECT_EQ(RunLaunch(options, verbose, host2), 0);
  EXPECT_EQ(verbose.trace, "(standard output)");
}

TEST_F(LaunchTest, ServerThatNeverAnswersJoinsStillGetsTheGameStarted) {
  lib.state = ORBLAN_STATE_CONNECTED;
  lib.status.join = JoinAnswer::kPending;
  uint64_t started_at = 0;
  host.on_time = [&](uint64_t t) {
    if (host.game_running && started_at == 0) started_at = t;
    if (t >= 8000) lib.status.join = JoinAnswer::kGroupFull, lib.status.members = 8;
    if (t >= 9000) host.game_ended = true;
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_GE(started_at, kJoinAnswerWaitMs);
  EXPECT_LT(started_at, kJoinAnswerWaitMs + 2 * kPumpSliceMs);
  EXPECT_TRUE(host.SaidSomething("has not answered the join")) << Said();
  EXPECT_TRUE(host.SaidSomething("the group is full (8 of 8 players); try again when someone "
                                 "leaves, or pick another group; the game runs on without the group"))
      << Said();
}

TEST_F(LaunchTest, SecondSessionOnTheMachineIsRefusedBeforeTheGame) {
  lib.state = ORBLAN_STATE_CONNECTED;
  lib.pre_launch_ok = false;
  lib.status.link = LinkState::kPortTaken;
  EXPECT_EQ(Run(), kExitOtherSession);
  EXPECT_TRUE(host.SaidSomething("another orblan session is using port 3668 on this machine")) << Said();
  EXPECT_FALSE(host.game_running);
  EXPECT_EQ(lib.calls.back(), "EndSession");
}

TEST_F(LaunchTest, RefusedConnectionFailsAtOnceAndSilenceShowsProgress) {
  host.on_time = [&](uint64_t t) { if (t >= 100) lib.status.refused = true; };
  EXPECT_EQ(Run(), kExitNoConfirmation);
  EXPECT_LT(host.now, 1000u);
  EXPECT_TRUE(host.SaidSomething("the group server 203.0.113.1:3669 refused the connection: "
                                 "nothing listens on UDP port 3669 there")) << Said();

  FakeLibrary silent;
  FakeHost host2;
  EXPECT_EQ(RunLaunch(options, silent, host2), kExitNoConfirmation);
  EXPECT_EQ(host2.Count("still waiting for the group server 203.0.113.1:3669"), 2) << "at 5 and 10 s";
  EXPECT_TRUE(host2.SaidSomething("(10 of 15 s)"));
}

TEST_F(LaunchTest, LostServerIsReconnectedWithBackOffWhileTheGameRuns) {
  lib.state = ORBLAN_STATE_CONNECTED;
  std::vector<uint64_t> attempts;
  // The server goes away at 1 s and is back for the fourth attempt.
  lib.on_reconnect = [&] {
    attempts.push_back(host.now);
    lib.state = ORBLAN_STATE_WAITING;
    lib.status.join = JoinAnswer::kPending;
    lib.status.refused = attempts.size() < 4;
    return true;
  };
  host.on_time = [&](uint64_t t) {
    if (t == 1000) lib.state = ORBLAN_STATE_LOST;
    if (attempts.size() == 4 && t >= attempts.back() + 200) {
      lib.state = ORBLAN_STATE_CONNECTED;
      lib.status.join = JoinAnswer::kJoined;
    }
    if (t >= 30000) host.game_ended = true, host.game_code = 3;
  };
  EXPECT_EQ(Run(), 3);
  ASSERT_EQ(attempts.size(), 4u) << Said();
  // 1 s after the loss, then 2, 4 and 8 s after each failed attempt.
  for (size_t i = 1; i < attempts.size(); ++i) {
    const uint64_t gap = attempts[i] - attempts[i - 1];
    EXPECT_GE(gap, ReconnectDelayMs(static_cast<int>(i) + 1)) << i;
    EXPECT_LE(gap, ReconnectDelayMs(static_cast<int>(i) + 1) + 2 * kPumpSliceMs) << i;
  }
  EXPECT_EQ(host.Count("connection to the group server 203.0.113.1:3669 lost; the game keeps running"), 1);
  EXPECT_EQ(host.Count("(the server is not running); next try in"), 3) << Said();
  EXPECT_EQ(host.Count("connected to the group server 203.0.113.1:3669 again; back in group 'lan'"), 1);
  EXPECT_EQ(std::count(lib.calls.begin(), lib.calls.end(), "StartGame"), 1) << "the game ran on";
  EXPECT_FALSE(host.game_stopped);
}

// An attempt refused while the server was down goes on by itself (its CONNECT is
// repeated); when the server that started meanwhile answers it before the next try, that
// answer counts and no further attempt replaces it.
TEST_F(LaunchTest, AttemptAnsweredAfterItWasCountedFailedIsTaken) {
  lib.state = ORBLAN_STATE_CONNECTED;
  int attempts = 0;
  lib.on_reconnect = [&] {
    ++attempts;
    lib.state = ORBLAN_STATE_WAITING;
    lib.status.join = JoinAnswer::kPending;
    lib.status.refused = true;
    return true;
  };
  host.on_time = [&](uint64_t t) {
    if (t == 1000) lib.state = ORBLAN_STATE_LOST;
    if (attempts == 1 && t >= 2500 && lib.state != ORBLAN_STATE_CONNECTED) {
      lib.state = ORBLAN_STATE_CONNECTED;  // the repeated CONNECT was answered
      lib.status = FakeLibrary::Joined();
    }
    if (t >= 20000) host.game_ended = true;
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(attempts, 1) << Said();
  EXPECT_EQ(host.Count("(the server is not running); next try in"), 1) << Said();
  EXPECT_EQ(host.Count("connected to the group server 203.0.113.1:3669 again; back in group 'lan'"), 1);
  EXPECT_EQ(host.Count("lost; the game keeps running"), 1) << "not lost again";
}

TEST(ReconnectDelay, DoublesUpToTheMaximum) {
  EXPECT_EQ(ReconnectDelayMs(1), kReconnectFirstMs);
  EXPECT_EQ(ReconnectDelayMs(2), 2 * kReconnectFirstMs);
  EXPECT_EQ(ReconnectDelayMs(4), 8 * kReconnectFirstMs);
  EXPECT_EQ(ReconnectDelayMs(100), kReconnectMaxMs);
}

struct MembersCase {
  std::vector<GroupMember> members;
  int total, capacity;
  const char* line;
};

class MembersText : public ::testing::TestWithParam<MembersCase> {};

TEST_P(MembersText, ListsEachPlayerWithRoundTrip) {
  const MembersCase& c = GetParam();
  EXPECT_EQ(MembersLine("g", c.members, c.total, c.capacity), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, MembersText,
    ::testing::Values(
        MembersCase{{Member("alice", 12, true)}, 1, 8, "in group 'g' (1 of 8 players): alice (you, 12 ms)"},
        MembersCase{{Member("alice", -1, true), Member("bob", -1)}, 2, 0,
                    "in group 'g' (2 players): alice (you), bob"},
        MembersCase{{Member("alice", 5, true), Member("bob", 900)}, 70, 100,
                    "in group 'g' (70 of 100 players): alice (you, 5 ms), bob (900 ms) and 68 more"},
        MembersCase{{}, 3, 8, "in group 'g' (3 of 8 players): 3 more"}));

}  // namespace
}  // namespace orblaunch
