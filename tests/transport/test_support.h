// Shared by the transport tests: a transport on a simulated host with its trace captured,
// an observer that records what it is told, and sinks for the plain callbacks.
#ifndef ORB_TESTS_TRANSPORT_TEST_SUPPORT_H
#define ORB_TESTS_TRANSPORT_TEST_SUPPORT_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "sim_network.h"
#include "transport.h"
#include "wire.h"

namespace orb {
namespace test {

struct Event {
  int32_t address;
  int32_t code;
};
struct Data {
  std::vector<uint8_t> bytes;
  int32_t type;
  int32_t address;
};

// What the plain callbacks saw, for the test that registered them. Cleared by Peer.
extern std::vector<Event> g_events;
extern std::vector<Data> g_data;
void RecordEvent(int32_t address, int32_t code, int32_t zero);
void RecordData(const uint8_t* data, int32_t length, int32_t type, int32_t address, int32_t zero);

class Recorder : public TransportObserver {
 public:
  void OnEvent(int32_t address, int32_t code) override { events.push_back(Event{address, code}); }
  void OnData(const uint8_t* data, int32_t length, int32_t type, int32_t address) override {
    data_.push_back(Data{std::vector<uint8_t>(data, data + length), type, address});
  }
  void OnAccepted(int32_t address) override { accepted.push_back(address); }
  void OnProven(int32_t address) override { proven.push_back(address); }
  std::vector<Event> events;
  std::vector<Data> data_;
  std::vector<int32_t> accepted;
  std::vector<int32_t> proven;
};

// One transport on one simulated host, with one endpoint.
struct Peer {
  Peer(sim::Network& net, const char* ip, TransportOptions options = TransportOptions(),
       uint16_t port = 0);
  SocketAddress Where() const { return SocketAddress{host->Ip(), endpoint->local_port}; }
  size_t Count(const std::string& line) const;
  bool Traced(const std::string& line) const { return Count(line) > 0; }

  sim::Network& net;
  sim::Host* host;
  std::vector<std::string> trace;
  Recorder recorder;
  std::unique_ptr<Transport> t;
  Endpoint* endpoint;
};

using sim::Datagram;  // a raw peer datagram
std::vector<uint8_t> AckPayload(uint32_t id, uint16_t type, uint16_t seq);
std::vector<uint8_t> Word(int32_t value);  // 4 bytes little-endian
std::vector<uint8_t> Bytes(size_t n, uint8_t seed = 0);  // n patterned bytes
PeerHeader HeaderOf(const sim::WireDatagram& d);

}  // namespace test
}  // namespace orb

#endif
