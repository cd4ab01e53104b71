// What the other subsystems of the engine may call in the file layer besides
// the public file4* operations: the background-request controls that the
// sequential reader and writer, the block cache, the data and memo files and
// close need. Internal: never installed, never included by the translator.
//
// A FILE4 is used by one application thread; the two background workers of
// its context perform its queued requests on their own threads. Every
// function here is for the application thread.
#pragma once

#include <cstdint>

#include "tablekit.h"

namespace tablekit::file {

// Whether the FILE4 holds an open handle (a record that was never opened,
// even one that is all zeros, is not open).
bool isOpen(const FILE4 &file);

// The delayed-write flush: takes the file's writes that are still queued
// out of the queue, performing them in order when perform is true and
// dropping them (result 0) when it is false, calls their completions, and
// waits until none of the file's writes is in flight. A failure of a write
// the worker performed earlier is reported here. Returns 0 or the first
// negative result (already reported).
[[nodiscard]] int flushDelayedWrites(FILE4 &file, bool perform);

// The advance-read cancel: drops the file's advance reads that are still
// queued (their completions are NOT called: their owners must no longer
// wait for them) and waits until none is in flight.
void cancelAdvanceReads(FILE4 &file);

// The read-ahead update: keeps the file's queued advance reads consistent
// with a transfer of [pos, pos + len). A queued read that lies inside the
// range is completed from data (its result is its length); one that only
// partly overlaps is left alone by a read and abandoned (state 4) by a
// write. Waits for overlapping reads in flight. Called before every direct
// write and after every direct read of a file whose readAheadOn is set;
// data holds the bytes of the transfer.
void readAheadUpdate(FILE4 &file, std::uint64_t pos, unsigned len, const char *data, bool isWrite);

// Waits until the file has no delayed write (resp. advance read) whose data
// buffer is buf, so that the buffer's owner may use it again. When this
// returns, the request's completion has run and its effects are visible to
// the caller. Returns at once without workers.
void waitDelayedWrite(FILE4 &file, const void *buf);
void waitAdvanceRead(FILE4 &file, const void *buf);

}  // namespace tablekit::file
