#include "local_address.h"

#include <stdio.h>

bool ChooseLocalAddress(const char* const* addresses, char* text, size_t size) {
  if (addresses == nullptr || text == nullptr || size == 0) return false;
  for (size_t i = 0; addresses[i] != nullptr; ++i) {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(addresses[i]);
    if (a[0] == 127 || a[0] == 192 || a[0] == 169 || a[0] == 0) continue;
    char dotted[16];
    snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    snprintf(text, size, "%s", dotted);
    return true;
  }
  return false;
}
