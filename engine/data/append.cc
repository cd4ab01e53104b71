// Appending records and editing the record buffer as a whole: d4appendStart
// begins a new record, d4append adds the record buffer at the end of the
// table, d4unappend takes the last record away again; d4blank, d4delete,
// d4recall, d4deleted and d4changed work on the buffer and its changed flag.
// The translator's whole output goes through d4appendStart and d4append.
//
// An append writes the record and a fresh end-of-file byte 0x1A in one
// write of width + 1 bytes at the position of record count + 1, under the
// append lock and the new record's lock, and only then (access modes 0 and
// 2) the header that counts it. In access mode 1 the header's count is
// brought up to date by d4update (flush, zap, unlock) and at the last close.
#include <cstring>

#include "data/records.h"

namespace tablekit::data {
namespace {

using records::check;

// The lock test of the operations that change the buffer as a whole: with
// lockEnforce on, a current record must be locked by this handle. 0 or -50.
int enforceLock(DATA4 &data, long location) {
  if (data.context->lockEnforce && data.recNum > 0 && recordLockedByHandle(data, data.recNum) != 1)
    return report(data.context, err::kLock, location, data.alias);
  return 0;
}

// Sets the deletion flag to mark (nothing changes when it has that value).
void setDeletionFlag(DATA4 *data, char mark, long location) {
  if (check(data, location) != 0) return;
  if (data->record[0] == mark) return;
  if (enforceLock(*data, location) != 0) return;
  data->record[0] = mark;
  data->recordChanged = 1;
}

// Step 3 of d4appendStart with useMemoEntries: the new record carries copies
// of the current record's memo contents, read under its lock.
int loadMemoContents(DATA4 &data) {
  if (int rc = d4lock(&data, data.recNum); rc != 0) return rc;
  DFILE4 &file = *data.dataFile;
  if (int rc = file4readAll(&file.file, records::recordPosition(file, data.recNum), data.oldRecord,
                            static_cast<unsigned>(file.recWidth));
      rc < 0)
    return rc;
  return memoLoadAll(data);
}

int appendStart(DATA4 &data, int useMemoEntries) {
  if (int rc = d4updateRecord(&data, 1, 1); rc < 0) return rc;
  if (records::hasMemoFields(data)) {
    memoResetEntries(data);
    if (useMemoEntries == 1 && data.recNum > 0 && !data.eofFlag && !data.bofFlag) {
      if (int rc = loadMemoContents(data); rc != 0) return rc;
    }
    // The block numbers of the new record are not known until d4append
    // writes its memo contents; the buffer carries 0 meanwhile.
    CODE4 &c4 = *data.context;
    const int enforce = c4.lockEnforce;
    c4.lockEnforce = 0;
    for (unsigned i = 0; i < data.dataFile->nMemoFields; ++i) (void)f4assignLong(data.memos[i].field, 0);
    c4.lockEnforce = enforce;
  }
  data.recNum = 0;
  if (records::holdsFileLock(data)) return 0;
  return d4unlockData(&data, -1);
}

// dfile4appendRecord: the record buffer and the end-of-file byte as record
// count + 1. 0 or a negative code.
int appendRecord(DATA4 &data) {
  DFILE4 &file = *data.dataFile;
  const unsigned width = static_cast<unsigned>(file.recWidth);
  data.record[width] = static_cast<char>(dbf::kEndOfFile);
  const long count = dfile4recCount(&file, -2);
  int rc = count < 0 ? static_cast<int>(count) : 0;
  if (rc == 0) {
    file.fileChanged = 1;
    rc = file4write(&file.file, records::recordPosition(file, count + 1), data.record, width + 1);
  }
  if (rc == 0) {
    file.inMemoryCount = count + 1;
    data.recNum = count + 1;
    if (!records::transactionActive(*data.context)) file.lastKnownCount = count + 1;
    data.recordChanged = 0;
  }
  data.record[width] = '\0';
  return rc;
}

int append(DATA4 &data) {
  if (data.readOnly) return records::reportReadOnly(data);
  DFILE4 &file = *data.dataFile;

  // 2. The append lock and the lock of the record to come; taking the
  // append lock makes the count be read again from the header.
  if (int rc = d4lockAppendRecord(&data, 1); rc != 0) return rc;

  // 3.
  data.bofFlag = data.eofFlag = 0;
  data.recordChanged = 0;
  const long previous = data.recNum;
  const long count = d4recCountDo(&data);
  int rc = count < 0 ? static_cast<int>(count) : 0;
  bool appended = false;
  if (rc == 0) {
    data.recNum = count + 1;
    // 4. Keys, 5. memo contents, 6. the record.
    rc = records::appendKeys(data, count + 1);
    if (rc == 0 && records::hasMemoFields(data)) rc = memoAppendContents(data);
    if (rc == 0) {
      rc = appendRecord(data);
      appended = rc == 0;
      // 7.
      if (!appended) {
        records::removeAppendedKeys(data, count + 1);
      } else if (file.file.accessMode == 0 || file.file.accessMode == 2) {
        rc = dfile4headerWrite(file, true, true);
      }
    }
  }

  // 8. The append lock goes (when unlockAuto is on); the record lock stays.
  const int released = d4unlockAppend(&data, -1);
  if (rc == 0 && released < 0) rc = released;

  // 9. A record that did not reach the file leaves no trace.
  if (!appended && rc != 0) {
    data.recNum = previous;
    if (count >= 0) (void)d4unlockRecord(&data, count + 1);
  }
  return rc;
}

// Step 3 of d4unappend: frees the memo runs of the loaded last record, as
// writing it with empty memo contents would.
int emptyMemoFields(DATA4 &data) {
  CODE4 &c4 = *data.context;
  const int enforce = c4.lockEnforce;
  c4.lockEnforce = 0;
  int rc = 0;
  for (unsigned i = 0; i < data.dataFile->nMemoFields && rc == 0; ++i) {
    FIELD4 *field = data.memos[i].field;
    if (f4long(field) > 0) rc = f4memoAssignN(field, "", 0);
  }
  if (rc == 0) rc = memoWriteChanged(data);
  c4.lockEnforce = enforce;
  return rc < 0 ? rc : 0;
}

// Removes the last record, count k: its keys and memo runs go, the header
// counts k - 1, and the file ends with 0x1A after record k - 1. The lower
// count is written before the file is cut, so the header never counts a
// record the file does not hold. 0, 5 (the table is empty) or an error.
//
// The work runs under the append lock and the lock of record k, with
// automatic unlocking off so that locking the record (here or when its
// memo runs are freed) does not release the append lock.
int unappend(DATA4 &data) {
  if (data.readOnly) return records::reportReadOnly(data);
  CODE4 &c4 = *data.context;
  DFILE4 &file = *data.dataFile;
  if (int rc = d4lockAppend(&data); rc != 0) return rc;
  const short unlockAuto = c4.unlockAuto;
  c4.unlockAuto = 0;
  const long count = d4recCountDo(&data);
  int rc = count < 0 ? static_cast<int>(count) : (count == 0 ? r4entry : 0);
  if (rc == 0) rc = d4lockInternal(&data, count, 0, 1);
  if (rc == 0) rc = d4goLow(&data, count, 1);
  if (rc == 0) {
    records::removeAppendedKeys(data, count);
    if (records::hasMemoFields(data)) rc = emptyMemoFields(data);
  }
  if (rc == 0) {
    file.inMemoryCount = count - 1;
    rc = dfile4headerWrite(file, false, true);
    file.fileChanged = 1;
    const char end = static_cast<char>(dbf::kEndOfFile);
    const long endPos = records::recordPosition(file, count);
    if (rc == 0) rc = file4write(&file.file, endPos, &end, 1);
    if (rc == 0) rc = file4lenSetLow(&file.file, static_cast<unsigned long>(endPos) + 1);
    data.recNum = -1;
    records::blankBuffer(data);
    records::resetMemoEntries(data);
  }
  c4.unlockAuto = unlockAuto;
  if (count > 0) (void)d4unlockRecord(&data, count);
  const int released = d4unlockAppend(&data, -1);
  return rc == 0 && released < 0 ? released : rc;
}

}  // namespace
}  // namespace tablekit::data

using namespace tablekit;
using namespace tablekit::data;

extern "C" {

TK_EXPORT void d4blank(DATA4 *data) {
  if (check(data, loc::d4blank) != 0) return;
  if (enforceLock(*data, loc::d4blank) != 0) return;
  std::memcpy(data->record, data->blankRecord, data->dataFile->recWidth);
  data->recordChanged = 1;
}

TK_EXPORT void d4delete(DATA4 *data) { setDeletionFlag(data, '*', loc::d4delete); }

TK_EXPORT void d4recall(DATA4 *data) { setDeletionFlag(data, ' ', loc::d4recall); }

TK_EXPORT int d4deleted(DATA4 *data) {
  if (data == nullptr || data->record == nullptr) return report(nullptr, err::kParmNull, loc::d4deleted);
  return data->record[0] != ' ' ? 1 : 0;
}

TK_EXPORT int d4changed(DATA4 *data, int flag) {
  if (int rc = check(data, loc::d4changed)) return rc;
  const int previous = data->recordChanged;
  if (flag > 0) data->recordChanged = 1;
  if (flag == 0) data->recordChanged = 0;
  return previous;
}

TK_EXPORT int d4appendStart(DATA4 *data, int useMemoEntries) {
  if (data == nullptr || data->dataFile == nullptr) return report(nullptr, err::kParmNull, loc::d4appendStart);
  return appendStart(*data, useMemoEntries);
}

TK_EXPORT int d4append(DATA4 *data) {
  if (int rc = check(data, loc::d4append)) return rc;
  return append(*data);
}

TK_EXPORT int d4unappend(DATA4 *data) {
  if (int rc = check(data, loc::d4unappend)) return rc;
  return unappend(*data);
}

TK_EXPORT int d4appendBlank(DATA4 *data) {
  if (int rc = check(data, loc::d4appendBlank)) return rc;
  if (int rc = d4appendStart(data, 0); rc != 0) return rc;
  d4blank(data);
  return d4append(data);
}

}  // extern "C"
