// What the connection-protocol messages do when they arrive: CONNECT, CONFIRM_CONNECT,
// HEARTBEAT, PEERCLOSE and CONFIRM_DISCONNECT. Each is acted on every time it arrives.
#include "core.h"

namespace orb {

void Transport::Core::RaiseEvent(const ConnectionRef& connection, int32_t address, int32_t code) {
  ConnectionRef keep = connection;  // the callback may remove the connection
  if (EventCallback cb = keep->events[code]) cb(address, code, 0);
  if (options_.observer) options_.observer->OnEvent(address, code);
}

bool Transport::Core::ControlSourceRefused(Connection* c, const SocketAddress& from) {
  if (!options_.check_control_source || !c || c->remote_socket == from) return false;
  ++counters_.dropped_control_source;
  return true;
}

void Transport::Core::OnConnect(Endpoint* endpoint, const PeerHeader& h, const uint8_t* payload,
                                int size, const SocketAddress& from) {
  ConnectPayload p = ReadConnectPayload(payload);
  for (char* s = p.host; *s; ++s) {  // the text is the far side's: keep the log line clean
    if (static_cast<unsigned char>(*s) < 0x20 || *s == 0x7F) *s = '?';
  }
  Trace("CONNECT: The remote user '%s:%u' is using version (%d,%d)\n", p.host,
        static_cast<unsigned>(p.port), p.version_first, p.version_second);

  // The connection is answered where the CONNECT came from. Its payload names the port the
  // far side bound, which a home router in between may have changed: answers sent there
  // would never arrive.
  if (options_.reuse_repeated_connect) {
    auto it = by_socket_.find(SocketKey(from));
    if (it != by_socket_.end()) {
      for (int32_t address : it->second) {
        Connection* c = Find(address);
        if (!c) continue;
        const bool learns = c->remote_unknown && p.address > 0;  // added by a stateless answer
        if (c->remote_address != p.address && !learns) continue;
        if (learns) {
          c->remote_address = p.address;
          c->remote_unknown = false;
          HeartbeatQueueUpdate(c);
        }
        ++counters_.connects_repeated;
        c->bytes_received += static_cast<uint64_t>(size);
        // Confirmed again even when proven: a session library that started over on the
        // same port with the same address sends this too, and waits for the confirmation.
        // A CONNECT is repeated byte for byte, id included; another id is another process
        // on the same port, whose message ids start afresh.
        if (h.id != c->connect_id) c->delivered.Clear();
        c->connect_id = h.id;
        uint8_t confirm[8];
        WriteU32(confirm, static_cast<uint32_t>(p.address));
        WriteU32(confirm + 4, static_cast<uint32_t>(c->alias ? c->alias : address));
        Send(address, confirm, sizeof confirm, CONFIRM_CONNECT);
        Trace("We received a connect message\n");
        QueueAck(address, h);
        return;
      }
    }
  }

  const ConnectAdmission admission =
      options_.observer ? options_.observer->AdmitConnect(from, from.port, p.address)
                        : ConnectAdmission::kAdmit;
  if (admission == ConnectAdmission::kChallenge && options_.challenge) {
    if (p.port != 0) SendChallenge(endpoint, from, p.address);  // no port: refused as below
    return;
  }
  if (admission != ConnectAdmission::kAdmit) {
    ++counters_.connects_refused;
    return;  // nothing is sent, the CONNECT stays unacknowledged
  }
  char source[16];
  FormatIPv4(from.ip, source, sizeof source);
  // A payload that names no port is refused as before, whatever the source.
  const int32_t address = Connect(endpoint, source, p.port != 0 ? from.port : 0, p.address);
  if (address == 0) return;  // refused: nothing is sent, the CONNECT stays unacknowledged
  Find(address)->bytes_received += static_cast<uint64_t>(size);
  Find(address)->connect_id = h.id;
  uint8_t confirm[8];
  WriteU32(confirm, static_cast<uint32_t>(p.address));
  WriteU32(confirm + 4, static_cast<uint32_t>(address));
  Send(address, confirm, sizeof confirm, CONFIRM_CONNECT);
  Trace("We received a connect message\n");
  QueueAck(address, h);
  if (options_.observer) options_.observer->OnAccepted(address);
}

void Transport::Core::OnConfirmConnect(const PeerHeader& h, const uint8_t* payload,
                                       const SocketAddress& from) {
  const int32_t a = static_cast<int32_t>(ReadU32(payload));
  const int32_t b = static_cast<int32_t>(ReadU32(payload + 4));
  Connection* c = Find(a);
  if (ControlSourceRefused(c, from)) return;
  Trace("CONFIRM CONNECT: The remote user(address:%d) confirms connection on our address %d\n",
        b, a);
  if (!c) {
    ++counters_.dropped_control_unknown;
    return;
  }
  // The same confirmation again (the far side answered a repeat of our CONNECT, as a server
  // that admits connections statelessly does once): acknowledged, and nothing changes. A
  // confirmation naming another address is a new connection there, and raises event 0 anew.
  if (b != 0 && c->remote_address == b) {
    QueueAck(a, h);
    return;
  }
  c->remote_address = b;
  HeartbeatQueueUpdate(c);
  RaiseEvent(table_[a], a, EVENT_CONNECTED);
  QueueAck(a, h);
}

void Transport::Core::OnHeartbeat(const PeerHeader& h, const uint8_t* payload,
                                  const SocketAddress& from) {
  const int32_t x = static_cast<int32_t>(ReadU32(payload));
  Connection* c = FindNamed(x);
  if (ControlSourceRefused(c, from)) return;
  Trace("HEARTBEAT RECEIVED: The remote user sent us a heartbeat message (remote address: %d)\n",
        x);
  if (!c) ++counters_.dropped_control_unknown;
  QueueAck(c ? c->address : x, h);  // fails with -8 for an unknown address, and that is all
}

void Transport::Core::OnPeerClose(const PeerHeader& h, const uint8_t* payload,
                                  const SocketAddress& from) {
  const int32_t named = static_cast<int32_t>(ReadU32(payload));
  Connection* c = FindNamed(named);
  if (ControlSourceRefused(c, from)) return;
  Trace("PEERCLOSE: The remote user is asking use to close our connection at address %d\n",
        named);
  if (!c) {
    ++counters_.dropped_control_unknown;
    return;
  }
  const int32_t x = c->address;
  ConnectionRef keep = table_[x];
  RaiseEvent(keep, x, EVENT_PEERCLOSE);
  uint8_t confirm[4];
  WriteU32(confirm, static_cast<uint32_t>(keep->remote_address));
  Send(x, confirm, sizeof confirm, CONFIRM_DISCONNECT);
  QueueAck(x, h);
}

void Transport::Core::OnConfirmDisconnect(const uint8_t* payload, const SocketAddress& from) {
  Connection* c = FindNamed(static_cast<int32_t>(ReadU32(payload)));
  if (ControlSourceRefused(c, from)) return;
  Trace("CONFIRM DISCONNECT: The remote user confirms they have closed their connection\n");
  if (!c) {
    ++counters_.dropped_control_unknown;
    return;
  }
  const int32_t x = c->address;
  RaiseEvent(table_[x], x, EVENT_DISCONNECTED);
  RemoveConnection(x);
}

}  // namespace orb
