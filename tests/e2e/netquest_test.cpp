// NetQuest's rules: its messages, what it does with each datagram it hears, its flags.
#include <gtest/gtest.h>

#include <string>

#include "lan_game.h"
#include "message.h"
#include "options.h"

namespace netquest {
namespace {

Message Hello(uint32_t id, uint32_t seq, uint64_t t, const std::string& name) {
  Message m;
  m.kind = MessageKind::kHello;
  m.id = id;
  m.seq = seq;
  m.sent_us = t;
  m.name = name;
  return m;
}

bool DecodeText(const std::string& text, Message* m) { return Decode(text.data(), text.size(), m); }

TEST(NetQuestMessage, RoundTripsBothKinds) {
  Message reply = Hello(0xdeadbeef, 4294967295u, 18446744073709551615ull, "bob");
  reply.kind = MessageKind::kReply;
  reply.to = 0x00000001;
  Message out;
  ASSERT_TRUE(DecodeText(Encode(reply), &out));
  EXPECT_EQ(out.kind, MessageKind::kReply);
  EXPECT_EQ(out.id, 0xdeadbeefu);
  EXPECT_EQ(out.seq, 4294967295u);
  EXPECT_EQ(out.sent_us, 18446744073709551615ull);
  EXPECT_EQ(out.name, "bob");
  EXPECT_EQ(out.to, 1u);

  EXPECT_EQ(Encode(Hello(0x1a2b3c4d, 7, 1733650000123456ull, "alice")),
            "NETQUEST/1 HELLO id=1a2b3c4d seq=7 t=1733650000123456 name=alice");
}

TEST(NetQuestMessage, NamesAreOneCleanBoundedToken) {
  EXPECT_EQ(CleanName("Big Al=1\x01"), "Big_Al_1_");
  EXPECT_EQ(CleanName(""), "player");
  std::string longest(200, 'x');
  std::string text = Encode(Hello(1, 1, 1, longest));
  EXPECT_LE(text.size(), kMaxMessageBytes);
  Message out;
  ASSERT_TRUE(DecodeText(text, &out));
  EXPECT_EQ(out.name, std::string(kMaxNameLength, 'x'));
}

TEST(NetQuestMessage, RefusesAnythingMalformed) {
  const char* bad[] = {
      "",
      "NETQUEST/1",
      "NETQUEST/2 HELLO id=1 seq=1 t=1 name=a",
      "NETQUEST/1 HOWDY id=1 seq=1 t=1 name=a",
      "NETQUEST/1 HELLO seq=1 t=1 name=a",                      // no id
      "NETQUEST/1 HELLO id=1 seq=1 t=1",                        // no name
      "NETQUEST/1 HELLO id=1 seq=1 t=1 name=",                  // empty name
      "NETQUEST/1 HELLO id=1 id=2 seq=1 t=1 name=a",            // repeated field
      "NETQUEST/1 HELLO id=1 seq=-1 t=1 name=a",
      "NETQUEST/1 HELLO id=1 seq=4294967296 t=1 name=a",        // seq beyond 32 bits
      "NETQUEST/1 HELLO id=1ffffffff seq=1 t=1 name=a",         // id beyond 32 bits
      "NETQUEST/1 HELLO id=xyz seq=1 t=1 name=a",
      "NETQUEST/1 HELLO id=1 seq=1 t=1 name=a to=2",            // to only in a REPLY
      "NETQUEST/1 REPLY id=1 seq=1 t=1 name=a",                 // REPLY without to
      "NETQUEST/1 HELLO id=1 seq=1 t=1 name=a extra",
      "NETQUEST/1 HELLO id=1  seq=1 t=1 name=a",                // empty field
  };
  for (const char* text : bad) {
    Message m;
    EXPECT_FALSE(DecodeText(text, &m)) << text;
  }
  std::string with_zero("NETQUEST/1 HELLO id=1 seq=1 t=1 name=a\0b", 40);
  Message m;
  EXPECT_FALSE(DecodeText(with_zero, &m));
  EXPECT_FALSE(Decode(nullptr, 5, &m));
  std::string huge(kMaxMessageBytes + 1, 'N');
  EXPECT_FALSE(DecodeText(huge, &m));
}

TEST(NetQuestMessage, ArbitraryBytesNeverCrash) {
  // Whatever lands on the game's port: a link header that was not unwrapped, noise.
  unsigned char link[] = {0xF9, 0xF9, 0xF9, 0xF9, 0x54, 0x0E, 0, 0, 127, 0, 0, 1, 'N', 'E'};
  Message m;
  EXPECT_FALSE(Decode(link, sizeof link, &m));
  uint32_t state = 12345;
  for (int round = 0; round < 2000; ++round) {
    unsigned char buf[kMaxMessageBytes];
    std::string base = Encode(Hello(round, round, round, "p"));
    size_t n = base.size();
    for (size_t i = 0; i < n; ++i) buf[i] = static_cast<unsigned char>(base[i]);
    state = state * 1103515245u + 12345u;
    buf[(state >> 8) % n] = static_cast<unsigned char>(state >> 16);
    Decode(buf, n - (state >> 24) % 3, &m);  // must simply return
  }
}

class LanGameTest : public ::testing::Test {
 protected:
  LanGame alice{0xA11CE, "alice"};
  LanGame bob{0xB0B, "bob"};
};

TEST_F(LanGameTest, HelloIsAnsweredToItsSourceAndEachPeerListedOnce) {
  std::string hello = alice.MakeHello(1000);
  Reaction r = bob.OnDatagram(Transport::kUdp, "203.0.113.10:26900", hello.data(), hello.size(), 21000);
  ASSERT_EQ(r.events.size(), 2u);
  EXPECT_EQ(r.events[0].kind, EventKind::kPeer);
  EXPECT_EQ(r.events[1].kind, EventKind::kHello);
  EXPECT_EQ(r.events[1].from, "203.0.113.10:26900");
  EXPECT_EQ(r.events[1].name, "alice");
  EXPECT_EQ(r.events[1].latency_us, 20000);
  ASSERT_TRUE(r.reply);

  // The same peer again: a hello, but no second "peer".
  hello = alice.MakeHello(2000);
  r = bob.OnDatagram(Transport::kUdp, "203.0.113.10:26900", hello.data(), hello.size(), 2500);
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].seq, 2u);
  EXPECT_EQ(bob.Peers(Transport::kUdp).size(), 1u);
  EXPECT_EQ(bob.Peers(Transport::kUdp).at(0xA11CE).hellos, 2u);
  EXPECT_EQ(bob.Peers(Transport::kUdp).at(0xA11CE).from, "203.0.113.10:26900");
  // The same game heard over IPX is a peer of that transport of its own.
  EXPECT_TRUE(bob.Peers(Transport::kIpx).empty());

  // Bob's reply reaches alice and counts as an answer to her.
  Reaction back = alice.OnDatagram(Transport::kUdp, "203.0.113.11:26900", r.reply_bytes.data(),
                                   r.reply_bytes.size(), 3000);
  ASSERT_EQ(back.events.size(), 2u);
  EXPECT_EQ(back.events[1].kind, EventKind::kReply);
  EXPECT_EQ(back.events[1].seq, 2u);
  EXPECT_EQ(back.events[1].latency_us, 500);
  EXPECT_FALSE(back.reply) << "a reply is never answered, or two games would ping-pong";
  EXPECT_EQ(alice.PeersBothWays(Transport::kUdp), 0u) << "bob has not announced himself to alice";
  std::string bob_hello = bob.MakeHello(3100);
  alice.OnDatagram(Transport::kUdp, "203.0.113.11:26900", bob_hello.data(), bob_hello.size(), 3200);
  EXPECT_EQ(alice.PeersBothWays(Transport::kUdp), 1u);
}

// A game that asks from one socket and answers from another (a server bound to its
// well-known port, a client on an ephemeral one) is one peer, found both ways.
TEST_F(LanGameTest, AskingAndAnsweringFromTwoPortsIsOnePeer) {
  std::string hello = alice.MakeHello(1);
  Reaction r = bob.OnDatagram(Transport::kIpx, "00000000:0000CB00710B:C350", hello.data(), hello.size(), 2);
  ASSERT_TRUE(r.reply);
  std::string bob_hello = bob.MakeHello(3);
  r = alice.OnDatagram(Transport::kIpx, "00000000:0000CB00710C:4E51", bob_hello.data(), bob_hello.size(), 4);
  ASSERT_TRUE(r.reply);
  // Bob's answer to alice's question comes to her asking socket from his server's port.
  Reaction back = bob.OnDatagram(Transport::kIpx, "00000000:0000CB00710B:4E51", r.reply_bytes.data(),
                                 r.reply_bytes.size(), 5);
  ASSERT_EQ(back.events.size(), 1u) << "a second port of a known game is no new peer";
  EXPECT_EQ(back.events[0].kind, EventKind::kReply);
  EXPECT_EQ(bob.PeersBothWays(Transport::kIpx), 1u);
  EXPECT_EQ(bob.Peers(Transport::kIpx).size(), 1u);
}

TEST_F(LanGameTest, OwnBroadcastIsAnEchoNotAPeer) {
  std::string hello = alice.MakeHello(1);
  Reaction r = alice.OnDatagram(Transport::kUdp, "203.0.113.10:26900", hello.data(), hello.size(), 2);
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].kind, EventKind::kEcho);
  EXPECT_FALSE(r.reply);
  EXPECT_TRUE(alice.Peers(Transport::kUdp).empty());
}

TEST_F(LanGameTest, ForeignTrafficAndOtherGamesRepliesAreJunk) {
  const char noise[] = "\xF9\xF9\xF9\xF9 not for us";
  Reaction r = alice.OnDatagram(Transport::kIpx, "00000000:00007F000001:0E54", noise, sizeof noise - 1, 5);
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].kind, EventKind::kJunk);
  EXPECT_EQ(r.events[0].bytes, sizeof noise - 1);

  Message reply = Hello(0xB0B, 1, 1, "bob");
  reply.kind = MessageKind::kReply;
  reply.to = 0xC0FFEE;  // answers somebody else's hello
  std::string text = Encode(reply);
  r = alice.OnDatagram(Transport::kUdp, "203.0.113.11:26900", text.data(), text.size(), 5);
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].kind, EventKind::kJunk);
  EXPECT_TRUE(alice.Peers(Transport::kUdp).empty());
}

TEST_F(LanGameTest, MachineLinesCarryEveryField) {
  std::string hello = alice.MakeHello(100);
  Reaction r = bob.OnDatagram(Transport::kIpx, "00000000:0000CB00710A:4E51", hello.data(), hello.size(), 350);
  EXPECT_EQ(FormatEvent(r.events[0], true),
            "NQ peer transport=ipx from=00000000:0000CB00710A:4E51 name=alice");
  EXPECT_EQ(FormatEvent(r.events[1], true),
            "NQ hello transport=ipx from=00000000:0000CB00710A:4E51 name=alice seq=1 latency_us=250 bytes=" +
                std::to_string(hello.size()));
  EXPECT_EQ(FormatEvent(r.events[0], false), "[ipx] new player alice at 00000000:0000CB00710A:4E51");
}

TEST(NetQuestOptions, DefaultsAndEveryFlag) {
  Options o;
  std::string error;
  const char* none[] = {"netquest"};
  ASSERT_EQ(ParseOptions(1, none, &o, &error), ParseResult::kRun);
  EXPECT_TRUE(o.udp && o.ipx);
  EXPECT_EQ(o.udp_port, kDefaultUdpPort);
  EXPECT_EQ(o.duration_s, 0u);
  EXPECT_FALSE(o.bind_own_address || o.ask_from_ephemeral);

  const char* all[] = {"netquest", "--name", "alice", "--transport", "ipx", "--duration", "12",
                       "--interval", "10", "--udp-port", "300", "--ipx-socket", "0x869c",
                       "--machine", "--expect", "1", "--until-found", "--exit-code", "7",
                       "--bind-own-address", "--ask-from-ephemeral", "--tcp-port", "2300"};
  ASSERT_EQ(ParseOptions(23, all, &o, &error), ParseResult::kRun) << error;
  EXPECT_TRUE(o.bind_own_address && o.ask_from_ephemeral);
  EXPECT_EQ(o.name, "alice");
  EXPECT_FALSE(o.udp);
  EXPECT_TRUE(o.ipx);
  EXPECT_EQ(o.duration_s, 12u);
  EXPECT_EQ(o.interval_ms, 10u);
  EXPECT_EQ(o.udp_port, 300);
  EXPECT_EQ(o.ipx_socket, 0x869C);
  EXPECT_TRUE(o.machine && o.until_found);
  EXPECT_EQ(o.expect, 1u);
  EXPECT_EQ(o.exit_code, 7);
  EXPECT_EQ(o.tcp_port, 2300);
}

TEST(NetQuestOptions, BadValuesAreRefusedWithTheFlagNamed) {
  struct Case { std::vector<const char*> args; const char* mentions; } cases[] = {
      {{"--transport", "spx"}, "--transport"},
      {{"--duration", "-1"}, "--duration"},
      {{"--duration", "86401"}, "--duration"},
      {{"--interval", "0"}, "--interval"},
      {{"--udp-port", "65536"}, "--udp-port"},
      {{"--udp-port", "12abc"}, "--udp-port"},
      {{"--ipx-socket", "0"}, "--ipx-socket"},
      {{"--ipx-socket", "10000"}, "--ipx-socket"},
      {{"--name"}, "--name"},
      {{"--name", ""}, "--name"},
      {{"--exit-code", "256"}, "--exit-code"},
      {{"--tcp-port", "0"}, "--tcp-port"},
      {{"--until-found"}, "--expect"},
      {{"--colour"}, "--colour"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"netquest"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Options o;
    o.name = "unchanged";
    std::string error;
    EXPECT_EQ(ParseOptions(static_cast<int>(argv.size()), argv.data(), &o, &error), ParseResult::kError)
        << c.mentions;
    EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
    EXPECT_EQ(o.name, "unchanged") << "a refused command line changes nothing";
  }
}

}  // namespace
}  // namespace netquest
