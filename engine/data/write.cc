// Writing records back and keeping the header up to date: d4writeLow writes
// the record buffer over a stored record, d4updateRecord finishes the
// pending record before a move, an append, a flush or a close, d4update and
// d4flush bring the header and the files up to date, and dfile4headerWrite
// rewrites the header's date and count.
//
// When the header is rewritten (date and count unless said otherwise):
//
//   event                                            | rewrite
//   -------------------------------------------------+---------------------------
//   a successful append, access mode 0 or 2          | date, count
//   d4update of a changed file by the holder of the  | date, count
//   append or file lock (modes 1 and 2: every handle)|
//   d4flush, access mode 1 (before the file flush)   | date, count
//   last close of a changed, writable file that is   | date (today); count only
//   not being removed                                | in access mode 1
//   the end of d4zap                                 | date, count
//
// Every rewrite with the date writes today's date: the header says when the
// table was last changed. (Were the date refreshed only at the last close and
// when a lock is released with the date pending, a table changed in access
// mode 1 would never get a new date, because d4update at close rewrites its
// header first and clears the changed flag that the last close looks at; and
// a single append in access mode 0 would leave the date of the open.)
// Records always reach the file before the header that counts them.
#include <cstring>

#include "data/records.h"
#include "platform/platform.h"

namespace tablekit::data {

namespace {

using records::check;

// The 10 bytes of the header image, as they stand at offsets 0-9.
void headerImage(const DFILE4 &file, unsigned char *out) {
  out[dbf::kVersion] = file.version;
  out[dbf::kDate] = file.yy;
  out[dbf::kDate + 1] = file.mm;
  out[dbf::kDate + 2] = file.dd;
  const auto count = static_cast<unsigned long>(file.inMemoryCount);
  for (unsigned i = 0; i < 4; ++i) out[dbf::kRecordCount + i] = static_cast<unsigned char>((count >> (8 * i)) & 0xFF);
  out[dbf::kHeaderLength] = static_cast<unsigned char>(file.headerLen & 0xFF);
  out[dbf::kHeaderLength + 1] = static_cast<unsigned char>(file.headerLen >> 8);
}

// The handle's locks go when unlock is asked for, unlockAuto is on and the
// handle does not hold the file lock.
int releaseAfterWrite(DATA4 &data) {
  if (data.context->unlockAuto == 0 || records::holdsFileLock(data)) return 0;
  return d4unlockData(&data, -1);
}

// Step 7 of d4writeLow for the record itself (d4writeData): the record
// buffer's width bytes over record recNo.
int writeData(DATA4 &data, long recNo, int lock) {
  DFILE4 &file = *data.dataFile;
  if (lock != 0) {
    if (int rc = d4lock(&data, recNo); rc != 0) return rc;
  }
  data.recordChanged = 0;
  file.fileChanged = 1;
  return file4write(&file.file, records::recordPosition(file, recNo), data.record,
                    static_cast<unsigned>(file.recWidth));
}

int writeRecord(DATA4 &data, long recNo, int unlock, int lock) {
  CODE4 &c4 = *data.context;
  if (recNo == -1) recNo = data.recNum;
  if (inError(&c4)) return -1;
  if (data.readOnly) return records::reportReadOnly(data);

  const int wasChanged = data.recordChanged;
  data.recordChanged = 0;
  if (lock != 0) {
    if (int rc = d4lock(&data, recNo); rc != 0) {
      data.recordChanged = wasChanged;
      return rc;
    }
  }
  if (data.bofFlag || data.eofFlag) {
    data.recordChanged = wasChanged;
    return report(&c4, err::kWrite, loc::detail::attempt_to_d4write_record_to_a_non_existant, data.alias);
  }
  if (records::hasMemoFields(data)) {
    if (int rc = d4validateMemoIds(data); rc != 0) {
      data.recordChanged = wasChanged;
      return rc;
    }
  }

  bool keysChanged = false;
  if (int rc = records::writeKeys(data, recNo, &keysChanged); rc != 0) {
    data.recordChanged = wasChanged;
    return rc;
  }
  int memoResult = 0;
  if (keysChanged) {
    if (records::hasMemoFields(data)) {
      memoResult = memoWriteChanged(data);
      if (memoResult < 0) {
        data.recordChanged = wasChanged;
        return memoResult;
      }
    }
    if (int rc = writeData(data, recNo, lock); rc != 0) {
      // The record is not on file: its keys go back to the stored ones.
      records::unwriteKeys(data, recNo);
      return rc;
    }
  }
  if (unlock != 0) {
    if (int rc = releaseAfterWrite(data); rc < 0) return rc;
  }
  if (memoResult == 0) std::memcpy(data.oldRecord, data.record, data.dataFile->recWidth);
  return memoResult;
}

int updateRecord(DATA4 &data, int unlock, int doLock) {
  CODE4 &c4 = *data.context;
  if (data.recNum <= 0 || data.eofFlag) {
    records::resetMemoEntries(data);
    data.recordChanged = 0;
    return 0;
  }
  if (data.recordChanged) {
    const int rc = writeRecord(data, data.recNum, unlock, doLock);
    records::resetMemoEntries(data);
    data.oldRecNo = -1;
    return rc;
  }
  if (records::hasMemoFields(data)) memoMarkUnread(data);
  if (unlock != 0 && c4.unlockAuto != 0 && !records::transactionActive(c4) && !records::holdsFileLock(data))
    return d4unlockData(&data, -1);
  return 0;
}

int update(DATA4 &data) {
  int rc = updateRecord(data, 0, 1);
  if (rc != 0) return rc;
  DFILE4 &file = *data.dataFile;
  if (file.fileChanged && d4lockTestAppend(&data) == 1) {
    if ((rc = dfile4headerWrite(file, true, true)) < 0) return rc;
  }
  return records::flushTags(data);
}

// d4flushData: the pending record and the header, then the data and memo
// files to the device.
int flushData(DATA4 &data) {
  int rc = update(data);
  if (rc < 0) return rc;
  DFILE4 &file = *data.dataFile;
  if (file.file.accessMode == 1 && file.fileChanged) {
    if (int written = dfile4headerWrite(file, true, true); written < 0) return written;
  }
  if (int flushed = file4flush(&file.file); flushed < 0) return flushed;
  if (file4openTest(&file.memoFile.file) == 1) {
    if (int flushed = file4flush(&file.memoFile.file); flushed < 0) return flushed;
  }
  return rc;
}

}  // namespace

int dfile4headerWrite(DFILE4 &file, bool withDate, bool withCount) {
  if (records::transactionActive(*file.c4)) return 0;
  if (withDate) headerDateToday(file);
  unsigned char image[10];
  headerImage(file, image);
  const bool countKnown = withCount && file.inMemoryCount >= 0;
  unsigned from = 0, to = 0;  // the bytes [from, to) of the image
  if (withDate) {
    to = dbf::kRecordCount;
    if (countKnown) to = sizeof image;
  } else if (countKnown) {
    from = dbf::kRecordCount;
    to = sizeof image;
  }
  int rc = 0;
  if (to > from && file4write(&file.file, from, image + from, to - from) < 0) rc = -1;
  if (withDate) file.dateChanged = 1;
  if (withCount && file.inMemoryCount >= 0) file.lastKnownCount = file.inMemoryCount;
  file.fileChanged = 0;
  return rc;
}

void headerDateToday(DFILE4 &file) {
  const platform::LocalTime now = platform::localTime();
  file.yy = static_cast<unsigned char>(now.year - 1900);
  file.mm = static_cast<unsigned char>(now.month);
  file.dd = static_cast<unsigned char>(now.day);
}

}  // namespace tablekit::data

using namespace tablekit;
using namespace tablekit::data;

extern "C" {

TK_EXPORT int d4writeLow(DATA4 *data, long recNo, int unlock, int lock) {
  if (data == nullptr || data->dataFile == nullptr) return report(nullptr, err::kParmNull, loc::d4write);
  if (recNo < -1 || recNo == 0) return report(data->context, err::kParm, loc::d4write);
  return writeRecord(*data, recNo, unlock, lock);
}

TK_EXPORT int d4updateRecord(DATA4 *data, int unlock, int doLock) {
  if (int rc = check(data, loc::d4updateRecord)) return rc;
  return updateRecord(*data, unlock, doLock);
}

TK_EXPORT int d4update(DATA4 *data) {
  if (int rc = check(data, loc::d4update)) return rc;
  return update(*data);
}

TK_EXPORT int d4flush(DATA4 *data) {
  if (int rc = check(data, loc::d4flush)) return rc;
  const int rc = flushData(*data);
  if (records::flushIndexFiles(*data) < 0) return -1;
  return rc;
}

TK_EXPORT int code4flush(CODE4 *c4) {
  if (c4 == nullptr) return report(nullptr, err::kParmNull, loc::code4flush);
  if (inError(c4)) return -1;
  int result = 0;
  for (auto *data = static_cast<DATA4 *>(l4first(&c4->dataList)); data != nullptr;
       data = static_cast<DATA4 *>(l4next(&c4->dataList, data))) {
    if (int rc = d4flush(data); rc != 0) result = rc;
  }
  return result;
}

}  // extern "C"
