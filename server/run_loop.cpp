#include "run_loop.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>

namespace orb {
namespace server {

namespace {
SignalCounts* g_signals = nullptr;

extern "C" void OnSignal(int signal) {
  if (g_signals == nullptr) return;
  switch (signal) {
    case SIGHUP: g_signals->hangups.fetch_add(1); break;
    case SIGUSR1: g_signals->listings.fetch_add(1); break;
    default: g_signals->stops.fetch_add(1); break;
  }
}

void WaitReadable(intptr_t handle, int timeout_ms) {
  struct pollfd p;
  p.fd = static_cast<int>(handle);
  p.events = POLLIN;
  p.revents = 0;
  poll(&p, 1, timeout_ms);  // EINTR from a stop signal just ends the wait
}
}  // namespace

bool InstallSignals(SignalCounts* counts) {
  g_signals = counts;
  struct sigaction sa;
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  return sigaction(SIGINT, &sa, nullptr) == 0 && sigaction(SIGTERM, &sa, nullptr) == 0 &&
         sigaction(SIGHUP, &sa, nullptr) == 0 && sigaction(SIGUSR1, &sa, nullptr) == 0 &&
         signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

int RunServer(GroupServer* server, SignalCounts* signals) {
  std::atomic<int>* stops = &signals->stops;
  int hangups = 0, listings = 0;
  while (stops->load() == 0) {
    WaitReadable(server->handle(), server->WaitMs(kTickMs));
    server->RunOnce();
    if (signals->hangups.load() != hangups) {
      hangups = signals->hangups.load();
      server->logger()->Log(LogLevel::kInfo,
                            "SIGHUP: nothing to reload or reopen (options are read at start, "
                            "the log is standard output); still serving");
    }
    if (signals->listings.load() != listings) {
      listings = signals->listings.load();
      server->LogGroups();
    }
  }
  server->BeginShutdown();
  while (!server->ShutdownFinished() && stops->load() < 2) {
    WaitReadable(server->handle(), server->WaitMs(kTickMs));
    server->RunOnce();
  }
  server->LogStatistics();
  if (server->registry().member_count() != 0) {
    server->logger()->Log(LogLevel::kWarn, "%zu members did not confirm the close",
                          server->registry().member_count());
  }
  return 0;
}

}  // namespace server
}  // namespace orb
