// Closing tables: d4close finishes the handle's pending record, brings the
// header up to date, releases the handle's locks and frees it; the last
// handle of a file closes the DFILE4 with its data and memo files. code4close
// (context.cc) and failed opens come through here too.
//
// The last close of a file that was changed (a record appended or written
// since the header was last rewritten), is writable and is not being removed
// stamps today's date into the header, with the record count in access mode
// 1 (in modes 0 and 2 every append has written the count already). A file
// that was not changed keeps its header bytes as they are.
#include "data/records.h"

namespace tablekit::data {
namespace {

// Keeps the first negative result.
void keepFirst(int &rc, int next) {
  if (rc >= 0 && next < 0) rc = next;
}

// After a failed step the context's error is put aside, so that the next
// step runs; the close reports the first failure at its end.
void setAside(CODE4 &c4, int rc) {
  if (rc < 0) c4.errorCode = 0;
}

// The header rewrite of the last close of a changed file: today's date, and
// the count in access mode 1, after the records it counts.
int rewriteHeaderAtLastClose(DFILE4 &file) { return dfile4headerWrite(file, true, file.file.accessMode == 1); }

// Closes the file for real. The DFILE4 goes back to its pool.
int closeDataFile(DFILE4 &file) {
  CODE4 &c4 = *file.c4;
  int rc = 0;
  u4freeDefault(file.info);
  file.info = nullptr;
  const bool remove = c4.doRemove == 1;
  if (file4openTest(&file.file) == 1) {
    if (remove) file.file.isTemp = 1;
    if (file.fileChanged && !file.file.isTemp && !file.file.isReadOnly) keepFirst(rc, rewriteHeaderAtLastClose(file));
  }
  if (file4openTest(&file.memoFile.file) == 1) {
    if (remove) file.memoFile.file.isTemp = 1;
    keepFirst(rc, file4close(&file.memoFile.file));
  }
  // Index files of the DFILE4 close here once tables have them.
  l4remove(&c4.dataFileList, &file);
  keepFirst(rc, file4close(&file.file));
  mem4freeDefault(c4.dataFileMemory, &file);
  return rc;
}

// Steps 2 to 4 of the close for a handle that was opened completely (its
// handle id is drawn last): the pending record, the header, the locks, the
// index handles and the memo entries. Each step runs even when an earlier
// one failed; the first failure is kept.
int finishHandle(DATA4 &data) {
  CODE4 &c4 = *data.context;
  int rc = 0;
  const int updated = d4update(&data);
  // A record refused by a unique tag is dropped.
  if (updated == err::kUnique) data.recordChanged = 0;
  keepFirst(rc, updated);
  setAside(c4, rc);
  keepFirst(rc, d4unlockLow(&data, data.handleId, 0));
  setAside(c4, rc);
  forgetHandleLocks(data);
  keepFirst(rc, records::closeIndexHandles(data));
  setAside(c4, rc);
  if (records::hasMemoFields(data)) memoFreeEntries(data);
  return rc;
}

// Steps 2 to 6 of the close, with the context's earlier error put aside.
// A handle whose open failed part way is only taken down.
int closeHandle(DATA4 &data) {
  CODE4 &c4 = *data.context;
  int rc = 0;
  DFILE4 *file = data.dataFile;
  if (file != nullptr && data.handleId != 0) rc = finishHandle(data);
  // 5, 6. The handle leaves its DFILE4, which closes with its last handle;
  // its buffers and the handle itself are freed.
  if (file != nullptr) l4remove(&file->handles, &data.dataFileLink);
  freeHandleParts(data);
  data.dataFile = nullptr;
  if (file != nullptr) {
    setAside(c4, rc);
    keepFirst(rc, dfile4release(*file));
  }
  l4remove(&c4.dataList, &data);
  mem4freeDefault(c4.dataMemory, &data);
  return rc;
}

}  // namespace

int dfile4release(DFILE4 &file) {
  if (file.userCount > 1) {
    --file.userCount;
    return 0;
  }
  file.userCount = 0;
  return closeDataFile(file);
}

}  // namespace tablekit::data

using namespace tablekit;

extern "C" {

TK_EXPORT int d4close(DATA4 *data) {
  if (data == nullptr) return report(nullptr, err::kParmNull, loc::d4close);
  CODE4 &c4 = *data->context;
  // A record refused by a unique tag is dropped, not written.
  if (c4.errorCode == err::kUnique) data->recordChanged = 0;
  const int earlier = c4.errorCode < 0 ? c4.errorCode : 0;
  if (earlier < 0) c4.errorCode = 0;
  int rc = data::closeHandle(*data);
  if (earlier < 0) rc = earlier;
  if (rc < 0) c4.errorCode = rc;
  return rc;
}

}  // extern "C"
