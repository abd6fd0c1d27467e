// The name and address look-ups that trace more than an entry line: inet_ntoa,
// gethostname and gethostbyname. Each hands back exactly what the real function returned.
#include <string.h>

#include "frame/shim.h"
#include "frame/text.h"

namespace {

SHIM_SLOT(g_inet_ntoa, "inet_ntoa");
SHIM_SLOT(g_gethostname, "gethostname");
SHIM_SLOT_LINE(g_gethostbyname, "gethostbyname",
               "Unable to load gethostbyname from the real wsock32.dll!");

}  // namespace

extern "C" {

char* WINAPI orb_inet_ntoa(struct in_addr address) {
  SHIM_LOG(SHIM_TRACE, "mp_inet_ntoa()");
  auto real = ShimBindAs<char*(WINAPI*)(struct in_addr)>(g_inet_ntoa);
  if (!real) return nullptr;
  char* text = real(address);
  if (text) SHIM_LOG(SHIM_TRACE, "lp_inet_ntoa() returned '%s'", text);
  return text;
}

int WINAPI orb_gethostname(char* name, int length) {
  SHIM_LOG(SHIM_TRACE, "mp_gethostname()");
  auto real = ShimBindAs<int(WINAPI*)(char*, int)>(g_gethostname);
  if (!real) return SOCKET_ERROR;
  int result = real(name, length);
  // After a failure the buffer need not hold a terminated text: show no more of it than the
  // caller said it holds.
  char shown[SHIM_TEXT_MAX] = "";
  if (name && length > 0) {
    size_t n = TextLength(name, static_cast<size_t>(length));
    if (n > sizeof shown - 1) n = sizeof shown - 1;
    memcpy(shown, name, n);
    shown[n] = '\0';
  }
  SHIM_LOG(SHIM_TRACE, "lp_gethostname() returned local hostname of '%s'", shown);
  return result;
}

struct hostent* WINAPI orb_gethostbyname(const char* name) {
  const char* asked = name ? name : "(null)";
  SHIM_LOG(SHIM_TRACE, "mp_gethostbyname(%s)", asked);
  auto real = ShimBindAs<struct hostent*(WINAPI*)(const char*)>(g_gethostbyname);
  if (!real) return nullptr;
  struct hostent* entry = real(name);
  if (!entry) {
    int error = orb_WSAGetLastError();
    SHIM_LOG(SHIM_NOTABLE, "lp_gethostbyname failed lookup of %s (%d)", asked, error);
    orb_WSASetLastError(error);
    return nullptr;
  }
  const char* official = entry->h_name ? entry->h_name : "(null)";
  for (int i = 0; entry->h_addr_list && entry->h_addr_list[i]; ++i) {
    struct in_addr address;
    memcpy(&address, entry->h_addr_list[i], sizeof address);
    SHIM_LOG(SHIM_TRACE, "%s(alt:%s) = ", official, asked);
    const char* dotted = orb_inet_ntoa(address);
    SHIM_LOG(SHIM_TRACE, "%s", dotted ? dotted : "");
  }
  return entry;
}

}  // extern "C"
