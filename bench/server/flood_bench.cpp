// The parts of the flood benchmark (bench/server/flood_bench.sh runs them in network
// namespaces against a real orbserver). Every part stops by itself.
//
//   flood_bench forge SERVER PORT SECONDS
//       CONNECTs from forged sources in 198.51.100.0/24 (random address, port and
//       connecting-side address 1-3), as fast as a raw socket sends them. Prints the count.
//   flood_bench players SERVER PORT SECONDS NEWCOMER_AT
//       Two members (peer transports, as in the session library, pumped every 20 ms) that
//       join one group and relay a record each every 20 ms; at NEWCOMER_AT seconds a third
//       player connects and joins. Prints the members' loss and relay latency and how long
//       the newcomer took to join (from its CONNECT to the first record it receives).
//   flood_bench hog SERVER PORT SOCKETS SECONDS
//       One host with SOCKETS sockets, each a would-be member that connects, acknowledges
//       and joins. Prints how many the server confirmed and how many it closed.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bytes.h"
#include "message_types.h"
#include "platform.h"
#include "records.h"
#include "transport.h"
#include "wire.h"

namespace {

using orb::ReadU16;
using orb::ReadU32;
using orb::WriteU16;
using orb::WriteU32;

uint64_t NowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000ull + static_cast<uint64_t>(t.tv_nsec) / 1000;
}

uint64_t g_random = 0x9E3779B97F4A7C15ull;
uint64_t Random() {  // splitmix64
  uint64_t z = (g_random += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// ---- forge ----------------------------------------------------------------------------

const size_t kConnectDatagram = orb::kPeerHeaderBytes + orb::kConnectPayloadBytes;
const size_t kForgedPacket = sizeof(iphdr) + sizeof(udphdr) + kConnectDatagram;

void BuildForged(uint8_t* p, uint32_t server_ip, uint16_t server_port) {
  memset(p, 0, kForgedPacket);
  const uint32_t src = htonl(0xC6336400u | static_cast<uint32_t>(1 + Random() % 254));
  const uint16_t sport = static_cast<uint16_t>(1024 + Random() % 64000);
  iphdr* ip = reinterpret_cast<iphdr*>(p);
  ip->version = 4;
  ip->ihl = 5;
  ip->ttl = 64;
  ip->protocol = IPPROTO_UDP;
  ip->saddr = src;
  ip->daddr = server_ip;
  ip->tot_len = htons(static_cast<uint16_t>(kForgedPacket));  // the kernel fills id and checksum
  udphdr* udp = reinterpret_cast<udphdr*>(p + sizeof(iphdr));
  udp->source = htons(sport);
  udp->dest = htons(server_port);
  udp->len = htons(static_cast<uint16_t>(sizeof(udphdr) + kConnectDatagram));
  udp->check = 0;  // none: allowed over IPv4
  uint8_t* d = p + sizeof(iphdr) + sizeof(udphdr);
  orb::WritePeerHeader(d, orb::PeerHeader{static_cast<uint32_t>(Random()), orb::CONNECT, 1, 1,
                                           static_cast<uint16_t>(orb::kConnectPayloadBytes)});
  orb::WriteConnectPayload(d + orb::kPeerHeaderBytes, "forged", sport,
                           static_cast<int32_t>(1 + Random() % 3));
}

int Forge(const char* server, uint16_t port, int seconds) {
  int s = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
  if (s < 0) {
    perror("forge: raw socket (needs root)");
    return 1;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  inet_pton(AF_INET, server, &to.sin_addr);
  const int kBatch = 64;
  static uint8_t packets[kBatch][kForgedPacket];
  mmsghdr msgs[kBatch];
  iovec iov[kBatch];
  uint64_t sent = 0, failed = 0;
  const uint64_t start = NowUs(), end = start + static_cast<uint64_t>(seconds) * 1000000;
  while (NowUs() < end) {
    for (int i = 0; i < kBatch; ++i) {
      BuildForged(packets[i], to.sin_addr.s_addr, port);
      iov[i] = {packets[i], kForgedPacket};
      memset(&msgs[i], 0, sizeof msgs[i]);
      msgs[i].msg_hdr.msg_iov = &iov[i];
      msgs[i].msg_hdr.msg_iovlen = 1;
      msgs[i].msg_hdr.msg_name = &to;
      msgs[i].msg_hdr.msg_namelen = sizeof to;
    }
    int n = sendmmsg(s, msgs, kBatch, 0);
    if (n > 0) sent += static_cast<uint64_t>(n);
    else ++failed;
  }
  const double took = (NowUs() - start) / 1e6;
  printf("forged CONNECTs: %llu datagrams (%llu bytes of UDP payload) in %.1f s = %.0f/s%s\n",
         static_cast<unsigned long long>(sent),
         static_cast<unsigned long long>(sent * kConnectDatagram), took, sent / took,
         failed ? " (some sends refused by the kernel)" : "");
  close(s);
  return 0;
}

// ---- players --------------------------------------------------------------------------

const char kGroup[] = "flood";
const uint64_t kTickUs = 20000;

struct Player : orb::TransportObserver {
  Player(const char* server, uint16_t port, int index) : index(index) {
    orb::TransportOptions o;
    o.trace = nullptr;
    o.observer = this;
    t.reset(new orb::Transport(o));
    orb::Endpoint* e = t->CreateEndpoint(0);
    if (e) address = t->Connect(e, server, port, 0);
    connect_us = NowUs();
  }
  void OnEvent(int32_t a, int32_t code) override {
    if (a != address) return;
    if (code == orb::EVENT_CONNECTED && !connected) {
      connected = true;
      uint8_t join[orb::kJoinRecordSize];
      orb::BuildJoinRecord(kGroup, join);
      t->Send(address, join, orb::kJoinRecordSize, kMsgJoin);
    } else if (code != orb::EVENT_CONNECTED) {
      ++lost_events;
    }
  }
  void OnData(const uint8_t* d, int32_t n, int32_t type, int32_t a) override;
  void Relay() {
    uint8_t link[12 + 20] = {0xF9, 0xF9, 0xF9, 0xF9};
    WriteU16(link + 4, 2300);
    WriteU32(link + 12, static_cast<uint32_t>(index));
    WriteU32(link + 16, sent);
    const uint64_t now = NowUs();
    memcpy(link + 20, &now, 8);
    uint8_t record[orb::kRelayHeaderSize + sizeof link];
    const size_t n = orb::BuildRelayRecord(kGroup, 0, link, sizeof link, record, sizeof record);
    if (t->Send(address, record, static_cast<int32_t>(n), kMsgRelay) == 0) ++sent;
  }

  std::unique_ptr<orb::Transport> t;
  int index;
  int32_t address = 0;
  bool connected = false;
  uint64_t connect_us = 0, joined_us = 0;
  uint32_t sent = 0;
  int lost_events = 0;
  std::vector<bool> seen;  // from the other member, by sequence number
  std::vector<uint32_t> latency_us;
  uint64_t duplicates = 0;
};

void Player::OnData(const uint8_t* d, int32_t n, int32_t type, int32_t a) {
  if (a != address || type != kMsgRelay || n < 28) return;
  if (!joined_us) joined_us = NowUs();
  const uint32_t seq = ReadU32(d + 16);
  uint64_t at;
  memcpy(&at, d + 20, 8);
  if (seq >= seen.size()) seen.resize(seq + 1024);
  if (seen[seq]) {
    ++duplicates;
    return;
  }
  seen[seq] = true;
  latency_us.push_back(static_cast<uint32_t>(NowUs() - at));
}

double Percentile(std::vector<uint32_t> v, double p) {
  if (v.empty()) return 0;
  size_t k = static_cast<size_t>(p * (v.size() - 1));
  std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
  return v[k] / 1000.0;
}

int Players(const char* server, uint16_t port, int seconds, int newcomer_at) {
  Player a(server, port, 0), b(server, port, 1);
  std::unique_ptr<Player> newcomer;
  const uint64_t start = NowUs();
  const uint64_t end = start + static_cast<uint64_t>(seconds) * 1000000;
  const uint64_t relay_from = start + 2000000;  // both have joined by then
  uint64_t next = start;
  while (NowUs() < end + 3000000) {  // 3 s more to drain
    const uint64_t now = NowUs();
    if (now < next) {
      usleep(static_cast<useconds_t>(next - now));
      continue;
    }
    next += kTickUs;
    if (now >= relay_from && now < end) {
      a.Relay();
      b.Relay();
    }
    if (!newcomer && now >= start + static_cast<uint64_t>(newcomer_at) * 1000000)
      newcomer.reset(new Player(server, port, 2));
    a.t->Pump(0);
    b.t->Pump(0);
    if (newcomer) newcomer->t->Pump(0);
  }
  for (Player* p : {&a, &b}) {
    const Player& other = p == &a ? b : a;
    const size_t got = static_cast<size_t>(std::count(p->seen.begin(), p->seen.end(), true));
    printf("member %d: received %zu of %u records from the other (loss %.3f %%), "
           "duplicates %llu, latency p50 %.1f ms p99 %.1f ms max %.1f ms, lost events %d\n",
           p->index, got, other.sent, other.sent ? 100.0 * (other.sent - got) / other.sent : 0.0,
           static_cast<unsigned long long>(p->duplicates), Percentile(p->latency_us, 0.5),
           Percentile(p->latency_us, 0.99),
           p->latency_us.empty() ? 0.0
                                 : *std::max_element(p->latency_us.begin(), p->latency_us.end()) / 1000.0,
           p->lost_events);
  }
  if (!newcomer) {
    printf("newcomer: never started\n");
  } else if (!newcomer->joined_us) {
    printf("newcomer: connected %s, did not join within %.1f s\n",
           newcomer->connected ? "yes" : "no", (end - newcomer->connect_us) / 1e6);
  } else {
    printf("newcomer: joined %.0f ms after its CONNECT (first record received)\n",
           (newcomer->joined_us - newcomer->connect_us) / 1000.0);
  }
  return 0;
}

// ---- hog ------------------------------------------------------------------------------

int Hog(const char* server, uint16_t port, int count, int seconds) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, server, &to.sin_addr);
  const int ep = epoll_create1(0);
  std::vector<int> fds;
  std::vector<uint32_t> ids(static_cast<size_t>(count), 0);
  std::vector<char> confirmed(static_cast<size_t>(count), 0), closed(static_cast<size_t>(count), 0);
  auto send = [&](int i, uint16_t type, const uint8_t* payload, uint16_t length) {
    uint8_t d[orb::kPeerDatagramMax];
    orb::WritePeerHeader(d, orb::PeerHeader{++ids[static_cast<size_t>(i)], type, 1, 1, length});
    memcpy(d + orb::kPeerHeaderBytes, payload, length);
    sendto(fds[static_cast<size_t>(i)], d, orb::kPeerHeaderBytes + length, 0,
           reinterpret_cast<sockaddr*>(&to), sizeof to);
  };
  for (int i = 0; i < count; ++i) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      printf("hog: only %d sockets (%s)\n", i, strerror(errno));
      count = i;
      break;
    }
    sockaddr_in any{};
    any.sin_family = AF_INET;
    bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
    socklen_t len = sizeof any;
    getsockname(fd, reinterpret_cast<sockaddr*>(&any), &len);
    fds.push_back(fd);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = static_cast<uint32_t>(i);
    epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
    uint8_t connect[orb::kConnectPayloadBytes];
    orb::WriteConnectPayload(connect, "hog", ntohs(any.sin_port), 1);
    send(i, orb::CONNECT, connect, sizeof connect);
  }
  const uint64_t end = NowUs() + static_cast<uint64_t>(seconds) * 1000000;
  while (NowUs() < end) {
    epoll_event ev[64];
    int n = epoll_wait(ep, ev, 64, 100);
    for (int k = 0; k < n; ++k) {
      const int i = static_cast<int>(ev[k].data.u32);
      uint8_t d[2048];
      ssize_t got;
      while ((got = recv(fds[static_cast<size_t>(i)], d, sizeof d, 0)) >= orb::kPeerHeaderBytes) {
        const uint16_t type = ReadU16(d + 4);
        if (type == orb::ACKNOWLEDGE) continue;
        uint8_t ack[8];
        memcpy(ack, d, 6);
        WriteU16(ack + 6, ReadU16(d + 6));
        send(i, orb::ACKNOWLEDGE, ack, sizeof ack);
        if (type == orb::CONFIRM_CONNECT && !confirmed[static_cast<size_t>(i)]) {
          confirmed[static_cast<size_t>(i)] = 1;
          uint8_t join[orb::kJoinRecordSize];
          orb::BuildJoinRecord("hogged", join);
          send(i, kMsgJoin, join, sizeof join);
        }
        if (type == orb::PEERCLOSE) closed[static_cast<size_t>(i)] = 1;
      }
    }
  }
  const long c = std::count(confirmed.begin(), confirmed.end(), 1);
  const long x = std::count(closed.begin(), closed.end(), 1);
  printf("hog: %d sockets on one host: %ld confirmed, %ld of those closed by the server, "
         "%ld never answered; %ld held at the end\n",
         count, c, x, count - c, c - x);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string role = argc > 1 ? argv[1] : "";
  if (role == "forge" && argc == 5) return Forge(argv[2], static_cast<uint16_t>(atoi(argv[3])), atoi(argv[4]));
  if (role == "players" && argc == 6)
    return Players(argv[2], static_cast<uint16_t>(atoi(argv[3])), atoi(argv[4]), atoi(argv[5]));
  if (role == "hog" && argc == 6)
    return Hog(argv[2], static_cast<uint16_t>(atoi(argv[3])), atoi(argv[4]), atoi(argv[5]));
  fprintf(stderr,
          "usage: flood_bench forge SERVER PORT SECONDS\n"
          "       flood_bench players SERVER PORT SECONDS NEWCOMER_AT\n"
          "       flood_bench hog SERVER PORT SOCKETS SECONDS\n");
  return 2;
}
