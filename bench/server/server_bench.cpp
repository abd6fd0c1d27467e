// Load benchmark of orbserver against a plain UDP fan-out relay, side by side in one run.
//
// A load generator of its own plays M members in G groups over loopback: every member is
// one UDP socket, and the generator speaks just enough of the peer protocol to be a
// well-behaved member (CONNECT, acknowledgements, join, relay records) without a
// transport object per member, so the generator stays cheap: one thread, epoll, batched
// receives and batched acknowledgements. Each member sends R relay records per second
// (100-byte link datagrams stamped with the send time) for T seconds. The same traffic,
// without the protocol, goes through the baseline relay.
//
// Usage: server_bench [--members M] [--groups G] [--rates R1,R2,..] [--seconds T]
//                     [--max-pending N]   (passed to orbserver)
// Prints one line per server and rate: records in, datagrams delivered per second,
// loss, p50/p99 relay latency, server CPU time and peak memory.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bytes.h"

#ifndef ORBSERVER_PATH
#error ORBSERVER_PATH must name the orbserver binary
#endif
#ifndef FANOUT_RELAY_PATH
#error FANOUT_RELAY_PATH must name the baseline relay
#endif

namespace {

const uint16_t kConnect = 0x7E90, kAck = 0x7E91, kConfirm = 0x7E92, kHeartbeat = 0x7E93;
const size_t kLinkBytes = 100;

uint64_t NowNs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000ull + t.tv_nsec;
}

using orb::ReadU16;
using orb::ReadU32;
using orb::WriteU16;
using orb::WriteU32;

size_t Header(uint8_t* out, uint32_t id, uint16_t type, uint16_t seq, uint16_t of,
              uint16_t length) {
  WriteU32(out, id); WriteU16(out + 4, type); WriteU16(out + 6, seq); WriteU16(out + 8, of);
  WriteU16(out + 10, length);
  return 12;
}

struct Server {
  std::shared_ptr<std::string> stats = std::make_shared<std::string>();
  std::thread reader;
  pid_t pid = -1;
  uint16_t port = 0;
  double cpu_s = 0;
  long peak_kb = 0;
};

// Starts a server process whose first output line holds its port after `marker`.
Server Launch(const std::vector<std::string>& args, const char* marker) {
  int fds[2];
  Server s;
  if (pipe(fds) != 0) return s;
  s.pid = fork();
  if (s.pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  FILE* f = fdopen(fds[0], "r");
  char line[512];
  if (fgets(line, sizeof line, f)) {
    const char* at = strstr(line, marker);
    if (at) s.port = static_cast<uint16_t>(atoi(at + strlen(marker)));
  }
  // The rest of the log is read and thrown away, so the server never blocks on it.
  std::shared_ptr<std::string> stats = s.stats;
  s.reader = std::thread([f, stats] {
    char rest[2048];
    while (fgets(rest, sizeof rest, f)) {
      if (strstr(rest, "stats:")) *stats = rest;
    }
    fclose(f);
  });
  return s;
}

void Stop(Server* s) {
  kill(s->pid, SIGTERM);
  int status;
  rusage ru;
  wait4(s->pid, &status, 0, &ru);
  s->cpu_s = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
             (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  s->peak_kb = ru.ru_maxrss;
  if (s->reader.joinable()) s->reader.join();
}

struct Emu {
  int fd = -1;
  int group = 0;
  int32_t server_address = 0;  // the server's address for our connection
  uint32_t next_id = 0;
  uint32_t sent = 0;
  uint32_t join_id = 0;
  bool joined = false;
  std::vector<std::vector<bool>> seen;  // per sender in the group: sequence numbers
};

struct Result {
  uint64_t records = 0, delivered = 0, duplicates = 0, expected = 0;
  std::vector<uint32_t> latency_us;
  double seconds = 0, generator_cpu_s = 0;
};

class Generator {
 public:
  Generator(int members, int groups, bool orb, uint16_t port)
      : members_(members), groups_(groups), orb_(orb) {
    server_.sin_family = AF_INET;
    server_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server_.sin_port = htons(port);
    epoll_ = epoll_create1(0);
    emus_.resize(members);
    for (int i = 0; i < members; ++i) {
      Emu& e = emus_[i];
      e.fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
      int big = 1 << 20;
      setsockopt(e.fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      bind(e.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      e.group = i % groups;
      e.next_id = static_cast<uint32_t>(i + 1) << 20;
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.u32 = i;
      epoll_ctl(epoll_, EPOLL_CTL_ADD, e.fd, &ev);
    }
    group_size_ = (members + groups - 1) / groups;
  }
  ~Generator() {
    for (Emu& e : emus_) close(e.fd);
    close(epoll_);
  }

  // Connects (orb) and joins every member, repeating what is not answered within
  // 300 ms as a session library would (a burst of 1000 CONNECTs overflows socket
  // buffers). false if not all were confirmed in time.
  bool Join() {
    uint64_t deadline = NowNs() + 10000000000ull;
    if (orb_) {
      while (confirmed_ < members_ && NowNs() < deadline) {
        for (int i = 0; i < members_; ++i) {
          if (emus_[i].server_address != 0) continue;
          SendConnect(i);
          if (i % 50 == 49) Poll(1);
        }
        uint64_t wait = NowNs() + 300000000ull;
        while (confirmed_ < members_ && NowNs() < wait) Poll(5);
      }
      if (confirmed_ < members_) return false;
    }
    while (joined_ < members_ && NowNs() < deadline) {
      for (int i = 0; i < members_; ++i) {
        if (!emus_[i].joined) SendJoin(i);
        if (i % 50 == 49) Poll(1);
      }
      uint64_t wait = NowNs() + 300000000ull;
      while ((joined_ < members_ || !orb_) && NowNs() < wait) Poll(5);
      if (!orb_) break;  // the baseline does not answer; its joins are not lost on loopback
    }
    for (Emu& e : emus_) e.seen.assign(group_size_, std::vector<bool>());
    return !orb_ || joined_ == members_;
  }

  void SendConnect(int i) {
    uint8_t d[128];
    memset(d, 0, sizeof d);
    size_t n = Header(d, ++emus_[i].next_id, kConnect, 1, 1, 72);
    d[n + 1] = 2;
    memcpy(d + n + 2, "127.0.0.1", 9);
    sockaddr_in a;
    socklen_t al = sizeof a;
    getsockname(emus_[i].fd, reinterpret_cast<sockaddr*>(&a), &al);
    WriteU16(d + n + 66, ntohs(a.sin_port));
    WriteU32(d + n + 68, 1);
    Send(i, d, n + 72);
  }

  void SendJoin(int i) {
    uint8_t d[128];
    memset(d, 0, sizeof d);
    if (orb_) {
      emus_[i].join_id = ++emus_[i].next_id;
      size_t n = Header(d, emus_[i].join_id, 0, 1, 1, 92);
      snprintf(reinterpret_cast<char*>(d + n), 64, "group-%d", emus_[i].group);
      memcpy(d + n + 68, "NoName", 6);
      Send(i, d, n + 92);
    } else {
      int n = snprintf(reinterpret_cast<char*>(d), sizeof d, "J%d", emus_[i].group);
      Send(i, d, n);
    }
  }

  Result Load(int rate, int seconds) {
    Result r;
    measuring_ = &r;
    rusage before;
    getrusage(RUSAGE_SELF, &before);
    uint64_t start = NowNs();
    uint64_t total = static_cast<uint64_t>(members_) * rate * seconds;
    uint64_t sent = 0;
    double per_ns = static_cast<double>(members_) * rate / 1e9;
    uint8_t d[256];
    for (;;) {
      uint64_t now = NowNs();
      uint64_t due = std::min<uint64_t>(total, static_cast<uint64_t>((now - start) * per_ns));
      while (sent < due) {
        int i = static_cast<int>(sent % members_);
        Send(i, d, Record(i, d));
        ++sent;
      }
      if (sent >= total) break;
      // Sleep in epoll until the next record is due (at most 1 ms late: the send time
      // stamped into each record is taken when it really leaves).
      Poll(static_cast<uint64_t>((sent + 1) / per_ns) + start > NowNs() + 200000 ? 1 : 0);
    }
    r.seconds = (NowNs() - start) / 1e9;
    uint64_t drain = NowNs() + 1000000000ull;
    while (NowNs() < drain) Poll(5);
    rusage after;
    getrusage(RUSAGE_SELF, &after);
    r.generator_cpu_s = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) +
                        (after.ru_stime.tv_sec - before.ru_stime.tv_sec) +
                        (after.ru_utime.tv_usec - before.ru_utime.tv_usec +
                         after.ru_stime.tv_usec - before.ru_stime.tv_usec) / 1e6;
    r.records = sent;
    for (int g = 0; g < groups_; ++g) {
      uint64_t in_group = 0;
      for (int i = g; i < members_; i += groups_) ++in_group;
      // Records are spread evenly over the members, so each sends total / M of them.
      r.expected += (total / members_) * in_group * (in_group - 1);
    }
    measuring_ = nullptr;
    return r;
  }

 private:
  // A relay record (orb) or a bare link datagram (baseline) from member i into d.
  size_t Record(int i, uint8_t* d) {
    Emu& e = emus_[i];
    size_t at = 0;
    if (orb_) {
      at = Header(d, ++e.next_id, 8, 1, 1, 72 + kLinkBytes);
      memset(d + at, 0, 72);
      snprintf(reinterpret_cast<char*>(d + at), 64, "group-%d", e.group);
      WriteU32(d + at + 68, kLinkBytes);
      at += 72;
    }
    uint8_t* link = d + at;
    memset(link, 0, kLinkBytes);
    memset(link, 0xF9, 4);
    WriteU16(link + 4, 2300);
    uint64_t ts = NowNs();
    memcpy(link + 12, &ts, 8);
    WriteU32(link + 20, static_cast<uint32_t>(i));
    WriteU32(link + 24, e.sent++);
    return at + kLinkBytes;
  }

  void Send(int i, const uint8_t* d, size_t n) {
    sendto(emus_[i].fd, d, n, 0, reinterpret_cast<const sockaddr*>(&server_), sizeof server_);
  }

  void Poll(int timeout_ms) {
    epoll_event ev[256];
    int n = epoll_wait(epoll_, ev, 256, timeout_ms);
    for (int k = 0; k < n; ++k) Drain(static_cast<int>(ev[k].data.u32));
  }

  void Drain(int i) {
    const int kBatch = 64;
    static uint8_t bufs[kBatch][2048];
    static uint8_t acks[kBatch][20];
    mmsghdr in[kBatch], out[kBatch];
    iovec iov[kBatch], aiov[kBatch];
    for (;;) {
      for (int k = 0; k < kBatch; ++k) {
        iov[k] = {bufs[k], sizeof bufs[k]};
        memset(&in[k], 0, sizeof in[k]);
        in[k].msg_hdr.msg_iov = &iov[k];
        in[k].msg_hdr.msg_iovlen = 1;
      }
      int got = recvmmsg(emus_[i].fd, in, kBatch, MSG_DONTWAIT, nullptr);
      if (got <= 0) return;
      int nacks = 0;
      for (int k = 0; k < got; ++k) {
        const uint8_t* d = bufs[k];
        size_t len = in[k].msg_len;
        if (!orb_) {
          Delivered(i, d, len);
          continue;
        }
        if (len < 12) continue;
        uint16_t type = ReadU16(d + 4);
        if (type == kAck) {
          if (len >= 16 && ReadU32(d + 12) == emus_[i].join_id && !emus_[i].joined) {
            emus_[i].joined = true;
            ++joined_;
          }
          continue;
        }
        if (type == kConfirm && len == 20) {
          if (emus_[i].server_address == 0) ++confirmed_;
          emus_[i].server_address = static_cast<int32_t>(ReadU32(d + 16));
        }
        // Acknowledge everything else: id, type, seq.
        uint8_t* a = acks[nacks];
        Header(a, ++emus_[i].next_id, kAck, 1, 1, 8);
        memcpy(a + 12, d, 4);
        WriteU16(a + 16, type);
        memcpy(a + 18, d + 6, 2);
        aiov[nacks] = {a, 20};
        memset(&out[nacks], 0, sizeof out[nacks]);
        out[nacks].msg_hdr.msg_iov = &aiov[nacks];
        out[nacks].msg_hdr.msg_iovlen = 1;
        out[nacks].msg_hdr.msg_name = &server_;
        out[nacks].msg_hdr.msg_namelen = sizeof server_;
        ++nacks;
        if (type == 8) Delivered(i, d + 12, len - 12);
        (void)kHeartbeat;
      }
      if (nacks > 0) sendmmsg(emus_[i].fd, out, nacks, 0);
      if (got < kBatch) return;
    }
  }

  void Delivered(int receiver, const uint8_t* link, size_t len) {
    if (measuring_ == nullptr || len < 28 || ReadU32(link) != 0xF9F9F9F9u) return;
    uint64_t ts;
    memcpy(&ts, link + 12, 8);
    uint32_t sender = ReadU32(link + 20), seq = ReadU32(link + 24);
    if (sender >= static_cast<uint32_t>(members_)) return;
    std::vector<bool>& seen = emus_[receiver].seen[sender / groups_ % group_size_];
    if (seq >= seen.size()) seen.resize(seq + 1024);
    if (seen[seq]) {
      ++measuring_->duplicates;
      return;
    }
    seen[seq] = true;
    ++measuring_->delivered;
    measuring_->latency_us.push_back(static_cast<uint32_t>((NowNs() - ts) / 1000));
  }

  int members_, groups_, group_size_;
  bool orb_;
  sockaddr_in server_{};
  int epoll_;
  std::vector<Emu> emus_;
  int confirmed_ = 0;
  int joined_ = 0;
  Result* measuring_ = nullptr;
};

double Percentile(std::vector<uint32_t>* v, double p) {
  if (v->empty()) return 0;
  size_t k = static_cast<size_t>(p * (v->size() - 1));
  std::nth_element(v->begin(), v->begin() + k, v->end());
  return (*v)[k] / 1000.0;
}

struct Figures {
  double delivered_per_s = 0;
  double cpu_us_per_datagram = 0;
};

std::string g_max_pending = "1024";  // orbserver's default, per member

Figures RunOne(const char* name, bool orb, int members, int groups, int rate, int seconds) {
  Server s = orb ? Launch({ORBSERVER_PATH, "--listen", "127.0.0.1:0", "--max-members",
                std::to_string(members + 16), "--max-groups", std::to_string(groups + 16),
                "--max-group-members", std::to_string(members / groups + 2),
                // every emulated member is on 127.0.0.1
                "--max-per-ip", std::to_string(members + 16), "--relay-rate",
                "0", "--stats-interval", "0", "--log-level", "info", "--max-pending",
                g_max_pending},
               "listening on 127.0.0.1:")
                 : Launch({FANOUT_RELAY_PATH}, "port ");
  if (s.port == 0) {
    printf("%-10s could not start\n", name);
    return Figures();
  }
  Result r;
  {
    Generator g(members, groups, orb, s.port);
    if (!g.Join()) {
      printf("%-10s R=%-4d members did not all connect\n", name, rate);
    } else {
      r = g.Load(rate, seconds);
    }
  }
  Stop(&s);
  double loss = r.expected ? 1.0 - static_cast<double>(r.delivered) / r.expected : 0;
  Figures f;
  f.delivered_per_s = r.seconds > 0 ? r.delivered / r.seconds : 0;
  f.cpu_us_per_datagram = r.delivered ? 1e6 * s.cpu_s / r.delivered : 0;
  printf("%-10s R=%-4d records_in=%-7llu delivered/s=%-7.0f loss=%5.2f%% dup=%-5llu "
         "p50=%7.2fms p99=%7.2fms server_cpu=%5.2fs =%5.1fus/datagram peak_rss=%5.1fMB "
         "generator_cpu=%5.2fs\n",
         name, rate, static_cast<unsigned long long>(r.records), f.delivered_per_s,
         100 * loss, static_cast<unsigned long long>(r.duplicates),
         Percentile(&r.latency_us, 0.50), Percentile(&r.latency_us, 0.99), s.cpu_s,
         f.cpu_us_per_datagram, s.peak_kb / 1024.0, r.generator_cpu_s);
  if (!s.stats->empty()) printf("           server's own count: %s", s.stats->c_str());
  fflush(stdout);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  int members = 1000, groups = 100, seconds = 5;
  std::vector<int> rates = {5, 10, 20, 40};
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string f = argv[i];
    if (f == "--members") members = atoi(argv[i + 1]);
    else if (f == "--groups") groups = atoi(argv[i + 1]);
    else if (f == "--seconds") seconds = atoi(argv[i + 1]);
    else if (f == "--max-pending") g_max_pending = argv[i + 1];
    else if (f == "--rates") {
      rates.clear();
      for (char* t = strtok(argv[i + 1], ","); t; t = strtok(nullptr, ",")) rates.push_back(atoi(t));
    }
  }
  if (members < 2 || groups < 1 || groups > members || seconds < 1 || seconds > 60) {
    fprintf(stderr, "server_bench: bad --members/--groups/--seconds\n");
    return 2;
  }
  printf("%d members in %d groups, 100-byte link datagrams, %d s per run; CPU and peak memory "
         "of each server process; latency = send to receive by another member\n",
         members, groups, seconds);
  for (int rate : rates) {
    if (rate < 1 || rate > 10000) continue;
    Figures plain = RunOne("plain-udp", false, members, groups, rate, seconds);
    Figures orb = RunOne("orbserver", true, members, groups, rate, seconds);
    if (plain.delivered_per_s > 0 && orb.cpu_us_per_datagram > 0) {
      // CPU per delivered datagram bounds what one core can deliver, whatever else the
      // machine is doing; the delivered rates compare the two at this offered load.
      printf("  R=%-4d orbserver/plain: delivered %.2f, CPU per datagram %.2f, "
             "so one core delivers %.0f/s (orbserver) against %.0f/s (plain), ratio %.2f\n",
             rate, orb.delivered_per_s / plain.delivered_per_s,
             orb.cpu_us_per_datagram / plain.cpu_us_per_datagram,
             1e6 / orb.cpu_us_per_datagram, 1e6 / plain.cpu_us_per_datagram,
             plain.cpu_us_per_datagram / orb.cpu_us_per_datagram);
    }
  }
  return 0;
}
