#include "run_loop.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>

namespace orb {
namespace server {

namespace {
std::atomic<int>* g_stops = nullptr;

extern "C" void OnStopSignal(int) {
  if (g_stops != nullptr) g_stops->fetch_add(1);
}

void WaitReadable(intptr_t handle, int timeout_ms) {
  struct pollfd p;
  p.fd = static_cast<int>(handle);
  p.events = POLLIN;
  p.revents = 0;
  poll(&p, 1, timeout_ms);  // EINTR from a stop signal just ends the wait
}
}  // namespace

bool InstallStopSignals(std::atomic<int>* stops) {
  g_stops = stops;
  struct sigaction sa;
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  return sigaction(SIGINT, &sa, nullptr) == 0 && sigaction(SIGTERM, &sa, nullptr) == 0 &&
         signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

int RunServer(GroupServer* server, std::atomic<int>* stops) {
  while (stops->load() == 0) {
    WaitReadable(server->handle(), kTickMs);
    server->RunOnce();
  }
  server->BeginShutdown();
  while (!server->ShutdownFinished() && stops->load() < 2) {
    WaitReadable(server->handle(), kTickMs);
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
