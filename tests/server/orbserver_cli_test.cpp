// orbserver as an operator runs it: the real program on real loopback sockets, its exit
// codes, its log, and a clean shutdown on SIGTERM with members played by transports.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "transport.h"

#ifndef ORBSERVER_PATH
#error ORBSERVER_PATH must name the orbserver binary
#endif

namespace orb {
namespace {

struct Child {
  pid_t pid = -1;
  FILE* out = nullptr;  // its standard output and standard error
};

Child Spawn(const std::vector<std::string>& args) {
  int fds[2];
  Child c;
  if (pipe(fds) != 0) return c;
  c.pid = fork();
  if (c.pid == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(ORBSERVER_PATH));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ORBSERVER_PATH, argv.data());
    _exit(127);
  }
  close(fds[1]);
  c.out = fdopen(fds[0], "r");
  return c;
}

int WaitExit(Child* c) {
  int status = 0;
  waitpid(c->pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(Child* c) {
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, c->out)) > 0) s.append(buf, n);
  fclose(c->out);
  return s;
}

std::string ReadLine(Child* c) {
  char buf[1024];
  return fgets(buf, sizeof buf, c->out) ? std::string(buf) : std::string();
}

int RunToEnd(const std::vector<std::string>& args, std::string* output) {
  Child c = Spawn(args);
  *output = ReadAll(&c);
  return WaitExit(&c);
}

TEST(Orbserver, HelpAndBadFlags) {
  std::string out;
  EXPECT_EQ(RunToEnd({"--help"}, &out), 0);
  EXPECT_NE(out.find("Usage: orbserver"), std::string::npos);
  EXPECT_NE(out.find("--listen ADDR[:PORT]"), std::string::npos);
  EXPECT_EQ(RunToEnd({"--max-members", "lots"}, &out), 2);
  EXPECT_NE(out.find("orbserver: --max-members: 'lots' is not a whole number"),
            std::string::npos);
  EXPECT_NE(out.find("Try 'orbserver --help'."), std::string::npos);
  EXPECT_EQ(RunToEnd({"extra"}, &out), 2);
  EXPECT_EQ(RunToEnd({"--version"}, &out), 0);
  EXPECT_EQ(out.rfind("orbserver ", 0), 0u) << out;
  EXPECT_EQ(RunToEnd({"--version=1"}, &out), 2);
}

TEST(Orbserver, PortInUseIsTold) {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(s, 0);
  struct sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  std::string port = std::to_string(ntohs(a.sin_port));
  std::string out;
  EXPECT_EQ(RunToEnd({"--listen", "127.0.0.1:" + port}, &out), 1);
  EXPECT_NE(out.find("orbserver: cannot listen on 127.0.0.1:" + port +
                     ": Address already in use"),
            std::string::npos)
      << out;
  close(s);
}

struct Seen : TransportObserver {
  std::vector<int32_t> events;
  std::vector<std::vector<uint8_t>> data;
  void OnEvent(int32_t, int32_t code) override { events.push_back(code); }
  void OnData(const uint8_t* d, int32_t n, int32_t type, int32_t) override {
    if (type == 8) data.emplace_back(d, d + n);
  }
};

TEST(Orbserver, RelaysOverLoopbackAndShutsDownCleanlyOnSigterm) {
  Child c = Spawn({"--listen", "127.0.0.1:0", "--stats-interval", "0", "--shutdown-wait",
                   "3000"});
  ASSERT_GT(c.pid, 0);
  std::string first = ReadLine(&c);
  size_t at = first.find("listening on 127.0.0.1:");
  ASSERT_NE(at, std::string::npos) << first;
  uint16_t port = static_cast<uint16_t>(atoi(first.c_str() + at + 23));
  ASSERT_NE(port, 0);

  Seen seen[2];
  std::unique_ptr<Transport> members[2];
  int32_t server[2];
  for (int i = 0; i < 2; ++i) {
    TransportOptions o;
    o.trace = nullptr;
    o.observer = &seen[i];
    members[i].reset(new Transport(o));
    Endpoint* e = members[i]->CreateEndpoint(0);
    ASSERT_NE(e, nullptr);
    server[i] = members[i]->Connect(e, "127.0.0.1", port, 0);
  }
  auto pump = [&](int ms) {
    for (int t = 0; t < ms; t += 5) {
      members[0]->Pump(0);
      members[1]->Pump(0);
      usleep(5000);
    }
  };
  pump(200);
  ASSERT_EQ(seen[0].events, std::vector<int32_t>{EVENT_CONNECTED});
  uint8_t join[92] = {'l', 'a', 'n'};
  for (int i = 0; i < 2; ++i) members[i]->Send(server[i], join, 92, 0);
  pump(200);
  std::vector<uint8_t> record(72 + 20, 0);
  memcpy(record.data(), "lan", 3);
  record[68] = 20;
  memset(&record[72], 0xF9, 4);
  memcpy(&record[84], "pingping", 8);
  // The first broadcasts may race the acknowledgement that proves the connection;
  // a game repeats its announcements, and so does this test.
  for (int i = 0; i < 20 && seen[1].data.empty(); ++i) {
    members[0]->Send(server[0], record.data(), static_cast<int32_t>(record.size()), 8);
    pump(50);
  }
  ASSERT_FALSE(seen[1].data.empty());
  // Passed on as sent, but with the address the server sees the sender at.
  std::vector<uint8_t> expected(record.begin() + 72, record.end());
  const uint8_t loopback[4] = {127, 0, 0, 1};
  memcpy(&expected[8], loopback, 4);
  EXPECT_EQ(seen[1].data[0], expected);
  EXPECT_TRUE(seen[0].data.empty());

  // A service manager's "reload" and an operator asking what runs: the server goes on.
  kill(c.pid, SIGHUP);
  pump(100);
  kill(c.pid, SIGUSR1);
  pump(100);
  ASSERT_EQ(seen[0].events.size(), 1u) << "SIGHUP closed nobody";

  kill(c.pid, SIGTERM);
  pump(300);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(seen[i].events.size(), 2u);
    EXPECT_EQ(seen[i].events[1], EVENT_PEERCLOSE);
  }
  std::string rest = ReadAll(&c);
  EXPECT_EQ(WaitExit(&c), 0);
  EXPECT_NE(rest.find("INFO  member 1 connected from 127.0.0.1:"), std::string::npos) << rest;
  EXPECT_NE(rest.find("joined group 'lan' (2 of 32)"), std::string::npos);
  EXPECT_NE(rest.find("INFO  SIGHUP: nothing to reload"), std::string::npos);
  EXPECT_NE(rest.find("INFO  group 'lan' (2 of 32): member 1 (no name, 127.0.0.1:"),
            std::string::npos);
  EXPECT_NE(rest.find("shutting down: closing 2 members"), std::string::npos);
  EXPECT_NE(rest.find("disconnected"), std::string::npos);
  EXPECT_NE(rest.find("orbserver stopped"), std::string::npos);
}

TEST(Orbserver, SecondSignalEndsTheWaitForSilentMembers) {
  Child c = Spawn({"--listen", "127.0.0.1:0", "--shutdown-wait", "60000"});
  std::string first = ReadLine(&c);
  size_t at = first.find("listening on 127.0.0.1:");
  ASSERT_NE(at, std::string::npos) << first;
  uint16_t port = static_cast<uint16_t>(atoi(first.c_str() + at + 23));
  TransportOptions o;
  o.trace = nullptr;
  Transport member(o);
  Endpoint* e = member.CreateEndpoint(0);
  int32_t server = member.Connect(e, "127.0.0.1", port, 0);
  for (int i = 0; i < 40 && member.RemoteAddress(server) == 0; ++i) {
    member.Pump(0);
    usleep(5000);
  }
  ASSERT_NE(member.RemoteAddress(server), 0);
  // The member now falls silent: it never confirms the close.
  auto began = std::chrono::steady_clock::now();
  kill(c.pid, SIGTERM);
  usleep(200000);
  kill(c.pid, SIGINT);
  std::string rest = ReadAll(&c);
  EXPECT_EQ(WaitExit(&c), 0);
  // Well before the 60 s wait would have run out.
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
  EXPECT_NE(rest.find("shutting down: closing 1 members"), std::string::npos) << rest;
  EXPECT_NE(rest.find("WARN  1 members did not confirm the close"), std::string::npos);
  EXPECT_NE(rest.find("orbserver stopped"), std::string::npos);
}

}  // namespace
}  // namespace orb
