// The peer transport: orblan's reliable datagram protocol over UDP/IPv4, spoken by the
// session library towards the group server and by the group server back.
//
// One Transport object holds everything: the endpoint list, the connection table, the
// send queue, the unacknowledged list, the message bucket and the message-id counter.
// The session library holds one; tests and the group server create their own. The core
// owns no socket and no clock: datagrams go through a DatagramIo (the platform's UDP
// sockets by default, a simulated network in tests) and time comes from an injected
// monotonic millisecond clock.
//
// Wire format (every integer little-endian): a 12-byte header
//   0 u32 message id   4 u16 type   6 u16 seq (from 1)   8 u16 of   10 u16 length
// followed by length payload bytes (0..1400). A message of n bytes travels as
// n / 1400 + 1 fragments.
//
// Threads: every member takes one recursive lock, so Send may be called from any thread
// while another thread pumps, and several threads may pump: their passes take turns.
// Callbacks run inside Pump on the thread whose pass delivers them, with the lock held,
// and may call any member. Nothing here throws.
#ifndef ORB_TRANSPORT_TRANSPORT_H
#define ORB_TRANSPORT_TRANSPORT_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>

#include "challenge.h"
#include "orblan.h"
#include "platform.h"

namespace orb {

// Message types of the connection protocol; every other type is application data.
enum MessageType : uint16_t {
  CONNECT = 0x7E90,             // 72-byte payload
  ACKNOWLEDGE = 0x7E91,         // 8: id, type, seq of the acknowledged fragment
  CONFIRM_CONNECT = 0x7E92,     // 8: connecting side's address, accepting side's address
  HEARTBEAT = 0x7E93,           // 4: the receiver's address for the connection
  PEERCLOSE = 0x7E94,           // 4: likewise
  CONFIRM_DISCONNECT = 0x7E95,  // 4: likewise
};

// Event codes; each equals the callback slot it is raised on.
enum EventCode : int32_t {
  EVENT_CONNECTED = 0,     // the far side confirmed our CONNECT
  EVENT_PEERCLOSE = 1,     // the far side asks us to close
  EVENT_DISCONNECTED = 2,  // the far side confirmed the close; the connection is removed
  EVENT_TIMEOUT = 3,       // a fragment went unacknowledged; the connection is removed
};

// Result codes (LastResult) and their texts (ResultText): the session library's published
// codes (orblan.h), which the transport is the one to set.
enum ResultCode : int32_t {
  RESULT_NO_ERROR = ORBLAN_RESULT_NO_ERROR,
  RESULT_UNUSED = ORBLAN_RESULT_UNUSED,
  RESULT_WINSOCK_START = ORBLAN_RESULT_WINSOCK_START,  // "[-2] unable to load wsock32.dll"
  RESULT_SOCKET = ORBLAN_RESULT_SOCKET,                // "[-3] unable to aquire socket"
  RESULT_BIND = ORBLAN_RESULT_BIND,                    // "[-4] unable to bind to socket"
  RESULT_NON_BLOCKING = ORBLAN_RESULT_NON_BLOCKING,  // "[-5] unable to set socket to non-blocking"
  RESULT_INVALID_ARGUMENTS = ORBLAN_RESULT_INVALID_ARGUMENTS,  // "[-6] invalid arguments passed"
  RESULT_HOST_LOOKUP = ORBLAN_RESULT_HOST_LOOKUP,      // "[-7] unable to look up host name"
  RESULT_NO_ADDRESS = ORBLAN_RESULT_NO_ADDRESS,        // "[-8] the address does not exist"
};

const int kPeerHeaderBytes = 12;
const int MAX_FRAGMENT_PAYLOAD = 1400;
const int kPeerDatagramMax = kPeerHeaderBytes + MAX_FRAGMENT_PAYLOAD;  // 1412 as sent
const int kReceiveBufferBytes = 2048;
const int kConnectPayloadBytes = 72;
const int kHostTextBytes = 64;  // 63 characters and the NUL
// The longest wait before a fragment is sent again; the first wait follows the measured
// round trip and doubles per try up to this (rtt.h).
const uint32_t RESEND_INTERVAL_MS = 10000;
// A fragment times out, and its connection with it, once it has waited this long for its
// acknowledgement while nothing at all came from the far side for as long; or, whatever
// came, once it has waited kFragmentGiveUpMs (a party that answers everything but this).
const uint32_t MESSAGE_TIMEOUT_MS = 30000;
const uint32_t kFragmentGiveUpMs = 120000;
// A repeat of a delivered message can come for as long as its sender resends it.
const uint32_t kDeliveredMemoryMs = kFragmentGiveUpMs + 10000;
const uint32_t HEARTBEAT_INTERVAL_MS = 30000;
const uint32_t kIncompleteMessageTimeoutMs = 30000;  // fragments of an unfinished message
const uint32_t kPumpForever = 0xFFFFFFFFu;

// Per-connection callbacks: plain functions, as the session library registers them.
typedef void (*EventCallback)(int32_t address, int32_t code, int32_t zero);
typedef void (*DataCallback)(const uint8_t* data, int32_t length, int32_t type,
                             int32_t address, int32_t zero);

// One bound, non-blocking UDP socket of this transport and the port it is bound to.
// Owned by the Transport; valid until it is destroyed.
struct Endpoint {
  intptr_t handle;      // the DatagramIo's handle (the platform socket by default)
  uint16_t local_port;  // host byte order
};

// Datagram I/O under the transport. The default is the platform's UDP sockets
// (PlatformDatagramIo); tests plug in a simulated network.
class DatagramIo {
 public:
  enum : int { kNothing = -2, kError = -1 };
  virtual ~DatagramIo() {}
  // Opens a bound, non-blocking UDP socket on port (0: any). Returns 0 with *handle and
  // *bound_port set, or the result code of the failing step (-2 .. -5).
  virtual int32_t Open(uint16_t port, intptr_t* handle, uint16_t* bound_port) = 0;
  // Reads one pending datagram without waiting. Returns its length (0 included), kNothing
  // when nothing is pending, or kError with *error set (the datagram, if any, is consumed).
  virtual int Receive(intptr_t handle, uint8_t* buffer, int capacity, SocketAddress* from,
                      int* error) = 0;
  // Sends one datagram; the outcome is not reported.
  virtual void SendTo(intptr_t handle, const uint8_t* data, int length,
                      const SocketAddress& to) = 0;
  // Sends one datagram with the IP time-to-live set to ttl for it alone. The default
  // ignores ttl and sends as SendTo does.
  virtual void SendToWithTtl(intptr_t handle, const uint8_t* data, int length,
                             const SocketAddress& to, int ttl) {
    (void)ttl;
    SendTo(handle, data, length, to);
  }
  // Closes a handle that Open returned.
  virtual void Close(intptr_t handle) = 0;
  // Host text to an IPv4 address: dotted text first, then a name look-up (the first
  // address of the answer). false when neither works.
  virtual bool Resolve(const char* host, uint32_t* ip);
};

// The process-wide DatagramIo over the platform's sockets. Its Open starts Windows Sockets
// once (its own start-up flag) and maps failures to -2 .. -5.
DatagramIo* PlatformDatagramIo();

// What to do with an arriving CONNECT that is not a repeat of a connection in the table.
enum class ConnectAdmission {
  kAdmit,      // add the connection now and answer it
  kChallenge,  // answer statelessly (TransportOptions::challenge); refused without it
  kRefuse,     // send nothing; the CONNECT stays unacknowledged
};

// Told about everything that happens, in addition to the per-connection callbacks (which
// carry no context). Called inside Pump with the transport's lock held.
class TransportObserver {
 public:
  virtual ~TransportObserver() {}
  // A CONNECT arrived from `from` naming the connecting side's `remote` address and the
  // port its answer goes to.
  virtual ConnectAdmission AdmitConnect(const SocketAddress& from, uint16_t port,
                                        int32_t remote) {
    (void)from; (void)port; (void)remote;
    return ConnectAdmission::kAdmit;
  }
  // An event was raised on address (after its callback, whether or not one is set).
  virtual void OnEvent(int32_t address, int32_t code) { (void)address; (void)code; }
  // A message was delivered on address (after its callback, whether or not one is set).
  virtual void OnData(const uint8_t* data, int32_t length, int32_t type, int32_t address) {
    (void)data; (void)length; (void)type; (void)address;
  }
  // An arriving CONNECT created the connection address (after it was answered), or the
  // acknowledgement of a stateless answer did (OnProven follows at once).
  virtual void OnAccepted(int32_t address) { (void)address; }
  // The far side acknowledged, from the connection's socket address, a fragment sent to it:
  // it receives at that address (see IsProven). Called once per connection.
  virtual void OnProven(int32_t address) { (void)address; }
};

// Writes one trace line to standard output with one printf call: the default trace sink.
void TraceToStdout(const char* line);

struct TransportOptions {
  // Monotonic milliseconds. Empty: MonotonicMs.
  std::function<uint64_t()> clock;
  // Sleep between the passes of a timed Pump. Empty: SleepMs.
  std::function<void(uint32_t ms)> sleep;
  // Not owned; must outlive the transport. Null: PlatformDatagramIo().
  DatagramIo* io = nullptr;
  // Receives every trace line, newline included. Null turns tracing off (no formatting).
  std::function<void(const char* line)> trace = TraceToStdout;
  // Not owned. Null: none.
  TransportObserver* observer = nullptr;
  // Datagrams that reach an endpoint from a socket address that no connection uses are
  // offered here before anything else looks at them; returning true takes the datagram,
  // and the transport does no more with it. Called inside Pump with the lock held. Empty:
  // nothing is offered (the session library's direct datagrams between members use it).
  std::function<bool(const uint8_t* data, int size, const SocketAddress& from)> stray;

  // Connections in the table at most; Connect and arriving CONNECTs beyond it are refused.
  size_t max_connections = 1024;
  // Bytes held for messages of several fragments that are not yet complete, counted as
  // payload plus kFragmentOverheadBytes per fragment; a fragment that would pass either
  // bound is dropped unacknowledged (its sender resends it later).
  size_t max_incomplete_bytes_per_connection = 256 * 1024;
  size_t max_incomplete_bytes_total = 16 * 1024 * 1024;
  // Datagrams read from one endpoint in one pass; 0 drains every endpoint completely.
  size_t max_datagrams_per_pass = 0;
  // Ids of delivered messages remembered per connection (8 bytes each, for at most
  // kDeliveredMemoryMs), so that a repeat is acknowledged but not delivered again.
  size_t max_delivered_ids_per_connection = 16384;

  // Group server options, all off for the session library.
  // A CONNECT from the same source IPv4 address, port and connecting-side address as a
  // connection in the table is answered on that connection instead of opening another.
  bool reuse_repeated_connect = false;
  // To a connection not yet proven (see IsProven) never transmit more than three times
  // the bytes received from it; what would pass the limit is not sent (it is resent or
  // times out like a lost datagram).
  bool anti_amplification = false;
  // CONFIRM_CONNECT, HEARTBEAT, PEERCLOSE and CONFIRM_DISCONNECT name their connection in
  // the payload; with this set they are dropped unless they come from its socket address.
  bool check_control_source = false;
  // A CONNECT that the observer answers with kChallenge gets a stateless CONFIRM_CONNECT
  // (challenge.h) made with this key; its acknowledgement adds the connection. The key
  // must be secret and random. Data that such a peer sends before its acknowledgement
  // arrives (a join right behind the CONNECT) is kept for a few seconds, a few datagrams
  // per source and a few hundred in all, and taken in when the connection is added.
  bool challenge = false;
  ChallengeKey challenge_key;
};
const size_t kFragmentOverheadBytes = 64;

// Why received datagrams were dropped, and other things worth counting.
struct TransportCounters {
  uint64_t datagrams_received = 0;       // reads that returned bytes
  uint64_t receive_errors = 0;           // "recv error: %d"
  uint64_t dropped_short = 0;            // shorter than the 12-byte header
  uint64_t dropped_truncated = 0;        // header length beyond the bytes that arrived
  uint64_t dropped_control_length = 0;   // control type with the wrong payload length
  uint64_t dropped_control_source = 0;   // check_control_source refused it
  uint64_t dropped_control_unknown = 0;  // named an address not in the table
  uint64_t dropped_unknown_sender = 0;   // data from no connection's socket address
  uint64_t dropped_malformed = 0;        // data with seq 0, seq > of, or of differing
  uint64_t dropped_duplicate = 0;        // a repeat of a message held or delivered
  uint64_t dropped_incomplete_limit = 0; // the incomplete-message bounds were reached
  uint64_t acks_unmatched = 0;           // ACKNOWLEDGE for nothing outstanding
  uint64_t acks_refused = 0;             // matched a fragment sent to another socket address
  uint64_t connects_refused = 0;         // the connection cap was reached
  uint64_t connects_repeated = 0;        // answered on an existing connection
  uint64_t connects_challenged = 0;      // answered statelessly
  uint64_t challenges_proven = 0;        // acknowledged: the connection was added
  uint64_t challenges_failed = 0;        // acknowledged CONFIRM_CONNECT that checked out wrong
  uint64_t early_data_replayed = 0;      // data that came before its source was proven
  uint64_t incomplete_expired = 0;       // unfinished messages dropped after 30 s
  uint64_t sends_suppressed = 0;         // anti_amplification held a datagram back
  uint64_t strays_taken = 0;             // taken by the stray hook
  uint64_t datagrams_sent = 0;
  uint64_t resends = 0;
  // Early copies of data fragments to a lossy connection (MarkDeliversOnce); not resends.
  uint64_t copies = 0;
  // Resends whose acknowledgement came sooner after them than the path's shortest round
  // trip: it answered an earlier copy, so the resend was not needed.
  uint64_t spurious_resends = 0;
  uint64_t timeouts = 0;
};

class Transport {
 public:
  explicit Transport(TransportOptions options = TransportOptions());
  // Closes every endpoint and frees every record. Must not run inside a callback.
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Opens a UDP endpoint bound to every interface on port (0: the platform chooses) and
  // appends it to the endpoint list. Null on failure, with the last result -2 .. -5.
  Endpoint* CreateEndpoint(uint16_t port);

  // Adds a connection to host:port through endpoint. remote 0 opens it actively (queues a
  // CONNECT); otherwise remote is the far side's address and nothing is sent. Returns the
  // new address (1, 2, ... never reused), or 0 with the last result -6 (no host, a host of
  // 64 characters or more, port 0, an endpoint not from this transport, or the connection
  // cap reached) or -7 (the host cannot be resolved).
  int32_t Connect(Endpoint* endpoint, const char* host, uint16_t port, int32_t remote);

  // Sets the data callback of address (null clears it). Unknown addresses are ignored.
  void SetDataCallback(int32_t address, DataCallback callback);
  // Sets event callback slot 0..3 of address. Other slots and unknown addresses are ignored.
  void SetEventCallback(int32_t address, uint32_t slot, EventCallback callback);
  // Vouches that the far side of address hands each message to its application at most
  // once and names the seq in its acknowledgements (it runs this transport): while the
  // connection shows loss, each data fragment to it then also goes a second time shortly
  // after the first. Returns false for an address not in the table.
  bool MarkDeliversOnce(int32_t address);
  // Whether address is in the connection table.
  bool AddressExists(int32_t address);
  // Takes address out of the table, raising no event. Returns whether it was there.
  // Fragments already queued for it still go out and time out as usual.
  bool RemoveConnection(int32_t address);

  // Copies length bytes and queues them as a message of type to address; they leave at
  // the next pump pass. Returns 0 (also for a negative length, which queues nothing but
  // uses an id), or -1 with the last result -8 (no such address) or -6 (data missing for a
  // positive length, or a message of more than 65535 fragments).
  int32_t Send(int32_t address, const void* data, int32_t length, uint16_t type);

  // Sends length bytes as one datagram, outside every connection, from the endpoint of
  // connection `via` to `to`, at once; ttl above 0 sets the IP time-to-live for this
  // datagram alone. Returns 0, or -1 with the last result -8 (no such connection) or -6
  // (data missing, or more than kReceiveBufferBytes).
  int32_t SendDatagram(int32_t via, const void* data, int32_t length, const SocketAddress& to,
                       uint8_t ttl = 0);

  // Runs pump passes (receive, deliver, transmit, resend and time out, heartbeats): one
  // pass for 0, passes without end for kPumpForever, otherwise passes with a 1 ms sleep
  // after each until timeout_ms have passed. Returns 0. A call from inside a callback
  // returns 0 at once.
  int32_t Pump(uint32_t timeout_ms);

  // How long until a pump pass has something to do that no arriving datagram brings (a
  // resend, time-out, heartbeat or expiry), in milliseconds of the injected clock: 0 when
  // it is due or something waits in the send queue, UINT64_MAX when nothing is scheduled.
  // A thread that waits for datagrams waits at most this long before it pumps.
  uint64_t MsToNextDue();

  // The code of the latest failure (0 until one happens; success does not reset it).
  int32_t LastResult() const;
  // The text of a code 0 .. -8, e.g. "[-8] the address does not exist"; null for others.
  static const char* ResultText(int32_t code);

  // Per-connection queries; false / 0 for an address not in the table.
  bool RemoteSocketAddress(int32_t address, SocketAddress* out);
  // The far side's address for the connection; 0 while unknown.
  int32_t RemoteAddress(int32_t address);
  // Whether the far side has acknowledged, from the connection's socket address, a
  // fragment we sent to it (for an accepted connection: our CONFIRM_CONNECT).
  bool IsProven(int32_t address);
  // The smoothed time in ms between sending a fragment to the connection and its
  // acknowledgement (fragments that had to be resent do not count); -1 until measured.
  int32_t RoundTripMs(int32_t address);
  // Datagram bytes (headers included) received from / transmitted to the connection.
  uint64_t BytesReceived(int32_t address);
  uint64_t BytesSent(int32_t address);
  // Fragments to the connection that wait to be sent or acknowledged, and their datagram
  // bytes (headers included).
  size_t PendingFragments(int32_t address);
  size_t PendingBytes(int32_t address);

  // Whole-transport figures, for tests, benchmarks and the server's status page.
  size_t ConnectionCount();
  size_t SendQueueLength();
  size_t UnacknowledgedCount();
  size_t IncompleteBytes();        // held for unfinished messages, as bounded above
  uint32_t MessageIdCounter();     // the id of the latest Send
  // Connection records alive: those in the table and removed ones that queued or
  // unacknowledged fragments or held messages still refer to.
  size_t ConnectionRecords();
  TransportCounters Counters();

  class Core;

 private:
  std::unique_ptr<Core> core_;
};

}  // namespace orb

#endif
