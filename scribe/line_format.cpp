#include "line_format.h"

#include <stdio.h>
#include <string.h>

namespace scribe {
namespace {

// Appends a NUL-terminated text, cut to what fits. Returns the new length.
size_t Append(char* out, size_t size, size_t len, const char* text) {
  while (*text != '\0' && len + 1 < size) out[len++] = *text++;
  out[len] = '\0';
  return len;
}

// snprintf that never reports more than it wrote.
size_t AppendF(char* out, size_t size, size_t len, const char* format, ...) {
  if (len + 1 >= size) return len;
  va_list args;
  va_start(args, format);
  int n = vsnprintf(out + len, size - len, format, args);
  va_end(args);
  out[size - 1] = '\0';
  if (n < 0) {
    out[len] = '\0';
    return len;
  }
  return len + static_cast<size_t>(n) < size ? len + static_cast<size_t>(n) : size - 1;
}

// Line breaks become spaces, other control characters '.', trailing breaks go.
size_t Clean(char* text, size_t len) {
  while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) text[--len] = '\0';
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\r') {
      text[i] = ' ';
    } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
      text[i] = '.';
    }
  }
  return len;
}

}  // namespace

size_t FormatPrefix(char* out, size_t size, const LocalTime& t, uint32_t thread_id, int level,
                    const char* file, int line) {
  if (size == 0) return 0;
  out[0] = '\0';
  size_t len = AppendF(out, size, 0, "%04d-%02d-%02d %02d:%02d:%02d.%03d [%u] %d ", t.year, t.month,
                       t.day, t.hour, t.minute, t.second, t.millisecond, thread_id, level);
  char name[kFileNameMax + 1];
  CleanText(name, sizeof name, file != nullptr && *file != '\0' ? file : "?");
  len = Append(out, size, len, name);
  return AppendF(out, size, len, ":%d | ", line);
}

bool FormatWritesThroughArgument(const char* format) {
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    // Flags, width, precision, length modifiers, then the conversion letter.
    while (*p != '\0' && strchr("-+ #0123456789.*'hlLqjztI", *p) != nullptr) ++p;
    if (*p == 'n') return true;
    if (*p == '\0') break;
  }
  return false;
}

size_t CleanText(char* out, size_t size, const char* text) {
  if (size == 0) return 0;
  out[0] = '\0';
  size_t len = Append(out, size, 0, text != nullptr ? text : "(null)");
  return Clean(out, len);
}

size_t FormatText(char* out, size_t size, const char* format, va_list args) {
  if (size == 0) return 0;
  if (format == nullptr) return CleanText(out, size, "(null format)");
  if (FormatWritesThroughArgument(format)) return CleanText(out, size, format);
  // One byte more than kTextMax tells a text that was cut from one that just fits.
  char text[kTextMax + 2];
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  text[sizeof text - 1] = '\0';
  if (n < 0) return CleanText(out, size, format);
  size_t len = strlen(text);
  if (static_cast<size_t>(n) > kTextMax) {
    len = kTextMax;
    memcpy(text + len - 3, "...", 4);
  }
  len = Clean(text, len);
  if (len >= size) len = size - 1;
  memcpy(out, text, len);
  out[len] = '\0';
  return len;
}

size_t FormatDumpRow(char* out, size_t size, size_t offset, const uint8_t* bytes, size_t n) {
  if (size == 0) return 0;
  out[0] = '\0';
  if (n > kDumpRowBytes) n = kDumpRowBytes;
  size_t len = AppendF(out, size, 0, "%04lX ", static_cast<unsigned long>(offset));
  for (size_t i = 0; i < kDumpRowBytes; ++i) {
    if (i == kDumpRowBytes / 2) len = Append(out, size, len, " ");
    if (i < n) {
      len = AppendF(out, size, len, " %02X", bytes[i]);
    } else {
      len = Append(out, size, len, "   ");
    }
  }
  len = Append(out, size, len, "  |");
  for (size_t i = 0; i < n && len + 1 < size; ++i) {
    out[len++] = (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? static_cast<char>(bytes[i]) : '.';
  }
  out[len] = '\0';
  return Append(out, size, len, "|");
}

}  // namespace scribe
