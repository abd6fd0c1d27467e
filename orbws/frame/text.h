// Bounded text helpers: every function writes at most `size` bytes, NUL included, never reads
// past what it is given, and always terminates the text when size > 0.
#ifndef ORB_ORBWS_TEXT_H
#define ORB_ORBWS_TEXT_H

#include <stdarg.h>
#include <stddef.h>

// vsnprintf that cannot overrun: a longer text is cut at size - 1 bytes. Returns the length
// written (not the length the text would have had).
size_t TextFormatV(char* out, size_t size, const char* format, va_list args);
size_t TextFormat(char* out, size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Copies at most size - 1 bytes of text. Returns the length written.
size_t TextCopy(char* out, size_t size, const char* text);

// Length of the text in buf, looking at no more than size bytes (a buffer that holds no NUL
// gives size).
size_t TextLength(const char* buf, size_t size);

#endif
