// Background requests on files: delayed writes and advance reads queued to
// the two workers of the context (foundation/workers.cc runs their threads),
// how a worker performs them, and the rules that keep every other transfer
// and length change of a file consistent with requests still in flight:
// a read sees queued write data, a write supersedes or first performs older
// queued writes, a length change trims them, and transfers keep queued
// advance reads current. Without workers (the light context) both queuing
// operations perform the transfer at once and complete it before returning.
//
// States of a request (IOREQ4::state), each change made under the queue's
// lock:
//
//   1 queued ──(worker takes it)──> 2 being performed ──> 3 completed
//   1 ──(superseded, performed early, trimmed, dropped, covered)──> 3
//   1 ──(an advance read that a write only partly overlaps)──> 4 abandoned
//
// The completion routine is called exactly once, when the request reaches 3
// or 4 (never for advance reads dropped by a cancel), and the request is
// freed right after. A delayed write's completion runs on the worker thread
// without the queue's lock, while the completed request is still on the
// file's list; it leaves the list afterwards, so that whoever waits for the
// list to empty (flush, waitDelayedWrite) also sees what the completion did.
// An advance read is completed, unlisted and freed in one step under the lock.
//
// Workers never report: a delayed write that fails on a worker gets -120 as
// its result, and the failure is kept with the file and reported on the
// application thread by the next delayed-write flush of the file (file4flush,
// file4close, the sequential writer's flush).
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "file/file_internal.h"
#include "foundation/foundation.h"
#include "foundation/workers.h"
#include "platform/platform.h"

namespace tablekit::file {
namespace {

constexpr int kQueued = 1;
constexpr int kPerforming = 2;
constexpr int kCompleted = 3;
constexpr int kAbandoned = 4;

// Delayed-write flag of the operations that queue: 7 = queued.
constexpr int kQueuedResult = 7;

// Units of the request pools: the first block and every later one.
constexpr int kPoolStart = 10;
constexpr int kPoolGrow = 10;

// ---------------------------------------------------------------------------
// A file's request lists link requests through their second link.

IOREQ4 *fromFileLink(void *link) {
  if (link == nullptr) return nullptr;
  return reinterpret_cast<IOREQ4 *>(static_cast<char *>(link) - offsetof(IOREQ4, fileLink));
}
IOREQ4 *firstOf(const RING4 &list) { return fromFileLink(l4first(&list)); }
IOREQ4 *nextOf(const RING4 &list, IOREQ4 &request) { return fromFileLink(l4next(&list, &request.fileLink)); }

bool overlaps(const IOREQ4 &r, std::uint64_t pos, std::uint64_t end) {
  return r.pos < end && pos < endOf(r.pos, r.len);
}
bool inside(const IOREQ4 &r, std::uint64_t pos, std::uint64_t end) { return pos <= r.pos && endOf(r.pos, r.len) <= end; }

// Whether one of the list's requests overlapping [pos, end) is in flight.
// Queue lock held.
bool performingIn(const RING4 &list, std::uint64_t pos, std::uint64_t end) {
  for (IOREQ4 *r = firstOf(list); r != nullptr; r = nextOf(list, *r)) {
    if (r->state == kPerforming && overlaps(*r, pos, end)) return true;
  }
  return false;
}

// Whether one of the list's requests uses buf. Queue lock held.
bool uses(const RING4 &list, const void *buf) {
  for (IOREQ4 *r = firstOf(list); r != nullptr; r = nextOf(list, *r)) {
    if (r->data == buf) return true;
  }
  return false;
}

tk_worker *writeWorker(const FILE4 &file) {
  return file.context != nullptr ? file.context->delayWriteWorker : nullptr;
}
tk_worker *readWorker(const FILE4 &file) {
  return file.context != nullptr ? file.context->advanceReadWorker : nullptr;
}

// Finishes a request that is still queued (state 1) on the application
// thread: out of the queue and the file's list, result and state set, the
// completion called when asked, the unit freed. Queue lock held.
void finishQueued(tk_worker &w, RING4 &fileList, IOREQ4 &r, int state, int result, bool complete) {
  l4remove(&w.queue, &r.queueLink);
  l4remove(&fileList, &r.fileLink);
  r.result = result;
  r.state = state;
  if (complete && r.completion != nullptr) r.completion(&r);
  mem4freeDefault(w.pool, &r);
}

// Waits, holding neither lock, until no delayed write of the file that
// overlaps [pos, end) is in flight; then takes both locks again in order.
void waitForWrites(tk_worker &w, FILE4 &file, std::uint64_t pos, std::uint64_t end,
                   std::unique_lock<std::mutex> &fileGuard, std::unique_lock<std::mutex> &queueGuard) {
  fileGuard.unlock();
  w.settled.wait(queueGuard, [&] { return !performingIn(file.delayedWrites, pos, end); });
  queueGuard.unlock();
  fileGuard.lock();
  queueGuard.lock();
}

// A queued request from the worker's pool, or null when there is no memory.
IOREQ4 *allocRequest(tk_worker &w, FILE4 &file, std::uint64_t pos, void *data, unsigned len,
                     void (*completion)(IOREQ4 *), void *completionArg) {
  auto *r = static_cast<IOREQ4 *>(
      mem4createAllocDefault(file.context, &w.pool, kPoolStart, sizeof(IOREQ4), kPoolGrow, 0, 1));
  if (r == nullptr) return nullptr;
  r->file = &file;
  r->data = static_cast<char *>(data);
  r->pos = pos;
  r->len = len;
  r->state = kQueued;
  r->completion = completion;
  r->completionArg = completionArg;
  return r;
}

// As allocRequest, reporting -920 when there is no memory.
IOREQ4 *newRequest(tk_worker &w, FILE4 &file, std::uint64_t pos, void *data, unsigned len,
                   void (*completion)(IOREQ4 *), void *completionArg) {
  IOREQ4 *r = allocRequest(w, file, pos, data, len, completion, completionArg);
  if (r == nullptr) report(file.context, err::kMemory, loc::file4writeDelay);
  return r;
}

void enqueue(tk_worker &w, RING4 &fileList, IOREQ4 &r, void (*serve)(tk_worker &, IOREQ4 &)) {
  {
    std::lock_guard<std::mutex> queueGuard(w.lock);
    w.serve = serve;
    l4add(&w.queue, &r.queueLink);
    l4add(&fileList, &r.fileLink);
  }
  w.wake.notify_one();
}

// ---------------------------------------------------------------------------
// What the workers do (on their own threads).

void serveWrite(tk_worker &w, IOREQ4 &r) {
  FILE4 &file = *r.file;
  int result = 0;
  // The transfer itself needs no fileLock: while the request is in flight
  // its bytes are not touched, overlapping transfers wait for it
  // (resolveDelayedWrites, trimDelayedWrites), reads take its bytes from its
  // data, and the handle stays open until the file's list is empty. So the
  // application thread goes on with the file meanwhile.
  if (int sys = rawWrite(file, r.pos, r.data, r.len)) {
    result = err::kWrite;
    std::lock_guard<std::mutex> fileGuard(file.fileLock->mutex);
    tk_filelock &lock = *file.fileLock;
    if (lock.deferredError == 0) {
      lock.deferredError = sys;
      lock.deferredPos = r.pos;
      lock.deferredLen = r.len;
    }
  }
  {
    std::lock_guard<std::mutex> queueGuard(w.lock);
    r.result = result;
    r.state = kCompleted;
    l4remove(&w.queue, &r.queueLink);
    w.settled.notify_all();
  }
  if (r.completion != nullptr) r.completion(&r);
  std::lock_guard<std::mutex> queueGuard(w.lock);
  l4remove(&file.delayedWrites, &r.fileLink);
  mem4freeDefault(w.pool, &r);
  w.settled.notify_all();
}

void serveRead(tk_worker &w, IOREQ4 &r) {
  FILE4 &file = *r.file;
  unsigned n;
  {
    std::lock_guard<std::mutex> fileGuard(file.fileLock->mutex);
    n = rawRead(file, r.pos, r.data, r.len);
  }
  std::lock_guard<std::mutex> queueGuard(w.lock);
  r.result = static_cast<int>(n);
  r.state = kCompleted;
  if (r.completion != nullptr) r.completion(&r);
  l4remove(&w.queue, &r.queueLink);
  l4remove(&file.advanceReads, &r.fileLink);
  mem4freeDefault(w.pool, &r);
  w.settled.notify_all();
}

// Reports a failure a worker met on the file, once. fileLock not held.
int reportDeferred(FILE4 &file) {
  int sys;
  std::uint64_t pos;
  unsigned len;
  {
    std::lock_guard<std::mutex> fileGuard(file.fileLock->mutex);
    sys = file.fileLock->deferredError;
    pos = file.fileLock->deferredPos;
    len = file.fileLock->deferredLen;
    file.fileLock->deferredError = 0;
  }
  if (sys == 0) return 0;
  char where[64];
  std::snprintf(where, sizeof where, "delayed write of %u bytes at %llu", len, static_cast<unsigned long long>(pos));
  const std::string text = platform::fileErrorText(sys);
  return report(file.context, err::kWrite, loc::file4writeDelay, file.name, where, text.c_str());
}

}  // namespace

// ---------------------------------------------------------------------------
// Consistency of direct transfers and length changes (file_internal.h).

void resolveDelayedWrites(FILE4 &file, std::uint64_t pos, unsigned len, std::unique_lock<std::mutex> &fileGuard) {
  tk_worker *w = writeWorker(file);
  if (w == nullptr || len == 0) return;
  const std::uint64_t end = endOf(pos, len);
  std::unique_lock<std::mutex> queueGuard(w->lock);
  for (IOREQ4 *r = firstOf(file.delayedWrites), *next; r != nullptr; r = next) {
    next = nextOf(file.delayedWrites, *r);
    if (r->state == kCompleted || !overlaps(*r, pos, end)) continue;
    if (r->state == kPerforming) {
      waitForWrites(*w, file, pos, end, fileGuard, queueGuard);
      next = firstOf(file.delayedWrites);  // the list may have changed: look again
      continue;
    }
    int result = 0;
    if (!inside(*r, pos, end)) {
      if (int sys = rawWrite(file, r->pos, r->data, r->len)) result = reportWriteError(file, sys);
    }
    finishQueued(*w, file.delayedWrites, *r, kCompleted, result, true);
  }
}

unsigned readThroughDelayedWrites(FILE4 &file, std::uint64_t pos, char *buf, unsigned len) {
  tk_worker *w = writeWorker(file);
  if (w == nullptr) return rawRead(file, pos, buf, len);
  std::lock_guard<std::mutex> queueGuard(w->lock);
  const std::uint64_t end = endOf(pos, len);
  std::uint64_t at = pos;
  unsigned total = 0;
  while (at < end) {
    // The queued write that covers the earliest bytes still to read. Queued
    // writes never overlap each other: each new one supersedes the older.
    IOREQ4 *cover = nullptr;
    for (IOREQ4 *r = firstOf(file.delayedWrites); r != nullptr; r = nextOf(file.delayedWrites, *r)) {
      if (r->state != kCompleted && overlaps(*r, at, end) && (cover == nullptr || r->pos < cover->pos)) cover = r;
    }
    if (cover == nullptr) return total + rawRead(file, at, buf + (at - pos), static_cast<unsigned>(end - at));
    if (cover->pos > at) {
      const auto want = static_cast<unsigned>(cover->pos - at);
      const unsigned got = rawRead(file, at, buf + (at - pos), want);
      total += got;
      if (got < want) return total;
      at = cover->pos;
    }
    const std::uint64_t stop = std::min(end, endOf(cover->pos, cover->len));
    std::memcpy(buf + (at - pos), cover->data + (at - cover->pos), static_cast<std::size_t>(stop - at));
    total += static_cast<unsigned>(stop - at);
    at = stop;
  }
  return total;
}

void trimDelayedWrites(FILE4 &file, std::uint64_t newLen, std::unique_lock<std::mutex> &fileGuard) {
  tk_worker *w = writeWorker(file);
  if (w == nullptr) return;
  constexpr std::uint64_t kBeyond = ~std::uint64_t{0};
  std::unique_lock<std::mutex> queueGuard(w->lock);
  for (IOREQ4 *r = firstOf(file.delayedWrites), *next; r != nullptr; r = next) {
    next = nextOf(file.delayedWrites, *r);
    if (r->state == kCompleted || endOf(r->pos, r->len) <= newLen) continue;
    if (r->state == kPerforming) {
      waitForWrites(*w, file, newLen, kBeyond, fileGuard, queueGuard);
      next = firstOf(file.delayedWrites);
      continue;
    }
    if (r->pos >= newLen)
      finishQueued(*w, file.delayedWrites, *r, kCompleted, 0, true);
    else
      r->len = static_cast<unsigned>(newLen - r->pos);
  }
}

bool queueGatheredRun(FILE4 &file, std::uint64_t pos, char *data, unsigned len,
                      std::unique_lock<std::mutex> &fileGuard) {
  tk_worker *w = writeWorker(file);
  if (w == nullptr || len == 0) return false;
  // Queued writes never overlap: the older ones the run reaches go first.
  resolveDelayedWrites(file, pos, len, fileGuard);
  // No memory for a request is no error here: the caller writes at once.
  IOREQ4 *r = allocRequest(*w, file, pos, data, len, nullptr, nullptr);
  if (r == nullptr) return false;
  enqueue(*w, file.delayedWrites, *r, serveWrite);
  return true;
}

bool delayedWriteUses(FILE4 &file, const void *buf) {
  tk_worker *w = writeWorker(file);
  if (w == nullptr) return false;
  std::lock_guard<std::mutex> queueGuard(w->lock);
  return uses(file.delayedWrites, buf);
}

// ---------------------------------------------------------------------------
// Controls for other subsystems (file_layer.h).

int flushDelayedWrites(FILE4 &file, bool perform) {
  tk_worker *w = writeWorker(file);
  if (w == nullptr || !isOpen(file)) return 0;
  int rc = 0;
  {
    std::lock_guard<std::mutex> fileGuard(file.fileLock->mutex);
    std::lock_guard<std::mutex> queueGuard(w->lock);
    for (IOREQ4 *r = firstOf(file.delayedWrites), *next; r != nullptr; r = next) {
      next = nextOf(file.delayedWrites, *r);
      if (r->state != kQueued) continue;
      int result = 0;
      if (perform) {
        if (int sys = rawWrite(file, r->pos, r->data, r->len)) result = reportWriteError(file, sys);
      }
      if (rc == 0) rc = result;
      finishQueued(*w, file.delayedWrites, *r, kCompleted, result, true);
    }
  }
  {
    std::unique_lock<std::mutex> queueGuard(w->lock);
    w->settled.wait(queueGuard, [&] { return file.delayedWrites.count == 0; });
  }
  {
    // Runs handed over by write gathering are on disk now (or failed, which
    // is reported below): the file's length is the disk's again.
    std::lock_guard<std::mutex> fileGuard(file.fileLock->mutex);
    gather::settleHandedOver(file, 0);
  }
  const int deferred = reportDeferred(file);
  return rc != 0 ? rc : deferred;
}

void cancelAdvanceReads(FILE4 &file) {
  tk_worker *w = readWorker(file);
  if (w == nullptr) return;
  std::unique_lock<std::mutex> queueGuard(w->lock);
  for (IOREQ4 *r = firstOf(file.advanceReads), *next; r != nullptr; r = next) {
    next = nextOf(file.advanceReads, *r);
    if (r->state == kQueued) finishQueued(*w, file.advanceReads, *r, kCompleted, 0, false);
  }
  w->settled.wait(queueGuard, [&] { return file.advanceReads.count == 0; });
}

void readAheadUpdate(FILE4 &file, std::uint64_t pos, unsigned len, const char *data, bool isWrite) {
  tk_worker *w = readWorker(file);
  if (w == nullptr || !file.onDisk || len == 0) return;
  const std::uint64_t end = endOf(pos, len);
  std::unique_lock<std::mutex> queueGuard(w->lock);
  for (IOREQ4 *r = firstOf(file.advanceReads), *next; r != nullptr; r = next) {
    next = nextOf(file.advanceReads, *r);
    if (r->state != kQueued && r->state != kPerforming) continue;
    if (!overlaps(*r, pos, end)) continue;
    if (r->state == kPerforming) {
      w->settled.wait(queueGuard, [&] { return !performingIn(file.advanceReads, pos, end); });
      next = firstOf(file.advanceReads);
      continue;
    }
    if (inside(*r, pos, end)) {
      std::memcpy(r->data, data + (r->pos - pos), r->len);
      finishQueued(*w, file.advanceReads, *r, kCompleted, static_cast<int>(r->len), true);
    } else if (isWrite) {
      finishQueued(*w, file.advanceReads, *r, kAbandoned, 0, true);
    }
  }
}

void waitDelayedWrite(FILE4 &file, const void *buf) {
  tk_worker *w = writeWorker(file);
  if (w == nullptr) return;
  std::unique_lock<std::mutex> queueGuard(w->lock);
  w->settled.wait(queueGuard, [&] { return !uses(file.delayedWrites, buf); });
}

void waitAdvanceRead(FILE4 &file, const void *buf) {
  tk_worker *w = readWorker(file);
  if (w == nullptr) return;
  std::unique_lock<std::mutex> queueGuard(w->lock);
  w->settled.wait(queueGuard, [&] { return !uses(file.advanceReads, buf); });
}

}  // namespace tablekit::file

using namespace tablekit;
using namespace tablekit::file;

extern "C" {

TK_EXPORT int file4writeDelay(FILE4 *file, long pos, const void *data, unsigned len,
                              void (*completion)(IOREQ4 *request), void *completionArg) {
  if (file == nullptr) return report(nullptr, err::kParmNull, loc::file4writeDelay);
  if (pos < 0 || (data == nullptr && len > 0) || !isOpen(*file))
    return report(file->context, err::kParm, loc::file4writeDelay);
  if (inError(file->context)) return -1;
  if (file->isReadOnly)
    return report(file->context, err::kWrite, loc::detail::attempt_to_write_to_a_read_only_file, file->name);
  const auto at = static_cast<std::uint64_t>(pos);
  if (int rc = refuseBeyondMaxLength(*file, at, len, loc::file4writeDelay)) return rc;
  // Gathered writes are older than this one and reach the disk first.
  if (int rc = gather::writeOut(*file)) return rc;
  {
    std::unique_lock<std::mutex> fileGuard(file->fileLock->mutex);
    resolveDelayedWrites(*file, at, len, fileGuard);
  }
  tk_worker *w = writeWorker(*file);
  if (w == nullptr) {
    IOREQ4 request{};
    request.file = file;
    request.data = static_cast<char *>(const_cast<void *>(data));
    request.pos = at;
    request.len = len;
    request.completion = completion;
    request.completionArg = completionArg;
    request.result = directWrite(*file, at, data, len);
    request.state = kCompleted;
    if (completion != nullptr) completion(&request);
    return request.result;
  }
  IOREQ4 *r = newRequest(*w, *file, at, const_cast<void *>(data), len, completion, completionArg);
  if (r == nullptr) return err::kMemory;
  enqueue(*w, file->delayedWrites, *r, serveWrite);
  return kQueuedResult;
}

TK_EXPORT int file4advanceRead(FILE4 *file, long pos, void *buffer, unsigned len,
                               void (*completion)(IOREQ4 *request), void *completionArg) {
  if (file == nullptr) return report(nullptr, err::kParmNull, loc::file4writeDelay);
  if (pos < 0 || buffer == nullptr || !isOpen(*file)) return report(file->context, err::kParm, loc::file4writeDelay);
  if (inError(file->context)) return -1;
  const auto at = static_cast<std::uint64_t>(pos);
  // The worker reads the disk: gathered writes it would read go there first.
  if (int rc = gather::writeOutForRead(*file, at, len)) return rc;
  file->readAheadOn = 1;
  tk_worker *w = readWorker(*file);
  if (w == nullptr) {
    IOREQ4 request{};
    request.file = file;
    request.data = static_cast<char *>(buffer);
    request.pos = at;
    request.len = len;
    request.completion = completion;
    request.completionArg = completionArg;
    {
      std::lock_guard<std::mutex> fileGuard(file->fileLock->mutex);
      request.result = static_cast<int>(rawRead(*file, at, buffer, len));
    }
    request.state = kCompleted;
    if (completion != nullptr) completion(&request);
    return 0;
  }
  IOREQ4 *r = newRequest(*w, *file, at, buffer, len, completion, completionArg);
  if (r == nullptr) return err::kMemory;
  enqueue(*w, file->advanceReads, *r, serveRead);
  return 0;
}

}  // extern "C"
