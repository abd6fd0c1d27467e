// The receive path: the checks on each datagram, acknowledgements, the bucket and delivery.
#include <gtest/gtest.h>

#include <string.h>

#include "delivered_window.h"
#include "test_support.h"

namespace orb {
namespace {

using test::AckPayload;
using test::Bytes;
using test::Datagram;
using test::HeaderOf;
using test::Peer;

const char kUnprocessedFmt[] = "We have an unprocessed message: id:%d, len:%d, type:%d, seq:%d of %d\n";
const char kAdding[] = "Adding recceived message to the bucket\n";
const char kAlready[] = "the exact message is already in the message bucket\n";

class ReceiveTest : public ::testing::Test {
 protected:
  ReceiveTest() : a(net, "203.0.113.1") {
    net.SetTap(true);
    remote = SocketAddress{sim::Ip("198.51.100.7"), 5000};
    conn = a.t->Connect(a.endpoint, "198.51.100.7", 5000, 40);
    a.t->SetDataCallback(conn, test::RecordData);
    a.trace.clear();
  }
  void From(const SocketAddress& src, const std::vector<uint8_t>& d) {
    net.Inject(src, a.Where(), d.data(), d.size());
  }
  void Arrive(const std::vector<uint8_t>& d) { From(remote, d); }
  // The ACKNOWLEDGE datagrams of the latest pass: (id, type, seq).
  std::vector<std::vector<uint8_t>> Pass() {
    net.ClearTap();
    a.t->Pump(0);
    std::vector<std::vector<uint8_t>> acks;
    for (auto& d : net.Tapped()) {
      if (HeaderOf(d).type == ACKNOWLEDGE)
        acks.push_back(std::vector<uint8_t>(d.bytes.begin() + 12, d.bytes.end()));
    }
    return acks;
  }
  sim::Network net;
  Peer a;
  SocketAddress remote;
  int32_t conn = 0;
};

TEST_F(ReceiveTest, ShortAndTruncatedDatagramsAreDiscarded) {
  std::vector<uint8_t> good = Datagram(1, 8, 1, 1, Bytes(10));
  Arrive(std::vector<uint8_t>(good.begin(), good.begin() + 11));  // shorter than a header
  std::vector<uint8_t> cut = good;
  cut.pop_back();  // header says 10, 9 arrived
  Arrive(cut);
  Arrive(std::vector<uint8_t>());  // a read of 0 bytes
  EXPECT_TRUE(Pass().empty());
  EXPECT_TRUE(test::g_data.empty());
  EXPECT_TRUE(a.trace.empty());
  TransportCounters c = a.t->Counters();
  EXPECT_EQ(c.dropped_short, 1u);
  EXPECT_EQ(c.dropped_truncated, 1u);
  // Bytes beyond the header length are ignored.
  std::vector<uint8_t> longer = good;
  longer.push_back(0xAB);
  Arrive(longer);
  Pass();
  ASSERT_EQ(test::g_data.size(), 1u);
  EXPECT_EQ(test::g_data[0].bytes, Bytes(10));
}

TEST_F(ReceiveTest, TraceLineOfEveryProcessedDatagram) {
  Arrive(Datagram(0x80000001u, 8, 1, 1, Bytes(3)));
  Pass();
  char line[260];
  snprintf(line, sizeof line, kUnprocessedFmt, static_cast<int>(0x80000001u), 3, 8, 1, 1);
  ASSERT_GE(a.trace.size(), 2u);
  EXPECT_EQ(a.trace[0], line);
  EXPECT_EQ(a.trace[1], kAdding);
}

TEST_F(ReceiveTest, ControlMessagesWithWrongLengthsAreDropped) {
  const uint16_t types[] = {CONNECT, ACKNOWLEDGE, CONFIRM_CONNECT, HEARTBEAT, PEERCLOSE,
                            CONFIRM_DISCONNECT};
  const size_t right[] = {72, 8, 8, 4, 4, 4};
  for (size_t i = 0; i < 6; ++i) {
    Arrive(Datagram(10 + i, types[i], 1, 1, Bytes(right[i] + 1)));
    Arrive(Datagram(20 + i, types[i], 1, 1, Bytes(right[i] - 1)));
  }
  EXPECT_TRUE(Pass().empty());
  EXPECT_EQ(a.t->Counters().dropped_control_length, 12u);
  EXPECT_EQ(a.t->ConnectionCount(), 1u);
  EXPECT_EQ(a.t->SendQueueLength(), 0u);
}

// A message reaches the caller once. A repeat in the same pass is dropped unacknowledged,
// as the published format has it; a repeat in a later pass (its acknowledgement was lost)
// is acknowledged again and dropped, and nothing is held for it.
class RepeatTest : public ReceiveTest, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(RepeatTest, MessageIsDeliveredOnceAndLaterRepeatsAreAcknowledgedAgain) {
  const uint16_t of = GetParam();
  std::vector<std::vector<uint8_t>> parts;
  for (uint16_t seq = 1; seq <= of; ++seq)
    parts.push_back(Datagram(7, 8, seq, of, Bytes(seq < of ? 1400 : 5)));
  for (auto& p : parts) {
    Arrive(p);
    Arrive(p);
  }
  EXPECT_EQ(Pass().size(), of);
  ASSERT_EQ(test::g_data.size(), 1u);
  for (int later = 0; later < 3; ++later) {
    net.Advance(1000);
    for (size_t i = parts.size(); i-- > 0;) Arrive(parts[i]);  // in any order
    std::vector<std::vector<uint8_t>> acks = Pass();
    ASSERT_EQ(acks.size(), of);
    EXPECT_EQ(acks.back(), AckPayload(7, 8, 1));
    EXPECT_EQ(test::g_data.size(), 1u);
    EXPECT_EQ(a.t->IncompleteBytes(), 0u);
  }
  // Another message with the next id is no repeat.
  Arrive(Datagram(8, 8, 1, 1, Bytes(5)));
  Pass();
  EXPECT_EQ(test::g_data.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(OneOrSeveralFragments, RepeatTest, ::testing::Values(1, 3));

TEST_F(ReceiveTest, ZeroLengthSingleFragmentIsDeliveredWithLengthZero) {
  Arrive(Datagram(3, 0, 1, 1, {}));
  Pass();
  ASSERT_EQ(test::g_data.size(), 1u);
  EXPECT_TRUE(test::g_data[0].bytes.empty());
  EXPECT_EQ(test::g_data[0].type, 0);
  EXPECT_EQ(test::g_data[0].address, conn);
}

TEST_F(ReceiveTest, OutOfOrderFragmentsAreDeliveredAsOneBufferAndEachAcknowledged) {
  std::vector<uint8_t> msg = Bytes(3000, 9);
  auto part = [&](uint16_t seq) {
    size_t from = (seq - 1) * 1400, to = std::min<size_t>(seq * 1400, msg.size());
    return Datagram(11, 8, seq, 3, std::vector<uint8_t>(msg.begin() + from, msg.begin() + to));
  };
  Arrive(part(2));
  Arrive(part(1));
  Arrive(part(3));
  std::vector<std::vector<uint8_t>> acks = Pass();
  ASSERT_EQ(acks.size(), 3u);
  EXPECT_EQ(acks[0], AckPayload(11, 8, 2));
  EXPECT_EQ(acks[1], AckPayload(11, 8, 1));
  EXPECT_EQ(acks[2], AckPayload(11, 8, 3));
  ASSERT_EQ(test::g_data.size(), 1u);
  EXPECT_EQ(test::g_data[0].bytes, msg);
  EXPECT_EQ(a.Count(kAdding), 1u);
}

TEST_F(ReceiveTest, IncompleteMessageWaitsAcrossPassesThenExpires) {
  Arrive(Datagram(12, 8, 1, 2, Bytes(1400)));
  Pass();
  EXPECT_TRUE(test::g_data.empty());
  EXPECT_EQ(a.t->IncompleteBytes(), 1400 + kFragmentOverheadBytes);
  net.Advance(20000);
  Arrive(Datagram(12, 8, 2, 2, Bytes(4)));
  EXPECT_EQ(Pass().size(), 1u);
  ASSERT_EQ(test::g_data.size(), 1u);
  EXPECT_EQ(test::g_data[0].bytes.size(), 1404u);
  EXPECT_EQ(a.t->IncompleteBytes(), 0u);

  Arrive(Datagram(13, 8, 2, 2, Bytes(4)));
  Pass();
  net.Advance(30000);
  Pass();
  EXPECT_EQ(a.t->IncompleteBytes(), 1u * (4 + kFragmentOverheadBytes));
  net.Advance(1);
  Pass();
  EXPECT_EQ(a.t->IncompleteBytes(), 0u);
  EXPECT_EQ(a.t->Counters().incomplete_expired, 1u);
  Arrive(Datagram(13, 8, 1, 2, Bytes(4)));  // the rest, too late: a new group that waits
  Pass();
  EXPECT_EQ(test::g_data.size(), 1u);
}

TEST_F(ReceiveTest, RepeatOfAHeldFragmentInALaterPassIsAcknowledgedAgain) {
  std::vector<uint8_t> first = Datagram(14, 8, 1, 2, Bytes(1400));
  Arrive(first);
  Arrive(first);
  EXPECT_EQ(Pass().size(), 1u);  // same pass: one acknowledgement
  Arrive(first);
  std::vector<std::vector<uint8_t>> acks = Pass();
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_EQ(acks[0], AckPayload(14, 8, 1));
  EXPECT_EQ(a.Count(kAlready), 2u);
  EXPECT_TRUE(test::g_data.empty());
}

TEST_F(ReceiveTest, MalformedFragmentNumbersAreDropped) {
  Arrive(Datagram(15, 8, 0, 1, Bytes(3)));  // seq 0
  Arrive(Datagram(16, 8, 3, 2, Bytes(3)));  // seq beyond of
  Arrive(Datagram(17, 8, 1, 0, Bytes(3)));  // of 0
  Arrive(Datagram(18, 8, 1, 2, Bytes(3)));
  Arrive(Datagram(18, 8, 2, 3, Bytes(3)));  // of differs within the message
  EXPECT_EQ(Pass().size(), 1u);
  EXPECT_EQ(a.t->Counters().dropped_malformed, 4u);
  EXPECT_TRUE(test::g_data.empty());
}

TEST_F(ReceiveTest, DataFromAnotherPortOrAnUnknownSourceIsDroppedUnacknowledged) {
  From(SocketAddress{remote.ip, 5001}, Datagram(19, 8, 1, 1, Bytes(3)));
  From(SocketAddress{sim::Ip("198.51.100.99"), 5000}, Datagram(20, 8, 1, 1, Bytes(3)));
  EXPECT_TRUE(Pass().empty());
  EXPECT_TRUE(test::g_data.empty());
  EXPECT_EQ(a.t->Counters().dropped_unknown_sender, 2u);
}

TEST_F(ReceiveTest, SenderIsTheLowestAddressWithThatSocketAddress) {
  int32_t twin = a.t->Connect(a.endpoint, "198.51.100.7", 5000, 41);
  a.t->SetDataCallback(twin, test::RecordData);
  Arrive(Datagram(21, 8, 1, 1, Bytes(3)));
  Pass();
  ASSERT_EQ(test::g_data.size(), 1u);
  EXPECT_EQ(test::g_data[0].address, conn);
  a.t->RemoveConnection(conn);
  Arrive(Datagram(22, 8, 1, 1, Bytes(3)));
  Pass();
  ASSERT_EQ(test::g_data.size(), 2u);
  EXPECT_EQ(test::g_data[1].address, twin);
}

TEST_F(ReceiveTest, SameIdFromTwoConnectionsInOnePassAreTwoMessages) {
  SocketAddress other{sim::Ip("198.51.100.8"), 5000};
  int32_t second = a.t->Connect(a.endpoint, "198.51.100.8", 5000, 1);
  a.t->SetDataCallback(second, test::RecordData);
  Arrive(Datagram(1, 8, 1, 1, Bytes(3, 1)));
  From(other, Datagram(1, 8, 1, 1, Bytes(3, 2)));
  EXPECT_EQ(Pass().size(), 2u);
  ASSERT_EQ(test::g_data.size(), 2u);
  EXPECT_EQ(test::g_data[0].address, conn);
  EXPECT_EQ(test::g_data[1].address, second);
  EXPECT_EQ(test::g_data[1].bytes, Bytes(3, 2));
}

TEST_F(ReceiveTest, DataForARemovedConnectionInTheSamePassIsStillDelivered) {
  Arrive(Datagram(23, 8, 1, 1, Bytes(3)));
  Arrive(Datagram(24, CONFIRM_DISCONNECT, 1, 1, test::Word(conn)));
  Pass();
  EXPECT_FALSE(a.t->AddressExists(conn));
  EXPECT_EQ(test::g_data.size(), 1u);
}

TEST_F(ReceiveTest, IncompleteMemoryIsBoundedPerConnectionAndInTotal) {
  sim::Network net2;
  TransportOptions o;
  o.max_incomplete_bytes_per_connection = 2 * (1400 + kFragmentOverheadBytes);
  o.max_incomplete_bytes_total = 3 * (1400 + kFragmentOverheadBytes);
  Peer b(net2, "203.0.113.2", o);
  SocketAddress x{sim::Ip("198.51.100.1"), 7}, y{sim::Ip("198.51.100.2"), 7};
  b.t->Connect(b.endpoint, "198.51.100.1", 7, 1);
  b.t->Connect(b.endpoint, "198.51.100.2", 7, 1);
  for (uint32_t id = 1; id <= 3; ++id) {
    std::vector<uint8_t> d = Datagram(id, 8, 1, 2, Bytes(1400));
    net2.Inject(x, b.Where(), d.data(), d.size());
  }
  for (uint32_t id = 1; id <= 2; ++id) {
    std::vector<uint8_t> d = Datagram(id, 8, 1, 2, Bytes(1400));
    net2.Inject(y, b.Where(), d.data(), d.size());
  }
  b.t->Pump(0);
  EXPECT_EQ(b.t->IncompleteBytes(), 3 * (1400 + kFragmentOverheadBytes));
  EXPECT_EQ(b.t->Counters().dropped_incomplete_limit, 2u);  // x's third, y's second
  // Completing one frees its share, and single-fragment messages are never limited.
  std::vector<uint8_t> rest = Datagram(1, 8, 2, 2, Bytes(1));
  net2.Inject(x, b.Where(), rest.data(), rest.size());
  std::vector<uint8_t> single = Datagram(9, 8, 1, 1, Bytes(1400));
  net2.Inject(y, b.Where(), single.data(), single.size());
  b.t->Pump(0);
  EXPECT_EQ(b.recorder.data_.size(), 2u);
  EXPECT_EQ(b.t->IncompleteBytes(), 2 * (1400 + kFragmentOverheadBytes));
}

TEST_F(ReceiveTest, ReceiveErrorsAreLoggedAndTheDrainGoesOn) {
  a.host->QueueReceiveErrors(10054, 2);  // WSAECONNRESET after an ICMP unreachable
  Arrive(Datagram(25, 8, 1, 1, Bytes(3)));
  Pass();
  EXPECT_EQ(a.Count("recv error: 10054\n"), 2u);
  EXPECT_EQ(test::g_data.size(), 1u);
  std::vector<uint8_t> huge(kReceiveBufferBytes + 1, 0);
  Arrive(huge);
  Arrive(Datagram(26, 8, 1, 1, Bytes(3)));
  Pass();
  EXPECT_EQ(a.Count("recv error: 10040\n"), 1u);
  EXPECT_EQ(test::g_data.size(), 2u);
}

TEST_F(ReceiveTest, EndlessReadErrorsDoNotHoldThePass) {
  a.host->QueueReceiveErrors(10054, 1000);
  Pass();
  EXPECT_LT(a.t->Counters().receive_errors, 1000u);
}

// The sending side of acknowledgements: which fragment an ACKNOWLEDGE retires.
class AckTest : public ReceiveTest {
 protected:
  void SendAndPump(int32_t length, int32_t to = 0) {
    std::vector<uint8_t> data = Bytes(static_cast<size_t>(length));
    ASSERT_EQ(a.t->Send(to ? to : conn, data.data(), length, 8), 0);
    Pass();
  }
  // (id, seq) of every fragment still unacknowledged, from the resends 10 s later.
  std::vector<std::pair<uint32_t, uint16_t>> Outstanding() {
    net.Advance(10001);
    net.ClearTap();
    a.t->Pump(0);
    std::vector<std::pair<uint32_t, uint16_t>> out;
    for (auto& d : net.Tapped()) out.emplace_back(HeaderOf(d).id, HeaderOf(d).seq);
    return out;
  }
};

enum AckSource { kOwnSocket, kOtherPort, kStranger, kOtherConnection };
struct AckCase {
  const char* name;
  AckSource source;
  uint32_t id;
  uint16_t seq;
  std::vector<std::pair<uint32_t, uint16_t>> left;  // message 1: seq 1-3 to conn; 2: conn2
  uint64_t refused, unmatched;
};

class AckRuleTest : public AckTest, public ::testing::WithParamInterface<AckCase> {};

TEST_P(AckRuleTest, RetiresOnlyWhatWasSentToTheSocketItCameFrom) {
  const AckCase& c = GetParam();
  const SocketAddress other{sim::Ip("198.51.100.8"), 6000};
  const int32_t conn2 = a.t->Connect(a.endpoint, "198.51.100.8", 6000, 41);
  SendAndPump(2800);     // id 1: three fragments to conn
  SendAndPump(10, conn2);  // id 2: one fragment to conn2
  const SocketAddress from[] = {remote, SocketAddress{remote.ip, 5001},
                                SocketAddress{sim::Ip("203.0.113.99"), 5000}, other};
  From(from[c.source], Datagram(50, ACKNOWLEDGE, 1, 1, AckPayload(c.id, 8, c.seq)));
  Pass();
  EXPECT_EQ(a.t->Counters().acks_refused, c.refused);
  EXPECT_EQ(a.t->Counters().acks_unmatched, c.unmatched);
  EXPECT_EQ(a.t->SendQueueLength(), 0u);  // acknowledgements are never acknowledged
  EXPECT_EQ(Outstanding(), c.left);
}

const std::vector<std::pair<uint32_t, uint16_t>> kAll = {{1, 1}, {1, 2}, {1, 3}, {2, 1}};
INSTANTIATE_TEST_SUITE_P(
    Acks, AckRuleTest,
    ::testing::Values(
        AckCase{"IdAndSeq", kOwnSocket, 1, 2, {{1, 1}, {1, 3}, {2, 1}}, 0, 0},
        AckCase{"SeqZeroIsTheFirstOfTheId", kOwnSocket, 1, 0, {{1, 2}, {1, 3}, {2, 1}}, 0, 0},
        AckCase{"GarbageSeqIsTheFirstOfTheId", kOwnSocket, 1, 0xBEEF, {{1, 2}, {1, 3}, {2, 1}},
                0, 0},
        AckCase{"OtherConnectionsMessage", kOtherConnection, 1, 1, kAll, 1, 0},
        AckCase{"ItsOwnMessage", kOtherConnection, 2, 0x5A5A, {{1, 1}, {1, 2}, {1, 3}}, 0, 0},
        AckCase{"OtherPortOfTheSameHost", kOtherPort, 1, 2, kAll, 1, 0},
        AckCase{"Stranger", kStranger, 1, 0xBEEF, kAll, 1, 0},
        AckCase{"NothingWithThatId", kOwnSocket, 99, 1, kAll, 0, 1}),
    [](const ::testing::TestParamInfo<AckCase>& info) { return std::string(info.param.name); });

TEST_F(AckTest, RepeatFromAPeerThatWritesTheSeqRetiresNoSibling) {
  SendAndPump(1500);  // id 1, two fragments, acknowledged one by one: the peer writes seqs
  Arrive(Datagram(48, ACKNOWLEDGE, 1, 1, AckPayload(1, 8, 1)));
  Arrive(Datagram(49, ACKNOWLEDGE, 1, 1, AckPayload(1, 8, 2)));
  SendAndPump(2800);  // id 2, three fragments
  Arrive(Datagram(50, ACKNOWLEDGE, 1, 1, AckPayload(2, 8, 2)));
  Pass();
  EXPECT_EQ(a.t->UnacknowledgedCount(), 2u);
  // A duplicate of that acknowledgement: seq 2 is gone and seq 1 may have been lost.
  Arrive(Datagram(51, ACKNOWLEDGE, 1, 1, AckPayload(2, 8, 2)));
  Pass();
  EXPECT_EQ(a.t->UnacknowledgedCount(), 2u);
  EXPECT_EQ(a.t->Counters().acks_unmatched, 1u);
  // A seq outside the message still means "the first of that id".
  Arrive(Datagram(52, ACKNOWLEDGE, 1, 1, AckPayload(2, 8, 0)));
  Pass();
  std::vector<std::pair<uint32_t, uint16_t>> left = {{2, 3}};
  EXPECT_EQ(Outstanding(), left);
}

// A peer built to the published format may leave the same value in every acknowledgement's
// reserved bytes; when that value is a seq of the message, each acknowledgement still
// retires one fragment, and nothing is left to time the connection out.
TEST_F(AckTest, PeerThatAlwaysWritesOneValueHasEveryFragmentRetired) {
  SendAndPump(2800);  // id 1, three fragments
  for (uint32_t id = 60; id < 63; ++id) {
    Arrive(Datagram(id, ACKNOWLEDGE, 1, 1, AckPayload(1, 8, 2)));
    Pass();
  }
  EXPECT_EQ(a.t->UnacknowledgedCount(), 0u);
  EXPECT_EQ(a.t->Counters().acks_unmatched, 0u);
}

TEST_F(AckTest, AcknowledgementFromTheConnectionProvesIt) {
  SendAndPump(10);
  EXPECT_FALSE(a.t->IsProven(conn));
  From(SocketAddress{remote.ip, 5999}, Datagram(53, ACKNOWLEDGE, 1, 1, AckPayload(1, 8, 1)));
  Pass();
  EXPECT_EQ(a.t->UnacknowledgedCount(), 1u);  // not from its socket address: refused
  EXPECT_FALSE(a.t->IsProven(conn));
  EXPECT_TRUE(a.recorder.proven.empty());
  Arrive(Datagram(54, ACKNOWLEDGE, 1, 1, AckPayload(1, 8, 1)));
  Pass();
  EXPECT_TRUE(a.t->IsProven(conn));
  EXPECT_EQ(a.recorder.proven, std::vector<int32_t>{conn});
  EXPECT_EQ(a.t->BytesReceived(conn), 20u);  // only the one from its socket address
  EXPECT_EQ(a.t->BytesSent(conn), 22u);
}

TEST_F(AckTest, PendingCountsFollowEveryFragmentToItsEnd) {
  SendAndPump(2800);  // three fragments: 1412 + 1412 + 12 bytes
  ASSERT_EQ(a.t->Send(conn, "x", 1, 8), 0);  // queued, not yet sent
  EXPECT_EQ(a.t->PendingFragments(conn), 4u);
  EXPECT_EQ(a.t->PendingBytes(conn), 1412u + 1412u + 12u + 13u);
  Arrive(Datagram(50, ACKNOWLEDGE, 1, 1, AckPayload(1, 8, 2)));
  Pass();  // the queued one moves to the unacknowledged list; seq 2 is retired
  EXPECT_EQ(a.t->PendingFragments(conn), 3u);
  EXPECT_EQ(a.t->PendingBytes(conn), 1412u + 12u + 13u);
  net.Advance(31000);
  for (int i = 0; i < 4; ++i) a.t->Pump(0);  // they time out, one per pass
  EXPECT_EQ(a.t->UnacknowledgedCount(), 0u);
  EXPECT_EQ(a.t->ConnectionRecords(), 0u);  // no count left holding the record
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

void Throwing(const uint8_t*, int32_t, int32_t, int32_t, int32_t) { throw 42; }

TEST_F(ReceiveTest, CallbackThatThrowsEndsThePassAndNothingIsLeftBehind) {
  a.t->SetDataCallback(conn, Throwing);
  Arrive(test::Datagram(30, 8, 1, 1, test::Bytes(3)));
  Arrive(test::Datagram(31, 8, 1, 1, test::Bytes(3)));
  EXPECT_EQ(a.t->Pump(0), 0);
  a.t->SetDataCallback(conn, test::RecordData);
  Arrive(test::Datagram(32, 8, 1, 1, test::Bytes(3)));
  a.t->Pump(0);
  ASSERT_EQ(test::g_data.size(), 1u);  // the next pass runs normally
  net.Advance(31000);
  a.t->Pump(0);
  EXPECT_EQ(a.t->IncompleteBytes(), 0u);
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

TEST(DeliveredIds, ForgetTheLowestBeyondTheCountAndAllBeyondTheAge) {
  DeliveredWindow w;
  for (uint32_t id = 1; id <= 5; ++id) w.Add(id * 2, 1000, 60000, 4);
  EXPECT_EQ(w.Size(), 4u);
  EXPECT_FALSE(w.Contains(2));
  EXPECT_TRUE(w.Contains(4));
  EXPECT_TRUE(w.Contains(10));
  EXPECT_FALSE(w.Contains(5));
  w.Add(7, 2000, 60000, 4);  // a late one takes its place in order
  EXPECT_TRUE(w.Contains(7));
  EXPECT_FALSE(w.Contains(4));
  w.Add(11, 63000, 60000, 4);  // every other one is more than 60 s old
  EXPECT_EQ(w.Size(), 1u);
  EXPECT_TRUE(w.Contains(11));
}

}  // namespace
}  // namespace orb
