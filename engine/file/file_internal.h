// Shared by the units of the file layer only (handles.cc, range_locks.cc,
// requests.cc, write_gather.cc); other subsystems use file_layer.h.
//
// Locks, outermost first:
//   1. a FILE4's fileLock (tk_filelock::mutex): positioning plus transfer on
//      its handle, by the application thread and both workers;
//   2. a worker's queue lock (tk_worker::lock): the queue, the requests'
//      states and the files' request lists (delayedWrites, advanceReads);
//   3. the pool registry's lock (inside mem4*), innermost.
// Nobody waits for a request in flight (state 2) while holding a fileLock.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "tablekit.h"
#include "file/file_layer.h"
#include "file/write_gather.h"

// Made at open and freed at close; FILE4::fileLock points to it.
struct tk_filelock {
  std::mutex mutex;  // the fileLock itself

  // The byte ranges this handle holds locked, as the system will not say so
  // itself (see range_locks.cc). Application thread only.
  struct Range {
    std::uint64_t pos;
    std::uint64_t len;
  };
  std::vector<Range> held;

  // A delayed write that failed on a worker thread, kept for the application
  // thread to report (workers never report). Guarded by mutex.
  int deferredError = 0;  // the system's error; 0 = none
  std::uint64_t deferredPos = 0;
  unsigned deferredLen = 0;

  // The writes held back for an exclusive file (write_gather.cc). Guarded by
  // mutex; the application thread's alone.
  tablekit::file::GatheredRun gathered;
};

namespace tablekit::file {

// A file position as the byte count it allows: positions are 32-bit in the
// records, so [pos, pos + len) never wraps in 64 bits.
inline std::uint64_t endOf(std::uint64_t pos, unsigned len) { return pos + len; }

// ---------------------------------------------------------------------------
// handles.cc

// Raw transfers at pos on the handle; the caller holds the fileLock.
// rawRead returns the bytes read (fewer at the end of the file, or on an
// error); rawWrite returns 0 or the system's error.
[[nodiscard]] unsigned rawRead(FILE4 &file, std::uint64_t pos, void *buf, unsigned len);
[[nodiscard]] int rawWrite(FILE4 &file, std::uint64_t pos, const void *data, unsigned len);

// Reports -120 "Writing to File" for a failed write with the file's name and
// the system's text. Returns -120.
int reportWriteError(FILE4 &file, int sysError);

// Positions are 32-bit: a write that would make the file 2^31 bytes or
// longer is refused with -120 "Writing to File", the file's name and "2 GB
// or more" (reported at location), before anything is written. 0 or -120.
[[nodiscard]] int refuseBeyondMaxLength(FILE4 &file, std::uint64_t pos, unsigned len, long location);

// A direct write: read-only check, read-ahead update, resolution of the
// overlapping delayed writes, the write itself, which an exclusive file
// gathers (write_gather.h). 0 or a negative code.
[[nodiscard]] int directWrite(FILE4 &file, std::uint64_t pos, const void *data, unsigned len);

// A direct read: the bytes read, queued write data included.
[[nodiscard]] unsigned directRead(FILE4 &file, std::uint64_t pos, void *buf, unsigned len);

// ---------------------------------------------------------------------------
// requests.cc: the parts of direct transfers that concern queued requests.

// Before a write of [pos, pos + len), with fileGuard holding the file's
// lock: every queued delayed write of the file that overlaps the range is
// performed now (when the new write does not cover it entirely) or dropped
// (result 0), and completed. Waits for overlapping writes in flight, letting
// go of fileGuard meanwhile; holds it again on return.
void resolveDelayedWrites(FILE4 &file, std::uint64_t pos, unsigned len, std::unique_lock<std::mutex> &fileGuard);

// With the file's lock held: reads [pos, pos + len) into buf, taking the
// bytes that queued delayed writes cover from their data. The bytes read;
// reading stops after the first part that comes back short.
[[nodiscard]] unsigned readThroughDelayedWrites(FILE4 &file, std::uint64_t pos, char *buf, unsigned len);

// Before the file is cut to newLen, with fileGuard holding the file's lock:
// queued writes that start at or beyond newLen are dropped (result 0),
// those that reach beyond it are shortened. Waits as resolveDelayedWrites.
void trimDelayedWrites(FILE4 &file, std::uint64_t newLen, std::unique_lock<std::mutex> &fileGuard);

// With fileGuard holding the file's lock: queues the write of a full
// gathered run to the write worker, after resolving the queued writes it
// overlaps (as resolveDelayedWrites). data must stay untouched while
// delayedWriteUses says so. False, with nothing queued, when the context has
// no write worker or no memory for the request: the caller writes itself.
[[nodiscard]] bool queueGatheredRun(FILE4 &file, std::uint64_t pos, char *data, unsigned len,
                                    std::unique_lock<std::mutex> &fileGuard);

// Whether a delayed write of the file not yet done uses buf. Does not wait.
[[nodiscard]] bool delayedWriteUses(FILE4 &file, const void *buf);

}  // namespace tablekit::file
