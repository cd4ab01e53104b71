// Write gathering for files opened exclusively: adjoining writes are held in
// one run in memory and reach the disk in a single transfer. Used by the
// other units of the file layer only (handles.cc, range_locks.cc,
// requests.cc, sequential.cc); see write_gather.cc for the rules.
#pragma once

#include <cstdint>
#include <mutex>

#include "tablekit.h"

namespace tablekit::file {

// The gathered run of one file, kept in its tk_filelock and guarded by its
// fileLock. bytes[0, len) belong at file positions [pos, pos + len); len 0
// means no run is held. The buffer stays allocated between runs and goes
// with the tk_filelock at close.
//
// With a write worker, a run that fills up is handed to the worker as a
// queued delayed write and gathering goes on in another buffer (write-behind);
// the buffers handed over stay with the run until their requests are done.
// queuedEnd is the end of the last run handed over: the file counts up to
// there even before the worker has written it.
struct GatheredRun {
  static constexpr int kHandedOver = 2;  // buffers of full runs the worker may hold

  GatheredRun() = default;
  ~GatheredRun() {
    delete[] bytes;
    for (char *buffer : handedOver) delete[] buffer;
  }
  GatheredRun(const GatheredRun &) = delete;
  GatheredRun &operator=(const GatheredRun &) = delete;

  char *bytes = nullptr;  // owned, capacity bytes
  unsigned capacity = 0;
  unsigned len = 0;
  std::uint64_t pos = 0;
  char *handedOver[kHandedOver] = {};  // owned, kMaxRun bytes each, or null
  std::uint64_t queuedEnd = 0;
};

namespace gather {

// The most a run holds; a run that a write would take past it is written out
// first, and a write at least this long is never gathered.
constexpr unsigned kMaxRun = 1u << 20;

// Whether writes to the file are gathered: opened with share mode 1, for
// writing, while the context's optimizeWrite is 1.
bool enabled(const FILE4 &file);

// With the fileLock held in fileGuard, before the write [pos, pos + len).
// *gathered receives whether the write goes into the run (then room is made
// for it: the caller finishes with put; the delayed writes it overlaps are
// resolved when the run is written out); otherwise the run, if one is held,
// is written out now and the caller resolves the delayed writes its write
// overlaps and writes directly. A full run that the write would continue is
// handed to the write worker when there is one. Returns 0, or the system's
// error of a failed write-out (the run is gone then; the caller reports -120
// and does not write). May let go of fileGuard for a while (see
// resolveDelayedWrites).
[[nodiscard]] int prepare(FILE4 &file, std::uint64_t pos, unsigned len, bool *gathered,
                          std::unique_lock<std::mutex> &fileGuard);

// With the fileLock held, after prepare set *gathered: the bytes go into the
// run.
void put(FILE4 &file, std::uint64_t pos, const void *data, unsigned len);

// With the fileLock held in fileGuard: writes the run out, after the queued
// delayed writes it overlaps; no run is held afterwards, whatever the
// result. 0 or the system's error.
[[nodiscard]] int writeOutLocked(FILE4 &file, std::unique_lock<std::mutex> &fileGuard);

// With the fileLock held, after the delayed writes were flushed or the file
// was cut to newLen: runs handed to the worker no longer count beyond it.
void settleHandedOver(FILE4 &file, std::uint64_t newLen);

// Without the fileLock: writes the run out. A failure is reported as -120
// "Writing to File" with the file's name, as a direct write's is. 0 (also
// for a file that is not open or holds no run) or -120.
[[nodiscard]] int writeOut(FILE4 &file);

// As writeOut, before a read of [pos, pos + len): only when the read reaches
// the run. A read that ends before the run starts needs nothing, since a run
// never starts beyond the end of the file on disk.
[[nodiscard]] int writeOutForRead(FILE4 &file, std::uint64_t pos, unsigned len);

// Without the fileLock: forgets the run unwritten (a temporary file about to
// be deleted).
void drop(FILE4 &file);

// Without the fileLock: the position just past the run, or past the last run
// handed to the worker when that is further; 0 when neither is held.
std::uint64_t end(FILE4 &file);

}  // namespace gather
}  // namespace tablekit::file
