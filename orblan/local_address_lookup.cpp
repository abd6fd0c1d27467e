#include "local_address_lookup.h"

#include "local_address_rule.h"
#include "platform.h"

void FindLocalAddress(char* text, size_t size) {
  if (text == nullptr || size == 0) return;
  text[0] = '\0';
  if (!orb::LocalHostName(text, static_cast<int>(size))) {
    text[0] = '\0';
    return;
  }
  uint32_t addresses[32];
  const int count = orb::LookupHostIPv4(text, addresses, 32);
  ChooseLocalAddress(addresses, count, text, size);
}
