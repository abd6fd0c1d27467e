#include "frame/text.h"

#include <stdio.h>
#include <string.h>

size_t TextFormatV(char* out, size_t size, const char* format, va_list args) {
  if (out == nullptr || size == 0) return 0;
  if (format == nullptr) {
    out[0] = '\0';
    return 0;
  }
  int n = vsnprintf(out, size, format, args);
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  out[size - 1] = '\0';  // some C runtimes leave a cut text unterminated
  return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

size_t TextFormat(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = TextFormatV(out, size, format, args);
  va_end(args);
  return n;
}

size_t TextLength(const char* buf, size_t size) {
  if (buf == nullptr) return 0;
  const void* nul = memchr(buf, '\0', size);
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) - buf) : size;
}

size_t TextCopy(char* out, size_t size, const char* text) {
  if (out == nullptr || size == 0) return 0;
  size_t n = text ? TextLength(text, size - 1) : 0;
  if (n) memcpy(out, text, n);
  out[n] = '\0';
  return n;
}
