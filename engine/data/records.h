// What the records unit's own files (append.cc, write.cc, zap.cc,
// navigation.cc, close.cc) share: the guards of their operations, small
// facts about a handle's locks and buffers, and the places where index-key
// maintenance joins. Private to those files; the rest of the engine uses
// data_layer.h.
#pragma once

#include <cstring>

#include "data/data_layer.h"
#include "foundation/foundation.h"

namespace tablekit::data::records {

// The guard of an operation on a handle: -935 (reported) for a missing
// handle or one without its DFILE4, -1 while the context is in error, else 0.
inline int check(const DATA4 *data, long location) {
  if (data == nullptr || data->dataFile == nullptr) return report(nullptr, err::kParmNull, location);
  return inError(data->context);
}

// -120 for a write through a read-only handle, with the alias as description.
inline int reportReadOnly(DATA4 &data) {
  return report(data.context, err::kWrite, loc::detail::attempt_to_write_to_a_read_only_file, data.alias);
}

// Whether this handle holds the file lock (in access modes 1 and 2 every
// handle counts as holding it).
inline bool holdsFileLock(DATA4 &data) {
  return dfile4lockTestFile(data.dataFile, data.handleId, data.handleId, 1) == 1;
}

inline bool transactionActive(const CODE4 &c4) { return c4.trans.currentTranStatus != 0; }

inline bool hasMemoFields(const DATA4 &data) { return data.dataFile->nMemoFields > 0 && data.memos != nullptr; }

// Length 0, contents to be read again, not changed: every memo entry of the
// handle, when it has memo fields.
inline void resetMemoEntries(DATA4 &data) {
  if (hasMemoFields(data)) memoResetEntries(data);
}

// The record buffer becomes the blank record, not marked changed.
inline void blankBuffer(DATA4 &data) {
  std::memcpy(data.record, data.blankRecord, data.dataFile->recWidth + 1);
  data.recordChanged = 0;
}

inline long recordPosition(const DFILE4 &file, long recNo) {
  return static_cast<long>(static_cast<unsigned long>(recNo - 1) * file.recWidth + file.headerLen);
}

// ---------------------------------------------------------------------------
// Index keys. No table of this engine has index files yet: d4open opens
// none and nothing creates one. Each function below is the place where a
// step keeps the tags in step with the records, and does nothing while the
// table has no index file, which is always the case for now.

// Adds record recNo's key to every tag (append); 0, 20 or an error.
inline int appendKeys(DATA4 &, long /*recNo*/) { return 0; }
// Removes record recNo's key from every tag again (a failed append).
inline void removeAppendedKeys(DATA4 &, long /*recNo*/) {}
// Replaces the stored record's keys by the buffer's (write); 0, 20 or an
// error. *changed tells whether the record is to be written.
inline int writeKeys(DATA4 &, long /*recNo*/, bool *changed) {
  *changed = true;
  return 0;
}
// Puts the stored record's keys back (a failed write).
inline void unwriteKeys(DATA4 &, long /*recNo*/) {}
// Writes the tags' changed blocks (d4update) and the index files (d4flush).
inline int flushTags(DATA4 &) { return 0; }
inline int flushIndexFiles(DATA4 &) { return 0; }
// Rebuilds every tag of the table (after a zap).
inline int reindexAll(DATA4 &) { return 0; }
// Closes the handle's index handles (close).
inline int closeIndexHandles(DATA4 &) { return 0; }

}  // namespace tablekit::data::records
