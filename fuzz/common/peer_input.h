// Structured fuzz input for everything that reads peer datagrams. Raw bytes rarely get past
// the first length check, so besides raw datagrams the fuzz targets build well-formed ones
// whose fields come from the input: headers, CONNECTs, acknowledgements of what the target
// really sent, the other control messages, messages of one or more fragments (in any order,
// some missing, some repeated, with lying headers now and then), join records, relay
// records and game datagrams for one member around link datagrams, and path reports. The
// libFuzzer mutations then change fields, not framing.
#ifndef ORB_FUZZ_COMMON_PEER_INPUT_H
#define ORB_FUZZ_COMMON_PEER_INPUT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace orb {
namespace fuzz {

// Reads the input front to back; past its end every read gives 0.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
  // Up to max bytes, as many as a leading byte or two say.
  std::vector<uint8_t> Bytes(size_t max);

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A datagram the target sent to the source about to speak: what it may acknowledge.
struct Sent {
  uint32_t id;
  uint16_t type;
  uint16_t seq;
};

// What the builder may refer to.
struct Context {
  std::vector<Sent> sent;                // recent datagrams from the target to the source
  std::vector<int32_t> addresses;        // connection addresses the target may know
  std::vector<std::string> groups;       // group names in use
  uint16_t source_port = 0;              // the source's own port (for CONNECT payloads)
  uint32_t source_ip = 0;                // network order (for link headers)
};

// Appends one or more datagrams built from the input (a message of several fragments gives
// several) to *out. Every datagram is at most 1412 + a few bytes.
void BuildDatagrams(Reader& in, const Context& context, std::vector<std::vector<uint8_t>>* out);

}  // namespace fuzz
}  // namespace orb

#endif
