// How one trace line and one row of a byte dump are laid out. Every function writes into a
// caller's buffer of `size` bytes, never past it, always ends the text with a NUL (size > 0)
// and returns the length written, without the NUL.
#ifndef ORB_SCRIBE_LINE_FORMAT_H
#define ORB_SCRIBE_LINE_FORMAT_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "scribe_platform.h"

namespace scribe {

// Most text bytes kept from one formatted message; a longer one is cut and ends in "...".
constexpr size_t kTextMax = 1024;
// Most bytes of the source file name kept in a line's prefix.
constexpr size_t kFileNameMax = 128;
// Bytes shown per dump row, and the most bytes one LogDump shows.
constexpr size_t kDumpRowBytes = 16;
constexpr size_t kDumpMaxBytes = 4096;
// Room for a prefix (time, thread, level, file:line, separator), a text and a line end.
constexpr size_t kLineMax = 64 + kFileNameMax + kTextMax + 4;

// "2026-12-08 09:16:03.123 [36] 1000 wsock32\wsock32:120 | "
size_t FormatPrefix(char* out, size_t size, const LocalTime& t, uint32_t thread_id, int level,
                    const char* file, int line);

// The message of format and its arguments, as one line: line breaks inside it become spaces,
// trailing ones are dropped, other control characters become '.', and a text longer than
// kTextMax is cut and ends in "...". A null format gives "(null format)"; a format with a %n
// conversion is not expanded (it would write through an argument) and appears literally.
size_t FormatText(char* out, size_t size, const char* format, va_list args);

// True when format holds a %n conversion (with any flags, width, precision or length).
bool FormatWritesThroughArgument(const char* format);

// Copies text with the same clean-up as FormatText, cut to fit size.
size_t CleanText(char* out, size_t size, const char* text);

// One dump row: the offset in hex, up to 16 bytes in hex (a gap after the eighth), and the
// same bytes as ASCII with '.' for what does not print:
// "0000  F9 F9 F9 F9 2C 01 00 00  7F 00 00 01 41 42 43 44  |....,.......ABCD|"
size_t FormatDumpRow(char* out, size_t size, size_t offset, const uint8_t* bytes, size_t n);

}  // namespace scribe

#endif
