// Removing a range of records: d4zap moves the records after the range down
// over it with the sequential reader and writer, cuts the file after the new
// last record and its end-of-file byte, and rewrites the header. The
// translator's table set empties every table this way before a load.
//
// The copy runs front to back: the writer's position is always behind the
// reader's (it starts at record first, the reader at record last + 1), so
// no byte is written before it has been read.
#include <algorithm>

#include "data/records.h"

namespace tablekit::data {
namespace {

using records::check;

// The two buffers of the copy: each of the context's memSizeBuffer bytes, or
// smaller by 2048 bytes at a time down to the record width; none (the copy
// then goes unbuffered) when not even that much can be had. The sequential
// reader transfers whole kilobytes, so a buffer below one is no buffer.
class CopyBuffers {
 public:
  CopyBuffers(long wanted, unsigned long width) {
    constexpr long kStep = 2048;
    constexpr long kSmallest = 1024;
    const long smallest = std::max(static_cast<long>(width), kSmallest);
    for (long size = wanted; size >= smallest; size -= kStep) {
      read_ = static_cast<char *>(u4allocDefault(size));
      write_ = read_ != nullptr ? static_cast<char *>(u4allocDefault(size)) : nullptr;
      if (write_ != nullptr) {
        size_ = static_cast<unsigned>(size);
        return;
      }
      u4freeDefault(read_);
      read_ = nullptr;
    }
  }
  ~CopyBuffers() {
    u4freeDefault(read_);
    u4freeDefault(write_);
  }
  CopyBuffers(const CopyBuffers &) = delete;
  CopyBuffers &operator=(const CopyBuffers &) = delete;

  char *read() const { return read_; }
  char *write() const { return write_; }
  unsigned size() const { return size_; }

 private:
  char *read_ = nullptr;
  char *write_ = nullptr;
  unsigned size_ = 0;
};

// Copies records from + 1 ... count to the positions from record to on,
// then writes the end-of-file byte after them. 0 or a negative code.
int moveRecordsDown(DFILE4 &file, long to, long from, long count) {
  CODE4 &c4 = *file.c4;
  CopyBuffers buffers(c4.memSizeBuffer, file.recWidth);
  FILE4SEQ_READ reader;
  FILE4SEQ_WRITE writer;
  int rc = file4seqReadInit(&reader, &file.file, records::recordPosition(file, from + 1), buffers.read(),
                            buffers.size());
  if (rc == 0)
    rc = file4seqWriteInit(&writer, &file.file, records::recordPosition(file, to), buffers.write(), buffers.size());
  if (rc < 0) return rc;

  // The records are one run of bytes, passed on a piece at a time.
  char piece[4096];
  unsigned long left = static_cast<unsigned long>(count - from) * file.recWidth;
  while (rc == 0 && left > 0) {
    const auto n = static_cast<unsigned>(std::min<unsigned long>(left, sizeof piece));
    rc = file4seqReadAll(&reader, piece, n);
    if (rc == 0) rc = file4seqWrite(&writer, piece, n);
    left -= n;
  }
  const char end = static_cast<char>(dbf::kEndOfFile);
  if (rc == 0) rc = file4seqWrite(&writer, &end, 1);
  // Neither buffer may be in use by a background transfer once they go.
  const int flushed = file4seqWriteFlush(&writer);
  file4seqReadWait(&reader);
  return rc < 0 ? rc : flushed;
}

// dfile4zapRecords: removes records first ... last (last cut to the count).
// 0 or a negative code.
int zapRecords(DFILE4 &file, long first, long last) {
  file.fileChanged = 1;
  const long count = dfile4recCount(&file, -2);
  if (count < 0) return static_cast<int>(count);
  if (count < first) return 0;
  last = std::min(last, count);
  if (int rc = moveRecordsDown(file, first, last, count); rc < 0) return rc;
  const long remaining = count - (last - first + 1);
  file.inMemoryCount = file.lastKnownCount = remaining;
  return file4lenSetLow(&file.file, static_cast<unsigned long>(records::recordPosition(file, remaining + 1)) + 1);
}

// d4zapData: the pending record goes out first, under the file lock.
int zapData(DATA4 &data, long first, long last) {
  if (int rc = d4lockFile(&data); rc != 0) return rc;
  if (int rc = d4update(&data); rc != 0) return rc;
  if (int rc = zapRecords(*data.dataFile, first, last); rc != 0) return rc;
  data.recNum = data.oldRecNo = -1;
  records::blankBuffer(data);
  return 0;
}

int zap(DATA4 &data, long first, long last) {
  if (data.readOnly) return records::reportReadOnly(data);
  if (int rc = d4lockAllInternal(&data, 1); rc != 0) return rc;
  if (int rc = zapData(data, first, last); rc != 0) return rc;
  DFILE4 &file = *data.dataFile;
  const int empty = file.inMemoryCount == 0 ? 1 : 0;
  data.bofFlag = data.eofFlag = empty;
  const int rebuilt = records::reindexAll(data);
  if (int rc = dfile4headerWrite(file, true, true); rc < 0) return rc;
  return rebuilt;
}

}  // namespace
}  // namespace tablekit::data

using namespace tablekit;
using namespace tablekit::data;

extern "C" {

TK_EXPORT int d4zap(DATA4 *data, long first, long last) {
  if (last < first) return 0;
  if (data == nullptr || data->dataFile == nullptr) return report(nullptr, err::kParmNull, loc::d4zap);
  if (first <= 0 || last <= 0) return report(data->context, err::kParm, loc::d4zap);
  if (inError(data->context)) return -1;
  return zap(*data, first, last);
}

}  // extern "C"
