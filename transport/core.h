// Inside the peer transport: the records and tables that Transport::Core keeps, shared by
// the files that each implement one step (connections.cpp, handshake.cpp, outgoing.cpp,
// receive.cpp, bucket.cpp, pump.cpp). Every Core method expects the lock to be held.
#ifndef ORB_TRANSPORT_CORE_H
#define ORB_TRANSPORT_CORE_H

#include <atomic>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "delivered_window.h"
#include "rtt.h"
#include "transport.h"
#include "wire.h"

namespace orb {

struct Connection {
  explicit Connection(size_t* records) : live_records(records) { ++*live_records; }
  ~Connection() { --*live_records; }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  size_t* live_records;  // Core::connection_records_
  int32_t address = 0;
  char host[kHostTextBytes] = {};
  SocketAddress remote_socket = {0, 0};
  Endpoint* endpoint = nullptr;
  int32_t remote_address = 0;
  uint64_t last_heartbeat = 0;   // monotonic ms
  bool in_table = false;
  bool heartbeat_queued = false;  // in Core::heartbeat_due_
  bool proven = false;
  bool acks_carry_seq = false;  // its ACKNOWLEDGEs name the fragment's seq (see AckTarget)
  uint16_t exact_seq_seen = 0;  // the first seq that an acknowledgement matched exactly
  // Added by the acknowledgement of a stateless answer: the accepting-side address the far
  // side was told (it names the connection in HEARTBEAT and CONFIRM_DISCONNECT), and
  // whether its own address is still to be learnt from a repeat of its CONNECT.
  int32_t alias = 0;
  bool remote_unknown = false;
  EventCallback events[4] = {};
  DataCallback data = nullptr;
  uint64_t bytes_received = 0;
  uint64_t bytes_sent = 0;
  size_t incomplete_bytes = 0;  // held in the bucket for unfinished messages
  uint64_t last_heard = 0;      // monotonic ms of the latest datagram from remote_socket
  RttEstimator rtt;             // from acknowledgements of fragments sent once
  // Early copies (resend.cpp): whether the application vouched that the far side delivers
  // each message at most once, and until when fragments to it go twice (0: no loss seen).
  bool delivers_once = false;
  uint64_t copies_until = 0;  // monotonic ms
  DeliveredWindow delivered;    // ids of messages recently handed to the data callback
  uint32_t connect_id = 0;      // message id of the CONNECT that opened it, if one did
  // Fragments to this connection in the send queue or the unacknowledged list, and their
  // datagram bytes: kept by Outgoing itself, so every way a fragment ends is counted.
  size_t pending_fragments = 0;
  size_t pending_bytes = 0;
};

// Held by the table and by every fragment that refers to the connection; the record is
// freed with the last of them.
typedef std::shared_ptr<Connection> ConnectionRef;

struct Outgoing;
// Fragments sent and not yet acknowledged, owned here and keyed by (id << 16 | seq).
typedef std::map<uint64_t, std::unique_ptr<Outgoing>> UnackedMap;
typedef std::multimap<uint64_t, Outgoing*> ResendIndex;

// A fragment's datagram. Acknowledgements, control messages and small game datagrams,
// most of what a server sends, fit inline, so queuing one costs a single allocation.
class WireBytes {
 public:
  WireBytes() = default;
  WireBytes(const WireBytes&) = delete;
  WireBytes& operator=(const WireBytes&) = delete;
  // Makes room for n bytes; the old contents are not kept.
  void Resize(size_t n) {
    heap_.reset(n > sizeof inline_ ? new uint8_t[n] : nullptr);
    size_ = n;
  }
  uint8_t* data() { return heap_ ? heap_.get() : inline_; }
  const uint8_t* data() const { return heap_ ? heap_.get() : inline_; }
  size_t size() const { return size_; }

 private:
  uint8_t inline_[kPeerHeaderBytes + 116];
  std::unique_ptr<uint8_t[]> heap_;
  size_t size_ = 0;
};

// One outgoing fragment, held as its wire image.
struct Outgoing {
  Outgoing() = default;
  Outgoing(const Outgoing&) = delete;
  Outgoing& operator=(const Outgoing&) = delete;
  ~Outgoing() {
    if (!counted) return;
    --connection->pending_fragments;
    connection->pending_bytes -= counted_bytes;
  }
  // Counts the fragment as pending on its connection until it is destroyed.
  void CountPending() {
    counted_bytes = wire.size();
    ++connection->pending_fragments;
    connection->pending_bytes += counted_bytes;
    counted = true;
  }

  ConnectionRef connection;
  int32_t address = 0;
  PeerHeader header = {};
  WireBytes wire;  // 12-byte header and payload
  uint64_t created = 0;
  uint64_t last_sent = 0;  // when queued, then at each transmission
  int32_t tries = 0;
  uint64_t position = 0;  // order of first transmission
  ResendIndex::iterator resend_it;   // in resend_due_, keyed by when it goes again
  ResendIndex::iterator timeout_it;  // in timeout_due_, see resend.cpp
  ResendIndex::iterator copy_it;     // in copy_due_ while copy_pending
  bool copy_pending = false;
  bool counted = false;
  size_t counted_bytes = 0;
};

// A received data fragment held in the bucket.
struct HeldFragment {
  std::vector<uint8_t> payload;  // length + 1 bytes, the last one 0
  uint16_t length = 0;
  uint64_t pass = 0;  // the pump pass it arrived in
};

// The received fragments of one message of one connection.
struct Group {
  ConnectionRef connection;
  int32_t address = 0;
  uint32_t id = 0;
  uint16_t type = 0;  // of the fragment that opened the group
  uint16_t of = 0;
  uint64_t opened = 0;  // monotonic ms
  uint64_t order = 0;   // order opened
  bool ready = false;
  size_t held_bytes = 0;  // counted against the incomplete-message bounds
  std::map<uint16_t, HeldFragment> fragments;
};
typedef std::list<Group> Bucket;

class Transport::Core {
 public:
  explicit Core(TransportOptions options);
  ~Core();

  // Public operations, lock held.
  Endpoint* CreateEndpoint(uint16_t port);
  int32_t Connect(Endpoint* endpoint, const char* host, uint16_t port, int32_t remote);
  bool RemoveConnection(int32_t address);
  int32_t Send(int32_t address, const void* data, int32_t length, uint16_t type);
  void Pass();
  // Leaves consistent tables after a pass ended by an exception: messages that were
  // complete but not yet delivered are dropped.
  void AbandonPass();

  Connection* Find(int32_t address);
  // The connection that a control message's payload names: by address, or by the
  // accepting-side address of a stateless answer.
  Connection* FindNamed(int32_t named);
  // Creates a connection record and enters it in the table and its indexes.
  ConnectionRef AddConnection(Endpoint* endpoint, const char* host, uint32_t ip, uint16_t port,
                              int32_t remote);
  void SetResult(int32_t code) { last_result_.store(code, std::memory_order_relaxed); }
  int32_t LastResult() const { return last_result_.load(std::memory_order_relaxed); }
  void Trace(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  // Pump steps.
  void ReceiveAll();
  void Deliver();
  void TransmitQueue();
  void ResendAndTimeOut();
  void Heartbeats();
  void Transmit(Endpoint* endpoint, std::unique_ptr<Outgoing> fragment, bool resend,
                uint64_t now);
  void TransmitResend(Outgoing* fragment);
  // Files a fragment just transmitted for the first time in the resend and time-out
  // indexes (resend.cpp).
  void ScheduleFirstResend(Outgoing* fragment);
  // Sends the early copies that are due (resend.cpp).
  void SendCopies();
  // Takes the round-trip sample an acknowledged fragment gives, if any (resend.cpp).
  void NoteAcknowledged(Outgoing* fragment);
  // Takes a fragment out of the unacknowledged fragments and their indexes (resend.cpp).
  std::unique_ptr<Outgoing> Retire(UnackedMap::iterator at);
  // Monotonic ms of the earliest thing a pass has to do without any datagram arriving.
  uint64_t NextDue();

  // Receive path.
  void Process(Endpoint* endpoint, const uint8_t* datagram, int size, const SocketAddress& from);
  void OnAcknowledge(Endpoint* endpoint, const uint8_t* payload, const SocketAddress& from);
  // The unacknowledged fragment that an ACKNOWLEDGE (id, seq) from `from` retires, or
  // unacked_.end(); *elsewhere set when one matched but was sent elsewhere.
  UnackedMap::iterator AckTarget(uint32_t id, uint16_t seq, const SocketAddress& from,
                                 bool* elsewhere);
  void OnDataFragment(const PeerHeader& h, const uint8_t* payload, const SocketAddress& from);
  void OnConnect(Endpoint* endpoint, const PeerHeader& h, const uint8_t* payload, int size,
                 const SocketAddress& from);
  void OnConfirmConnect(const PeerHeader& h, const uint8_t* payload, const SocketAddress& from);
  void OnHeartbeat(const PeerHeader& h, const uint8_t* payload, const SocketAddress& from);
  void OnPeerClose(const PeerHeader& h, const uint8_t* payload, const SocketAddress& from);
  void OnConfirmDisconnect(const uint8_t* payload, const SocketAddress& from);
  bool ControlSourceRefused(Connection* c, const SocketAddress& from);
  // The stateless answer to a CONNECT, and its acknowledgement (admission.cpp).
  void SendChallenge(Endpoint* endpoint, const SocketAddress& to, int32_t remote);
  bool AcceptChallenge(Endpoint* endpoint, uint32_t id, const SocketAddress& from);
  // Data from a source that has no connection yet, kept a little while in case the source
  // is about to prove itself (admission.cpp).
  void Park(const PeerHeader& h, const uint8_t* payload, const SocketAddress& from);
  void ReplayParked(Endpoint* endpoint, const SocketAddress& from);
  void QueueAck(int32_t address, const PeerHeader& h);
  void RaiseEvent(const ConnectionRef& connection, int32_t address, int32_t code);

  // The socket-address index: connections in the table by remote socket address.
  Connection* LowestAt(const SocketAddress& where);
  void IndexAdd(Connection* c);
  void IndexRemove(Connection* c);
  void HeartbeatQueueUpdate(Connection* c);

  // Bucket helpers.
  bool IncompleteFits(Connection* c, size_t cost) const;
  void DropGroup(Bucket::iterator g);

  TransportOptions options_;
  DatagramIo* io_;
  std::recursive_mutex lock_;
  std::atomic<int32_t> last_result_{0};
  bool in_pass_ = false;
  uint64_t pass_ = 0;
  // Connection records alive, in the table or not. Declared before every container that
  // holds records, so it outlives them.
  size_t connection_records_ = 0;

  std::vector<std::unique_ptr<Endpoint>> endpoints_;
  std::unordered_map<int32_t, ConnectionRef> table_;
  std::unordered_map<int32_t, int32_t> aliases_;  // Connection::alias -> address
  struct Parked {
    uint64_t source;  // SocketKey
    uint64_t at;      // monotonic ms
    std::vector<uint8_t> datagram;
  };
  std::deque<Parked> parked_;  // oldest first
  int32_t next_address_ = 0;
  std::unordered_map<uint64_t, std::vector<int32_t>> by_socket_;  // ascending addresses
  std::set<std::pair<uint64_t, int32_t>> heartbeat_due_;          // (stamp, address)

  uint32_t message_id_ = 0;
  std::deque<std::unique_ptr<Outgoing>> send_queue_;
  UnackedMap unacked_;
  ResendIndex resend_due_;                                       // by when it goes again
  ResendIndex timeout_due_;  // by the time from which its time-out counts (resend.cpp)
  ResendIndex copy_due_;     // fragments whose early copy is still to go, by when
  uint64_t next_position_ = 0;

  Bucket bucket_;
  std::unordered_map<uint64_t, Bucket::iterator> groups_;  // (address << 32 | id)
  std::vector<Bucket::iterator> ready_;
  uint64_t next_group_order_ = 0;
  size_t incomplete_total_ = 0;

  TransportCounters counters_;
};

inline uint64_t SocketKey(const SocketAddress& a) {
  return (static_cast<uint64_t>(a.ip) << 16) | a.port;
}
inline uint64_t IdSeqKey(uint32_t id, uint16_t seq) {
  return (static_cast<uint64_t>(id) << 16) | seq;
}
inline uint64_t GroupKey(int32_t address, uint32_t id) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(address)) << 32) | id;
}

}  // namespace orb

#endif
