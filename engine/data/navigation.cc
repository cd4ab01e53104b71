// Moving a handle through its table in record-number order: loading a
// record by number, the first and last records, skipping forwards and
// backwards, end and beginning of file, fractional positions, and reloading
// the current record. Every move writes the handle's pending record first.
// Moves in the order of an index tag join here with the index files.
//
// Positions: the current record is -1 when none is loaded, 0 while a new
// record is prepared, n on record n, and count + 1 at end of file (at-end
// flag set; both flags set on an empty table). Results: 0 on a record,
// 3 at end of file, 4 moved before the first record, 5 no such record.
#include <cstring>

#include "data/records.h"

namespace tablekit::data {
namespace {

using records::check;

// Writes the pending record before a move; without one, the memo entries
// are only reset. 0 or the write's nonzero result.
int finishPending(DATA4 &data) {
  if (data.recordChanged) return d4updateRecord(&data, 1, 1);
  records::resetMemoEntries(data);
  return 0;
}

// What a load ends with when the record is not there: no current record, a
// blank buffer, and -70 with errGo, else 5.
int noSuchRecord(DATA4 &data) {
  data.recNum = -1;
  records::blankBuffer(data);
  if (data.context->errGo) return report(data.context, err::kRead, loc::d4go, data.alias);
  return r4entry;
}

// Steps 5 to 7 of a load: reads record recNo into the buffer and keeps its
// image as the old record when the handle holds its lock.
int readRecord(DATA4 &data, long recNo, int keepOld, bool lockedHere) {
  DFILE4 &file = *data.dataFile;
  const unsigned width = static_cast<unsigned>(file.recWidth);
  const unsigned got = file4read(&file.file, records::recordPosition(file, recNo), data.record, width);
  if (inError(data.context)) return -1;
  if (got != width) {
    if (lockedHere) (void)d4unlockRecord(&data, recNo);
    return noSuchRecord(data);
  }
  data.recNum = recNo;
  data.bofFlag = data.eofFlag = 0;
  if (keepOld == 1 && d4lockTest(&data, recNo, 1) == 1) {
    std::memcpy(data.oldRecord, data.record, width);
    data.oldRecNo = recNo;
    data.memoValidated = 1;
  } else {
    data.memoValidated = 0;
  }
  return 0;
}

// d4goLow. A record number below 1 names no record, as one beyond the count
// does.
int goLow(DATA4 &data, long recNo, int keepOld) {
  if (int rc = finishPending(data); rc != 0) return rc;
  if (recNo <= 0) return noSuchRecord(data);
  const int beyond = d4recCountGreater(&data, recNo);
  if (beyond < 0) return beyond;
  if (beyond == 1) return noSuchRecord(data);
  bool lockedHere = false;
  if (data.context->readLockDo) {
    if (int rc = d4lock(&data, recNo); rc != 0) return rc;
    lockedHere = true;
  }
  return readRecord(data, recNo, keepOld, lockedHere);
}

// A load with errGo off: a missing record is the condition 5, not a report.
int goQuietly(DATA4 &data, long recNo) {
  CODE4 &c4 = *data.context;
  const int errGo = c4.errGo;
  c4.errGo = 0;
  const int rc = goLow(data, recNo, 1);
  c4.errGo = errGo;
  return rc;
}

int goEof(DATA4 &data) {
  if (int rc = finishPending(data); rc != 0) return rc;
  const long count = d4recCountDo(&data);
  if (count < 0) return static_cast<int>(count);
  data.recNum = count + 1;
  data.eofFlag = 1;
  if (count == 0) data.bofFlag = 1;
  records::blankBuffer(data);
  return r4eof;
}

// The end a move reaches in an empty table: end of file, both flags set.
int emptyTableEnd(DATA4 &data) {
  const int rc = goEof(data);
  data.bofFlag = 1;
  return rc;
}

// d4top (first) and d4bottom (last) in record-number order.
int goEnd(DATA4 &data, bool last) {
  const long count = d4recCountDo(&data);
  if (count < 0) return static_cast<int>(count);
  if (count == 0) return emptyTableEnd(data);
  return goQuietly(data, last ? count : 1);
}

int skip(DATA4 &data, long n) {
  CODE4 &c4 = *data.context;
  if (data.recNum <= 0) {
    if (c4.errSkip) reportReturning(&c4, err::kInfo, loc::detail::skip_must_be_made_from_valid_record_number);
    return err::kInfo;
  }
  data.bofFlag = 0;
  const long target = data.recNum + n;
  if (target > 0) {
    DFILE4 &file = *data.dataFile;
    file.readHint = -1;
    const int rc = goQuietly(data, target);
    file.readHint = 0;
    if (rc != r4entry) return rc;
  }
  const long count = d4recCountDo(&data);
  if (count < 0) return static_cast<int>(count);
  if (count == 0) return emptyTableEnd(data);
  if (target > count) return goEof(data);
  if (target > 0) return r4entry;  // counted, but the file does not hold it
  // Before the first record: record 1, with the at-beginning flag.
  if (int rc = goQuietly(data, 1); rc != 0) return rc;
  data.bofFlag = 1;
  return r4bof;
}

double position(DATA4 &data) {
  if (data.eofFlag) return 1.1;
  const long count = d4recCountDo(&data);
  if (count < 0) return -1.0;
  if (count == 0 || data.recNum <= 0) return 0.0;
  const long span = count > 1 ? count - 1 : 1;
  return static_cast<double>(data.recNum - 1) / static_cast<double>(span);
}

int positionSet(DATA4 &data, double x) {
  if (x > 1.0) return goEof(data);
  if (x <= 0.0) return goEnd(data, false);
  const long count = d4recCountDo(&data);
  if (count < 0) return static_cast<int>(count);
  if (count == 0) return emptyTableEnd(data);
  long recNo = static_cast<long>(x * static_cast<double>(count - 1) + 1.5);
  if (recNo > count) recNo = count;
  return goLow(data, recNo, 1);
}

// d4refreshRecord: the current record read again from the file.
int refreshRecord(DATA4 &data) {
  data.recordChanged = 0;
  if (data.recNum <= 0 || data.eofFlag) return 0;
  DFILE4 &file = *data.dataFile;
  const long count = d4recCountDo(&data);
  if (count < 0) return static_cast<int>(count);
  if (data.recNum <= count && !records::holdsFileLock(data) && file.file.accessMode == 0) {
    records::resetMemoEntries(data);
    if (file4openTest(&file.memoFile.file) == 1) {
      if (int rc = file4refresh(&file.memoFile.file); rc < 0) return rc;
    }
    return readRecord(data, data.recNum, 1, false);
  }
  return goLow(data, data.recNum, 1);
}

int refresh(DATA4 &data) {
  DFILE4 &file = *data.dataFile;
  int rc = file4refresh(&file.file);
  if (rc == 0 && file4openTest(&file.memoFile.file) == 1) rc = file4refresh(&file.memoFile.file);
  return rc;
}

}  // namespace
}  // namespace tablekit::data

using namespace tablekit;
using namespace tablekit::data;

extern "C" {

TK_EXPORT int d4goLow(DATA4 *data, long recNo, int keepOld) {
  if (int rc = check(data, loc::d4go)) return rc;
  return goLow(*data, recNo, keepOld);
}

TK_EXPORT int d4go(DATA4 *data, long recNo) { return d4goLow(data, recNo, 1); }

TK_EXPORT int d4top(DATA4 *data) {
  if (int rc = check(data, loc::d4top)) return rc;
  return goEnd(*data, false);
}

TK_EXPORT int d4bottom(DATA4 *data) {
  if (int rc = check(data, loc::d4bottom)) return rc;
  return goEnd(*data, true);
}

TK_EXPORT int d4skip(DATA4 *data, long n) {
  if (int rc = check(data, loc::d4skip)) return rc;
  return skip(*data, n);
}

TK_EXPORT int d4goEof(DATA4 *data) {
  if (int rc = check(data, loc::d4goEof)) return rc;
  return goEof(*data);
}

TK_EXPORT int d4goBof(DATA4 *data) {
  if (int rc = check(data, loc::d4goBof)) return rc;
  if (int rc = finishPending(*data); rc != 0) return rc;
  const int rc = goEnd(*data, false);
  if (rc < 0) return rc;
  data->bofFlag = 1;
  return r4bof;
}

TK_EXPORT int d4bof(DATA4 *data) {
  if (data == nullptr) return report(nullptr, err::kParmNull, loc::d4bof);
  return data->bofFlag;
}

TK_EXPORT int d4eof(DATA4 *data) {
  if (data == nullptr) return report(nullptr, err::kParmNull, loc::d4eof);
  return data->eofFlag;
}

TK_EXPORT long d4recNo(DATA4 *data) {
  if (data == nullptr) return report(nullptr, err::kParmNull, loc::d4recNo);
  return data->recNum;
}

TK_EXPORT double d4position(DATA4 *data) {
  if (check(data, loc::d4position) != 0) return -1.0;
  return position(*data);
}

TK_EXPORT int d4position2(DATA4 *data, double *out) {
  if (out == nullptr) return report(data != nullptr ? data->context : nullptr, err::kParmNull, loc::d4position);
  *out = d4position(data);
  return *out < 0.0 ? -1 : 0;
}

TK_EXPORT int d4positionSet(DATA4 *data, double position) {
  if (int rc = check(data, loc::d4positionSet)) return rc;
  return positionSet(*data, position);
}

TK_EXPORT int d4refresh(DATA4 *data) {
  if (int rc = check(data, loc::d4refresh)) return rc;
  return refresh(*data);
}

TK_EXPORT int d4refreshRecord(DATA4 *data) {
  if (int rc = check(data, loc::d4refreshRecord)) return rc;
  return refreshRecord(*data);
}

}  // extern "C"
