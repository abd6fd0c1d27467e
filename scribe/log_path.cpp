#include "log_path.h"

#include <stdio.h>
#include <string.h>

namespace scribe {
namespace {

const char kDirToken[] = "%logdir%";
const char kRotateToken[] = "%rotate%";
constexpr long kNumberMax = 999999999;  // nine digits

bool IsSep(char c) { return c == '\\' || c == '/'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool StartsWithToken(const char* p, const char* token) {
  return SameText(p, token, strlen(token)) && strlen(p) >= strlen(token);
}

bool Copy(char* out, size_t size, const char* from, size_t n) {
  if (n >= size) return false;
  memcpy(out, from, n);
  out[n] = '\0';
  return true;
}

// Expands %logdir% and every %rotate% (into rotate_text), turning separators into sep.
// Counts the %rotate% tokens and records where the first one fell. False when it does not fit.
bool Expand(const char* pattern, const char* logdir, char sep, const char* rotate_text,
            char* path, int* rotates, size_t* rotate_at) {
  size_t len = 0;
  *rotates = 0;
  for (const char* p = pattern; *p != '\0';) {
    const char* piece = p;
    size_t n = 1;
    if (StartsWithToken(p, kDirToken)) {
      piece = logdir;
      n = strlen(logdir);
      while (n > 1 && IsSep(piece[n - 1])) --n;  // "C:\logs\" and "C:\logs" mean the same
      p += strlen(kDirToken);
    } else if (StartsWithToken(p, kRotateToken)) {
      if ((*rotates)++ == 0) *rotate_at = len;
      piece = rotate_text;
      n = strlen(rotate_text);
      p += strlen(kRotateToken);
    } else {
      ++p;
    }
    if (len + n >= kPathMax) return false;
    for (size_t i = 0; i < n; ++i) path[len++] = IsSep(piece[i]) ? sep : piece[i];
  }
  path[len] = '\0';
  return true;
}

}  // namespace

bool ParseLogPath(const char* pattern, const char* logdir, char sep, LogPath* out) {
  if (pattern == nullptr || logdir == nullptr) return false;
  char path[kPathMax];
  int rotates = 0;
  size_t rotate_at = 0;
  if (!Expand(pattern, logdir, sep, "", path, &rotates, &rotate_at)) return false;
  const char* last_sep = strrchr(path, sep);
  size_t name_at = last_sep != nullptr ? static_cast<size_t>(last_sep - path) + 1 : 0;
  out->numbered = rotates == 1 && rotate_at >= name_at;
  if (!out->numbered && !Expand(pattern, logdir, sep, "1", path, &rotates, &rotate_at)) return false;

  size_t len = strlen(path);
  last_sep = strrchr(path, sep);
  name_at = last_sep != nullptr ? static_cast<size_t>(last_sep - path) + 1 : 0;
  if (name_at == len && !out->numbered) return false;  // a directory, no file name
  if (last_sep == nullptr) {
    Copy(out->dir, sizeof out->dir, ".", 1);
  } else if (!Copy(out->dir, sizeof out->dir, path, name_at > 1 ? name_at - 1 : 1)) {
    return false;  // "/x" lives in "/"
  }
  if (!out->numbered) {
    out->suffix[0] = '\0';
    return Copy(out->prefix, sizeof out->prefix, path + name_at, len - name_at);
  }
  return Copy(out->prefix, sizeof out->prefix, path + name_at, rotate_at - name_at) &&
         Copy(out->suffix, sizeof out->suffix, path + rotate_at, len - rotate_at);
}

bool LogFileName(const LogPath& p, char sep, long n, char* out, size_t size) {
  size_t dlen = strlen(p.dir);
  const char between[2] = {dlen > 0 && p.dir[dlen - 1] == sep ? '\0' : sep, '\0'};  // "/" + "x"
  int w;
  if (p.numbered) {
    w = snprintf(out, size, "%s%s%s%ld%s", p.dir, between, p.prefix, n, p.suffix);
  } else {
    w = snprintf(out, size, "%s%s%s", p.dir, between, p.prefix);
  }
  return w > 0 && static_cast<size_t>(w) < size;
}

long LogFileNumber(const LogPath& p, const char* entry) {
  if (!p.numbered || entry == nullptr) return -1;
  size_t plen = strlen(p.prefix), slen = strlen(p.suffix), elen = strlen(entry);
  if (elen <= plen + slen) return -1;
  if (!SameText(entry, p.prefix, plen) || !SameText(entry + elen - slen, p.suffix, slen)) return -1;
  long n = 0;
  size_t digits = elen - plen - slen;
  if (digits > 9) return -1;
  for (size_t i = plen; i < plen + digits; ++i) {
    if (entry[i] < '0' || entry[i] > '9') return -1;
    n = n * 10 + (entry[i] - '0');
  }
  if (entry[plen] == '0') return -1;  // "-01.log" is not a name we make
  return n <= kNumberMax ? n : -1;
}

}  // namespace scribe
