// Write gathering: a file opened with share mode 1 can be seen by nobody but
// its one handle, so its adjoining writes (a table's appends above all) are
// held in one run in memory and written in one transfer instead of one each.
// The direct-write path of handles.cc offers every write here; the other
// operations of the layer write the run out before they look at the file.
//
// Rules, which keep the disk receiving the bytes in the order the caller
// wrote them:
//   1. A write joins the run when it starts inside the run or where it ends
//      and reaches at least to its end, and the run stays within kMaxRun
//      bytes. (A table's append writes the record and the end-of-file byte,
//      and the next append starts on that byte: it overwrites the run's last
//      byte and goes on.) With no run held, a write shorter than kMaxRun
//      starts one, unless it starts beyond the end of the file on disk.
//   2. Any other write first writes the run out, then is written directly
//      (or starts the next run). So a rewrite of the header after appends
//      finds the records on disk already, and so does a rewrite inside the
//      run that ends before its end.
//   3. Reads that reach the run, advance reads, delayed writes, the
//      sequential reader's set-up, length changes, flush, refresh, replace,
//      close and byte-range lock calls write the run out first. The length
//      counts the run without writing it. Since a run never starts beyond
//      the end of the file on disk, a read that ends before the run starts
//      reads bytes the disk already holds.
//   4. A write-out that fails is reported as -120 "Writing to File" with the
//      file's name, by the operation that needed it, and the run is gone:
//      the file holds what reached it (a prefix of the run at most), and the
//      length no longer counts the rest. A temporary file that its close
//      deletes drops its run unwritten.
//   5. Write-behind: when the context has a write worker, a full run that
//      the next write would continue is not written by the caller but
//      queued to the worker as a delayed write, up to where that write
//      starts (the write rewrites the rest: a table's next record starts on
//      the end-of-file byte), and gathering goes on in another buffer (up to
//      GatheredRun::kHandedOver buffers wait for the worker; with none free
//      the run is written at once). From then on the run is an ordinary
//      queued write: reads take its bytes from it, later writes that overlap
//      it wait for it or write it first, and the length counts it. A failure
//      is kept and reported by the next flush or the close, as for every
//      delayed write.
//   6. A write that joins the run leaves the delayed writes it overlaps for
//      the run's write-out, which resolves them first.
//
// Gathering is on for exclusive files while the context's optimizeWrite is 1
// (write caching asked for); the default -1 and 0 leave every write direct,
// so that a file opened exclusively is current on disk after each write
// unless its owner asked otherwise (a reader of the raw file, or a process
// killed before its close, sees every record written so far). The setting
// is asked at every write: turning it off takes effect at the next write,
// which writes the run out first. Files opened with share mode 0 or 2 may be
// read by other processes and are never gathered.
//
// The run lives in the file's tk_filelock and is changed only under its
// fileLock. The workers never look at it: a delayed write is queued, and an
// advance read that reaches the run is queued, only after the run has been
// written out, and later writes keep queued advance reads current as direct
// writes do (readAheadUpdate).
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "file/file_internal.h"
#include "file/write_gather.h"
#include "platform/platform.h"

namespace tablekit::file::gather {
namespace {

// A run's first buffer; it doubles up to kMaxRun as runs grow.
constexpr unsigned kFirstCapacity = 64u << 10;

std::uint64_t runEnd(const GatheredRun &run) { return run.pos + run.len; }

// Whether the write [pos, pos + len) continues the run held: it starts
// inside the run or where it ends, and reaches at least to its end.
bool continues(const GatheredRun &run, std::uint64_t pos, unsigned len) {
  return run.len > 0 && run.pos <= pos && pos <= runEnd(run) && endOf(pos, len) >= runEnd(run);
}

// Whether the write joins the run (rule 1): it continues it, and the run
// stays within kMaxRun bytes.
bool joins(const GatheredRun &run, std::uint64_t pos, unsigned len) {
  return continues(run, pos, len) && endOf(pos, len) - run.pos <= kMaxRun;
}

// Makes the buffer hold size bytes, keeping the run in it. False when no
// memory is to be had (nothing changes then).
bool reserve(GatheredRun &run, std::uint64_t size) {
  if (size <= run.capacity) return true;
  unsigned capacity = std::max(run.capacity, kFirstCapacity);
  while (capacity < size) capacity *= 2;
  capacity = std::min(capacity, kMaxRun);
  char *bytes = new (std::nothrow) char[capacity];
  if (bytes == nullptr) return false;
  if (run.len > 0) std::memcpy(bytes, run.bytes, run.len);
  delete[] run.bytes;
  run.bytes = bytes;
  run.capacity = capacity;
  return true;
}

// Whether a new run may start at pos: not beyond the end of the file on
// disk or of the runs handed to the worker, so that the bytes before a run
// are always on disk or in a queued write (where reads find them).
bool mayStartAt(const FILE4 &file, std::uint64_t pos) {
  std::uint64_t len = 0;
  if (platform::fileLength(file.handle, &len) != 0) return false;
  return pos <= std::max(len, file.fileLock->gathered.queuedEnd);
}

int reported(FILE4 &file, int sys) { return sys == 0 ? 0 : reportWriteError(file, sys); }

// A buffer of kMaxRun bytes for the next run while the worker writes the
// full one: one handed over earlier whose write is done, or a new one. Its
// slot, or null when every slot's buffer is still being written (or no
// memory is to be had).
char **freeHandedOverSlot(FILE4 &file) {
  GatheredRun &run = file.fileLock->gathered;
  for (char *&slot : run.handedOver) {
    if (slot == nullptr) {
      slot = new (std::nothrow) char[kMaxRun];
      if (slot != nullptr) return &slot;
    } else if (!delayedWriteUses(file, slot)) {
      return &slot;
    }
  }
  return nullptr;
}

// Write-behind: the full run, up to upTo where the write that continues it
// starts, goes to the write worker, and the run goes on in a free buffer.
// The bytes from upTo on are not handed over: that write covers them all,
// so the worker's write and the next run never overlap, and the next run
// never waits for the worker. False when there is no worker, no free buffer
// or no memory: the run is then still held, for the caller to write out.
bool handOver(FILE4 &file, std::uint64_t upTo, std::unique_lock<std::mutex> &fileGuard) {
  GatheredRun &run = file.fileLock->gathered;
  if (run.capacity != kMaxRun || upTo <= run.pos) return false;
  char **slot = freeHandedOverSlot(file);
  if (slot == nullptr) return false;
  char *const full = run.bytes;
  const std::uint64_t pos = run.pos;
  const auto len = static_cast<unsigned>(upTo - pos);
  if (!queueGatheredRun(file, pos, full, len, fileGuard)) return false;
  run.bytes = *slot;
  *slot = full;
  run.len = 0;
  run.queuedEnd = std::max(run.queuedEnd, upTo);
  return true;
}

}  // namespace

bool enabled(const FILE4 &file) {
  return file.accessMode == 1 && file.isReadOnly == 0 && file.context != nullptr && file.context->optimizeWrite == 1;
}

int prepare(FILE4 &file, std::uint64_t pos, unsigned len, bool *gathered, std::unique_lock<std::mutex> &fileGuard) {
  GatheredRun &run = file.fileLock->gathered;
  const bool wanted = len > 0 && len < kMaxRun && enabled(file);
  *gathered = false;
  if (wanted && joins(run, pos, len) && reserve(run, endOf(pos, len) - run.pos)) {
    *gathered = true;
    return 0;
  }
  // A run that this write would continue but that is full goes to the
  // worker rather than holding up the caller.
  if (!(wanted && continues(run, pos, len) && handOver(file, pos, fileGuard))) {
    if (int sys = writeOutLocked(file, fileGuard)) return sys;
  }
  *gathered = wanted && mayStartAt(file, pos) && reserve(run, len);
  return 0;
}

void put(FILE4 &file, std::uint64_t pos, const void *data, unsigned len) {
  GatheredRun &run = file.fileLock->gathered;
  if (run.len == 0) run.pos = pos;
  const auto offset = static_cast<unsigned>(pos - run.pos);
  std::memcpy(run.bytes + offset, data, len);
  run.len = std::max(run.len, offset + len);
}

int writeOutLocked(FILE4 &file, std::unique_lock<std::mutex> &fileGuard) {
  GatheredRun &run = file.fileLock->gathered;
  if (run.len == 0) return 0;
  // Queued writes the run overlaps are older: they reach the disk first, or
  // are dropped when the run covers them.
  resolveDelayedWrites(file, run.pos, run.len, fileGuard);
  const unsigned len = run.len;
  if (len == 0) return 0;
  run.len = 0;
  return rawWrite(file, run.pos, run.bytes, len);
}

void settleHandedOver(FILE4 &file, std::uint64_t newLen) {
  GatheredRun &run = file.fileLock->gathered;
  run.queuedEnd = std::min(run.queuedEnd, newLen);
}

int writeOut(FILE4 &file) {
  if (!isOpen(file)) return 0;
  std::unique_lock<std::mutex> guard(file.fileLock->mutex);
  const int sys = writeOutLocked(file, guard);
  guard.unlock();
  return reported(file, sys);
}

int writeOutForRead(FILE4 &file, std::uint64_t pos, unsigned len) {
  if (!isOpen(file)) return 0;
  std::unique_lock<std::mutex> guard(file.fileLock->mutex);
  const GatheredRun &run = file.fileLock->gathered;
  const int sys = run.len > 0 && endOf(pos, len) > run.pos ? writeOutLocked(file, guard) : 0;
  guard.unlock();
  return reported(file, sys);
}

void drop(FILE4 &file) {
  if (!isOpen(file)) return;
  std::lock_guard<std::mutex> guard(file.fileLock->mutex);
  file.fileLock->gathered.len = 0;
}

std::uint64_t end(FILE4 &file) {
  if (!isOpen(file)) return 0;
  std::lock_guard<std::mutex> guard(file.fileLock->mutex);
  const GatheredRun &run = file.fileLock->gathered;
  return std::max(run.len > 0 ? runEnd(run) : 0, run.queuedEnd);
}

}  // namespace tablekit::file::gather
