#include "local_address_rule.h"

#include <stdio.h>
#include <string.h>

namespace {

// Never this machine's address for anyone else: "this network", loopback, link-local,
// multicast and the reserved range up to 255.255.255.255.
bool Usable(const unsigned char a[4]) {
  return a[0] != 0 && a[0] != 127 && !(a[0] == 169 && a[1] == 254) && a[0] < 224;
}

// Addresses for use inside one network (a home network behind a router, a carrier's).
bool Private(const unsigned char a[4]) {
  return a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16) || (a[0] == 192 && a[1] == 168) ||
         (a[0] == 100 && (a[1] & 0xC0) == 64);
}

}  // namespace

bool ChooseLocalAddress(const uint32_t* addresses, int count, char* text, size_t size) {
  if (text == nullptr || size == 0) return false;
  if (addresses == nullptr) count = 0;
  const unsigned char* chosen = nullptr;
  unsigned char a[4], first_private[4];
  bool have_private = false;
  for (int i = 0; i < count && chosen == nullptr; ++i) {
    memcpy(a, &addresses[i], 4);  // network order: the first number first
    if (!Usable(a)) continue;
    if (!Private(a)) {
      chosen = a;
    } else if (!have_private) {
      memcpy(first_private, a, 4);
      have_private = true;
    }
  }
  if (chosen == nullptr && have_private) chosen = first_private;
  if (chosen == nullptr) {
    text[0] = '\0';  // a host name kept here would be stamped as 255.255.255.255
    return false;
  }
  snprintf(text, size, "%u.%u.%u.%u", chosen[0], chosen[1], chosen[2], chosen[3]);
  return true;
}
