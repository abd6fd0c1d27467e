// orbserver: the group server. See `orbserver --help`.
#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>


#include "group_server.h"
#include "listen_io.h"
#include "options.h"
#include "run_loop.h"

int main(int argc, char** argv) {
  orb::server::ServerOptions options;
  std::string message;
  switch (orb::server::ParseOptions(argc, argv, &options, &message)) {
    case orb::server::ParseOutcome::kHelp:
      fputs(orb::server::HelpText().c_str(), stdout);
      return 0;
    case orb::server::ParseOutcome::kVersion:
      fputs(orb::server::VersionText().c_str(), stdout);
      return 0;
    case orb::server::ParseOutcome::kError:
      fprintf(stderr, "orbserver: %s\nTry 'orbserver --help'.\n", message.c_str());
      return 2;
    case orb::server::ParseOutcome::kRun:
      break;
  }

  struct in_addr ip;
  inet_pton(AF_INET, options.address.c_str(), &ip);  // checked by ParseOptions
  orb::server::ListenIo io(ip.s_addr);
  orb::server::Logger logger;
  logger.set_level(options.log_level);
  orb::server::GroupServer server(options, &logger, nullptr, &io);
  server.set_after_pass([&io] { io.Flush(); });
  std::string error;
  if (!server.Start(&error)) {
    fprintf(stderr, "orbserver: cannot listen on %s:%u: %s\n", options.address.c_str(),
            options.port, io.last_open_error() ? strerror(io.last_open_error()) : error.c_str());
    return 1;
  }
  orb::server::SignalCounts signals;
  if (!orb::server::InstallSignals(&signals)) {
    fprintf(stderr, "orbserver: cannot install signal handlers\n");
    return 1;
  }
  int status = orb::server::RunServer(&server, &signals);
  logger.Log(orb::server::LogLevel::kInfo, "orbserver stopped");
  return status;
}
