// Closing tables: d4close releases a handle, and the last handle of a file
// closes the DFILE4 with its data and memo files. code4close (context.cc)
// and failed opens come through here too.
//
// Records cannot be written by this engine yet, so a close has no current
// record to finish, no locks to release and no header to bring up to date;
// the places where that work joins are named below.
#include "data/data_layer.h"
#include "foundation/foundation.h"

namespace tablekit::data {
namespace {

// Keeps the first negative result.
void keepFirst(int &rc, int next) {
  if (rc >= 0 && next < 0) rc = next;
}

// The header rewrite of the last close of a changed file: the in-memory date
// becomes today and the header is written with that date (and with the
// count in access mode 1), after the records it counts. It comes with
// record writing; until then no file is ever marked changed.
int rewriteHeaderAtLastClose(DFILE4 &) { return 0; }

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
  // Index files are not part of the engine yet: a DFILE4 has none to close.
  l4remove(&c4.dataFileList, &file);
  keepFirst(rc, file4close(&file.file));
  mem4freeDefault(c4.dataFileMemory, &file);
  return rc;
}

// Steps 2 to 6 of the close, with the context's earlier error put aside.
int closeHandle(DATA4 &data) {
  CODE4 &c4 = *data.codeBase;
  int rc = 0;
  // Finishing the current record (d4update) and releasing this handle's
  // locks join here with record writing and locking; index handles with the
  // index files.
  DFILE4 *file = data.dataFile;
  freeHandleParts(data);
  if (file != nullptr) {
    l4remove(&file->data4list, &data.dataFileLink);
    data.dataFile = nullptr;
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
  CODE4 &c4 = *data->codeBase;
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
