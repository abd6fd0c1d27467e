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
const char kPlayer[] = "203.0.113.5";  // the remote player a relayed datagram names
const int kWait = 2000;              // ms for a datagram that must arrive
const int kQuiet = 200;              // ms for one that must not
// The source an IPX socket reports for kPlayer, port 300: family, network 0, node 00 00
// CB 00 71 05, socket 300 as it lies in memory.
const uint8_t kPlayerIpx[14] = {6, 0, 0, 0, 0, 0, 0x00, 0x00, 0xCB, 0x00, 0x71, 0x05, 0x2C, 0x01};

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
// The usual one: from kPlayer's port 300.
std::vector<uint8_t> FromPlayer(const std::vector<uint8_t>& payload) { return LinkDatagram(300, kPlayer, payload); }

SOCKADDR_IPX IpxDest(std::initializer_list<uint8_t> node, uint8_t sock0, uint8_t sock1) {
  SOCKADDR_IPX a = {};
  a.sa_family = AF_IPX;
  a.sa_netnum[0] = 0x12;  // never matters
  std::copy(node.begin(), node.end(), reinterpret_cast<uint8_t*>(a.sa_nodenum));
  reinterpret_cast<uint8_t*>(&a.sa_socket)[0] = sock0;
  reinterpret_cast<uint8_t*>(&a.sa_socket)[1] = sock1;
  return a;
}
SOCKADDR_IPX IpxDest(std::initializer_list<uint8_t> node, u_short port) {
  return IpxDest(node, static_cast<uint8_t>(port & 0xFF), static_cast<uint8_t>(port >> 8));
}

const uint8_t* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }
bool Same(const void* a, const void* b, size_t n) { return memcmp(a, b, n) == 0; }

// The shim's sendto, with the casts a game writes by hand.
template <typename Address>
int ShimSendTo(SOCKET g, const void* data, int n, const Address* to, int tolen = sizeof(Address)) {
  return Shim().sendto(g, static_cast<const char*>(data), n, 0, reinterpret_cast<const sockaddr*>(to), tolen);
}
int ShimSendTo(SOCKET g, const std::vector<uint8_t>& data, const sockaddr_in& to) {
  return ShimSendTo(g, data.data(), static_cast<int>(data.size()), &to);
}

// What one recvfrom through the shim gave: its result, the bytes read, and the source
// record (filled with `fill` beforehand) with its length.
struct Received {
  int n = SOCKET_ERROR;
  int error = 0;  // the shim's WSAGetLastError() when n is SOCKET_ERROR
  std::vector<uint8_t> data;
  unsigned char from[16];
  int fromlen = 0;
  const sockaddr_in& in() const { return *reinterpret_cast<const sockaddr_in*>(from); }
  const SOCKADDR_IPX& ipx() const { return *reinterpret_cast<const SOCKADDR_IPX*>(from); }
};
// fromlen < 0: no length at all (a null pointer); the source record is passed unless
// with_source is false.
Received ShimRecvFrom(SOCKET g, int fromlen, uint8_t fill = 0, int room = 64, int flags = 0,
                      bool with_source = true) {
  Received r;
  char buf[4096];
  memset(r.from, fill, sizeof r.from);
  r.fromlen = fromlen;
  r.n = Shim().recvfrom(g, buf, room, flags, with_source ? reinterpret_cast<sockaddr*>(r.from) : nullptr,
                        fromlen < 0 ? nullptr : &r.fromlen);
  if (r.n == SOCKET_ERROR) r.error = Shim().WSAGetLastError();
  if (r.n > 0) r.data.assign(buf, buf + r.n);
  return r;
}

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

  // A game socket made through the shim and closed at the end, not bound.
  SOCKET GameSocket(int family, int type, int protocol) {
    SOCKET s = Shim().socket(family, type, protocol);
    EXPECT_NE(s, INVALID_SOCKET);
    game_.push_back(s);
    return s;
  }

  // A game UDP socket bound to every address on a free port.
  SOCKET GameUdp() {
    SOCKET s = GameSocket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any = Inet("0.0.0.0", 0);
    EXPECT_EQ(Shim().bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    return s;
  }

  // A game IPX socket (UDP underneath), bound with socket number 0: a free port.
  SOCKET GameIpx() {
    SOCKET s = GameSocket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    SOCKADDR_IPX any = {};
    any.sa_family = AF_IPX;
    EXPECT_EQ(Shim().bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    return s;
  }
  SOCKET Game(bool ipx) { return ipx ? GameIpx() : GameUdp(); }

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
  void FromLauncher(SOCKET game, const std::vector<uint8_t>& d) { SendFrom(launcher_.get(), kLoopback, game, d); }

  // Sends d from a real socket to the game's port on host, and waits until it is there.
  static void SendFrom(SOCKET real, const char* host, SOCKET game, const std::vector<uint8_t>& d) {
    sockaddr_in to = Inet(host, LocalPort(game));
    ASSERT_EQ(::sendto(real, reinterpret_cast<const char*>(d.data()), static_cast<int>(d.size()), 0,
                       reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<int>(d.size()));
    ASSERT_TRUE(Readable(game, kWait));
  }

  // The first line since the mark whose text is exactly text, at its level; or a failure.
  void ExpectLineAt(const std::string& text, int level) {
    const std::vector<TraceLine> lines = Lines();
    const TraceLine* line = FindText(lines, text);
    ASSERT_NE(line, nullptr) << text << "\n" << Dump(lines);
    EXPECT_EQ(line->level, level) << text;
  }
  // Each text (with the module's tag) written exactly `times` since the mark.
  void ExpectTagged(std::initializer_list<std::string> texts, int times = 1) {
    const std::vector<TraceLine> lines = Lines();
    for (const std::string& text : texts) EXPECT_EQ(CountText(lines, Tagged(text)), times) << text << "\n" << Dump(lines);
  }
  // The number of hex dumps of n bytes since the mark.
  int Dumps(int n) const { return CountText(Lines(), "dump of " + std::to_string(n) + " bytes"); }

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
  ASSERT_EQ(ShimSendTo(g, p, Inet("255.255.255.255", 300)), 20);

  sockaddr_in from = {};
  const std::vector<uint8_t> d = AtLauncher(&from);
  ASSERT_EQ(d.size(), 32u);
  const uint8_t head[] = {0xF9, 0xF9, 0xF9, 0xF9, 0x2C, 0x01};
  EXPECT_TRUE(Same(d.data(), head, 6));
  const uint8_t loop[] = {0x7F, 0x00, 0x00, 0x01};
  EXPECT_TRUE(Same(d.data() + 8, loop, 4));
  EXPECT_TRUE(Same(d.data() + 12, p.data(), 20));
  // Sent from the game's own socket.
  EXPECT_EQ(ntohs(from.sin_port), LocalPort(g));
  EXPECT_FALSE(Readable(lan.get(), kQuiet)) << "the broadcast reached the network";

  ExpectTagged({"This is a LAN broadcast udp request from the game",
                "mp_sendto() - sending message to the launcher of size 32(12 header/20 buffer)",
                "BROADCASTING (TCPIP) OVER VIRTUAL LAN", "sendto() Launcher - returned 32",
                "mp_sendto() - lp_sendto() returned 20"});
  EXPECT_EQ(Dumps(20), 1) << Dump(Lines());
}

// An empty broadcast is a header alone; 2048 bytes still fit; one more is refused.
TEST_F(Paths, BroadcastsFromEmptyToPastTheLimit) {
  SOCKET g = GameUdp();
  const sockaddr_in all = Inet("255.255.255.255", 4000);
  ASSERT_EQ(ShimSendTo(g, "", 0, &all), 0);
  std::vector<uint8_t> d = AtLauncher();
  ASSERT_EQ(d.size(), 12u);
  EXPECT_EQ(LinkGetPort(d.data()), 4000);

  const std::vector<uint8_t> big = Payload(2049);
  EXPECT_EQ(ShimSendTo(g, big.data(), 2048, &all), 2048);
  EXPECT_EQ(AtLauncher().size(), 2060u);

  trace_.Mark();
  EXPECT_EQ(ShimSendTo(g, big.data(), 2049, &all), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEMSGSIZE);
  EXPECT_TRUE(LauncherQuiet());
  ExpectLineAt(Tagged("mp_sendto() - broadcast of 2049 bytes refused: a link datagram carries at most 2048"), 500);
  ExpectTagged({"sendto error = 10040"});
}

TEST_F(Paths, SubnetBroadcastGoesToTheNetworkUnchanged) {
  SOCKET g = GameUdp();
  BOOL on = TRUE;
  ASSERT_EQ(Shim().setsockopt(g, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on), 0);
  RealSocket lan(RealUdp("0.0.0.0", 0));
  const std::vector<uint8_t> p = Payload(20);
  ASSERT_EQ(ShimSendTo(g, p, Inet("203.0.113.255", LocalPort(lan.get()))), 20);
  EXPECT_TRUE(LauncherQuiet());
  ASSERT_TRUE(Readable(lan.get(), kWait)) << "the subnet broadcast did not come back to this machine";
  char buf[64];
  EXPECT_EQ(::recv(lan.get(), buf, sizeof buf, 0), 20);
  EXPECT_TRUE(Same(buf, p.data(), 20));
}

// A destination the shim cannot read is the real library's fault to report (TCP/IP, too
// short) or the shim's (IPX: missing or short); nothing reaches the launcher.
TEST_F(Paths, MissingOrShortDestinationIsAFault) {
  SOCKET udp = GameUdp();
  SOCKET ipx = GameIpx();
  const sockaddr_in all = Inet("255.255.255.255", 300);
  const SOCKADDR_IPX bc = IpxDest({0xFF, 0xFF, 0, 0, 0, 0}, 0x2C, 0x01);
  EXPECT_EQ(ShimSendTo(udp, "abc", 3, &all, 8), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  EXPECT_EQ(ShimSendTo<SOCKADDR_IPX>(ipx, "abc", 3, nullptr, sizeof bc), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  EXPECT_EQ(ShimSendTo(ipx, "abc", 3, &bc, 13), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  EXPECT_TRUE(LauncherQuiet());
}

TEST_F(Paths, IpxBroadcastCarriesTheSocketBytesAsStored) {
  SOCKET g = GameIpx();
  const SOCKADDR_IPX bc = IpxDest({0xFF, 0xFF, 0x01, 0x02, 0x03, 0x04}, 0x34, 0x12);
  const std::vector<uint8_t> p = Payload(7);
  ASSERT_EQ(ShimSendTo(g, p.data(), 7, &bc), 7);
  const std::vector<uint8_t> d = AtLauncher();
  ASSERT_EQ(d.size(), 19u);
  EXPECT_EQ(d[4], 0x34);
  EXPECT_EQ(d[5], 0x12);
  EXPECT_EQ(LinkGetAddress(d.data()), inet_addr(kLoopback));
  EXPECT_TRUE(Same(d.data() + 12, p.data(), 7));
  ExpectTagged({"BROADCASTING OVER VIRTUAL LAN", "mp_sendto() - sa_nodenum[6] = FF FF 01 02 03 04"});
}

// An IPX destination whose node holds an address goes straight there, to the port its
// socket number names, and the trace says where.
TEST_F(Paths, DirectIpxSendReachesTheConvertedAddressAndPort) {
  SOCKET g = GameIpx();
  for (const char* host : {kLoopback, kHere}) {
    SCOPED_TRACE(host);
    RealSocket peer(RealUdp(host, 0));
    const u_short port = LocalPort(peer.get());
    const unsigned long a = inet_addr(host);
    const uint8_t* o = Bytes(&a);
    const SOCKADDR_IPX to = IpxDest({0x00, 0x00, o[0], o[1], o[2], o[3]}, port);
    const std::vector<uint8_t> p = Payload(9);
    trace_.Mark();
    ASSERT_EQ(ShimSendTo(g, p.data(), 9, &to), 9);
    ASSERT_TRUE(Readable(peer.get(), kWait));
    char buf[64];
    EXPECT_EQ(::recv(peer.get(), buf, sizeof buf, 0), 9);
    EXPECT_TRUE(Same(buf, p.data(), 9));
    EXPECT_EQ(Dumps(9), 1) << Dump(Lines());
    if (host != kLoopback) continue;
    ExpectLineAt(
        Tagged("mp_sendto() - IPX - We need to broadcast this message to everone in our virtual IPX LAN list via TCPIP"),
        1000);
    const std::string ps = std::to_string(port);
    ExpectTagged({"mp_sendto() - to ip addres = 127.0.0.1 (16777343)",
                  "mp_sendto() - we are sending this packet directly to 127.0.0.1 on our lan listening to port " + ps,
                  "mp_sendto() - (converted).sin_port = " + ps, "mp_sendto() -  sa_netnum[4] = 12 00 00 00",
                  "mp_sendto() -     sa_socket = " + ps});
  }
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
  EXPECT_EQ(Dumps(5), 1) << Dump(Lines());
  EXPECT_EQ(Dumps(0), 0) << Dump(Lines());
}

// A datagram socket connected to a broadcast destination sends through the link (send, and
// sendto without a destination), names that destination as its peer, and hears the relayed
// broadcasts for its port, which a socket really connected there would filter out.
TEST_F(Paths, SocketConnectedToABroadcastUsesTheLink) {
  for (bool ipx : {false, true}) {
    SCOPED_TRACE(ipx ? "ipx" : "udp");
    SOCKET g = ipx ? GameSocket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX) : GameSocket(AF_INET, SOCK_DGRAM, 0);
    RealSocket lan(RealUdp("0.0.0.0", 4000));  // would see the broadcast if it reached the network
    sockaddr_in all = Inet("255.255.255.255", 4000);
    SOCKADDR_IPX bc = IpxDest({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xA0, 0x0F);  // socket 4000
    const sockaddr* to = ipx ? reinterpret_cast<sockaddr*>(&bc) : reinterpret_cast<sockaddr*>(&all);
    const int tolen = ipx ? sizeof bc : sizeof all;
    ASSERT_EQ(Shim().connect(g, to, tolen), 0);
    // Bound as a real connect would bind it, and announced.
    const std::vector<LinkNotice> notices = TakeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, kNoticeBound);
    EXPECT_EQ(notices[0].port, LocalPort(g));

    unsigned char peer[16] = {};
    int peerlen = sizeof peer;
    ASSERT_EQ(Shim().getpeername(g, reinterpret_cast<sockaddr*>(peer), &peerlen), 0);
    EXPECT_EQ(peerlen, tolen);
    EXPECT_TRUE(Same(peer, to, tolen));

    ASSERT_EQ(Shim().send(g, "hello", 5, 0), 5);
    ASSERT_EQ(Shim().sendto(g, "again", 5, 0, nullptr, 0), 5);
    for (const char* text : {"hello", "again"}) {
      sockaddr_in from = {};
      const std::vector<uint8_t> d = AtLauncher(&from);
      ASSERT_EQ(d.size(), 17u) << text;
      EXPECT_EQ(LinkGetPort(d.data()), 4000);
      EXPECT_TRUE(Same(d.data() + 12, text, 5));
      EXPECT_EQ(ntohs(from.sin_port), LocalPort(g)) << "sent from the game's own socket";
    }
    EXPECT_FALSE(Readable(lan.get(), kQuiet)) << "the broadcast reached the network";

    const std::vector<uint8_t> p = Payload(9);
    FromLauncher(g, LinkDatagram(4000, kPlayer, p));
    char buf[64];
    ASSERT_EQ(Shim().recv(g, buf, sizeof buf, 0), 9);
    EXPECT_TRUE(Same(buf, p.data(), 9));
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
    SCOPED_TRACE(std::string(c.address ? c.address : "ipx") + " type " + std::to_string(c.type));
    SOCKET g = Shim().socket(c.family, c.type, c.protocol);
    ASSERT_NE(g, INVALID_SOCKET);
    sockaddr_in in = Inet(c.address ? c.address : "0.0.0.0", 0);
    SOCKADDR_IPX ipx = {};
    ipx.sa_family = AF_IPX;
    const int r = c.family == AF_IPX ? Shim().bind(g, reinterpret_cast<sockaddr*>(&ipx), sizeof ipx)
                                     : Shim().bind(g, reinterpret_cast<sockaddr*>(&in), sizeof in);
    ASSERT_EQ(r, 0);
    const u_short port = LocalPort(g);
    for (LinkNoticeKind kind : {kNoticeBound, kNoticeClosed}) {
      if (kind == kNoticeClosed) {
        ASSERT_EQ(Shim().closesocket(g), 0);
      }
      const std::vector<LinkNotice> n = TakeNotices();
      ASSERT_EQ(n.size(), c.announced ? 1u : 0u) << kind;
      if (!c.announced) continue;
      EXPECT_EQ(n[0].kind, kind);
      EXPECT_EQ(n[0].port, port);
      EXPECT_EQ(n[0].address_net, in.sin_addr.s_addr);
    }
  }
}

// ---- inbound -----------------------------------------------------------------------------

// A relayed datagram comes from the remote player, in the socket's own address form; the
// trace writes the size line raw on the TCP/IP path and with the module's tag on the IPX one.
TEST_F(Paths, LinkDatagramComesFromTheRemotePlayer) {
  for (bool ipx : {false, true}) {
    SCOPED_TRACE(ipx ? "ipx" : "udp");
    SOCKET g = Game(ipx);
    const std::vector<uint8_t> p = Payload(20);
    FromLauncher(g, FromPlayer(p));
    trace_.Mark();
    const Received r = ShimRecvFrom(g, ipx ? sizeof(SOCKADDR_IPX) : sizeof(sockaddr_in), ipx ? 0xEE : 0);
    ASSERT_EQ(r.n, 20);
    EXPECT_EQ(r.data, p);
    const std::string size_line = "mp_recvfrom() - message from the launcher is of size 32(12 header/20 buffer)";
    if (ipx) {
      EXPECT_TRUE(Same(r.from, kPlayerIpx, 14));
      EXPECT_EQ(r.fromlen, 14);
      ExpectTagged({size_line, "mp_recvfrom() - address = 203.0.113.5", "mp_recvfrom() - sa_socket = 300"});
    } else {
      EXPECT_EQ(r.in().sin_family, AF_INET);
      EXPECT_EQ(r.in().sin_addr.s_addr, inet_addr(kPlayer));
      EXPECT_EQ(ntohs(r.in().sin_port), 300);
      EXPECT_EQ(r.fromlen, 16);
      ExpectTagged({"mp_recvfrom() - broadcast message is now converted"});
      EXPECT_EQ(CountText(Lines(), size_line), 1) << Dump(Lines());
      EXPECT_EQ(Dumps(20), 1) << Dump(Lines());
    }
  }
}

TEST_F(Paths, IpxSocketGivesEverySourceInIpxForm) {
  SOCKET g = GameIpx();
  RealSocket peer(RealUdp(kLoopback, 0));
  const u_short port = LocalPort(peer.get());
  SendFrom(peer.get(), kLoopback, g, {'d', 'i', 'r', 'e', 'c', 't'});
  const Received r = ShimRecvFrom(g, sizeof(SOCKADDR_IPX));
  ASSERT_EQ(r.n, 6);
  const uint8_t node[6] = {0, 0, 0x7F, 0, 0, 1};
  EXPECT_EQ(r.ipx().sa_family, AF_IPX);
  EXPECT_TRUE(Same(r.ipx().sa_nodenum, node, 6));
  EXPECT_EQ(Bytes(&r.ipx().sa_socket)[0], port & 0xFF);
  EXPECT_EQ(Bytes(&r.ipx().sa_socket)[1], port >> 8);
  EXPECT_EQ(r.fromlen, 14);
}

// Too short to be a link datagram, or not one: delivered whole, from the launcher, and traced
// as corrupt (tagged on the IPX path only).
TEST_F(Paths, ShortOrForeignDatagramFromTheLauncherIsDeliveredWhole) {
  const std::vector<uint8_t> eleven = {0xF9, 0xF9, 0xF9, 0xF9, 1, 2, 3, 4, 5, 6, 7};
  std::vector<uint8_t> foreign = FromPlayer(Payload(20));
  foreign[0] = 0xF8;
  const std::string corrupt = "mp_recvfrom() - We received a currupted or unknown message from the launcher";
  SOCKET g = GameUdp();
  for (const std::vector<uint8_t>& d : {eleven, foreign}) {
    SCOPED_TRACE(d.size());
    FromLauncher(g, d);
    trace_.Mark();
    const Received r = ShimRecvFrom(g, sizeof(sockaddr_in));
    EXPECT_EQ(r.data, d);
    EXPECT_EQ(r.in().sin_addr.s_addr, inet_addr(kLoopback));
    EXPECT_EQ(ntohs(r.in().sin_port), LINK_PORT);
    ExpectLineAt(corrupt, 500);
  }

  SOCKET ipx = GameIpx();
  FromLauncher(ipx, eleven);
  trace_.Mark();
  const Received r = ShimRecvFrom(ipx, sizeof(SOCKADDR_IPX));
  ASSERT_EQ(r.n, 11);
  const uint8_t launcher[14] = {6, 0, 0, 0, 0, 0, 0, 0, 0x7F, 0, 0, 1, 0x54, 0x0E};
  EXPECT_TRUE(Same(r.from, launcher, 14));
  ExpectLineAt(Tagged(corrupt), 500);
}

TEST_F(Paths, MagicFromAnotherPortIsNotUnwrapped) {
  SOCKET g = GameUdp();
  RealSocket other(RealUdp(kLoopback, 0));
  const std::vector<uint8_t> d = FromPlayer(Payload(20));
  SendFrom(other.get(), kLoopback, g, d);
  trace_.Mark();
  const Received r = ShimRecvFrom(g, sizeof(sockaddr_in));
  EXPECT_EQ(r.data, d);
  EXPECT_EQ(ntohs(r.in().sin_port), LocalPort(other.get()));
  ExpectTagged({"mp_recvfrom(" + std::to_string(static_cast<int>(g)) + ") <- 127.0.0.1:" +
                std::to_string(LocalPort(other.get()))});
  EXPECT_EQ(Dumps(32), 1) << Dump(Lines());
}

TEST_F(Paths, BufferWithoutRoomForTheHeaderGetsTheRealMessageSizeError) {
  SOCKET g = GameUdp();
  FromLauncher(g, FromPlayer(Payload(20)));
  const Received r = ShimRecvFrom(g, sizeof(sockaddr_in), 0, 25);
  EXPECT_EQ(r.n, SOCKET_ERROR);
  EXPECT_EQ(r.error, WSAEMSGSIZE);
}

TEST_F(Paths, NullSourceStillUnwraps) {
  for (bool ipx : {false, true}) {
    SCOPED_TRACE(ipx ? "ipx" : "udp");
    SOCKET g = Game(ipx);
    const std::vector<uint8_t> p = Payload(20);
    FromLauncher(g, FromPlayer(p));
    const Received r = ShimRecvFrom(g, -1, 0, 64, 0, false);
    ASSERT_EQ(r.n, 20);
    EXPECT_EQ(r.data, p);
  }
}

// A source record too short for the socket's address form is a fault that leaves both the
// record and the datagram alone (Winsock refuses one shorter than sockaddr_in; Wine would
// receive into it); so is a missing length.
TEST_F(Paths, SourceRecordTooShortIsAFaultAndKeepsTheDatagram) {
  for (bool ipx : {false, true}) {
    SCOPED_TRACE(ipx ? "ipx" : "udp");
    SOCKET g = Game(ipx);
    const std::vector<uint8_t> p = Payload(20);
    FromLauncher(g, FromPlayer(p));
    const int too_short = ipx ? 13 : 8;
    Received r = ShimRecvFrom(g, too_short, 0xEE);
    EXPECT_EQ(r.n, SOCKET_ERROR);
    EXPECT_EQ(r.error, WSAEFAULT);
    EXPECT_EQ(r.from[0], 0xEE);
    EXPECT_EQ(r.fromlen, too_short);
    r = ShimRecvFrom(g, -1, 0xEE);
    EXPECT_EQ(r.n, SOCKET_ERROR);
    EXPECT_EQ(r.error, WSAEFAULT);
    r = ShimRecvFrom(g, ipx ? sizeof(SOCKADDR_IPX) : sizeof(sockaddr_in));
    EXPECT_EQ(r.n, 20);
    EXPECT_EQ(r.data, p);
    EXPECT_EQ(r.fromlen, ipx ? 14 : 16);
  }
}

// recv unwraps as recvfrom does, so a game that peeks with one and reads with the other gets
// the same bytes both times. (FIONREAD still counts the datagram as it waits, header and all:
// a game that sizes its buffer by it has room to spare.)
TEST_F(Paths, PeekThenReadGivesTheSameBytesThroughEitherCall) {
  enum Call { kRecv, kRecvfrom };
  const Call pairs[][2] = {{kRecvfrom, kRecv}, {kRecv, kRecvfrom}, {kRecv, kRecv}};
  for (bool ipx : {false, true}) {
    SOCKET g = Game(ipx);
    for (const auto& pair : pairs) {
      const std::vector<uint8_t> p = Payload(20, static_cast<uint8_t>(0x30 + pair[0] * 2 + pair[1]));
      FromLauncher(g, FromPlayer(p));
      u_long pending = 0;
      ASSERT_EQ(Shim().ioctlsocket(g, FIONREAD, &pending), 0);
      EXPECT_EQ(pending, 32u);
      for (int step = 0; step < 2; ++step) {
        SCOPED_TRACE("ipx " + std::to_string(ipx) + " step " + std::to_string(step) + " call " +
                     std::to_string(pair[step]));
        const int flags = step == 0 ? MSG_PEEK : 0;
        char buf[64];
        const std::vector<uint8_t> got =
            pair[step] == kRecv ? std::vector<uint8_t>(buf, buf + std::max(0, Shim().recv(g, buf, sizeof buf, flags)))
                                : ShimRecvFrom(g, 16, 0, 64, flags).data;
        EXPECT_EQ(got, p);
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
      SCOPED_TRACE("ipx " + std::to_string(ipx) + " source " + std::to_string(source));
      SOCKET g = Game(ipx);
      std::vector<uint8_t> d = FromPlayer(Payload(5));
      LinkSetSourcePort(d.data(), source);
      FromLauncher(g, d);
      const Received r = ShimRecvFrom(g, 16);
      ASSERT_EQ(r.n, 5);
      const u_short want = source != 0 ? source : 300;
      // sa_socket as it lies in memory, or sin_port.
      EXPECT_EQ(ipx ? (r.from[12] | (r.from[13] << 8)) : ntohs(r.in().sin_port), want);
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
  SOCKET bound = GameSocket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in here = Inet(kHere, 0);
  ASSERT_EQ(Shim().bind(bound, reinterpret_cast<sockaddr*>(&here), sizeof here), 0);
  SOCKET wildcard = GameUdp();
  const std::vector<uint8_t> p = Payload(20);
  const std::vector<uint8_t> d = LinkDatagram(300, "198.51.100.9", p);
  for (SOCKET g : {bound, wildcard}) {
    SendFrom(own_link.get(), kHere, g, d);
    const Received r = ShimRecvFrom(g, sizeof(sockaddr_in));
    if (g == bound) {
      EXPECT_EQ(r.data, p);
      EXPECT_EQ(r.in().sin_addr.s_addr, inet_addr("198.51.100.9"));
    } else {
      EXPECT_EQ(r.n, 32) << "unwrapped for a socket the session library never sends to that way";
      EXPECT_EQ(r.in().sin_addr.s_addr, inet_addr(kHere));
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
    SOCKET g = spx ? GameSocket(AF_IPX, SOCK_SEQPACKET, NSPROTO_SPX) : GameSocket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(Shim().connect(g, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << spx;
    RealSocket peer(::accept(listener.get(), nullptr, nullptr));
    ASSERT_NE(peer.get(), INVALID_SOCKET);
    const std::vector<uint8_t> d = FromPlayer(Payload(20));
    for (int call = 0; call < 4; ++call) {
      SCOPED_TRACE("spx " + std::to_string(spx) + " call " + std::to_string(call));
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
        ASSERT_GT(n, 0) << "error " << Shim().WSAGetLastError();
        got += n;
      }
      EXPECT_TRUE(Same(buf, d.data(), 32));
      EXPECT_EQ(from[0], 0xEE) << "the source record was written";
      if (call == 1) {
        EXPECT_EQ(fromlen, 4);
      }
    }
  }
}

TEST_F(Paths, FionbioSwitchesTheRealSocketForIpxSocketsToo) {
  for (bool ipx : {false, true}) {
    SOCKET g = Game(ipx);
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
  ExpectLineAt(Tagged("mp_WSARecvFrom() - unable to load WSARecvFrom()"), 100);
}

// ---- socket options ----------------------------------------------------------------------

TEST_F(Paths, IpxAddressIsAnsweredOnAnySocket) {
  for (bool ipx : {true, false}) {
    SOCKET g = Game(ipx);
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
    EXPECT_TRUE(Same(buf, &want, sizeof want)) << ipx;
    EXPECT_EQ(len, 30) << "the length stays as the caller set it";
  }
  ExpectTagged({"mp_getsockopt called with optname IPX_ADDRESS"}, 2);
}

// IPX_MAX_ADAPTER_NUM is one byte; either answer without room for it is a fault that writes
// nothing.
TEST_F(Paths, IpxMaxAdapterNumIsOneByteAndAnswersWithoutRoomAreFaults) {
  SOCKET g = GameIpx();
  char buf[24] = {9, 9, 9, 9};
  int len = 4;
  ASSERT_EQ(Shim().getsockopt(g, NSPROTO_IPX, IPX_MAX_ADAPTER_NUM, buf, &len), 0);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[1], 9);
  EXPECT_EQ(len, 1);

  for (int opt : {IPX_ADDRESS, IPX_MAX_ADAPTER_NUM}) {
    memset(buf, 0x77, sizeof buf);
    len = opt == IPX_ADDRESS ? 23 : 0;
    EXPECT_EQ(Shim().getsockopt(g, NSPROTO_IPX, opt, buf, &len), SOCKET_ERROR) << opt;
    EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(buf[0], 0x77);
  }
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
  struct Answer {
    int result, error, len = 32;
    char buf[32] = {};
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.set) + " " + std::to_string(c.level) + " " + std::to_string(c.opt));
    // The same call through the shim and through the real library.
    auto ask = [&](decltype(&::getsockopt) get, decltype(&::setsockopt) put, int (*error)()) {
      Answer a;
      const int one = 1;
      a.result = c.set ? put(g, c.level, c.opt, reinterpret_cast<const char*>(&one), sizeof one)
                       : get(g, c.level, c.opt, a.buf, &a.len);
      a.error = a.result ? error() : 0;
      return a;
    };
    const Answer shim = ask(Shim().getsockopt, Shim().setsockopt, [] { return Shim().WSAGetLastError(); });
    const Answer real = ask(&::getsockopt, &::setsockopt, [] { return ::WSAGetLastError(); });
    EXPECT_EQ(shim.result, real.result);
    EXPECT_EQ(shim.error, real.error);
    EXPECT_EQ(shim.len, real.len);
    EXPECT_TRUE(Same(shim.buf, real.buf, sizeof shim.buf));
  }
  ExpectTagged({"mp_getsockopt called with optname IPX_MAXSIZE", "mp_setsockopt level set to NSPROTO_SPX",
                "mp_setsockopt called with optname IPX_PTYPE", "mp_setsockopt called with optname (16391)",
                "mp_setsockopt called with optname (16397)"});
  // The SPX levels write no option name for getsockopt.
  ExpectTagged({"mp_getsockopt called with optname IPX_ADDRESS"}, 0);
  ExpectTagged({"mp_setsockopt level set to NSPROTO_IPX"}, 2);
  ExpectTagged({"mp_setsockopt level set to IPX/SPX/SPXII"}, 3);
}

// ---- Winsock 2: WSARecvFrom (the shim standing in for ws2_32.dll) ------------------------

class WsaPaths : public Paths {
 protected:
  void SetUp() override {
    if (Shim().module == "wsock32.dll") GTEST_SKIP() << "wsock32.dll has no WSARecvFrom to bind";
    Paths::SetUp();
  }
  // WSARecvFrom through the shim into the buffers given; the bytes received in *got.
  static int WsaRecvFrom(SOCKET g, WSABUF* buffers, DWORD count, DWORD* got, void* from, INT* fromlen,
                         WSAOVERLAPPED* overlapped = nullptr) {
    DWORD flags = 0;
    return Shim().WSARecvFrom(g, buffers, count, got, &flags, reinterpret_cast<sockaddr*>(from), fromlen, overlapped,
                              nullptr);
  }
};

TEST_F(WsaPaths, LinkDatagramIsUnwrappedInTheOnlyBuffer) {
  for (bool ipx : {false, true}) {
    SCOPED_TRACE(ipx ? "ipx" : "udp");
    SOCKET g = Game(ipx);
    const std::vector<uint8_t> p = Payload(20);
    FromLauncher(g, FromPlayer(p));
    trace_.Mark();
    char buf[64];
    WSABUF wb = {sizeof buf, buf};
    DWORD got = 0;
    unsigned char from[32] = {};
    INT fromlen = ipx ? 14 : 16;  // exactly the room each form needs
    ASSERT_EQ(WsaRecvFrom(g, &wb, 1, &got, from, &fromlen), 0);
    EXPECT_EQ(got, 20u);
    EXPECT_TRUE(Same(buf, p.data(), 20));
    if (ipx) {
      EXPECT_TRUE(Same(from, kPlayerIpx, 14));
      EXPECT_EQ(fromlen, 14);
    } else {
      const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(from);
      EXPECT_EQ(in->sin_addr.s_addr, inet_addr(kPlayer));
      EXPECT_EQ(ntohs(in->sin_port), 300);
      EXPECT_EQ(fromlen, 16);
    }
    ExpectTagged({"mp_WSARecvFrom() - broadcast message is now converted"});
    EXPECT_EQ(Dumps(20), 0) << "WSARecvFrom writes no dumps\n" << Dump(Lines());

    // Without a source record it still unwraps.
    FromLauncher(g, FromPlayer(p));
    ASSERT_EQ(WsaRecvFrom(g, &wb, 1, &got, nullptr, nullptr), 0);
    EXPECT_EQ(got, 20u);
  }
}

// Several buffers and overlapped receives reach the real library unchanged, header and all.
TEST_F(WsaPaths, SeveralBuffersOrOverlappedArePassedOnUnchanged) {
  SOCKET g = GameUdp();
  const std::vector<uint8_t> d = FromPlayer(Payload(20));
  FromLauncher(g, d);
  trace_.Mark();
  char first[8], rest[64];
  WSABUF two[2] = {{sizeof first, first}, {sizeof rest, rest}};
  DWORD got = 0;
  sockaddr_in from = {};
  INT fromlen = sizeof from;
  ASSERT_EQ(WsaRecvFrom(g, two, 2, &got, &from, &fromlen), 0);
  EXPECT_EQ(got, 32u);
  EXPECT_TRUE(Same(first, d.data(), 8)) << "the header stays";
  EXPECT_EQ(ntohs(from.sin_port), LINK_PORT);
  ExpectTagged({"mp_WSARecvFrom() - overlapped, completion routine or 2 buffers: passed on unchanged, not rewritten"});

  FromLauncher(g, d);
  char buf[64];
  WSABUF wb = {sizeof buf, buf};
  from = {};
  fromlen = sizeof from;
  WSAOVERLAPPED ov = {};
  ov.hEvent = WSACreateEvent();
  const int r = WsaRecvFrom(g, &wb, 1, &got, &from, &fromlen, &ov);
  ASSERT_TRUE(r == 0 || WSAGetLastError() == WSA_IO_PENDING) << WSAGetLastError();
  DWORD done = 0, oflags = 0;
  ASSERT_TRUE(WSAGetOverlappedResult(g, &ov, &done, TRUE, &oflags));
  WSACloseEvent(ov.hEvent);
  EXPECT_EQ(done, 32u);
  EXPECT_TRUE(Same(buf, d.data(), 32));
  EXPECT_EQ(ntohs(from.sin_port), LINK_PORT);
}

TEST_F(WsaPaths, IpxSourceRecordTooShortIsAFault) {
  SOCKET g = GameIpx();
  FromLauncher(g, FromPlayer(Payload(20)));
  char buf[64];
  WSABUF wb = {sizeof buf, buf};
  DWORD got = 0;
  SOCKADDR_IPX from = {};
  INT fromlen = 10;
  EXPECT_EQ(WsaRecvFrom(g, &wb, 1, &got, &from, &fromlen), SOCKET_ERROR);
  EXPECT_EQ(Shim().WSAGetLastError(), WSAEFAULT);
  fromlen = sizeof from;
  EXPECT_EQ(WsaRecvFrom(g, &wb, 1, &got, &from, &fromlen), 0);
  EXPECT_EQ(got, 20u);
}

// WSARecv unwraps as recv does; several buffers still reach the real library unchanged.
TEST_F(WsaPaths, WsaRecvUnwrapsIntoTheOnlyBuffer) {
  for (bool ipx : {false, true}) {
    SCOPED_TRACE(ipx ? "ipx" : "udp");
    SOCKET g = Game(ipx);
    const std::vector<uint8_t> p = Payload(20);
    const std::vector<uint8_t> d = FromPlayer(p);
    FromLauncher(g, d);
    char buf[64];
    WSABUF wb = {sizeof buf, buf};
    DWORD got = 0, flags = 0;
    ASSERT_EQ(Shim().WSARecv(g, &wb, 1, &got, &flags, nullptr, nullptr), 0);
    EXPECT_EQ(got, 20u);
    EXPECT_TRUE(Same(buf, p.data(), 20));

    FromLauncher(g, d);
    char first[8], rest[64];
    WSABUF two[2] = {{sizeof first, first}, {sizeof rest, rest}};
    ASSERT_EQ(Shim().WSARecv(g, two, 2, &got, &flags, nullptr, nullptr), 0);
    EXPECT_EQ(got, 32u);
    EXPECT_TRUE(Same(first, d.data(), 8));
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
