// Figures of the peer transport (run by hand; prints, asserts nothing):
//   1. messages per second between two transports over real UDP on 127.0.0.1, 100-byte and
//      3000-byte messages, every fragment acknowledged, beside plain UDP datagrams of the
//      same sizes sent and read on the same sockets in the same run;
//   2. the cost of one idle pump pass with 1, 100 and 10 000 connections in the table;
//   3. the cost of one received data datagram and of one ACKNOWLEDGE with 1, 100 and
//      10 000 connections (and as many fragments outstanding).
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "transport.h"
#include "wire.h"

namespace {

using namespace orb;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

struct Counter : TransportObserver {
  void OnData(const uint8_t*, int32_t, int32_t, int32_t) override { ++messages; }
  uint64_t messages = 0;
};

// Messages per second, A to B, in batches small enough for the loopback socket buffers.
double TransportRate(int size, int total, int batch) {
  TransportOptions oa, ob;
  oa.trace = ob.trace = nullptr;
  Counter got;
  ob.observer = &got;
  Transport a(oa), b(ob);
  Endpoint* ea = a.CreateEndpoint(0);
  Endpoint* eb = b.CreateEndpoint(0);
  const int32_t c = a.Connect(ea, "127.0.0.1", eb->local_port, 0);
  for (int i = 0; i < 20; ++i) {
    a.Pump(0);
    b.Pump(0);
  }
  std::vector<uint8_t> m(static_cast<size_t>(size), 0x42);
  const Clock::time_point start = Clock::now();
  for (int sent = 0; sent < total; sent += batch) {
    for (int i = 0; i < batch; ++i) a.Send(c, m.data(), size, 8);
    const uint64_t want = got.messages + static_cast<uint64_t>(batch);
    const Clock::time_point waiting = Clock::now();
    while (got.messages < want || a.UnacknowledgedCount() > 0) {
      a.Pump(0);
      b.Pump(0);
      if (Seconds(waiting, Clock::now()) > 40) {  // past a time-out: the run is void
        printf("  (transport: stalled with %llu of %llu delivered, %zu unacknowledged)\n",
               static_cast<unsigned long long>(got.messages), static_cast<unsigned long long>(want),
               a.UnacknowledgedCount());
        return 0;
      }
    }
  }
  return total / Seconds(start, Clock::now());
}

// Plain datagrams over the same kind of sockets: send a batch, read it back.
double RawRate(int size, int total, int batch) {
  SocketHandle tx = UdpOpen(), rx = UdpOpen();
  UdpBind(tx, ParseIPv4("127.0.0.1"), 0);
  UdpBind(rx, ParseIPv4("127.0.0.1"), 0);
  UdpSetNonBlocking(rx);
  uint16_t port = 0;
  UdpBoundPort(rx, &port);
  const SocketAddress to{ParseIPv4("127.0.0.1"), port};
  std::vector<uint8_t> m(static_cast<size_t>(size), 0x42), buf(4096);
  // One datagram through first: under Wine the first batch on fresh sockets can vanish.
  for (const Clock::time_point warm = Clock::now(); Seconds(warm, Clock::now()) < 2;) {
    SocketAddress from;
    UdpSendTo(tx, m.data(), size, to);
    SleepMs(10);
    if (UdpReceiveFrom(rx, buf.data(), static_cast<int>(buf.size()), &from) > 0) break;
  }
  while (UdpReceiveFrom(rx, buf.data(), static_cast<int>(buf.size()), nullptr) > 0) {
  }
  const Clock::time_point start = Clock::now();
  for (int sent = 0; sent < total; sent += batch) {
    for (int i = 0; i < batch; ++i) UdpSendTo(tx, m.data(), size, to);
    const Clock::time_point waiting = Clock::now();
    for (int got = 0; got < batch;) {
      SocketAddress from;
      if (UdpReceiveFrom(rx, buf.data(), static_cast<int>(buf.size()), &from) > 0) {
        ++got;
      } else if (Seconds(waiting, Clock::now()) > 2) {  // lost on the way: stop counting
        printf("  (plain UDP: %d of a batch of %d lost)\n", batch - got, batch);
        return 0;
      }
    }
  }
  const double rate = total / Seconds(start, Clock::now());
  UdpClose(tx);
  UdpClose(rx);
  return rate;
}

// A DatagramIo that hands out prepared datagrams and drops what is sent.
class ReplayIo : public DatagramIo {
 public:
  int32_t Open(uint16_t port, intptr_t* handle, uint16_t* bound) override {
    *handle = 1;
    *bound = port ? port : 40000;
    return 0;
  }
  int Receive(intptr_t, uint8_t* buffer, int, SocketAddress* from, int*) override {
    if (pending.empty()) return kNothing;
    const Item& it = pending.front();
    memcpy(buffer, it.bytes.data(), it.bytes.size());
    *from = it.from;
    const int n = static_cast<int>(it.bytes.size());
    pending.pop_front();
    return n;
  }
  void SendTo(intptr_t, const uint8_t*, int, const SocketAddress&) override {}
  void Close(intptr_t) override {}
  struct Item {
    SocketAddress from;
    std::vector<uint8_t> bytes;
  };
  std::deque<Item> pending;
};

std::vector<uint8_t> Datagram(uint32_t id, uint16_t type, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> d(12 + payload.size());
  WritePeerHeader(d.data(), PeerHeader{id, type, 1, 1, static_cast<uint16_t>(payload.size())});
  memcpy(d.data() + 12, payload.data(), payload.size());
  return d;
}

struct Table {
  explicit Table(int n) {
    TransportOptions o;
    o.io = &io;
    o.clock = [this] { return now; };
    o.trace = nullptr;
    o.max_connections = static_cast<size_t>(n) + 10;
    t.reset(new Transport(o));
    e = t->CreateEndpoint(3668);
    for (int i = 0; i < n; ++i) {
      char host[32];
      const uint32_t ip = ParseIPv4("198.51.100.0") + (static_cast<uint32_t>(i % 250 + 1) << 24);
      FormatIPv4(ip, host, sizeof host);
      t->Connect(e, host, static_cast<uint16_t>(2000 + i / 250), i + 1);  // open: heartbeats due later
    }
  }
  SocketAddress Of(int i) const {
    return SocketAddress{ParseIPv4("198.51.100.0") + (static_cast<uint32_t>(i % 250 + 1) << 24),
                         static_cast<uint16_t>(2000 + i / 250)};
  }
  ReplayIo io;
  uint64_t now = 1000;
  std::unique_ptr<Transport> t;
  Endpoint* e;
};

void PassCost(int n) {
  Table table(n);
  const int passes = 20000;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < passes; ++i) table.t->Pump(0);
  printf("  idle pump pass, %5d connections: %8.1f ns\n", n, Seconds(start, Clock::now()) * 1e9 / passes);
}

void ReceiveCost(int n) {
  Table table(n);
  const int per_pass = 1000, passes = 50;
  // Data datagrams from the connection in the middle of the table.
  const std::vector<uint8_t> payload(100, 7);
  uint32_t id = 1;
  Clock::duration spent{};
  for (int p = 0; p < passes; ++p) {
    for (int i = 0; i < per_pass; ++i)
      table.io.pending.push_back(ReplayIo::Item{table.Of(n / 2), Datagram(id++, 8, payload)});
    const Clock::time_point start = Clock::now();
    table.t->Pump(0);  // reads, acknowledges, delivers and transmits the acknowledgements
    spent += Clock::now() - start;
  }
  const double data_ns = std::chrono::duration<double>(spent).count() * 1e9 / (per_pass * passes);

  // ACKNOWLEDGEs retiring one fragment each, with one fragment outstanding per connection
  // besides the ones being acknowledged.
  for (int i = 0; i < n; ++i) table.t->Send(i + 1, "x", 1, 8);
  table.t->Pump(0);
  const int acks = 1000, rounds = 20;
  spent = Clock::duration{};
  size_t outstanding = 0;
  for (int r = 0; r < rounds; ++r) {
    const uint32_t first = table.t->MessageIdCounter() + 1;
    for (int i = 0; i < acks; ++i) table.t->Send(i % n + 1, "x", 1, 8);
    table.t->Pump(0);
    outstanding = table.t->UnacknowledgedCount();
    for (int i = 0; i < acks; ++i) {
      std::vector<uint8_t> ack(8);
      WriteAckPayload(ack.data(), first + static_cast<uint32_t>(i), 8, 1);
      table.io.pending.push_back(ReplayIo::Item{table.Of(i % n), Datagram(900000 + i, ACKNOWLEDGE, ack)});
    }
    const Clock::time_point start = Clock::now();
    table.t->Pump(0);
    spent += Clock::now() - start;
  }
  const double ack_ns = std::chrono::duration<double>(spent).count() * 1e9 / (acks * rounds);
  printf("  received datagram, %5d connections: data %7.1f ns, acknowledge %7.1f ns (%zu outstanding, %zu left)\n",
         n, data_ns, ack_ns, outstanding, table.t->UnacknowledgedCount());
}

}  // namespace

int main(int argc, char** argv) {
  const bool only_table = argc > 1 && strcmp(argv[1], "table") == 0;
  if (!only_table) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  printf("Peer transport over UDP on 127.0.0.1 (one thread pumping both sides, acknowledged):\n");
  struct Run {
    int size, total, batch;
  } runs[] = {{100, 100000, 200}, {3000, 20000, 32}};
#ifdef _WIN32
  for (Run& r : runs) r.total /= 20;  // a Winsock call costs tens of microseconds under Wine
#endif
  for (const Run& r : runs) {
    const double raw = RawRate(r.size, r.total, r.batch);
    const double rate = TransportRate(r.size, r.total, r.batch);
    printf("  %4d-byte messages: %9.0f msg/s (%6.1f MB/s); plain UDP datagrams %9.0f/s; ratio %.2f\n",
           r.size, rate, rate * r.size / 1e6, raw, raw > 0 ? rate / raw : 0.0);
  }
  }
  printf("Cost against table size (in-memory datagram I/O):\n");
  for (int n : {1, 100, 10000}) PassCost(n);
  for (int n : {1, 100, 10000}) ReceiveCost(n);
  return 0;
}
