// The shim's three trace calls and the log component they write to. Portable: the component
// is a table of five function pointers, filled by the Windows loader of SCRIBE.DLL (tracelog.h)
// or by a test. With no component bound every call returns at once.
#ifndef ORB_ORBWS_TRACE_H
#define ORB_ORBWS_TRACE_H

#include <stdarg.h>
#include <stddef.h>

// Trace levels: a lower number is more important.
enum ShimLevel {
  SHIM_MISSING = 100,   // the real library or a real function was not found
  SHIM_FAILED = 500,    // a real call failed, or data was refused
  SHIM_NOTABLE = 1000,  // start, shutdown, library loaded, IPX conversions, errors
  SHIM_TRACE = 2000,    // entry and result lines, registry lines, byte dumps
};

// Source labels the lines carry: the frame and intercepted calls, and the IPX registry.
#define SHIM_SRC_WSOCK32 "wsock32\\wsock32"
#define SHIM_SRC_SOCKTRAK "wsock32\\socktrak"

// Every formatted text of the shim fits in this many bytes, NUL included; longer ones are cut.
enum : size_t { SHIM_TEXT_MAX = 260 };

#if defined(__GNUC__)
#define SHIM_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define SHIM_PRINTF(f, a)
#endif

// The log component's functions (SCRIBE.DLL's exports, all cdecl).
extern "C" {
typedef int (*ScribeInitFn)(const char* file, int line, int level, const char* module,
                         const char* pattern);
typedef int (*ScribeWriteFn)(const char* file, int line, int level, const char* format, ...);
typedef int (*ScribeDumpFn)(const char* file, int line, int level, const void* data, int length,
                         const char* caption);
typedef const char* (*ScribeErrStrFn)(int code, char* buffer, int size);  // never called
typedef void (*ScribeShutdownFn)(void);
}

struct TraceComponent {
  ScribeInitFn init;
  ScribeWriteFn write;
  ScribeDumpFn dump;
  ScribeErrStrFn errstr;
  ScribeShutdownFn shutdown;
};

// Binds the component (all five pointers non-null) or, with null, unbinds it.
void TraceBind(const TraceComponent* component);
// True while a component is bound.
bool TraceBound();
// The bound component's LogInit / LogShutdown; nothing when unbound.
void TraceInit(const char* file, int line, int level, const char* module, const char* pattern);
void TraceShutdown();

// The shim's own file name, the prefix of every ShimLog line ("" until set). Cut to fit.
void ShimSetModuleName(const char* name);
const char* ShimModuleName();

// One line "[<module name>] <message>" at level; the message is format and its arguments.
// Both texts are cut to SHIM_TEXT_MAX bytes; the finished line reaches the component as the
// argument of a "%s" format, so a '%' inside it is written as it stands.
void ShimLog(const char* file, int line, int level, const char* format, ...) SHIM_PRINTF(4, 5);
void ShimLogV(const char* file, int line, int level, const char* format, va_list args);

// The message alone, no module prefix. Returns the component's result, 0 when unbound.
int ShimLogRaw(const char* file, int line, int level, const char* format, ...) SHIM_PRINTF(4, 5);

// A byte dump of length bytes at level 2000 with an empty caption. Nothing for a null data
// pointer or a length below 1.
void ShimLogDump(const char* file, int line, const void* data, int length);

// Short forms for the frame and the intercepted calls.
#define SHIM_LOG(level, ...) ShimLog(SHIM_SRC_WSOCK32, __LINE__, (level), __VA_ARGS__)
#define SHIM_LOG_RAW(level, ...) ShimLogRaw(SHIM_SRC_WSOCK32, __LINE__, (level), __VA_ARGS__)
#define SHIM_DUMP(data, length) ShimLogDump(SHIM_SRC_WSOCK32, __LINE__, (data), (length))

#endif
