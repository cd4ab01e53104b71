// What the other subsystems of the engine may call in the foundation: the
// reporter, the context guards, pools and the background-worker handles.
// Internal: never installed, never included by the translator.
#pragma once

#include <mutex>
#include <string>

#include "tablekit.h"
#include "foundation/codes.h"
#include "foundation/locations.h"

namespace tablekit {

// ---------------------------------------------------------------------------
// Errors (errors.cc)

// Reports an error: stores it in the context, writes the error log, shows the
// message unless errOff, and ends the process for the fatal codes. Returns
// code. c4 may be null (the message is then always shown).
int report(CODE4 *c4, int code, long location, const char *d1 = nullptr, const char *d2 = nullptr,
           const char *d3 = nullptr);

// Reports like report() but never ends the process, whatever the code. For
// -910 raised by a caller's mistake or a damaged file (a skip without a
// current record, an impossible memo length): a library must not end its
// host for those; the engine's own broken state still goes through report().
int reportReturning(CODE4 *c4, int code, long location, const char *d1 = nullptr, const char *d2 = nullptr,
                    const char *d3 = nullptr);

// The text of an error code from the code table, or "Invalid or Unknown Error
// Code".
const char *codeText(int code);

// The message text the reporter shows for a report (lines ended by CR LF),
// before any character-set conversion. Exactly what error4out displays.
std::string messageText(int code, long location, const char *d1, const char *d2, const char *d3);

// The title of every message.
constexpr const char *kMessageTitle = "TABLEKIT ERROR";

// Writes value right-aligned into out[0 .. |width|), no terminator: leading
// zeros become blanks (0 stays a single "0"), a minus sign stands directly
// before the first digit, and a value that does not fit fills the width with
// '*'. A negative width asks for zero padding instead of blanks (a negative
// value then never fits).
void rightAlignLong(char *out, long value, int width);

// ---------------------------------------------------------------------------
// Location texts (locations.cc)

struct LocationEntry {
  long number;
  const char *text;
};

// The entry a location code selects, or null when it has none (class other
// than 6, 8 or 9, or an entry beyond the end of its table, or entry 0).
const LocationEntry *locationEntry(long location);

// ---------------------------------------------------------------------------
// Context guards (context.cc)

// -1 when the context's error code is negative (the sticky error state),
// else 0. A null context is not checked here.
inline int inError(const CODE4 *c4) { return (c4 != nullptr && c4->errorCode < 0) ? -1 : 0; }

// Number of live (initialised, not yet released) contexts in the process.
int liveContexts();

// ---------------------------------------------------------------------------
// Pools (pools.cc)

// Whether a memory reset (mem4reset) is running.
bool memResetting();

// The allocator objects a context hands out (c4getMemZeroAllocator): three
// virtual operations, allocate, free and one that does nothing; the zeroing
// one clears what it allocates. Null when out of memory.
tk_allocator *makeAllocator(bool zeroing);
void freeAllocator(tk_allocator *allocator);

// Releases every pool reference held by the context (at undo).
void releaseContextPools(CODE4 &c4);

// The process-wide lock of the expression evaluator's shared state.
std::recursive_mutex &exprLock();

// ---------------------------------------------------------------------------
// Error log (errors.cc)

// Closes and frees the context's error-log file, if one is open.
void closeErrorLog(CODE4 &c4);

// ---------------------------------------------------------------------------
// Background workers (workers.cc). Each context has two; each owns one OS
// thread from start until stop.

// Starts a worker for the context; null when the thread cannot be started
// (the context then works without it).
tk_worker *startWorker(CODE4 &c4, const char *name);
// Stops the worker and waits for its thread to end. Null does nothing.
void stopWorker(tk_worker *worker);
// Whether the worker's thread has started and not yet been told to stop.
bool workerRunning(const tk_worker *worker);

}  // namespace tablekit
