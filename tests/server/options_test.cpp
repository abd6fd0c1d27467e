#include "options.h"

#include <gtest/gtest.h>

#include <vector>

namespace orb {
namespace server {
namespace {

struct Parsed {
  ParseOutcome outcome;
  ServerOptions options;
  std::string message;
};

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "orbserver");
  Parsed p;
  p.outcome = ParseOptions(static_cast<int>(args.size()), args.data(), &p.options, &p.message);
  return p;
}

TEST(Options, DefaultsListenEverywhereOnTheDocumentedPort) {
  Parsed p = Parse({});
  ASSERT_EQ(p.outcome, ParseOutcome::kRun);
  EXPECT_EQ(p.options.address, "0.0.0.0");
  EXPECT_EQ(p.options.port, kDefaultServerPort);
  EXPECT_NE(HelpText().find("default 0.0.0.0:3669"), std::string::npos);
  EXPECT_EQ(kDefaultServerPort, 3669);
}

TEST(Options, ListenTakesAddressWithOrWithoutPort) {
  Parsed p = Parse({"--listen", "203.0.113.1:4000"});
  ASSERT_EQ(p.outcome, ParseOutcome::kRun);
  EXPECT_EQ(p.options.address, "203.0.113.1");
  EXPECT_EQ(p.options.port, 4000);

  p = Parse({"--listen=198.51.100.7"});
  ASSERT_EQ(p.outcome, ParseOutcome::kRun);
  EXPECT_EQ(p.options.address, "198.51.100.7");
  EXPECT_EQ(p.options.port, kDefaultServerPort);

  p = Parse({"--address", "127.0.0.1", "--port=0"});
  ASSERT_EQ(p.outcome, ParseOutcome::kRun);
  EXPECT_EQ(p.options.address, "127.0.0.1");
  EXPECT_EQ(p.options.port, 0);
}

TEST(Options, LimitsAndLevelsAreRead) {
  Parsed p = Parse({"--max-members", "5000", "--max-groups=10", "--max-group-members", "8",
                    "--relay-rate", "0", "--relay-burst", "7", "--stats-interval", "5",
                    "--shutdown-wait", "100", "--log-level", "debug", "--max-pending", "0",
                    "--max-pending-bytes", "4096", "--max-per-ip", "3", "--max-unproven", "9",
                    "--join-timeout", "0"});
  ASSERT_EQ(p.outcome, ParseOutcome::kRun) << p.message;
  EXPECT_EQ(p.options.max_members, 5000u);
  EXPECT_EQ(p.options.max_groups, 10u);
  EXPECT_EQ(p.options.max_group_members, 8u);
  EXPECT_EQ(p.options.relay_rate, 0u);
  EXPECT_EQ(p.options.relay_burst, 7u);
  EXPECT_EQ(p.options.stats_interval_s, 5u);
  EXPECT_EQ(p.options.shutdown_wait_ms, 100u);
  EXPECT_EQ(p.options.log_level, LogLevel::kDebug);
  EXPECT_EQ(p.options.max_pending, 0u);
  EXPECT_EQ(p.options.max_pending_bytes, 4096u);
  EXPECT_EQ(p.options.max_per_ip, 3u);
  EXPECT_EQ(p.options.max_unproven, 9u);
  EXPECT_EQ(p.options.join_timeout_s, 0u);
}

TEST(Options, HelpWinsWhereverItStands) {
  EXPECT_EQ(Parse({"--help"}).outcome, ParseOutcome::kHelp);
  EXPECT_EQ(Parse({"--port", "1", "-h"}).outcome, ParseOutcome::kHelp);
}

TEST(Options, BadInputGetsAOneLineReason) {
  struct Case {
    std::vector<const char*> args;
    const char* says;
  } cases[] = {
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"--port"}, "--port needs a value"},
      {{"--port", "65536"}, "not a port"},
      {{"--port", "-1"}, "not a port"},
      {{"--port", "80x"}, "not a port"},
      {{"--listen", "example.org:3669"}, "not a dotted IPv4 address"},
      {{"--listen", "203.0.113.1:"}, "not a port"},
      {{"--listen", "203.0.113.1:99999"}, "not a port"},
      {{"--address", "300.1.1.1"}, "not a dotted IPv4 address"},
      {{"--max-members", "0"}, "from 1 to"},
      {{"--max-group-members", "1"}, "from 2 to"},
      {{"--max-per-ip", "0"}, "from 1 to"},
      {{"--max-groups", "99999999999999999999"}, "not a whole number"},
      {{"--log-level", "loud"}, "not one of error, warn, info, debug"},
      {{"--help=yes"}, "takes no value"},
      {{"--max-group-members", "100", "--relay-burst", "50"}, "--relay-burst (50) must be"},
  };
  for (const Case& c : cases) {
    Parsed p = Parse(c.args);
    EXPECT_EQ(p.outcome, ParseOutcome::kError) << c.args[0];
    EXPECT_NE(p.message.find(c.says), std::string::npos) << p.message;
    EXPECT_EQ(p.message.find('\n'), std::string::npos);
  }
}

TEST(Options, ABurstTooSmallForAGroupIsFineWithoutARate) {
  Parsed p = Parse({"--max-group-members", "100", "--relay-burst", "5", "--relay-rate", "0"});
  EXPECT_EQ(p.outcome, ParseOutcome::kRun) << p.message;
}

TEST(Options, AFailedParseLeavesTheOptionsAlone) {
  ServerOptions o;
  o.port = 1234;
  std::string message;
  const char* args[] = {"orbserver", "--port", "4000", "--bogus"};
  EXPECT_EQ(ParseOptions(4, args, &o, &message), ParseOutcome::kError);
  EXPECT_EQ(o.port, 1234);
}

}  // namespace
}  // namespace server
}  // namespace orb
