// The shim under Wine, against Wine's own wsock32: its export table, a game importing it by
// name and by ordinal with SCRIBE.DLL tracing at level 2000, the same game with no SCRIBE.DLL,
// the shim loaded under other file names, threads, and a pass-through scenario whose output
// must not change when the shim sits in between. Each case runs in a directory of its own,
// as a child process, so that the trace files are complete when they are read.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "pe_exports.h"
#include "wine_harness.h"

using ::testing::IsEmpty;

namespace {

const char* const kShimTrace = "wsock32.dll-1.log";

// The shim's name as its start line gives it. Wine names a library loaded through an import
// table as the table spells it ("WSOCK32.DLL"), not as the file is spelt on disk.
std::string ModuleNameIn(const std::vector<TraceLine>& trace) {
  const std::string start = "Qerlix's winsock starting '";
  for (const TraceLine& t : trace) {
    size_t at = t.message.find(start);
    if (at != std::string::npos && t.message.back() == '\'')
      return t.message.substr(at + start.size(), t.message.size() - at - start.size() - 1);
  }
  return "";
}

std::string Quoted(const std::string& dir, const std::string& file) {
  return "\"" + dir + "\\" + file + "\"";
}

// The 59 names and their ordinals.
const std::vector<std::pair<std::string, uint32_t>>& ExpectedExports() {
  static const std::vector<std::pair<std::string, uint32_t>> table = {
      {"accept", 1}, {"bind", 2}, {"closesocket", 3}, {"connect", 4}, {"getpeername", 5},
      {"getsockname", 6}, {"getsockopt", 7}, {"htonl", 8}, {"htons", 9}, {"inet_addr", 10},
      {"inet_ntoa", 11}, {"ioctlsocket", 12}, {"listen", 13}, {"ntohl", 14}, {"ntohs", 15},
      {"recv", 16}, {"recvfrom", 17}, {"select", 18}, {"send", 19}, {"sendto", 20},
      {"setsockopt", 21}, {"shutdown", 22}, {"socket", 23}, {"WSAAddressToStringA", 27},
      {"WSAAddressToStringW", 28}, {"WSAIoctl", 50}, {"gethostbyaddr", 51},
      {"gethostbyname", 52}, {"getprotobyname", 53}, {"getprotobynumber", 54},
      {"getservbyname", 55}, {"getservbyport", 56}, {"gethostname", 57}, {"WSARecv", 67},
      {"WSARecvFrom", 69}, {"WSAStringToAddressA", 80}, {"WSAStringToAddressW", 81},
      {"WSAAsyncSelect", 101}, {"WSAAsyncGetHostByAddr", 102}, {"WSAAsyncGetHostByName", 103},
      {"WSAAsyncGetProtoByNumber", 104}, {"WSAAsyncGetProtoByName", 105},
      {"WSAAsyncGetServByPort", 106}, {"WSAAsyncGetServByName", 107},
      {"WSACancelAsyncRequest", 108}, {"WSASetBlockingHook", 109},
      {"WSAUnhookBlockingHook", 110}, {"WSAGetLastError", 111}, {"WSASetLastError", 112},
      {"WSACancelBlockingCall", 113}, {"WSAIsBlocking", 114}, {"WSAStartup", 115},
      {"WSACleanup", 116}, {"__WSAFDIsSet", 151}, {"SetBroadcastCallback", 700},
      {"RecvBroadcastMsg", 701}, {"EnumProtocolsA", 1111}, {"EnumProtocolsW", 1112},
      {"AcceptEx", 1141}};
  return table;
}

TEST(ShimExports, TableReadFromTheBuiltDll) {
  PeExports pe;
  std::string error;
  ASSERT_TRUE(ReadPeExports(ReadBytes("orbws.dll"), &pe, &error)) << error;
  EXPECT_EQ(pe.module_name, "WSOCK32.dll");
  EXPECT_EQ(pe.ordinal_base, 1u);
  EXPECT_EQ(pe.function_count, 1141u);  // highest ordinal 1141
  std::map<std::string, uint32_t> expected(ExpectedExports().begin(), ExpectedExports().end());
  EXPECT_EQ(pe.names, expected);
  EXPECT_EQ(pe.names.size(), 59u);
  // Every slot with a function has a name, and only those.
  std::vector<uint32_t> with_function, named;
  for (const auto& f : pe.functions) with_function.push_back(f.first);
  for (const auto& n : expected) named.push_back(n.second);
  std::sort(named.begin(), named.end());
  EXPECT_EQ(with_function, named);
  // The A and W names of a pair share one body.
  EXPECT_EQ(pe.functions[27], pe.functions[28]);
  EXPECT_EQ(pe.functions[80], pe.functions[81]);
  EXPECT_EQ(pe.functions[1111], pe.functions[1112]);
  EXPECT_NE(pe.functions[27], pe.functions[80]);
}

TEST(ShimExports, RunTimeLookupsByOrdinal) {
  std::string dir = MakeCase("exports", {"orbws.dll"});
  HMODULE shim = LoadLibraryA((dir + "\\orbws.dll").c_str());
  ASSERT_NE(shim, nullptr);
  for (int empty : {24, 25, 26, 29, 49, 58, 68, 117, 150, 152, 699, 702, 1110, 1113, 1140})
    EXPECT_EQ(GetProcAddress(shim, MAKEINTRESOURCEA(empty)), nullptr) << empty;
  EXPECT_EQ(GetProcAddress(shim, MAKEINTRESOURCEA(1141)), GetProcAddress(shim, "AcceptEx"));
  EXPECT_EQ(GetProcAddress(shim, MAKEINTRESOURCEA(9)), GetProcAddress(shim, "htons"));
  EXPECT_EQ(GetProcAddress(shim, MAKEINTRESOURCEA(700)), GetProcAddress(shim, "SetBroadcastCallback"));
  EXPECT_EQ(GetProcAddress(shim, "WSARecvEx"), nullptr);
  EXPECT_EQ(GetProcAddress(shim, "orb_select@20"), nullptr);  // internal names stay inside
  FreeLibrary(shim);
}

class ShimGame : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    traced_dir_ = MakeCase("game", {"orbws.dll=wsock32.dll", "SCRIBE.DLL", "game_ipx.exe"});
    traced_ = RunIn(traced_dir_, "game_ipx.exe", "ipx");
    quiet_dir_ = MakeCase("game_quiet", {"orbws.dll=wsock32.dll", "game_ipx.exe"});
    quiet_ = RunIn(quiet_dir_, "game_ipx.exe", "ipx");
    trace_ = ReadTrace(traced_dir_, kShimTrace);
    name_ = ModuleNameIn(trace_);
  }
  std::string V(const char* key) { return traced_.values[key]; }
  // "[<module name>] " + text, as ShimLog frames it.
  static std::string M(const std::string& text) { return "[" + name_ + "] " + text; }

  static std::string traced_dir_, quiet_dir_;
  static RunResult traced_, quiet_;
  static std::vector<TraceLine> trace_;
  static std::string name_;
};
std::string ShimGame::traced_dir_, ShimGame::quiet_dir_;
RunResult ShimGame::traced_, ShimGame::quiet_;
std::vector<TraceLine> ShimGame::trace_;
std::string ShimGame::name_;

TEST_F(ShimGame, ResultsOfTheIpxSession) {
  ASSERT_EQ(traced_.exit_code, 0) << traced_.output;
  EXPECT_EQ(V("first_last_error"), "1234");
  EXPECT_EQ(V("htons_name"), "513");
  EXPECT_EQ(V("htons_ordinal"), "513");
  EXPECT_EQ(V("startup_1_1"), "0");
  EXPECT_EQ(V("startup_version"), "257");
  EXPECT_EQ(V("ipx_type"), "2");  // NSPROTO_IPX: a UDP socket
  EXPECT_EQ(V("ipx_bind"), "0");
  EXPECT_EQ(V("plain_bind_300"), "-1");
  EXPECT_EQ(V("plain_bind_300_error"), "10048");  // port 300 belongs to the IPX socket
  EXPECT_EQ(V("ipx_getsockname"), "0");
  EXPECT_EQ(V("ipx_getsockname_len"), "14");
  // Family 6, net 0, node 00 00 + 203.0.113.10 (the namespace's address), sa_socket 2C 01.
  EXPECT_EQ(V("ipx_name"), "06 00 00 00 00 00 00 00 CB 00 71 0A 2C 01");
  EXPECT_EQ(V("ipx_getsockname_short"), "-1");
  EXPECT_EQ(V("ipx_getsockname_short_error"), "10014");
  EXPECT_EQ(V("ipx_getsockname_short_len"), "10");
  EXPECT_EQ(V("ipx_getsockname_short_buffer"), "EE EE EE EE EE EE EE EE EE EE EE EE EE EE EE EE");
  EXPECT_EQ(V("spx_type"), "1");   // NSPROTO_SPX: a TCP socket
  EXPECT_EQ(V("ipx0_type"), "1");  // only NSPROTO_IPX selects UDP
  EXPECT_EQ(V("spx_close"), "0");
  EXPECT_EQ(V("ipx_bind_short"), "-1");
  EXPECT_EQ(V("ipx_bind_short_error"), "10014");
  EXPECT_EQ(V("ipx0_getsockname"), V("plain_unbound_getsockname"));
  EXPECT_EQ(V("ipx0_getsockname_error"), V("plain_unbound_error"));
  EXPECT_EQ(V("ipx0_getsockname_len"), "14");
  EXPECT_EQ(V("ipx0_getsockname_family"), "6");
  EXPECT_EQ(V("startup_2_2"), "0");
  EXPECT_EQ(V("cleanup_1"), "0");
  // A socket registered after the second start-up is still IPX after a cleanup.
  EXPECT_EQ(V("later_getsockname"), "-1");  // unbound, as for a plain socket
  EXPECT_EQ(V("later_getsockname_len"), "14");
  EXPECT_EQ(V("later_getsockname_family"), "6");
  EXPECT_EQ(V("later_close"), "0");
  // After the second start-up the registry no longer knows the socket: a plain IP name.
  EXPECT_EQ(V("after_startup_getsockname"), "0");
  EXPECT_EQ(V("after_startup_len"), "16");
  EXPECT_EQ(V("after_startup_family"), "2");
  EXPECT_EQ(V("ipx_close"), "0");
  EXPECT_EQ(V("set_broadcast_callback"), "0");
  EXPECT_EQ(V("recv_broadcast_msg"), "0");
  EXPECT_EQ(V("cleanup_2"), "0");
}

TEST_F(ShimGame, TraceOfStartUpAndBinding) {
  std::vector<std::string> m = Messages(trace_);
  ASSERT_FALSE(m.empty()) << "no trace in " << traced_dir_;
  EXPECT_EQ(_stricmp(name_.c_str(), "wsock32.dll"), 0) << name_;
  std::string real = SystemDirectory() + "\\" + name_;
  EXPECT_EQ(Count(m, M("Successfully loaded (" + real + ")")), 1);
  EXPECT_EQ(MissingInOrder(m, {M("Qerlix's winsock starting '" + name_ + "'"),
                               M("Emulating '" + real + "'"), M("mp_WSAGetLastError()"),
                               M("Successfully loaded (" + real + ")"),
                               M("WSAGetLastError() returned 1234"), M("mp_htons(258)"),
                               M("lp_htons(258) returned 513"), M("mp_htons(258)"),
                               M("lp_htons(258) returned 513"), M("mp_WSAStartup() version 1,1"),
                               "DeleteAllIPXSock()",
                               M("Successfully deleted all the ipx sockets in the list"),
                               M("lp_WSAStartup returned 0")}),
            "");
  // At process exit the shim's detach writes its last line and shuts the log down (SCRIBE.DLL
  // keeps its log open through its own detach, which Wine runs first).
  ASSERT_GE(m.size(), 3u);
  EXPECT_EQ(m.back(), "log closed");
  EXPECT_EQ(m[m.size() - 2], M("Shutting down..."));
  EXPECT_EQ(m[m.size() - 3], M("mp_WSACleanup"));
  for (const TraceLine& t : trace_) {
    EXPECT_NE(t.level, 100) << t.message;  // nothing was missing
    if (t.message == M("WSAGetLastError() returned 10048")) {
      EXPECT_EQ(t.level, 1000);
    }
    if (t.message == M("mp_WSAStartup() version 1,1")) {
      EXPECT_EQ(t.level, 2000);
    }
    if (t.message == M("Successfully loaded (" + real + ")")) {
      EXPECT_EQ(t.level, 1000);
    }
    if (t.message.rfind("[", 0) == 0) {
      EXPECT_EQ(t.file, "wsock32\\wsock32") << t.message;
    }
  }
}

TEST_F(ShimGame, TraceOfIpxSocketsAndTheRegistry) {
  std::vector<std::string> m = Messages(trace_);
  const std::string h = V("ipx_socket"), s = V("spx_socket"), z = V("ipx0_socket");
  ASSERT_FALSE(h.empty());
  EXPECT_EQ(MissingInOrder(m, {
      M("mp_socket(6,2,1000)"),
      M("There is a request for an IPX socket. We need to convert this to TCPIP"),
      "AddIPXSock(" + h + ")", "Added " + h + " - length is now 1", "List -", "\t\t   0 - " + h,
      M("lp_socket() returned " + h), M("Socket " + h + " is using a IPX/SPX address family type"),
      M("Socket " + h + " is using SOCK_DGRAM"),
      M("mp_bind(" + h + ",,14)"),
      M("IPX - there is an attempt to bind an IPX socket. We need to convert it to a TCPIP bind"),
      M(" sa_netnum[4] = 00 00 00 00"), M("sa_nodenum[6] = 00 00 00 00 00 00"),
      M("    sa_socket = 300"), M("mp_htons(300)"), M("lp_htons(300) returned 11265"),
      M("bind() returned 0"),
      M("mp_getsockname(" + h + ",,)"), "FindIPXSock(" + h + ")",
      "Found " + h + " at 0 - length is now 1",
      M("IPX - there is an attempt to get a name for an IPX socket."),
      M("interface[" + h + "] : address == 0.0.0.0, port == 300"),
      M("mp_getsockname(" + h + ") looking up our ip address"), M("mp_gethostname()"),
      M("address = 203.0.113.10"), M(" sa_netnum[4] = 00 00 00 00"),
      M("sa_nodenum[6] = 00 00 CB 00 71 0A"), M("    sa_socket = 300"),
      M("lp_getsockname returned 0"),
      M("mp_socket(6,1,1256)"), "Added " + s + " - length is now 2", "List -",
      "\t\t   0 - " + h, "\t\t   1 - " + s, M("Socket " + s + " is using SOCK_STREAM"),
      M("mp_socket(6,2,0)"), "Added " + z + " - length is now 3",
      M("mp_closesocket(" + s + ")"), "FindIPXSock(" + s + ")", "DeleteIPXSock(" + s + ")",
      "Deleted " + s + " - length is now 2",
      M("mp_WSAStartup() version 2,2"), "DeleteAllIPXSock()",
      "Added " + V("later_socket") + " - length is now 1", M("mp_WSACleanup"),
      "Found " + V("later_socket") + " at 0 - length is now 1",
      "Deleted " + V("later_socket") + " - length is now 0",
      M("mp_getsockname(" + h + ",,)"), "Found failed for " + h + " - length is now 0",
      M("mp_getsockname(" + h + ") returns 0.0.0.0:300"),
      M("SetBroadcastCallback() called")}),
            "");
  // Each address of the host entry is traced through the shim's own inet_ntoa.
  std::string host;
  const std::string said = M("lp_gethostname() returned local hostname of '");
  for (const std::string& l : m)
    if (l.rfind(said, 0) == 0) host = l.substr(said.size(), l.size() - said.size() - 1);
  ASSERT_FALSE(host.empty());
  auto at = std::find(m.begin(), m.end(), M("mp_gethostbyname(" + host + ")"));
  ASSERT_NE(at, m.end());
  int addresses = 0;
  for (++at; at + 3 < m.end() && at->size() > 4 &&
             at->compare(at->size() - 4 - host.size() - 1, std::string::npos, ":" + host + ") = ") == 0;
       at += 4, ++addresses) {
    EXPECT_EQ(at[1], M("mp_inet_ntoa()"));
    const std::string returned = M("lp_inet_ntoa() returned '");
    ASSERT_EQ(at[2].rfind(returned, 0), 0u) << at[2];
    EXPECT_EQ(at[3], M(at[2].substr(returned.size(), at[2].size() - returned.size() - 1)));
  }
  EXPECT_GE(addresses, 1);
  EXPECT_EQ(Count(m, M("203.0.113.10")), 3);  // one look-up per unbound IPX socket named

  // The short buffer was refused before the real call: one IPX name was looked up only.
  EXPECT_EQ(Count(m, M("IPX - there is an attempt to get a name for an IPX socket.")), 4);
  EXPECT_EQ(Count(m, "DeleteAllIPXSock()"), 2);  // one per start-up, none for cleanups
  EXPECT_EQ(Count(m, M("mp_getsockname(" + h + ") looking up our ip address")), 1);
  EXPECT_EQ(Count(m, M("mp_getsockname(" + z + ") looking up our ip address")), 1);
  for (const TraceLine& t : trace_) {
    if (t.message.find("IPXSock(") != std::string::npos) {
      EXPECT_EQ(t.file, "wsock32\\socktrak");
    }
  }
}

TEST_F(ShimGame, WithoutScribeEverythingWorksAndNothingIsTraced) {
  ASSERT_EQ(quiet_.exit_code, 0) << quiet_.output;
  // Socket handles may differ between two processes; every other result must not.
  std::map<std::string, std::string> a = traced_.values, b = quiet_.values;
  for (auto* m : {&a, &b})
    for (auto it = m->begin(); it != m->end();)
      it = it->first.find("_socket") != std::string::npos && it->first.find("getsockname") == std::string::npos
               ? m->erase(it) : std::next(it);
  EXPECT_EQ(a, b);
  EXPECT_THAT(FilesEndingIn(quiet_dir_, ".log"), IsEmpty());
}

TEST(ShimThreads, IpxSocketsFromSeveralThreadsAtOnce) {
  std::string dir = MakeCase("threads", {"orbws.dll=wsock32.dll", "SCRIBE.DLL", "game_ipx.exe"});
  RunResult r = RunIn(dir, "game_ipx.exe", "threads");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.values["thread_failures"], "0");
  // Each added line names a length the table really had: never past its 4 + 1 live sockets.
  for (const TraceLine& t : ReadTrace(dir, kShimTrace)) {
    if (t.message.rfind("Added ", 0) != 0) continue;
    int length = atoi(t.message.substr(t.message.rfind(' ') + 1).c_str());
    EXPECT_GE(length, 1);
    EXPECT_LE(length, 4) << t.message;
  }
}

TEST(ShimNames, LoadedAsWs2_32) {
  std::string dir = MakeCase("ws2", {"orbws.dll=WS2_32.DLL", "SCRIBE.DLL", "probe_load.exe"});
  RunResult r = RunIn(dir, "probe_load.exe", Quoted(dir, "WS2_32.DLL") + " ws2");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.values["loaded"], dir + "\\WS2_32.DLL");
  EXPECT_EQ(r.values["startup"], "0");
  EXPECT_EQ(r.values["socket_valid"], "1");
  EXPECT_EQ(r.values["close"], "0");
  EXPECT_EQ(r.values["htons"], "513");
  EXPECT_EQ(r.values["cleanup"], "0");
  EXPECT_EQ(r.values["freed"], "1");
  std::vector<std::string> m = Messages(ReadTrace(dir, "WS2_32.DLL-1.log"));
  std::string real = SystemDirectory() + "\\WS2_32.DLL";
  EXPECT_EQ(MissingInOrder(m, {"[WS2_32.DLL] Qerlix's winsock starting 'WS2_32.DLL'",
                               "[WS2_32.DLL] Emulating '" + real + "'",
                               "[WS2_32.DLL] mp_WSAStartup() version 2,2",
                               "[WS2_32.DLL] Successfully loaded (" + real + ")",
                               "[WS2_32.DLL] lp_WSAStartup returned 0",
                               "[WS2_32.DLL] mp_socket(2,2,0)",
                               "[WS2_32.DLL] lp_htons(258) returned 513",
                               "[WS2_32.DLL] mp_WSACleanup", "[WS2_32.DLL] Shutting down...",
                               "log closed"}),
            "");
}

TEST(ShimNames, ASystemLibraryThatDoesNotExist) {
  std::string dir = MakeCase("missing", {"orbws.dll=nosuchws.dll", "SCRIBE.DLL", "probe_load.exe"});
  RunResult r = RunIn(dir, "probe_load.exe", Quoted(dir, "nosuchws.dll") + " missing");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.values["connect"], "-1");
  EXPECT_EQ(r.values["startup"], "10091");
  EXPECT_EQ(r.values["socket"], "-1");
  EXPECT_EQ(r.values["htons"], "258");  // the argument, unchanged
  EXPECT_EQ(r.values["last_error"], "0");
  EXPECT_EQ(r.values["cleanup"], "-1");
  std::vector<TraceLine> trace = ReadTrace(dir, "nosuchws.dll-1.log");
  std::vector<std::string> m = Messages(trace);
  std::string real = SystemDirectory() + "\\nosuchws.dll";
  std::string unable = "[nosuchws.dll] Unable to load winsock (" + real + ") GetLastError:126";
  EXPECT_EQ(MissingInOrder(m, {"[nosuchws.dll] mp_connect(5,,16)",
                               "[nosuchws.dll] unable to load connect()",
                               "[nosuchws.dll] mp_WSAStartup() version 1,1", unable,
                               "[nosuchws.dll] unable to register lp_WSAStartup",
                               "[nosuchws.dll] mp_socket(2,2,0)", unable,
                               "[nosuchws.dll] unable to load socket()",
                               "[nosuchws.dll] mp_htons(258)", unable,
                               "[nosuchws.dll] unable to load htons()"}),
            "");
  // connect has no load step: the load is tried only by the calls that follow it.
  EXPECT_EQ(m[std::find(m.begin(), m.end(), "[nosuchws.dll] unable to load connect()") - m.begin() - 1],
            "[nosuchws.dll] mp_connect(5,,16)");
  EXPECT_EQ(Count(m, unable), 5);  // every call but connect tries again
  for (const TraceLine& t : trace) {
    if (t.message.find("nable to") != std::string::npos) {
      EXPECT_EQ(t.level, 100) << t.message;
    }
  }
}

TEST(ShimFidelity, SameResultsWithAndWithoutTheShim) {
  std::string real_dir = MakeCase("fidelity_real", {"fidelity.exe"});
  std::string shim_dir = MakeCase("fidelity_shim", {"fidelity.exe", "orbws.dll=wsock32.dll", "SCRIBE.DLL"});
  RunResult direct = RunIn(real_dir, "fidelity.exe", "");
  RunResult shimmed = RunIn(shim_dir, "fidelity.exe", "");
  ASSERT_EQ(direct.exit_code, 0) << direct.output;
  ASSERT_EQ(shimmed.exit_code, 0) << shimmed.output;
  EXPECT_GT(direct.values.size(), 60u);
  EXPECT_EQ(direct.output, shimmed.output);
  // It really ran through the shim, and Wine's own library on the other side.
  std::vector<TraceLine> trace = ReadTrace(shim_dir, kShimTrace);
  std::string prefix = "[" + ModuleNameIn(trace) + "] ";
  std::vector<std::string> m = Messages(trace);
  EXPECT_GT(Count(m, prefix + "lp_select() returned 1"), 0);
  EXPECT_GE(Count(m, prefix + "WSAGetLastError() returned 10061"), 1);  // connect refused
  EXPECT_THAT(FilesEndingIn(real_dir, ".log"), IsEmpty());
}

}  // namespace
