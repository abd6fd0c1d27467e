// The shim's datagram paths under Wine, on real sockets. This program plays both ends: the
// game, through the shim's exports, and the session library, with a real socket bound to
// 127.0.0.1:3668 (the test runs in a network namespace of its own, so the port is free).
//
//   paths_wine_test.exe --shim-as NAME [gtest flags]
//
// copies orbws.dll from the working directory to NAME (e.g. "wsock32.dll", or
// "ws2\ws2_32.dll" to stand in for the Winsock 2 library) and loads it from there.
#include "paths_wine_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link.h"

namespace {

const char kLoopback[] = "127.0.0.1";
const char kHere[] = "203.0.113.5";  // the namespace's own address
const int kWait = 2000;              // ms for a datagram that must arrive
const int kQuiet = 200;              // ms for one that must not

std::vector<uint8_t> Payload(int n, uint8_t first = 0x41) {
  std::vector<uint8_t> p(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) p[static_cast<size_t>(i)] = static_cast<uint8_t>(first + i);
  return p;
}

// A link datagram as a remote session library hands it to this machine's shim.
std::vector<uint8_t> LinkDatagram(u_short port, const char* address, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> d(LINK_HEADER_SIZE + payload.size());
  LinkWrap(d.data(), d.size(), port, inet_addr(address), payload.data(), payload.size());
  return d;
}

SOCKADDR_IPX IpxDest(std::initializer_list<uint8_t> node, uint8_t sock0, uint8_t sock1) {
  SOCKADDR_IPX a = {};
  a.sa_family = AF_IPX;
  a.sa_netnum[0] = 0x12;  // never matters
  std::copy(node.begin(), node.end(), reinterpret_cast<uint8_t*>(a.sa_nodenum));
  reinterpret_cast<uint8_t*>(&a.sa_socket)[0] = sock0;
  reinterpret_cast<uint8_t*>(&a.sa_socket)[1] = sock1;
  return a;
}

const uint8_t* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }

class Paths : public ::testing::Test {
 protected:
  Paths() : trace_(Shim().module) {}

  void SetUp() override {
    launcher_.reset(RealUdp(kLoopback, LINK_PORT));
    ASSERT_NE(launcher_.get(), INVALID_SOCKET) << "port 3668 is taken: " << WSAGetLastError();
    trace_.Mark();
  }

  void TearDown() override {
    for (SOCKET s : game_) Shim().closesocket(s);
  }

  // A game UDP socket made through the shim, bound to every address on a free port.
  SOCKET GameUdp() {
    SOCKET s = Shim().socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_NE(s, INVALID_SOCKET);
    sockaddr_in any = Inet("0.0.0.0", 0);
    EXPECT_EQ(Shim().bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    game_.push_back(s);
    return s;
  }

  // A game IPX socket (UDP underneath), bound with socket number 0: a free port.
  SOCKET GameIpx() {
    SOCKET s = Shim().socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    EXPECT_NE(s, INVALID_SOCKET);
    SOCKADDR_IPX any = {};
    any.sa_family = AF_IPX;
    EXPECT_EQ(Shim().bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    game_.push_back(s);
    return s;
  }

  // The next datagram on the launcher's socket within ms, with its source; socket notices
  // are set aside into notices_ (a session library that knows only link datagrams drops them).
  std::vector<uint8_t> NextAtLauncher(int ms, sockaddr_in* from) {
    for (;;) {
      std::vector<uint8_t> d;
      if (!Readable(launcher_.get(), ms)) return d;
      char buf[4096];
      sockaddr_in src = {};
      int len = sizeof src;
      const int r = ::recvfrom(launcher_.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&src), &len);
      if (r < 0) return d;
      LinkNotice notice;
      if (LinkParseNotice(buf, static_cast<size_t>(r), &notice)) {
        notices_.push_back(notice);
        continue;
      }
      d.assign(buf, buf + r);
      if (from) *from = src;
      return d;
    }
  }
  std::vector<uint8_t> AtLauncher(sockaddr_in* from = nullptr) { return NextAtLauncher(kWait, from); }
  bool LauncherQuiet() { return NextAtLauncher(kQuiet, nullptr).empty(); }

  // The notices the shim sent since the last call (waiting a moment for stragglers).
  std::vector<LinkNotice> TakeNotices() {
    const bool quiet = LauncherQuiet();
    EXPECT_TRUE(quiet) << "a datagram other than a notice reached the launcher";
    std::vector<LinkNotice> n;
    n.swap(notices_);
    return n;
  }

  // Sends from the launcher's socket (source 127.0.0.1:3668) to the game's port.
  void FromLauncher(SOCKET game, const std::vector<uint8_t>& d) {
    sockaddr_in to = Inet(kLoopback, LocalPort(game));
    ASSERT_EQ(::sendto(launcher_.get(), reinterpret_cast<const char*>(d.data()), static_cast<int>(d.size()), 0,
                       reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<int>(d.size()));
    ASSERT_TRUE(Readable(game, kWait));
  }

  std::vector<TraceLine> Lines() const { return trace_.Since(); }
  std::string Tagged(const std::string& text) const { return "[" + Shim().module + "] " + text; }

  RealSocket launcher_;
  std::vector<SOCKET> game_;
  std::vector<LinkNotice> notices_;
  Trace trace_;
};

// ---- outbound ----------------------------------------------------------------------------

TEST_F(Paths, TcpipBroadcastIsWrappedAndSentToTheLauncher) {
  SOCKET g = GameUdp();
  RealSocket lan(RealUdp("0.0.0.0", 300));  // would see the broadcast if it reached the network
  const std::vector<uint8_t> p = Payload(20);
  sockaddr_in all = Inet("255.255.255.255", 300);
  ASSERT_EQ(Shim().sendto(g, reinterpret_cast<const char*>(p.data()), 20, 0, reinterpret_cast<sockaddr*>(&all),
                          sizeof all),
            20);

  sockaddr_in from = {};
  const std::vector<uint8_t> d = AtLauncher(&from);
  ASSERT_EQ(d.size(), 32u);
  const uint8_t head[] = {0xF9, 0xF9, 0xF9, 0xF9, 0x2C, 0x01};
  EXPECT_EQ(memcmp(d.data(), head, 6), 0);
  const uint8_t loop[] = {0x7F, 0x00, 0x00, 0x01};
  EXPECT_EQ(memcmp(d.data() + 8, loop, 4), 0);
  EXPECT_EQ(memcmp(d.data() + 12, p.data(), 20), 0);
  // Sent from the game's own socket.
  EXPECT_EQ(ntohs(from.sin_port), LocalPort(g));
  EXPECT_FALSE(Readable(lan.get(), kQuiet)) << "the broadcast reached the network";

  const std::vector<TraceLine> lines = Lines();
  for (const char* text : {"This is a LAN broadcast udp request from the game",
                           "mp_sendto() - sending message to the launcher of size 32(12 header/20 buffer)",
                           "BROADCASTING (TCPIP) OVER VIRTUAL LAN", "sendto() Launcher - returned 32",
                           "mp_sendto() - lp_sendto() returned 20"}) {
    EXPECT_EQ(CountText(lines, Tagged(text)), 1) << text << "\n" << Dump(lines);
  }
  EXPECT_EQ(CountText(lines, "dump of 20 bytes"), 1) << Dump(lines);
}

TEST_F(Paths, EmptyBroadcastIsAHeaderOnly) {
  SOCKET g = GameUdp();
  sockaddr_in all = Inet("255.255.255.255", 4000);
  ASSERT_EQ(Shim().sendto(g, "", 0, 0, reinterpret_cast<sockaddr*>(&all), sizeof all), 0);
  const std::vector<uint8_t> d = AtLauncher();
  ASSERT_EQ(d.size(), 12u);
  EXPECT_EQ(LinkGetPort(d.data()), 4000);
}

TEST_F(Paths, BroadcastsAtAndPastTheLimit) {
  SOCKET g = GameUdp();
  sockaddr_in all = Inet("255.255.255.255", 300);
  const std::vector<uint8_t> big = Payload(2049);
  EXPECT_EQ(Shim().sendto(g, reinterpret_cast<const char*>(big.data()), 2048, 0, reinterpret_cast<sockaddr*>(&all),
                          sizeof all),
            2048);
  EXPECT_EQ(AtLauncher().size(), 2060u);

  trace_.Mark();
  EXPECT_EQ(Shim().sendto(g, reinterpret_cast<const char*>(big.data()), 2049, 0, reinterpret_cast<sockaddr*>(&all),
                          sizeof all),
            SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEMSGSIZE);
  EXPECT_TRUE(LauncherQuiet());
  const std::vector<TraceLine> lines = Lines();
  const TraceLine* refusal =
      FindText(lines, Tagged("mp_sendto() - broadcast of 2049 bytes refused: a link datagram carries at most 2048"));
  ASSERT_NE(refusal, nullptr) << Dump(lines);
  EXPECT_EQ(refusal->level, 500);
  EXPECT_EQ(CountText(lines, Tagged("sendto error = 10040")), 1) << Dump(lines);
}

TEST_F(Paths, SubnetBroadcastGoesToTheNetworkUnchanged) {
  SOCKET g = GameUdp();
  BOOL on = TRUE;
  ASSERT_EQ(Shim().setsockopt(g, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on), 0);
  RealSocket lan(RealUdp("0.0.0.0", 0));
  const std::vector<uint8_t> p = Payload(20);
  sockaddr_in subnet = Inet("203.0.113.255", LocalPort(lan.get()));
  ASSERT_EQ(Shim().sendto(g, reinterpret_cast<const char*>(p.data()), 20, 0, reinterpret_cast<sockaddr*>(&subnet),
                          sizeof subnet),
            20);
  EXPECT_TRUE(LauncherQuiet());
  ASSERT_TRUE(Readable(lan.get(), kWait)) << "the subnet broadcast did not come back to this machine";
  char buf[64];
  EXPECT_EQ(::recv(lan.get(), buf, sizeof buf, 0), 20);
  EXPECT_EQ(memcmp(buf, p.data(), 20), 0);
}

TEST_F(Paths, TcpipShortDestinationIsLeftToTheRealLibrary) {
  SOCKET g = GameUdp();
  sockaddr_in all = Inet("255.255.255.255", 300);
  EXPECT_EQ(Shim().sendto(g, "abc", 3, 0, reinterpret_cast<sockaddr*>(&all), 8), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  EXPECT_TRUE(LauncherQuiet());
}

TEST_F(Paths, IpxBroadcastCarriesTheSocketBytesAsStored) {
  SOCKET g = GameIpx();
  SOCKADDR_IPX bc = IpxDest({0xFF, 0xFF, 0x01, 0x02, 0x03, 0x04}, 0x34, 0x12);
  const std::vector<uint8_t> p = Payload(7);
  ASSERT_EQ(Shim().sendto(g, reinterpret_cast<const char*>(p.data()), 7, 0, reinterpret_cast<sockaddr*>(&bc),
                          sizeof bc),
            7);
  const std::vector<uint8_t> d = AtLauncher();
  ASSERT_EQ(d.size(), 19u);
  EXPECT_EQ(d[4], 0x34);
  EXPECT_EQ(d[5], 0x12);
  EXPECT_EQ(LinkGetAddress(d.data()), inet_addr(kLoopback));
  EXPECT_EQ(memcmp(d.data() + 12, p.data(), 7), 0);
  const std::vector<TraceLine> lines = Lines();
  EXPECT_EQ(CountText(lines, Tagged("BROADCASTING OVER VIRTUAL LAN")), 1) << Dump(lines);
  EXPECT_EQ(CountText(lines, Tagged("mp_sendto() - sa_nodenum[6] = FF FF 01 02 03 04")), 1) << Dump(lines);
}

TEST_F(Paths, DirectIpxSendReachesTheConvertedAddressAndPort) {
  SOCKET g = GameIpx();
  for (const char* host : {kLoopback, kHere}) {
    RealSocket peer(RealUdp(host, 0));
    const u_short port = LocalPort(peer.get());
    const unsigned long a = inet_addr(host);
    const uint8_t* o = Bytes(&a);
    SOCKADDR_IPX to = IpxDest({0x00, 0x00, o[0], o[1], o[2], o[3]}, static_cast<uint8_t>(port & 0xFF),
                              static_cast<uint8_t>(port >> 8));
    const std::vector<uint8_t> p = Payload(9);
    ASSERT_EQ(Shim().sendto(g, reinterpret_cast<const char*>(p.data()), 9, 0, reinterpret_cast<sockaddr*>(&to),
                            sizeof to),
              9)
        << host;
    ASSERT_TRUE(Readable(peer.get(), kWait)) << host;
    char buf[64];
    EXPECT_EQ(::recv(peer.get(), buf, sizeof buf, 0), 9);
    EXPECT_EQ(memcmp(buf, p.data(), 9), 0);
  }
  EXPECT_TRUE(LauncherQuiet());

  const std::vector<TraceLine> lines = Lines();
  const TraceLine* ipx = FindText(
      lines, Tagged("mp_sendto() - IPX - We need to broadcast this message to everone in our virtual IPX LAN list via TCPIP"));
  ASSERT_NE(ipx, nullptr) << Dump(lines);
  EXPECT_EQ(ipx->level, 1000);
  EXPECT_EQ(CountText(lines, Tagged("mp_sendto() - to ip addres = 127.0.0.1 (16777343)")), 1) << Dump(lines);
  EXPECT_EQ(CountText(lines, "dump of 9 bytes"), 2) << Dump(lines);
}

TEST_F(Paths, DirectIpxSendTracesTheConvertedDestination) {
  SOCKET g = GameIpx();
  RealSocket peer(RealUdp(kLoopback, 0));
  const u_short port = LocalPort(peer.get());
  SOCKADDR_IPX to = IpxDest({0x00, 0x00, 0x7F, 0x00, 0x00, 0x01}, static_cast<uint8_t>(port & 0xFF),
                            static_cast<uint8_t>(port >> 8));
  trace_.Mark();
  ASSERT_EQ(Shim().sendto(g, "abc", 3, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 3);
  const std::vector<TraceLine> lines = Lines();
  const std::string p = std::to_string(port);
  EXPECT_EQ(CountText(lines, Tagged("mp_sendto() - we are sending this packet directly to 127.0.0.1 on our lan "
                                    "listening to port " + p)),
            1)
      << Dump(lines);
  EXPECT_EQ(CountText(lines, Tagged("mp_sendto() - (converted).sin_port = " + p)), 1) << Dump(lines);
  EXPECT_EQ(CountText(lines, Tagged("mp_sendto() -  sa_netnum[4] = 12 00 00 00")), 1) << Dump(lines);
  EXPECT_EQ(CountText(lines, Tagged("mp_sendto() -     sa_socket = " + p)), 1) << Dump(lines);
}

TEST_F(Paths, IpxMissingOrShortDestinationIsAFault) {
  SOCKET g = GameIpx();
  SOCKADDR_IPX bc = IpxDest({0xFF, 0xFF, 0, 0, 0, 0}, 0x2C, 0x01);
  EXPECT_EQ(Shim().sendto(g, "abc", 3, 0, nullptr, sizeof bc), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  EXPECT_EQ(Shim().sendto(g, "abc", 3, 0, reinterpret_cast<sockaddr*>(&bc), 13), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  EXPECT_TRUE(LauncherQuiet());
}

TEST_F(Paths, SendPassesThroughAndDumpsOnlyWhatWasSent) {
  SOCKET g = GameUdp();
  RealSocket peer(RealUdp(kLoopback, 0));
  sockaddr_in to = Inet(kLoopback, LocalPort(peer.get()));
  ASSERT_EQ(Shim().connect(g, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  trace_.Mark();
  EXPECT_EQ(Shim().send(g, "hello", 5, 0), 5);
  ASSERT_TRUE(Readable(peer.get(), kWait));
  EXPECT_EQ(Shim().send(g, "", 0, 0), 0);
  const std::vector<TraceLine> lines = Lines();
  EXPECT_EQ(CountText(lines, "dump of 5 bytes"), 1) << Dump(lines);
  EXPECT_EQ(CountText(lines, "dump of 0 bytes"), 0) << Dump(lines);
}

// A datagram socket connected to a broadcast destination sends through the link (send, and
// sendto without a destination), names that destination as its peer, and hears the relayed
// broadcasts for its port, which a socket really connected there would filter out.
TEST_F(Paths, SocketConnectedToABroadcastUsesTheLink) {
  for (bool ipx : {false, true}) {
    SOCKET g = ipx ? Shim().socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX) : Shim().socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(g, INVALID_SOCKET);
    game_.push_back(g);
    RealSocket lan(RealUdp("0.0.0.0", 4000));  // would see the broadcast if it reached the network
    sockaddr_in all = Inet("255.255.255.255", 4000);
    SOCKADDR_IPX bc = IpxDest({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xA0, 0x0F);  // socket 4000
    const sockaddr* to = ipx ? reinterpret_cast<sockaddr*>(&bc) : reinterpret_cast<sockaddr*>(&all);
    const int tolen = ipx ? sizeof bc : sizeof all;
    ASSERT_EQ(Shim().connect(g, to, tolen), 0) << ipx;
    // Bound as a real connect would bind it, and announced.
    const std::vector<LinkNotice> notices = TakeNotices();
    ASSERT_EQ(notices.size(), 1u) << ipx;
    EXPECT_EQ(notices[0].kind, kNoticeBound);
    EXPECT_EQ(notices[0].port, LocalPort(g));

    unsigned char peer[16] = {};
    int peerlen = sizeof peer;
    ASSERT_EQ(Shim().getpeername(g, reinterpret_cast<sockaddr*>(peer), &peerlen), 0);
    EXPECT_EQ(peerlen, tolen);
    EXPECT_EQ(memcmp(peer, to, tolen), 0);

    ASSERT_EQ(Shim().send(g, "hello", 5, 0), 5) << ipx;
    ASSERT_EQ(Shim().sendto(g, "again", 5, 0, nullptr, 0), 5) << ipx;
    for (const char* text : {"hello", "again"}) {
      sockaddr_in from = {};
      const std::vector<uint8_t> d = AtLauncher(&from);
      ASSERT_EQ(d.size(), 17u) << text;
      EXPECT_EQ(LinkGetPort(d.data()), 4000);
      EXPECT_EQ(memcmp(d.data() + 12, text, 5), 0);
      EXPECT_EQ(ntohs(from.sin_port), LocalPort(g)) << "sent from the game's own socket";
    }
    EXPECT_FALSE(Readable(lan.get(), kQuiet)) << "the broadcast reached the network";

    const std::vector<uint8_t> p = Payload(9);
    FromLauncher(g, LinkDatagram(4000, "203.0.113.5", p));
    char buf[64];
    ASSERT_EQ(Shim().recv(g, buf, sizeof buf, 0), 9) << ipx;
    EXPECT_EQ(memcmp(buf, p.data(), 9), 0);
  }
}

// The shim tells the session library of every datagram socket it binds and closes, with the
// address and port it is bound to; a stream socket is none of its business.
TEST_F(Paths, BindAndCloseOfDatagramSocketsAreAnnounced) {
  struct Case {
    int family;
    int type;
    int protocol;
    const char* address;  // for AF_INET
    bool announced;
  } cases[] = {{AF_INET, SOCK_DGRAM, 0, "0.0.0.0", true},
               {AF_INET, SOCK_DGRAM, 0, kHere, true},
               {AF_INET, SOCK_DGRAM, 0, kLoopback, true},
               {AF_IPX, SOCK_DGRAM, NSPROTO_IPX, nullptr, true},
               {AF_INET, SOCK_STREAM, 0, "0.0.0.0", false},
               {AF_IPX, SOCK_SEQPACKET, NSPROTO_SPX, nullptr, false}};
  for (const Case& c : cases) {
    SOCKET g = Shim().socket(c.family, c.type, c.protocol);
    ASSERT_NE(g, INVALID_SOCKET);
    sockaddr_in in = Inet(c.address ? c.address : "0.0.0.0", 0);
    SOCKADDR_IPX ipx = {};
    ipx.sa_family = AF_IPX;
    const int r = c.family == AF_IPX ? Shim().bind(g, reinterpret_cast<sockaddr*>(&ipx), sizeof ipx)
                                     : Shim().bind(g, reinterpret_cast<sockaddr*>(&in), sizeof in);
    ASSERT_EQ(r, 0);
    const u_short port = LocalPort(g);
    std::vector<LinkNotice> n = TakeNotices();
    ASSERT_EQ(n.size(), c.announced ? 1u : 0u) << (c.address ? c.address : "ipx") << " " << c.type;
    if (c.announced) {
      EXPECT_EQ(n[0].kind, kNoticeBound);
      EXPECT_EQ(n[0].port, port);
      EXPECT_EQ(n[0].address_net, in.sin_addr.s_addr);
    }
    ASSERT_EQ(Shim().closesocket(g), 0);
    n = TakeNotices();
    ASSERT_EQ(n.size(), c.announced ? 1u : 0u);
    if (c.announced) {
      EXPECT_EQ(n[0].kind, kNoticeClosed);
      EXPECT_EQ(n[0].port, port);
      EXPECT_EQ(n[0].address_net, in.sin_addr.s_addr);
    }
  }
}

// ---- inbound -----------------------------------------------------------------------------

TEST_F(Paths, LinkDatagramOnTcpipSocketComesFromTheRemotePlayer) {
  SOCKET g = GameUdp();
  const std::vector<uint8_t> p = Payload(20);
  FromLauncher(g, LinkDatagram(300, "203.0.113.5", p));
  trace_.Mark();
  char buf[64];
  sockaddr_in from = {};
  int fromlen = sizeof from;
  ASSERT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), 20);
  EXPECT_EQ(memcmp(buf, p.data(), 20), 0);
  EXPECT_EQ(from.sin_family, AF_INET);
  EXPECT_EQ(from.sin_addr.s_addr, inet_addr("203.0.113.5"));
  EXPECT_EQ(ntohs(from.sin_port), 300);
  EXPECT_EQ(fromlen, 16);

  const std::vector<TraceLine> lines = Lines();
  EXPECT_EQ(CountText(lines, Tagged("mp_recvfrom() - broadcast message is now converted")), 1) << Dump(lines);
  // On the TCP/IP path the size line is written raw, without the module prefix.
  EXPECT_EQ(CountText(lines, "mp_recvfrom() - message from the launcher is of size 32(12 header/20 buffer)"), 1)
      << Dump(lines);
  EXPECT_EQ(CountText(lines, "dump of 20 bytes"), 1) << Dump(lines);
}

TEST_F(Paths, LinkDatagramOnIpxSocketComesFromTheRemotePlayersIpxAddress) {
  SOCKET g = GameIpx();
  const std::vector<uint8_t> p = Payload(20);
  FromLauncher(g, LinkDatagram(300, "203.0.113.5", p));
  trace_.Mark();
  char buf[64];
  SOCKADDR_IPX from;
  memset(&from, 0xEE, sizeof from);
  int fromlen = sizeof from;
  ASSERT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), 20);
  EXPECT_EQ(memcmp(buf, p.data(), 20), 0);
  const uint8_t want[14] = {6, 0, 0, 0, 0, 0, 0x00, 0x00, 0xCB, 0x00, 0x71, 0x05, 0x2C, 0x01};
  EXPECT_EQ(memcmp(&from, want, 14), 0);
  EXPECT_EQ(fromlen, 14);

  const std::vector<TraceLine> lines = Lines();
  // On the IPX path the size line carries the module prefix.
  EXPECT_EQ(CountText(lines, Tagged("mp_recvfrom() - message from the launcher is of size 32(12 header/20 buffer)")),
            1)
      << Dump(lines);
  EXPECT_EQ(CountText(lines, Tagged("mp_recvfrom() - address = 203.0.113.5")), 1) << Dump(lines);
  EXPECT_EQ(CountText(lines, Tagged("mp_recvfrom() - sa_socket = 300")), 1) << Dump(lines);
}

TEST_F(Paths, IpxSocketGivesEverySourceInIpxForm) {
  SOCKET g = GameIpx();
  RealSocket peer(RealUdp(kLoopback, 0));
  const u_short port = LocalPort(peer.get());
  sockaddr_in to = Inet(kLoopback, LocalPort(g));
  ASSERT_EQ(::sendto(peer.get(), "direct", 6, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 6);
  ASSERT_TRUE(Readable(g, kWait));
  char buf[64];
  SOCKADDR_IPX from = {};
  int fromlen = sizeof from;
  ASSERT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), 6);
  const uint8_t node[6] = {0, 0, 0x7F, 0, 0, 1};
  EXPECT_EQ(from.sa_family, AF_IPX);
  EXPECT_EQ(memcmp(from.sa_nodenum, node, 6), 0);
  EXPECT_EQ(Bytes(&from.sa_socket)[0], port & 0xFF);
  EXPECT_EQ(Bytes(&from.sa_socket)[1], port >> 8);
  EXPECT_EQ(fromlen, 14);
}

TEST_F(Paths, ShortOrForeignDatagramFromTheLauncherIsDeliveredWhole) {
  SOCKET g = GameUdp();
  const std::vector<uint8_t> eleven = {0xF9, 0xF9, 0xF9, 0xF9, 1, 2, 3, 4, 5, 6, 7};
  std::vector<uint8_t> foreign = LinkDatagram(300, "203.0.113.5", Payload(20));
  foreign[0] = 0xF8;
  for (const std::vector<uint8_t>& d : {eleven, foreign}) {
    FromLauncher(g, d);
    trace_.Mark();
    char buf[64];
    sockaddr_in from = {};
    int fromlen = sizeof from;
    ASSERT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen),
              static_cast<int>(d.size()));
    EXPECT_EQ(memcmp(buf, d.data(), d.size()), 0);
    EXPECT_EQ(from.sin_addr.s_addr, inet_addr(kLoopback));
    EXPECT_EQ(ntohs(from.sin_port), LINK_PORT);
    const std::vector<TraceLine> lines = Lines();
    const TraceLine* corrupt =
        FindText(lines, "mp_recvfrom() - We received a currupted or unknown message from the launcher");
    ASSERT_NE(corrupt, nullptr) << Dump(lines);
    EXPECT_EQ(corrupt->level, 500);
  }
}

TEST_F(Paths, CorruptDatagramOnIpxSocketIsDeliveredWholeFromTheLaunchersIpxForm) {
  SOCKET g = GameIpx();
  const std::vector<uint8_t> eleven = {0xF9, 0xF9, 0xF9, 0xF9, 1, 2, 3, 4, 5, 6, 7};
  FromLauncher(g, eleven);
  trace_.Mark();
  char buf[64];
  SOCKADDR_IPX from = {};
  int fromlen = sizeof from;
  ASSERT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), 11);
  const uint8_t want[14] = {6, 0, 0, 0, 0, 0, 0, 0, 0x7F, 0, 0, 1, 0x54, 0x0E};
  EXPECT_EQ(memcmp(&from, want, 14), 0);
  const std::vector<TraceLine> lines = Lines();
  const TraceLine* corrupt =
      FindText(lines, Tagged("mp_recvfrom() - We received a currupted or unknown message from the launcher"));
  ASSERT_NE(corrupt, nullptr) << Dump(lines);
  EXPECT_EQ(corrupt->level, 500);
}

TEST_F(Paths, MagicFromAnotherPortIsNotUnwrapped) {
  SOCKET g = GameUdp();
  RealSocket other(RealUdp(kLoopback, 0));
  const std::vector<uint8_t> d = LinkDatagram(300, "203.0.113.5", Payload(20));
  sockaddr_in to = Inet(kLoopback, LocalPort(g));
  ASSERT_EQ(::sendto(other.get(), reinterpret_cast<const char*>(d.data()), 32, 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to),
            32);
  ASSERT_TRUE(Readable(g, kWait));
  char buf[64];
  sockaddr_in from = {};
  int fromlen = sizeof from;
  trace_.Mark();
  ASSERT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), 32);
  EXPECT_EQ(memcmp(buf, d.data(), 32), 0);
  EXPECT_EQ(ntohs(from.sin_port), LocalPort(other.get()));
  const std::vector<TraceLine> lines = Lines();
  EXPECT_EQ(CountText(lines, Tagged("mp_recvfrom(" + std::to_string(static_cast<int>(g)) + ") <- 127.0.0.1:" +
                                    std::to_string(LocalPort(other.get())))),
            1)
      << Dump(lines);
  EXPECT_EQ(CountText(lines, "dump of 32 bytes"), 1) << Dump(lines);
}

TEST_F(Paths, BufferWithoutRoomForTheHeaderGetsTheRealMessageSizeError) {
  SOCKET g = GameUdp();
  FromLauncher(g, LinkDatagram(300, "203.0.113.5", Payload(20)));
  char buf[25];
  sockaddr_in from = {};
  int fromlen = sizeof from;
  EXPECT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEMSGSIZE);
}

TEST_F(Paths, NullSourceStillUnwraps) {
  for (bool ipx : {false, true}) {
    SOCKET g = ipx ? GameIpx() : GameUdp();
    const std::vector<uint8_t> p = Payload(20);
    FromLauncher(g, LinkDatagram(300, "203.0.113.5", p));
    char buf[64];
    ASSERT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, nullptr, nullptr), 20) << ipx;
    EXPECT_EQ(memcmp(buf, p.data(), 20), 0) << ipx;
  }
}

TEST_F(Paths, IpxSourceRecordTooShortIsAFaultAndKeepsTheDatagram) {
  SOCKET g = GameIpx();
  const std::vector<uint8_t> p = Payload(20);
  FromLauncher(g, LinkDatagram(300, "203.0.113.5", p));
  char buf[64];
  SOCKADDR_IPX from;
  memset(&from, 0xEE, sizeof from);
  int fromlen = 13;
  EXPECT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  EXPECT_EQ(Bytes(&from)[0], 0xEE);
  EXPECT_EQ(fromlen, 13);
  fromlen = sizeof from;
  EXPECT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), 20);
  EXPECT_EQ(fromlen, 14);
}

// Winsock refuses a source record shorter than sockaddr_in; Wine would receive into it.
TEST_F(Paths, TcpipSourceRecordTooShortIsAFaultAndKeepsTheDatagram) {
  SOCKET g = GameUdp();
  const std::vector<uint8_t> p = Payload(20);
  FromLauncher(g, LinkDatagram(300, "203.0.113.5", p));
  char buf[64];
  sockaddr_in from;
  memset(&from, 0xEE, sizeof from);
  int fromlen = 8;
  EXPECT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  EXPECT_EQ(Bytes(&from)[0], 0xEE);
  EXPECT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), nullptr), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  fromlen = sizeof from;
  EXPECT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen), 20);
  EXPECT_EQ(memcmp(buf, p.data(), 20), 0);
}

// recv unwraps as recvfrom does, so a game that peeks with one and reads with the other gets
// the same bytes both times. (FIONREAD still counts the datagram as it waits, header and all:
// a game that sizes its buffer by it has room to spare.)
TEST_F(Paths, PeekThenReadGivesTheSameBytesThroughEitherCall) {
  enum Call { kRecv, kRecvfrom };
  const Call pairs[][2] = {{kRecvfrom, kRecv}, {kRecv, kRecvfrom}, {kRecv, kRecv}};
  for (bool ipx : {false, true}) {
    SOCKET g = ipx ? GameIpx() : GameUdp();
    for (const auto& pair : pairs) {
      const std::vector<uint8_t> p = Payload(20, static_cast<uint8_t>(0x30 + pair[0] * 2 + pair[1]));
      FromLauncher(g, LinkDatagram(300, "203.0.113.5", p));
      u_long pending = 0;
      ASSERT_EQ(Shim().ioctlsocket(g, FIONREAD, &pending), 0);
      EXPECT_EQ(pending, 32u);
      for (int step = 0; step < 2; ++step) {
        char buf[64];
        unsigned char from[16];
        int fromlen = sizeof from;
        const int flags = step == 0 ? MSG_PEEK : 0;
        const int n = pair[step] == kRecv
                          ? Shim().recv(g, buf, sizeof buf, flags)
                          : Shim().recvfrom(g, buf, sizeof buf, flags, reinterpret_cast<sockaddr*>(from), &fromlen);
        ASSERT_EQ(n, 20) << "ipx " << ipx << " step " << step << " call " << pair[step];
        EXPECT_EQ(memcmp(buf, p.data(), 20), 0) << "ipx " << ipx << " step " << step;
      }
      EXPECT_FALSE(Readable(g, 0)) << "the read did not take the datagram";
    }
  }
}

// The sending socket's port travels in the header; the far game sees it as the source port,
// in either address form. 0 there means the port the datagram was sent to.
TEST_F(Paths, SourcePortComesFromTheHeader) {
  for (bool ipx : {false, true}) {
    for (u_short source : {static_cast<u_short>(50000), static_cast<u_short>(0)}) {
      SOCKET g = ipx ? GameIpx() : GameUdp();
      std::vector<uint8_t> d = LinkDatagram(300, "203.0.113.5", Payload(5));
      LinkSetSourcePort(d.data(), source);
      FromLauncher(g, d);
      char buf[64];
      unsigned char from[16] = {};
      int fromlen = sizeof from;
      ASSERT_EQ(Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(from), &fromlen), 5);
      const u_short want = source != 0 ? source : 300;
      if (ipx) {
        EXPECT_EQ(from[12] | (from[13] << 8), want) << source;  // sa_socket, as it lies in memory
      } else {
        EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in*>(from)->sin_port), want) << source;
      }
    }
  }
}

// A game socket bound to the machine's own address gets relayed datagrams sent to that
// address, so they come from it, port 3668: unwrapped. The same source is nothing special to
// a socket bound to every address (the session library reaches that one on 127.0.0.1).
TEST_F(Paths, SocketOnTheMachinesOwnAddressUnwrapsFromThatAddress) {
  launcher_.reset(INVALID_SOCKET);  // Wine refuses a second address on port 3668
  RealSocket own_link(RealUdp(kHere, LINK_PORT));
  ASSERT_NE(own_link.get(), INVALID_SOCKET) << WSAGetLastError();
  SOCKET bound = Shim().socket(AF_INET, SOCK_DGRAM, 0);
  game_.push_back(bound);
  sockaddr_in here = Inet(kHere, 0);
  ASSERT_EQ(Shim().bind(bound, reinterpret_cast<sockaddr*>(&here), sizeof here), 0);
  SOCKET wildcard = GameUdp();
  const std::vector<uint8_t> p = Payload(20);
  const std::vector<uint8_t> d = LinkDatagram(300, "198.51.100.9", p);
  for (SOCKET g : {bound, wildcard}) {
    sockaddr_in to = Inet(kHere, LocalPort(g));
    ASSERT_EQ(::sendto(own_link.get(), reinterpret_cast<const char*>(d.data()), 32, 0,
                       reinterpret_cast<sockaddr*>(&to), sizeof to), 32);
    ASSERT_TRUE(Readable(g, kWait));
    char buf[64];
    sockaddr_in from = {};
    int fromlen = sizeof from;
    const int n = Shim().recvfrom(g, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen);
    if (g == bound) {
      ASSERT_EQ(n, 20);
      EXPECT_EQ(memcmp(buf, p.data(), 20), 0);
      EXPECT_EQ(from.sin_addr.s_addr, inet_addr("198.51.100.9"));
    } else {
      ASSERT_EQ(n, 32) << "unwrapped for a socket the session library never sends to that way";
      EXPECT_EQ(from.sin_addr.s_addr, inet_addr(kHere));
    }
  }
}

// Stream sockets: what arrives is what was sent, whatever it looks like and wherever it comes
// from, and recvfrom ignores the source record as Winsock does, short or not.
TEST_F(Paths, StreamSocketsPassDataThroughAndIgnoreTheSourceRecord) {
  for (bool spx : {false, true}) {
    RealSocket listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in at = Inet(kLoopback, LINK_PORT);  // TCP port 3668: nothing to do with the link
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << spx;
    ASSERT_EQ(::listen(listener.get(), 1), 0);
    SOCKET g = spx ? Shim().socket(AF_IPX, SOCK_SEQPACKET, NSPROTO_SPX) : Shim().socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(g, INVALID_SOCKET);
    game_.push_back(g);
    ASSERT_EQ(Shim().connect(g, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << spx;
    RealSocket peer(::accept(listener.get(), nullptr, nullptr));
    ASSERT_NE(peer.get(), INVALID_SOCKET);
    const std::vector<uint8_t> d = LinkDatagram(300, "203.0.113.5", Payload(20));
    for (int call = 0; call < 4; ++call) {
      ASSERT_EQ(::send(peer.get(), reinterpret_cast<const char*>(d.data()), 32, 0), 32);
      ASSERT_TRUE(Readable(g, kWait));
      char buf[32];
      unsigned char from[16];
      memset(from, 0xEE, sizeof from);
      int fromlen = call == 1 ? 4 : sizeof from;
      int got = 0;
      while (got < 32) {
        int n;
        if (call == 0) n = Shim().recv(g, buf + got, 32 - got, 0);
        else if (call == 3) n = Shim().recvfrom(g, buf + got, 32 - got, 0, reinterpret_cast<sockaddr*>(from), nullptr);
        else n = Shim().recvfrom(g, buf + got, 32 - got, 0, reinterpret_cast<sockaddr*>(from), &fromlen);
        ASSERT_GT(n, 0) << "spx " << spx << " call " << call << " error " << Shim().WSAGetLastError();
        got += n;
      }
      EXPECT_EQ(memcmp(buf, d.data(), 32), 0) << "spx " << spx << " call " << call;
      EXPECT_EQ(from[0], 0xEE) << "the source record was written: spx " << spx << " call " << call;
      if (call == 1) {
        EXPECT_EQ(fromlen, 4);
      }
    }
  }
}

TEST_F(Paths, FionbioSwitchesTheRealSocketForIpxSocketsToo) {
  for (bool ipx : {false, true}) {
    SOCKET g = ipx ? GameIpx() : GameUdp();
    u_long on = 1;
    ASSERT_EQ(Shim().ioctlsocket(g, FIONBIO, &on), 0);
    char buf[8];
    EXPECT_EQ(Shim().recv(g, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(Shim().WSAGetLastError(), WSAEWOULDBLOCK) << ipx;
  }
}

TEST_F(Paths, WsaRecvFromIsUnboundInWsock32) {
  if (Shim().module != "wsock32.dll") GTEST_SKIP() << "only the Winsock 1.1 library lacks WSARecvFrom";
  SOCKET g = GameUdp();
  char buf[64];
  WSABUF wb = {sizeof buf, buf};
  DWORD got = 0, flags = 0;
  EXPECT_EQ(Shim().WSARecvFrom(g, &wb, 1, &got, &flags, nullptr, nullptr, nullptr, nullptr), SOCKET_ERROR);
  const std::vector<TraceLine> lines = Lines();
  const TraceLine* missing = FindText(lines, Tagged("mp_WSARecvFrom() - unable to load WSARecvFrom()"));
  ASSERT_NE(missing, nullptr) << Dump(lines);
  EXPECT_EQ(missing->level, 100);
}

// ---- socket options ----------------------------------------------------------------------

TEST_F(Paths, IpxAddressIsAnsweredOnAnySocket) {
  for (bool ipx : {true, false}) {
    SOCKET g = ipx ? GameIpx() : GameUdp();
    unsigned char buf[30];
    memset(buf, 0x77, sizeof buf);
    buf[0] = 3;  // the caller's adapter number does not matter
    int len = sizeof buf;
    ASSERT_EQ(Shim().getsockopt(g, NSPROTO_IPX, IPX_ADDRESS, reinterpret_cast<char*>(buf), &len), 0) << ipx;
    IPX_ADDRESS_DATA want = {};
    want.adapternum = 1;
    memset(want.nodenum, 0xFF, 6);
    want.wan = TRUE;
    want.status = TRUE;
    want.maxpkt = 512;
    want.linkspeed = 28800;
    EXPECT_EQ(memcmp(buf, &want, sizeof want), 0) << ipx;
    EXPECT_EQ(len, 30) << "the length stays as the caller set it";
  }
  EXPECT_EQ(CountText(Lines(), Tagged("mp_getsockopt called with optname IPX_ADDRESS")), 2) << Dump(Lines());
}

TEST_F(Paths, IpxMaxAdapterNumIsOneByte) {
  SOCKET g = GameIpx();
  char buf[4] = {9, 9, 9, 9};
  int len = sizeof buf;
  ASSERT_EQ(Shim().getsockopt(g, NSPROTO_IPX, IPX_MAX_ADAPTER_NUM, buf, &len), 0);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[1], 9);
  EXPECT_EQ(len, 1);
}

TEST_F(Paths, IpxAnswersWithoutRoomAreFaults) {
  SOCKET g = GameIpx();
  char buf[24];
  memset(buf, 0x77, sizeof buf);
  int len = 23;
  EXPECT_EQ(Shim().getsockopt(g, NSPROTO_IPX, IPX_ADDRESS, buf, &len), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  EXPECT_EQ(buf[0], 0x77);
  len = 0;
  EXPECT_EQ(Shim().getsockopt(g, NSPROTO_IPX, IPX_MAX_ADAPTER_NUM, buf, &len), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  EXPECT_EQ(buf[0], 0x77);
  EXPECT_EQ(len, 0);
}

// Every other option reaches the real library: the game gets exactly its answer.
TEST_F(Paths, OtherOptionsArePassedOn) {
  SOCKET g = GameIpx();
  struct Case {
    bool set;
    int level;
    int opt;
  } cases[] = {{false, NSPROTO_IPX, IPX_MAXSIZE}, {false, NSPROTO_SPX, IPX_ADDRESS},
               {false, NSPROTO_SPXII, IPX_MAX_ADAPTER_NUM}, {false, SOL_SOCKET, SO_TYPE},
               {true, NSPROTO_IPX, IPX_PTYPE}, {true, NSPROTO_IPX, IPX_ADDRESS},
               {true, NSPROTO_SPX, IPX_MAX_ADAPTER_NUM}, {true, SOL_SOCKET, SO_BROADCAST}};
  for (const Case& c : cases) {
    char shim_buf[32] = {}, real_buf[32] = {};
    int shim_len = sizeof shim_buf, real_len = sizeof real_buf;
    int shim_r, real_r, shim_e, real_e;
    if (c.set) {
      const int one = 1;
      shim_r = Shim().setsockopt(g, c.level, c.opt, reinterpret_cast<const char*>(&one), sizeof one);
      shim_e = shim_r ? Shim().WSAGetLastError() : 0;
      real_r = ::setsockopt(g, c.level, c.opt, reinterpret_cast<const char*>(&one), sizeof one);
      real_e = real_r ? ::WSAGetLastError() : 0;
    } else {
      shim_r = Shim().getsockopt(g, c.level, c.opt, shim_buf, &shim_len);
      shim_e = shim_r ? Shim().WSAGetLastError() : 0;
      real_r = ::getsockopt(g, c.level, c.opt, real_buf, &real_len);
      real_e = real_r ? ::WSAGetLastError() : 0;
    }
    EXPECT_EQ(shim_r, real_r) << c.set << " " << c.level << " " << c.opt;
    EXPECT_EQ(shim_e, real_e) << c.set << " " << c.level << " " << c.opt;
    EXPECT_EQ(shim_len, real_len);
    EXPECT_EQ(memcmp(shim_buf, real_buf, sizeof shim_buf), 0);
  }
  const std::vector<TraceLine> lines = Lines();
  EXPECT_EQ(CountText(lines, Tagged("mp_getsockopt called with optname IPX_MAXSIZE")), 1) << Dump(lines);
  // The SPX levels write no option name for getsockopt.
  EXPECT_EQ(CountText(lines, Tagged("mp_getsockopt called with optname IPX_ADDRESS")), 0) << Dump(lines);
  EXPECT_EQ(CountText(lines, Tagged("mp_setsockopt level set to NSPROTO_IPX")), 2) << Dump(lines);
  EXPECT_EQ(CountText(lines, Tagged("mp_setsockopt level set to NSPROTO_SPX")), 1) << Dump(lines);
  EXPECT_EQ(CountText(lines, Tagged("mp_setsockopt level set to IPX/SPX/SPXII")), 3) << Dump(lines);
  EXPECT_EQ(CountText(lines, Tagged("mp_setsockopt called with optname IPX_PTYPE")), 1) << Dump(lines);
  EXPECT_EQ(CountText(lines, Tagged("mp_setsockopt called with optname (16391)")), 1) << Dump(lines);
  EXPECT_EQ(CountText(lines, Tagged("mp_setsockopt called with optname (16397)")), 1) << Dump(lines);
}

// ---- Winsock 2: WSARecvFrom (the shim standing in for ws2_32.dll) ------------------------

class WsaPaths : public Paths {
 protected:
  void SetUp() override {
    if (Shim().module == "wsock32.dll") GTEST_SKIP() << "wsock32.dll has no WSARecvFrom to bind";
    Paths::SetUp();
  }
};

TEST_F(WsaPaths, LinkDatagramIsUnwrappedInTheOnlyBuffer) {
  for (bool ipx : {false, true}) {
    SOCKET g = ipx ? GameIpx() : GameUdp();
    const std::vector<uint8_t> p = Payload(20);
    FromLauncher(g, LinkDatagram(300, "203.0.113.5", p));
    trace_.Mark();
    char buf[64];
    WSABUF wb = {sizeof buf, buf};
    DWORD got = 0, flags = 0;
    unsigned char from[32] = {};
    INT fromlen = ipx ? 14 : 16;  // exactly the room each form needs
    ASSERT_EQ(Shim().WSARecvFrom(g, &wb, 1, &got, &flags, reinterpret_cast<sockaddr*>(from), &fromlen, nullptr,
                                 nullptr),
              0)
        << ipx;
    EXPECT_EQ(got, 20u) << ipx;
    EXPECT_EQ(memcmp(buf, p.data(), 20), 0) << ipx;
    if (ipx) {
      const uint8_t want[14] = {6, 0, 0, 0, 0, 0, 0x00, 0x00, 0xCB, 0x00, 0x71, 0x05, 0x2C, 0x01};
      EXPECT_EQ(memcmp(from, want, 14), 0);
      EXPECT_EQ(fromlen, 14);
    } else {
      const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(from);
      EXPECT_EQ(in->sin_addr.s_addr, inet_addr("203.0.113.5"));
      EXPECT_EQ(ntohs(in->sin_port), 300);
      EXPECT_EQ(fromlen, 16);
    }
    const std::vector<TraceLine> lines = Lines();
    EXPECT_EQ(CountText(lines, Tagged("mp_WSARecvFrom() - broadcast message is now converted")), 1) << Dump(lines);
    EXPECT_EQ(CountText(lines, "dump of 20 bytes"), 0) << "WSARecvFrom writes no dumps\n" << Dump(lines);
  }
}

TEST_F(WsaPaths, NullSourceStillUnwraps) {
  SOCKET g = GameUdp();
  FromLauncher(g, LinkDatagram(300, "203.0.113.5", Payload(20)));
  char buf[64];
  WSABUF wb = {sizeof buf, buf};
  DWORD got = 0, flags = 0;
  ASSERT_EQ(Shim().WSARecvFrom(g, &wb, 1, &got, &flags, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(got, 20u);
}

TEST_F(WsaPaths, SeveralBuffersArePassedOnUnchanged) {
  SOCKET g = GameUdp();
  const std::vector<uint8_t> d = LinkDatagram(300, "203.0.113.5", Payload(20));
  FromLauncher(g, d);
  trace_.Mark();
  char first[8], rest[64];
  WSABUF wb[2] = {{sizeof first, first}, {sizeof rest, rest}};
  DWORD got = 0, flags = 0;
  sockaddr_in from = {};
  INT fromlen = sizeof from;
  ASSERT_EQ(Shim().WSARecvFrom(g, wb, 2, &got, &flags, reinterpret_cast<sockaddr*>(&from), &fromlen, nullptr, nullptr),
            0);
  EXPECT_EQ(got, 32u);
  EXPECT_EQ(memcmp(first, d.data(), 8), 0) << "the header stays";
  EXPECT_EQ(ntohs(from.sin_port), LINK_PORT);
  const std::vector<TraceLine> lines = Lines();
  EXPECT_EQ(CountText(lines, Tagged("mp_WSARecvFrom() - overlapped, completion routine or 2 buffers: passed on "
                                    "unchanged, not rewritten")),
            1)
      << Dump(lines);
}

TEST_F(WsaPaths, OverlappedReceiveIsPassedOnUnchanged) {
  SOCKET g = GameUdp();
  const std::vector<uint8_t> d = LinkDatagram(300, "203.0.113.5", Payload(20));
  FromLauncher(g, d);
  char buf[64];
  WSABUF wb = {sizeof buf, buf};
  DWORD got = 0, flags = 0;
  sockaddr_in from = {};
  INT fromlen = sizeof from;
  WSAOVERLAPPED ov = {};
  ov.hEvent = WSACreateEvent();
  const int r = Shim().WSARecvFrom(g, &wb, 1, &got, &flags, reinterpret_cast<sockaddr*>(&from), &fromlen, &ov,
                                   nullptr);
  ASSERT_TRUE(r == 0 || WSAGetLastError() == WSA_IO_PENDING) << WSAGetLastError();
  DWORD done = 0, oflags = 0;
  ASSERT_TRUE(WSAGetOverlappedResult(g, &ov, &done, TRUE, &oflags));
  WSACloseEvent(ov.hEvent);
  EXPECT_EQ(done, 32u);
  EXPECT_EQ(memcmp(buf, d.data(), 32), 0);
  EXPECT_EQ(ntohs(from.sin_port), LINK_PORT);
}

TEST_F(WsaPaths, IpxSourceRecordTooShortIsAFault) {
  SOCKET g = GameIpx();
  FromLauncher(g, LinkDatagram(300, "203.0.113.5", Payload(20)));
  char buf[64];
  WSABUF wb = {sizeof buf, buf};
  DWORD got = 0, flags = 0;
  SOCKADDR_IPX from = {};
  INT fromlen = 10;
  EXPECT_EQ(Shim().WSARecvFrom(g, &wb, 1, &got, &flags, reinterpret_cast<sockaddr*>(&from), &fromlen, nullptr,
                               nullptr),
            SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  fromlen = sizeof from;
  EXPECT_EQ(Shim().WSARecvFrom(g, &wb, 1, &got, &flags, reinterpret_cast<sockaddr*>(&from), &fromlen, nullptr,
                               nullptr),
            0);
  EXPECT_EQ(got, 20u);
}

// WSARecv unwraps as recv does; several buffers still reach the real library unchanged.
TEST_F(WsaPaths, WsaRecvUnwrapsIntoTheOnlyBuffer) {
  for (bool ipx : {false, true}) {
    SOCKET g = ipx ? GameIpx() : GameUdp();
    const std::vector<uint8_t> p = Payload(20);
    const std::vector<uint8_t> d = LinkDatagram(300, "203.0.113.5", p);
    FromLauncher(g, d);
    char buf[64];
    WSABUF wb = {sizeof buf, buf};
    DWORD got = 0, flags = 0;
    ASSERT_EQ(Shim().WSARecv(g, &wb, 1, &got, &flags, nullptr, nullptr), 0) << ipx;
    EXPECT_EQ(got, 20u) << ipx;
    EXPECT_EQ(memcmp(buf, p.data(), 20), 0) << ipx;

    FromLauncher(g, d);
    char first[8], rest[64];
    WSABUF two[2] = {{sizeof first, first}, {sizeof rest, rest}};
    ASSERT_EQ(Shim().WSARecv(g, two, 2, &got, &flags, nullptr, nullptr), 0);
    EXPECT_EQ(got, 32u);
    EXPECT_EQ(memcmp(first, d.data(), 8), 0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string as = "wsock32.dll";
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--shim-as") as = argv[i + 1];
  }
  ::testing::InitGoogleTest(&argc, argv);

  WSADATA wd;
  if (WSAStartup(MAKEWORD(2, 2), &wd) != 0) {
    fprintf(stderr, "real WSAStartup failed\n");
    return 1;
  }
  const size_t slash = as.find_last_of("\\/");
  if (slash != std::string::npos) CreateDirectoryA(as.substr(0, slash).c_str(), nullptr);
  if (!CopyFileA("orbws.dll", as.c_str(), FALSE)) {
    fprintf(stderr, "cannot copy orbws.dll to %s: %lu\n", as.c_str(), GetLastError());
    return 1;
  }
  std::string why;
  if (!LoadShim(as, &Shim(), &why)) {
    fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  if (Shim().WSAStartup(MAKEWORD(1, 1), &wd) != 0) {
    fprintf(stderr, "the shim's WSAStartup failed\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
