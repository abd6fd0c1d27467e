#include "run_loop.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>

namespace orb {
namespace server {

namespace {
std::atomic<bool>* g_stop = nullptr;

extern "C" void OnStopSignal(int) {
  if (g_stop != nullptr) g_stop->store(true);
}

void WaitReadable(intptr_t handle, int timeout_ms) {
  struct pollfd p;
  p.fd = static_cast<int>(handle);
  p.events = POLLIN;
  p.revents = 0;
  poll(&p, 1, timeout_ms);  // EINTR from a stop signal just ends the wait
}
}  // namespace

bool InstallStopSignals(std::atomic<bool>* stop) {
  g_stop = stop;
  struct sigaction sa;
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  return sigaction(SIGINT, &sa, nullptr) == 0 && sigaction(SIGTERM, &sa, nullptr) == 0;
}

int RunServer(GroupServer* server, std::atomic<bool>* stop) {
  while (!stop->load()) {
    WaitReadable(server->handle(), kTickMs);
    server->RunOnce();
  }
  server->BeginShutdown();
  while (!server->ShutdownFinished()) {
    WaitReadable(server->handle(), kTickMs);
    server->RunOnce();
  }
  server->LogStatistics();
  return 0;
}

}  // namespace server
}  // namespace orb
