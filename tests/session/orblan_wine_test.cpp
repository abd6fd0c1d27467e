// orblan.dll driven the way a launcher drives it: loaded by name, its exports called on
// this thread, whose message loop runs the pump timer. A transport of the test's own
// plays the group server on 127.0.0.1, and plain sockets play the shim's end of the link
// and the game. Runs in a network namespace of its own: the library binds port 3668.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <functional>
#include <type_traits>
#include <string>
#include <vector>

#include "link.h"
#include "membership.h"
#include "message_types.h"
#include "orblan.h"
#include "path_info.h"
#include "platform.h"
#include "transport.h"
#include "wine_test_files.h"

using namespace orb;

namespace {

// The library's exports, bound by name. The checks below spell result codes and states
// as numbers: they are what a launcher that never saw orblan.h relies on.
struct OrbLan {
  HMODULE module = nullptr;
  OrbLanInitFn Init = nullptr;
  OrbLanPreLaunchFn PreLaunch = nullptr;
  OrbLanEndSessionFn EndSession = nullptr;
  OrbLanLastResultFn LastResult = nullptr;
  OrbLanSessionStateFn SessionState = nullptr;
  OrbLanResultTextFn ResultText = nullptr;
  OrbLanSetPlayerNameFn SetPlayerName = nullptr;
  OrbLanSetTraceFileFn SetTraceFile = nullptr;
  OrbLanGetStatusFn GetStatus = nullptr;
  OrbLanGetMembersFn GetMembers = nullptr;
  OrbLanNextNoticeFn NextNotice = nullptr;
  OrbLanReconnectFn Reconnect = nullptr;
};
OrbLan g_lib;

struct Received {
  std::string data;
  int32_t type;
  int32_t address;
};

struct Server : orb::TransportObserver {
  void OnAccepted(int32_t address) override { accepted = address; }
  void OnData(const uint8_t* d, int32_t n, int32_t type, int32_t address) override {
    got.push_back({std::string(reinterpret_cast<const char*>(d), n), type, address});
  }
  int32_t accepted = 0;
  std::vector<Received> got;
};

const char kGameDir[] = "C:\\Games\\Demo";
const char kShimPath[] = "C:\\Games\\Demo\\wsock32.dll";
const char kSavedPath[] = "C:\\Games\\Demo\\wsock32.dll.orblan-saved";
const char kLogPath[] = "C:\\Games\\Demo\\orblan.log";

std::string WindowsFile(const char* name) {
  char dir[MAX_PATH];
  GetWindowsDirectoryA(dir, sizeof dir);
  return std::string(dir) + "\\" + name;
}

// Runs this thread's message loop (the library's timer) and the server until done holds.
bool Loop(orb::Transport& server, const std::function<bool()>& done, DWORD ms = 5000) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    server.Pump(0);
    if (done()) return true;
    Sleep(1);
  }
  return done();
}

orb::SocketHandle LoopbackSocket(uint16_t port) {
  orb::SocketHandle s = orb::UdpOpen();
  if (!orb::UdpBind(s, orb::ParseIPv4("127.0.0.1"), port) || !orb::UdpSetNonBlocking(s)) {
    orb::UdpClose(s);
    return orb::kInvalidSocket;
  }
  return s;
}

// The game port in the link datagram a relay record carries.
uint16_t RelayedPort(const Received& r) {
  return r.data.size() >= 72 + LINK_HEADER_SIZE ? LinkGetPort(r.data.data() + 72) : 0;
}

std::string LinkDatagram(uint16_t port, size_t payload, char fill) {
  std::string d(LINK_HEADER_SIZE + payload, fill);
  std::string p(payload, fill);
  LinkWrap(reinterpret_cast<uint8_t*>(&d[0]), d.size(), port, orb::ParseIPv4("127.0.0.1"),
           p.data(), payload);
  return d;
}

// Puts a fresh game directory with a read-only wsock32.dll of an earlier install in place.
void FreshGameDirectory() {
  RemoveTree(kGameDir);
  CreateDirectoryA("C:\\Games", nullptr);
  ASSERT_TRUE(CreateDirectoryA(kGameDir, nullptr));
}

class Session : public ::testing::Test {
 protected:
  Session() : server_(Options()) {}
  orb::TransportOptions Options() {
    orb::TransportOptions o;
    o.trace = nullptr;
    o.observer = &side_;
    return o;
  }

  void SetUp() override {
    ASSERT_NE(g_lib.module, nullptr);
    g_lib.SetTraceFile("");  // the transport's lines would fill the test's output
    SetCurrentDirectoryA(TestHome().c_str());  // a launch moves it into the game directory
    orb::Endpoint* ep = server_.CreateEndpoint(0);
    ASSERT_NE(ep, nullptr);
    port_ = ep->local_port;
    shim_ = LoopbackSocket(0);
    ASSERT_NE(shim_, orb::kInvalidSocket);
  }
  void TearDown() override {
    g_lib.EndSession();
    orb::UdpClose(shim_);
  }

  // OrbLanInit towards this test's server, until the server confirmed.
  void Connect() {
    ASSERT_EQ(g_lib.Init("127.0.0.1", port_), 1);
    EXPECT_EQ(g_lib.SessionState(), 1);
    ASSERT_TRUE(Loop(server_, [&] { return g_lib.SessionState() == 2; }));
  }

  bool ShimSends(const std::string& d) {
    const orb::SocketAddress to = {orb::ParseIPv4("127.0.0.1"), LINK_PORT};
    return orb::UdpSendTo(shim_, d.data(), static_cast<int>(d.size()), to) == (int)d.size();
  }

  Received NextAtServer(size_t index) {
    if (!Loop(server_, [&] { return side_.got.size() > index; })) return {"", -1, 0};
    return side_.got[index];
  }

  // The first message of `type` the server received, after waiting for it.
  Received FirstAtServer(int32_t type) {
    Received found = {"", -1, 0};
    Loop(server_, [&] {
      for (const Received& r : side_.got) {
        if (r.type == type) {
          found = r;
          return true;
        }
      }
      return false;
    });
    return found;
  }

  // The server sends bytes of `type` on the session's connection.
  void ServerSends(const std::vector<uint8_t>& bytes, int32_t type) {
    ASSERT_EQ(server_.Send(side_.accepted, bytes.data(), static_cast<int32_t>(bytes.size()), type), 0);
  }

  // The server closes the session's connection: the session is lost.
  void ServerCloses() {
    const int32_t remote = server_.RemoteAddress(side_.accepted);
    ASSERT_NE(remote, 0);
    ASSERT_EQ(server_.Send(side_.accepted, &remote, 4, orb::PEERCLOSE), 0);
    ASSERT_TRUE(Loop(server_, [&] { return g_lib.SessionState() == 3; }));
  }

  // A join record on the session's connection for group, from player.
  void ExpectJoin(const Received& r, const char* group, const char* player) {
    EXPECT_EQ(r.type, 0);
    EXPECT_EQ(r.address, side_.accepted);
    ASSERT_EQ(r.data.size(), 92u);
    EXPECT_STREQ(r.data.c_str(), group);
    EXPECT_EQ(r.data.substr(64, 4), std::string(4, '\0'));
    EXPECT_STREQ(r.data.c_str() + 68, player);
  }

  OrbLanStatus Status() {
    OrbLanStatus st;
    memset(&st, 0, sizeof st);
    st.size = sizeof st;
    EXPECT_EQ(g_lib.GetStatus(&st), 1);
    return st;
  }

  Server side_;
  orb::Transport server_;
  uint16_t port_ = 0;
  orb::SocketHandle shim_ = orb::kInvalidSocket;
};

TEST_F(Session, NothingBeforeInitAndNothingForBadArguments) {
  FreshGameDirectory();
  EXPECT_EQ(g_lib.SessionState(), 0);
  EXPECT_EQ(g_lib.PreLaunch("C:\\Games\\Demo\\", "Alpha"), 0);
  EXPECT_EQ(FilesIn(kGameDir), std::vector<std::string>{});

  EXPECT_EQ(g_lib.Init("127.0.0.1", 0x10000), 0);  // port bits 0
  EXPECT_EQ(g_lib.LastResult(), -6);
  EXPECT_STREQ(g_lib.ResultText(-6), "[-6] invalid arguments passed");
  EXPECT_EQ(g_lib.SessionState(), 0);

  Connect();
  EXPECT_EQ(g_lib.LastResult(), -6);  // success does not reset it
  const size_t before = side_.got.size();
  EXPECT_EQ(g_lib.PreLaunch("C:\\Games\\Demo\\", ""), 0);
  EXPECT_EQ(g_lib.PreLaunch("C:\\Games\\Demo\\", nullptr), 0);
  EXPECT_EQ(g_lib.PreLaunch(nullptr, "Alpha"), 0);
  EXPECT_EQ(g_lib.PreLaunch("C:\\Games\\Demo\\", std::string(64, 'g').c_str()), 0);
  EXPECT_EQ(g_lib.PreLaunch(("C:\\" + std::string(250, 'd')).c_str(), "Alpha"), 0);
  Loop(server_, [] { return false; }, 200);
  EXPECT_EQ(side_.got.size(), before);  // no join record queued
  EXPECT_EQ(FilesIn(kGameDir), std::vector<std::string>{});

  EXPECT_EQ(g_lib.EndSession(), 0);
  EXPECT_EQ(g_lib.EndSession(), 0);
  EXPECT_EQ(g_lib.SessionState(), 0);
}

TEST_F(Session, ResultTexts) {
  EXPECT_STREQ(g_lib.ResultText(0), "[ 0] no error");
  EXPECT_STREQ(g_lib.ResultText(-3), "[-3] unable to aquire socket");
  EXPECT_STREQ(g_lib.ResultText(-8), "[-8] the address does not exist");
  EXPECT_STREQ(g_lib.ResultText(1), "[??] unknown result code");
  EXPECT_STREQ(g_lib.ResultText(-9), "[??] unknown result code");
}

TEST_F(Session, LaunchRelayAndEnd) {
  FreshGameDirectory();
  WriteBytes(std::string(kGameDir) + "\\wsock32.dll", "an old wsock32.dll");
  ASSERT_TRUE(SetFileAttributesA(kShimPath, FILE_ATTRIBUTE_READONLY));
  // A Winsock 2 library the game ships itself is none of the session's business.
  const std::string ws2 = std::string(kGameDir) + "\\ws2_32.dll";
  WriteBytes(ws2, "the game's own ws2_32.dll");
  ASSERT_TRUE(SetFileAttributesA(ws2.c_str(), FILE_ATTRIBUTE_READONLY));
  WriteBytes(WindowsFile("wininit.ini"), "[boot]\r\na=b\r\n[Rename]\r\nX=Y\r\n");
  Connect();

  ASSERT_EQ(g_lib.PreLaunch("C:\\Games\\Demo\\", "Alpha"), 1) << "Windows error " << GetLastError();
  // The join record, as the server receives it.
  ExpectJoin(NextAtServer(0), "Alpha", "NoName");

  EXPECT_EQ(CurrentDirectory(), kGameDir);
  EXPECT_EQ(ReadBytes(kLogPath), "group = 'Alpha' / gamedir = 'C:\\Games\\Demo\\'\r\n");
  // The read-only one of an earlier install is replaced by the shim, and kept aside: the
  // restart-time clean-up puts it back rather than deleting the shim.
  EXPECT_EQ(ReadBytes(kShimPath), ReadBytes(TestHome() + "\\orbws.dll"));
  EXPECT_EQ(ReadBytes(kSavedPath), "an old wsock32.dll");
  EXPECT_EQ(ReadBytes(WindowsFile("wininit.ini")),
            "[boot]\r\na=b\r\n[rename]\r\n"
            "C:\\Games\\Demo\\wsock32.dll=C:\\Games\\Demo\\wsock32.dll.orblan-saved\r\nX=Y\r\n");

  // Then the path report: the library takes relayed datagrams and path info, and members
  // behind the same router reach it at this machine's address, at its server endpoint.
  const char* expected = getenv("ORB_EXPECT_LOCAL_ADDRESS");
  ASSERT_NE(expected, nullptr);
  const uint32_t stamp = orb::ParseIPv4(expected);
  const Received report = NextAtServer(1);
  ASSERT_EQ(report.type, 20);
  PathReport path;
  ASSERT_TRUE(ParsePathReport(reinterpret_cast<const uint8_t*>(report.data.data()),
                              report.data.size(), &path));
  EXPECT_EQ(path.flags, kPathTakesRelayed);
  orb::SocketAddress endpoint = {0, 0};
  ASSERT_TRUE(server_.RemoteSocketAddress(side_.accepted, &endpoint));
  ASSERT_EQ(path.count, 1);
  EXPECT_EQ(path.candidates[0].ip, stamp);
  EXPECT_EQ(path.candidates[0].port, endpoint.port);

  // A broadcast from the shim: stamped with this machine's address, in a relay record.
  std::string d = LinkDatagram(300, 20, 'p');
  ASSERT_TRUE(ShimSends(d));
  const Received r = NextAtServer(2);
  ASSERT_EQ(r.type, 8);
  ASSERT_EQ(r.data.size(), 72u + 32u);
  EXPECT_STREQ(r.data.c_str(), "Alpha");
  EXPECT_EQ(r.data.substr(64, 8), std::string("\0\0\0\0\x20\0\0\0", 8));
  EXPECT_EQ(r.data.substr(72 + 8, 4), std::string(reinterpret_cast<const char*>(&stamp), 4));
  EXPECT_EQ(r.data.substr(72, 6), d.substr(0, 6));
  // The port of the socket it came from, for the far game to answer to.
  uint16_t shim_port = 0;
  ASSERT_TRUE(orb::UdpBoundPort(shim_, &shim_port));
  EXPECT_EQ(LinkGetSourcePort(r.data.data() + 72), shim_port);
  EXPECT_EQ(r.data.substr(72 + 12), d.substr(12));

  // 2048 payload bytes: a record of 72 + 2060 bytes, in two fragments.
  const uint64_t datagrams = server_.Counters().datagrams_received;
  ASSERT_TRUE(ShimSends(LinkDatagram(300, LINK_PAYLOAD_MAX, 'q')));
  const Received big = NextAtServer(3);
  ASSERT_EQ(big.data.size(), 72u + 2060u);
  EXPECT_EQ(server_.Counters().datagrams_received - datagrams, 2u);

  // A header-only datagram: forwarded by this side...
  ASSERT_TRUE(ShimSends(LinkDatagram(2300, 0, 'e')));
  EXPECT_EQ(NextAtServer(4).data.size(), 72u + 12u);

  // A game socket bound to this machine's own address counts as this machine (its shim sends
  // to that address, port 3668).
  {
    orb::SocketHandle own = orb::UdpOpen();
    ASSERT_TRUE(orb::UdpBind(own, stamp, 0));
    const std::string o = LinkDatagram(2301, 3, 'o');
    ASSERT_EQ(orb::UdpSendTo(own, o.data(), static_cast<int>(o.size()), {stamp, LINK_PORT}), 15);
    EXPECT_EQ(RelayedPort(NextAtServer(5)), 2301);
    orb::UdpClose(own);
  }

  // ...but dropped when it comes back; a real one reaches the game from port 3668.
  orb::SocketHandle game = LoopbackSocket(2300);
  ASSERT_NE(game, orb::kInvalidSocket);
  // Only to a port the shim announced (a published-format library ignores the notice).
  uint8_t notice[LINK_NOTICE_SIZE];
  ASSERT_EQ(LinkBuildNotice(notice, sizeof notice, {kNoticeBound, 2300, orb::ParseIPv4("127.0.0.1")}), 12);
  ASSERT_TRUE(ShimSends(std::string(reinterpret_cast<const char*>(notice), sizeof notice)));
  // The worker takes datagrams in order: once the next one reached the server, it knows.
  ASSERT_TRUE(ShimSends(LinkDatagram(9, 1, 'n')));
  ASSERT_EQ(RelayedPort(NextAtServer(6)), 9);
  const std::string empty = LinkDatagram(2300, 0, 'e'), real = LinkDatagram(2300, 20, 'r');
  ASSERT_EQ(server_.Send(side_.accepted, empty.data(), 12, 8), 0);
  ASSERT_EQ(server_.Send(side_.accepted, real.data(), 32, 8), 0);
  char buf[4096];
  int n = -1;
  orb::SocketAddress from = {0, 0};
  Loop(server_, [&] { return (n = orb::UdpReceiveFrom(game, buf, sizeof buf, &from)) >= 0; });
  ASSERT_EQ(n, 32);
  EXPECT_EQ(std::string(buf, n), real);
  EXPECT_EQ(from.ip, orb::ParseIPv4("127.0.0.1"));
  EXPECT_EQ(from.port, LINK_PORT);
  orb::UdpClose(game);

  // A burst from the shim arrives whole and in order.
  const size_t before_burst = side_.got.size();
  const int kBurst = 200;
  for (int i = 0; i < kBurst; ++i) ASSERT_TRUE(ShimSends(LinkDatagram(1000 + i, 32, 'u')));
  ASSERT_TRUE(Loop(server_, [&] { return side_.got.size() >= before_burst + kBurst; }, 10000));
  for (int i = 0; i < kBurst; ++i) {
    EXPECT_EQ(RelayedPort(side_.got[before_burst + i]), 1000 + i);
  }

  // One launch per session.
  EXPECT_EQ(g_lib.PreLaunch("C:\\Games\\Other", "Gamma"), 0);
  EXPECT_EQ(CurrentDirectory(), kGameDir);

  EXPECT_EQ(g_lib.EndSession(), 0);
  // The shim is gone and the original back, byte for byte and still read-only.
  EXPECT_EQ(ReadBytes(kShimPath), "an old wsock32.dll");
  EXPECT_NE(GetFileAttributesA(kShimPath) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(GetFileAttributesA(kSavedPath), INVALID_FILE_ATTRIBUTES);
  // The session said goodbye: the server frees the player's place at once.
  EXPECT_EQ(FirstAtServer(kMsgLeave).address, side_.accepted);
  EXPECT_EQ(ReadBytes(ws2), "the game's own ws2_32.dll");
  EXPECT_NE(GetFileAttributesA(ws2.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(ReadBytes(kLogPath), "group = 'Alpha' / gamedir = 'C:\\Games\\Demo\\'\r\n");
  EXPECT_EQ(g_lib.SessionState(), 0);
  const DWORD start = GetTickCount();
  EXPECT_EQ(g_lib.EndSession(), 0);
  EXPECT_LT(GetTickCount() - start, 1000u);
  EXPECT_EQ(ReadBytes(kShimPath), "an old wsock32.dll") << "a second end leaves the original be";
}

TEST_F(Session, SecondSessionWithoutTrailingBackslashThenServerCloses) {
  ASSERT_NE(GetFileAttributesA(kLogPath), INVALID_FILE_ATTRIBUTES) << "runs after LaunchRelayAndEnd";
  ASSERT_TRUE(SetFileAttributesA(kLogPath, FILE_ATTRIBUTE_READONLY));
  Connect();
  ASSERT_EQ(g_lib.PreLaunch("C:\\Games\\Demo", "Beta"), 1);
  EXPECT_NE(GetFileAttributesA(kShimPath), INVALID_FILE_ATTRIBUTES);  // the same shim path
  EXPECT_EQ(ReadBytes(kLogPath), "group = 'Beta' / gamedir = 'C:\\Games\\Demo'\r\n");
  const std::string restore =
      "C:\\Games\\Demo\\wsock32.dll=C:\\Games\\Demo\\wsock32.dll.orblan-saved\r\n";
  EXPECT_EQ(ReadBytes(WindowsFile("wininit.ini")),
            "[boot]\r\na=b\r\n[rename]\r\n" + restore + restore + "X=Y\r\n");
  ASSERT_TRUE(ShimSends(LinkDatagram(300, 4, 'b')));
  const Received r = NextAtServer(2);  // after the join and the path report
  EXPECT_STREQ(r.data.c_str(), "Beta");

  // The server ends the session: relaying stops, the link port is freed, no new launch.
  ServerCloses();
  orb::SocketHandle probe = orb::kInvalidSocket;
  ASSERT_TRUE(Loop(server_, [&] {
    probe = orb::UdpOpen();
    if (orb::UdpBind(probe, 0, LINK_PORT)) return true;
    orb::UdpClose(probe);
    return false;
  }));
  orb::UdpClose(probe);
  EXPECT_EQ(g_lib.PreLaunch("C:\\Games\\Demo", "Beta"), 0);
  const size_t before_end = side_.got.size();
  EXPECT_EQ(g_lib.EndSession(), 0);
  EXPECT_EQ(ReadBytes(kShimPath), "an old wsock32.dll");
  Loop(server_, [] { return false; }, 100);
  EXPECT_EQ(side_.got.size(), before_end) << "no leave on a connection the server closed";
}

// Another session holds the link port: this one would hand its game's broadcasts to the
// other one's group. The launch is refused before anything changes.
TEST_F(Session, TakenLinkPortRefusesTheLaunchBeforeAnythingChanges) {
  FreshGameDirectory();
  orb::SocketHandle holder = orb::UdpOpen();
  ASSERT_TRUE(orb::UdpBind(holder, 0, LINK_PORT));
  Connect();
  EXPECT_EQ(g_lib.PreLaunch("C:\\Games\\Demo\\", "Alpha"), 0);
  EXPECT_EQ(Status().link, ORBLAN_LINK_PORT_TAKEN);
  EXPECT_EQ(Status().join, ORBLAN_JOIN_NONE);
  Loop(server_, [] { return false; }, 100);
  for (const Received& r : side_.got) EXPECT_NE(r.type, 0) << "no join record";
  EXPECT_EQ(FilesIn(kGameDir), std::vector<std::string>{});
  EXPECT_EQ(g_lib.SessionState(), 2);  // the session itself goes on
  EXPECT_EQ(g_lib.EndSession(), 0);
  orb::UdpClose(holder);
}

TEST_F(Session, ShimHeldByTheGameStaysForTheRestartDeletion) {
  FreshGameDirectory();
  Connect();
  ASSERT_EQ(g_lib.PreLaunch("C:\\Games\\Demo\\", "Alpha"), 1);
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                          0, KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  std::vector<char> value(65536);
  DWORD size = static_cast<DWORD>(value.size()), type = 0;
  const LONG rc = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                                   reinterpret_cast<BYTE*>(value.data()), &size);
  RegCloseKey(key);
  ASSERT_EQ(rc, ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_NE(std::string(value.data(), size).find(kShimPath), std::string::npos);

  // The game still runs and holds its Winsock library: ending the session leaves it.
  HANDLE held = CreateFileA(kShimPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(g_lib.EndSession(), 0);
  EXPECT_NE(GetFileAttributesA(kShimPath), INVALID_FILE_ATTRIBUTES);
  CloseHandle(held);
}

// What a launcher that shows more sees: the player's name in the join record, the
// server's answer and the group, a lost connection that comes back with the game link
// listening again, and the trace where the launcher wants it.
TEST_F(Session, NameAnswerMembersAndReconnection) {
  FreshGameDirectory();
  const std::string trace = TestHome() + "\\trace.log";
  DeleteFileA(trace.c_str());
  ASSERT_EQ(g_lib.SetTraceFile(trace.c_str()), 1);
  EXPECT_EQ(g_lib.SetPlayerName(std::string(24, 'n').c_str()), 0);
  ASSERT_EQ(g_lib.SetPlayerName("alice"), 1);
  Connect();
  ASSERT_EQ(g_lib.PreLaunch(kGameDir, "Red"), 1);
  ExpectJoin(FirstAtServer(0), "Red", "alice");
  EXPECT_EQ(Status().join, ORBLAN_JOIN_PENDING);
  EXPECT_EQ(Status().link, ORBLAN_LINK_LISTENING);

  ServerSends(BuildJoinOutcome({kJoinJoined, 2, 8, "RED", ""}), kMsgJoinOutcome);
  ServerSends(BuildMemberList({kMemberListJoined, kLeftUnknown, 2, {{9, "bob", 40}}}), kMsgMembers);
  ASSERT_TRUE(Loop(server_, [&] { return Status().members == 2; }));
  const OrbLanStatus st = Status();
  EXPECT_EQ(st.join, ORBLAN_JOIN_JOINED);
  EXPECT_STREQ(st.group, "RED");
  EXPECT_EQ(st.capacity, 8);
  EXPECT_GE(st.round_trip_ms, 0);
  OrbLanMember members[4];
  ASSERT_EQ(g_lib.GetMembers(members, 4), 1);  // bob; the whole list comes later
  EXPECT_STREQ(members[0].name, "bob");
  EXPECT_EQ(members[0].round_trip_ms, 40);
  OrbLanNotice notice;
  ASSERT_EQ(g_lib.NextNotice(&notice), 1);
  EXPECT_EQ(notice.kind, ORBLAN_NOTICE_JOINED);
  EXPECT_STREQ(notice.member.name, "bob");
  EXPECT_EQ(g_lib.NextNotice(&notice), 0);

  // The server closes the connection; relaying stops and the port is freed...
  const int32_t first = side_.accepted;
  ServerCloses();
  ASSERT_TRUE(Loop(server_, [&] { return Status().link == ORBLAN_LINK_NONE; }));
  // ...and comes back on a new connection, which joins the same group again and relays
  // the running game's broadcasts on the same port.
  const size_t before = side_.got.size();
  ASSERT_EQ(g_lib.Reconnect(), 1);
  EXPECT_EQ(g_lib.SessionState(), 1);
  EXPECT_EQ(Status().join, ORBLAN_JOIN_PENDING);
  ASSERT_TRUE(Loop(server_, [&] { return g_lib.SessionState() == 2; }));
  EXPECT_NE(side_.accepted, first);
  ExpectJoin(NextAtServer(before), "Red", "alice");
  EXPECT_EQ(Status().link, ORBLAN_LINK_LISTENING);
  ASSERT_TRUE(ShimSends(LinkDatagram(300, 8, 'r')));
  EXPECT_EQ(NextAtServer(before + 1).type, kMsgPathReport);  // the new connection's path
  const Received relayed = NextAtServer(before + 2);
  EXPECT_EQ(relayed.type, 8);
  EXPECT_EQ(relayed.address, side_.accepted);

  EXPECT_EQ(g_lib.EndSession(), 0);
  EXPECT_GT(ReadBytes(trace).size(), 0u) << "the connection's trace went to the file";
  g_lib.SetTraceFile("");
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  TestHome() = CurrentDirectory();
  bool started = false;
  orb::SocketsStartup(&started);
  // The shim the library copies: the real one when the build has it, else a stand-in.
  if (GetFileAttributesA("orbws.dll") == INVALID_FILE_ATTRIBUTES) {
    WriteBytes("orbws.dll", "stand-in shim for the session library's copy");
  }
  WriteBytes(WindowsFile("wininit.ini"), "");
  DeleteFileA(WindowsFile("wininit.ini").c_str());
  g_lib.module = LoadLibraryA("orblan.dll");
  if (g_lib.module == nullptr) {
    fprintf(stderr, "orblan.dll cannot be loaded\n");
    return 1;
  }
  bool bound = true;
  auto bind = [&](const char* name, auto* fn) {
    using Fn = std::remove_pointer_t<decltype(fn)>;
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(g_lib.module, name)));
    bound = bound && *fn != nullptr;
  };
  bind("OrbLanInit", &g_lib.Init);
  bind("OrbLanPreLaunch", &g_lib.PreLaunch);
  bind("OrbLanEndSession", &g_lib.EndSession);
  bind("OrbLanLastResult", &g_lib.LastResult);
  bind("OrbLanSessionState", &g_lib.SessionState);
  bind("OrbLanResultText", &g_lib.ResultText);
  bind("OrbLanSetPlayerName", &g_lib.SetPlayerName);
  bind("OrbLanSetTraceFile", &g_lib.SetTraceFile);
  bind("OrbLanGetStatus", &g_lib.GetStatus);
  bind("OrbLanGetMembers", &g_lib.GetMembers);
  bind("OrbLanNextNotice", &g_lib.NextNotice);
  bind("OrbLanReconnect", &g_lib.Reconnect);
  if (!bound) {
    fprintf(stderr, "orblan.dll lacks an export\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
