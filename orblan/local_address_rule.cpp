#include "local_address_rule.h"

#include <stdio.h>
#include <string.h>

bool ChooseLocalAddress(const uint32_t* addresses, int count, char* text, size_t size) {
  if (addresses == nullptr || text == nullptr || size == 0) return false;
  for (int i = 0; i < count; ++i) {
    unsigned char a[4];
    memcpy(a, &addresses[i], 4);  // network order: the first number first
    if (a[0] == 127 || a[0] == 192 || a[0] == 169 || a[0] == 0) continue;
    snprintf(text, size, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    return true;
  }
  return false;
}
