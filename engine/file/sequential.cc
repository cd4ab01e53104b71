// The sequential reader and writer (FILE4SEQ_READ, FILE4SEQ_WRITE): buffered
// front-to-back passes over a file, for sorting, index building, packing and
// copying. Both work in the caller's buffer, bypass the block cache, align
// their transfers to 1024-byte boundaries of the file, and may split the
// buffer in two halves so that a background worker reads ahead (reader) or
// writes behind (writer) while the caller works on the other half.
//
// Halves in flight. A reader half is in state 1 (idle), 2 (a background read
// into it is queued or running) or 3 (that read is done; the bytes it
// delivered are in the half's result). A writer half is free (1) or has a
// delayed write pending (0). A half leaves state 2, and becomes free again,
// only in the completion routines below, which may run on a worker thread.
// The application thread never reads from or writes into a half in flight,
// and never looks at a half's state or result, before the file layer has
// told it that no request uses the half (waitAdvanceRead, waitDelayedWrite):
// that wait also makes what the completion routine wrote visible to it.
#include <cstring>

#include "file/cache_hooks.h"
#include "file/file_layer.h"
#include "file/write_gather.h"
#include "foundation/foundation.h"

namespace tablekit::file {
namespace {

// Transfers start on these boundaries of the file (all but the first, which
// is shortened to reach one).
constexpr unsigned kAlign = 1024;
// A writer's halves are multiples of this; smaller halves mean no buffering.
constexpr unsigned kWriterUnit = 512;
// The block file4seqWriteRepeat writes from.
constexpr unsigned kRepeatBlock = 512;
// The smallest buffer a reader splits in two.
constexpr unsigned kSplitMin = 2 * kAlign;

// States of a reader half.
constexpr int kIdle = 1;
constexpr int kReading = 2;
constexpr int kRead = 3;
// The state of a request that a write abandoned (IOREQ4::state).
constexpr int kRequestAbandoned = 4;

CODE4 *contextOf(const FILE4 *file) { return file != nullptr ? file->context : nullptr; }

// Direct transfers bypass the block cache, so a pass first makes the cache
// write the file's changed blocks and forget them; the file itself is then
// current. No file is ever in the cache yet, so there is nothing to do here
// until the cache exists.
void writeAndForgetCachedBlocks(FILE4 &) {}

// ---------------------------------------------------------------------------
// Reader

volatile int &stateOf(FILE4SEQ_READ &reader, const char *half) {
  return half == reader.half1 ? reader.half1State : reader.half2State;
}
volatile int &resultOf(FILE4SEQ_READ &reader, const char *half) {
  return half == reader.half1 ? reader.half1Result : reader.half2Result;
}

// Completion of a background read into a half (on the advance-read worker,
// or on the application thread when there is no worker or when a transfer
// of the application completes or abandons the read). An abandoned read
// leaves nothing usable: the half goes back to idle and is read directly.
void readAheadDone(IOREQ4 *request) {
  auto &reader = *static_cast<FILE4SEQ_READ *>(request->completionArg);
  if (request->state == kRequestAbandoned) {
    stateOf(reader, request->data) = kIdle;
    return;
  }
  resultOf(reader, request->data) = request->result;
  stateOf(reader, request->data) = kRead;
}

// Waits until no background read into half is in progress. A half still in
// state 2 afterwards lost its request to a cancel (the file was closed or
// cut), which completes nothing: no bytes came into it.
void settleHalf(FILE4SEQ_READ &reader, char *half) {
  waitAdvanceRead(*reader.file, half);
  if (stateOf(reader, half) == kReading) stateOf(reader, half) = kIdle;
}

// Queues a background read of the next read length at the position into
// half. The state is set first: without a worker the completion runs before
// file4advanceRead returns.
void queueReadAhead(FILE4SEQ_READ &reader, char *half) {
  stateOf(reader, half) = kReading;
  const long pos = static_cast<long>(reader.pos);
  if (file4advanceRead(reader.file, pos, half, reader.nextReadLen, readAheadDone, &reader) < 0)
    stateOf(reader, half) = kIdle;  // no request exists
}

// Switches halves: the other half becomes current with the bytes read ahead
// into it, or read now. When it came full, the file goes on and the half
// just left is queued for the next transfer. The bytes delivered.
unsigned advance(FILE4SEQ_READ &reader) {
  char *left = reader.buffer;
  char *next = left == reader.half1 ? reader.half2 : reader.half1;
  settleHalf(reader, next);
  reader.buffer = next;
  unsigned count;
  if (stateOf(reader, next) == kRead) {
    count = static_cast<unsigned>(resultOf(reader, next));
    stateOf(reader, next) = kIdle;  // taken: never delivered twice
  } else {
    count = file4read(reader.file, static_cast<long>(reader.pos), next, reader.nextReadLen);
  }
  reader.bytesInBuffer = reader.available = count;
  reader.pos += count;
  reader.nextReadLen = reader.bufferLen;
  if (count == reader.bufferLen) queueReadAhead(reader, left);
  return count;
}

// Fills the current buffer when it has nothing left.
void refill(FILE4SEQ_READ &reader) {
  if (reader.doubleBuffered) {
    (void)advance(reader);
    return;
  }
  const unsigned count = file4read(reader.file, static_cast<long>(reader.pos), reader.buffer, reader.nextReadLen);
  reader.bytesInBuffer = reader.available = count;
  reader.pos += count;
  reader.nextReadLen = reader.bufferLen;
}

// file4seqRead after its argument checks. Each pass of the loop takes what
// the current buffer holds and refills it for the rest (a loop rather than
// recursion, so that a long read through a small buffer needs no deep
// stack). 0 when the context is or turns in error.
unsigned readSequential(FILE4SEQ_READ &reader, char *dest, unsigned len) {
  CODE4 *c4 = contextOf(reader.file);
  if (c4 == nullptr || inError(c4)) return 0;
  if (reader.buffer == nullptr) {
    if (len == 0) return 0;
    const unsigned count = file4read(reader.file, static_cast<long>(reader.pos), dest, len);
    reader.pos += count;
    return count;
  }
  unsigned delivered = 0;
  for (;;) {
    if (inError(c4)) return 0;
    if (reader.available == 0) refill(reader);
    const char *from = reader.buffer + (reader.bytesInBuffer - reader.available);
    if (reader.available >= len) {
      std::memcpy(dest, from, len);
      reader.available -= len;
      return delivered + len;
    }
    // Fewer than asked: the last bytes of the buffer, then the rest.
    const unsigned got = reader.available;
    if (got == 0) return delivered;  // end of file
    std::memcpy(dest, from, got);
    reader.available = 0;
    delivered += got;
    dest += got;
    len -= got;
  }
}

// ---------------------------------------------------------------------------
// Writer

volatile int &freeFlagOf(FILE4SEQ_WRITE &writer, const char *half) {
  return half == writer.half1 ? writer.half1Free : writer.half2Free;
}

// Completion of a half's delayed write (on the delayed-write worker, or on
// the application thread when the write was performed there).
void writeBehindDone(IOREQ4 *request) {
  auto &writer = *static_cast<FILE4SEQ_WRITE *>(request->completionArg);
  freeFlagOf(writer, request->data) = 1;
}

// Hands the current half to the disk and starts an empty one (the other
// half, once its own write is done). 0 or a negative code.
int handOver(FILE4SEQ_WRITE &writer) {
  FILE4 &file = *writer.file;
  const unsigned n = writer.capacity - writer.room;
  if (n > 0) {
    if (cache::holds(file) && file.writesBuffered) {
      // The cache buffers the file's writes anyway: write through it now.
      if (int rc = file4write(&file, static_cast<long>(writer.pos), writer.buffer, n); rc < 0) return rc;
    } else {
      char *half = writer.buffer;
      char *other = half == writer.half1 ? writer.half2 : writer.half1;
      freeFlagOf(writer, half) = 0;
      const int rc = file4writeDelay(&file, static_cast<long>(writer.pos), half, n, writeBehindDone, &writer);
      if (rc < 0) {
        freeFlagOf(writer, half) = 1;  // not queued, or already done and failed
        return rc;
      }
      waitDelayedWrite(file, other);
      writer.buffer = other;
    }
    writer.pos += n;
  }
  writer.capacity = writer.room = writer.halfLen;
  return 0;
}

// file4seqWrite after its argument checks. Each pass fills what the current
// half has room for and hands it over when full (a loop rather than
// recursion, as for reading).
int writeSequential(FILE4SEQ_WRITE &writer, const char *data, unsigned len) {
  CODE4 *c4 = contextOf(writer.file);
  if (c4 == nullptr) return report(nullptr, err::kWrite, loc::file4seqWrite);
  if (inError(c4)) return -1;
  if (writer.buffer == nullptr) {
    const int rc = file4write(writer.file, static_cast<long>(writer.pos), data, len);
    writer.pos += len;
    return rc;
  }
  for (;;) {
    if (inError(c4)) return -1;
    if (writer.room == 0 && handOver(writer) < 0) return -1;
    char *to = writer.buffer + (writer.capacity - writer.room);
    if (writer.room >= len) {
      std::memcpy(to, data, len);
      writer.room -= len;
      return 0;
    }
    std::memcpy(to, data, writer.room);
    data += writer.room;
    len -= writer.room;
    writer.room = 0;
  }
}

}  // namespace
}  // namespace tablekit::file

using namespace tablekit;
using namespace tablekit::file;

extern "C" {

TK_EXPORT int file4seqReadInitDo(FILE4SEQ_READ *reader, FILE4 *file, long start, void *buffer, unsigned size,
                                 int doubleBuffer) {
  if (reader == nullptr || file == nullptr || start < 0)
    return report(contextOf(file), err::kParm, loc::file4seqReadInit);
  *reader = FILE4SEQ_READ{};
  writeAndForgetCachedBlocks(*file);
  if (int rc = gather::writeOut(*file)) return rc;
  if (buffer != nullptr && size > 0) {
    auto *bytes = static_cast<char *>(buffer);
    if (doubleBuffer == 1 && size >= kSplitMin) {
      reader->bufferLen = size / 2 / kAlign * kAlign;
      reader->half1 = bytes;
      reader->half2 = bytes + reader->bufferLen;
      reader->half1State = reader->half2State = kIdle;
      reader->doubleBuffered = 1;
      reader->buffer = reader->half1;
    } else {
      reader->bufferLen = size / kAlign * kAlign;
      reader->buffer = bytes;
    }
    // The first transfer ends on a boundary, so that every later one starts
    // on one. A buffer below 1024 bytes reads nothing.
    const auto offset = static_cast<unsigned>(start % kAlign);
    if (offset < reader->bufferLen) reader->nextReadLen = reader->bufferLen - offset;
  }
  reader->pos = static_cast<unsigned long>(start);
  reader->file = file;
  return 0;
}

TK_EXPORT int file4seqReadInit(FILE4SEQ_READ *reader, FILE4 *file, long start, void *buffer, unsigned size) {
  return file4seqReadInitDo(reader, file, start, buffer, size, 0);
}

TK_EXPORT unsigned file4seqRead(FILE4SEQ_READ *reader, void *dest, unsigned len) {
  if (reader == nullptr || (dest == nullptr && len > 0)) {
    report(reader != nullptr ? contextOf(reader->file) : nullptr, err::kParmNull, loc::file4seqRead);
    return 0;
  }
  return readSequential(*reader, static_cast<char *>(dest), len);
}

TK_EXPORT int file4seqReadAll(FILE4SEQ_READ *reader, void *dest, unsigned len) {
  if (reader == nullptr) return report(nullptr, err::kParmNull, loc::file4seqReadSll);
  const unsigned got = file4seqRead(reader, dest, len);
  if (inError(contextOf(reader->file))) return -1;
  if (got == len) return 0;
  return file4readError(reader->file, static_cast<long>(reader->pos), reader->nextReadLen, "file4seqReadAll");
}

TK_EXPORT void file4seqReadWait(FILE4SEQ_READ *reader) {
  if (reader == nullptr) {
    report(nullptr, err::kParmNull, loc::file4seqRead);
    return;
  }
  if (!reader->doubleBuffered || reader->file == nullptr) return;
  settleHalf(*reader, reader->half1);
  settleHalf(*reader, reader->half2);
}

TK_EXPORT int file4seqWriteInit(FILE4SEQ_WRITE *writer, FILE4 *file, long start, void *buffer, unsigned size) {
  if (writer == nullptr || file == nullptr || start < 0)
    return report(contextOf(file), err::kParm, loc::file4seqWriteInit);
  *writer = FILE4SEQ_WRITE{};
  writeAndForgetCachedBlocks(*file);
  writer->file = file;
  const unsigned half = size / 2 / kWriterUnit * kWriterUnit;
  if (buffer != nullptr && half > 0) {
    writer->halfLen = half;
    writer->half1 = static_cast<char *>(buffer);
    writer->half2 = writer->half1 + half;
    writer->half1Free = writer->half2Free = 1;
    writer->buffer = writer->half1;
    // A first filling that ends on a boundary, as for reading; when the
    // start lies too far into its kilobyte, the first write opens a fresh
    // half instead.
    const auto offset = static_cast<unsigned>(start % kAlign);
    if (offset < half) writer->capacity = writer->room = half - offset;
  }
  writer->pos = static_cast<unsigned long>(start);
  return 0;
}

TK_EXPORT int file4seqWrite(FILE4SEQ_WRITE *writer, const void *data, unsigned len) {
  if (writer == nullptr || (data == nullptr && len > 0))
    return report(writer != nullptr ? contextOf(writer->file) : nullptr, err::kParmNull, loc::file4seqWrite);
  return writeSequential(*writer, static_cast<const char *>(data), len);
}

TK_EXPORT int file4seqWriteDelay(FILE4SEQ_WRITE *writer) {
  if (writer == nullptr) return report(nullptr, err::kParmNull, loc::file4seqWrite);
  if (writer->file == nullptr || writer->buffer == nullptr) return 0;
  CODE4 *c4 = contextOf(writer->file);
  if (c4 == nullptr) return report(nullptr, err::kWrite, loc::file4seqWrite);
  if (inError(c4)) return -1;
  return handOver(*writer);
}

TK_EXPORT int file4seqWriteFlush(FILE4SEQ_WRITE *writer) {
  if (writer == nullptr) return report(nullptr, err::kParmNull, loc::file4seqWriteFlush);
  if (writer->file == nullptr) return 0;
  const int rc = file4seqWriteDelay(writer);
  FILE4 &file = *writer->file;
  // Everything handed over reaches the file, and neither half is in flight
  // when this returns: the caller may release the buffer.
  int flushed = flushDelayedWrites(file, true);
  if (writer->half1 != nullptr) {
    waitDelayedWrite(file, writer->half1);
    waitDelayedWrite(file, writer->half2);
  }
  // Without a worker the halves went through the direct-write path, which
  // may have gathered them.
  if (int written = gather::writeOut(file); flushed == 0) flushed = written;
  writeAndForgetCachedBlocks(file);
  // A background write of this pass that failed is reported by the flush of
  // the queued writes; its code is the flush's result too.
  return rc < 0 ? rc : flushed;
}

TK_EXPORT int file4seqWriteRepeat(FILE4SEQ_WRITE *writer, long count, char byte) {
  if (writer == nullptr || count < 0)
    return report(writer != nullptr ? contextOf(writer->file) : nullptr, err::kParm, loc::file4seqWriteRepeat);
  char block[kRepeatBlock];
  std::memset(block, byte, sizeof block);
  for (; count > static_cast<long>(kRepeatBlock); count -= kRepeatBlock) {
    if (int rc = file4seqWrite(writer, block, kRepeatBlock); rc < 0) return rc;
  }
  return file4seqWrite(writer, block, static_cast<unsigned>(count));
}

}  // extern "C"
