// Record counts and the plain facts of an open table: the count as the
// header says it or as a lock keeps it, record positions, width, fields,
// record buffer and file name. Used by every table operation and the
// translator.
//
// The header's count is read afresh at each request unless a lock makes the
// in-memory count the true one: the file lock or the append lock of a
// handle of this process, or an open in access mode 1 or 2, where nobody
// else can append.
#include <algorithm>

#include "data/data_layer.h"
#include "foundation/foundation.h"

namespace tablekit::data {
namespace {

long recordCount(DFILE4 &file, long handleId) {
  if (file.inMemoryCount >= 0) {
    if (handleId == -2 || countLockedBy(file, handleId)) return file.inMemoryCount;
    return file.lastKnownCount;
  }
  unsigned char bytes[4];
  if (file4read(&file.file, dbf::kRecordCount, bytes, sizeof bytes) != sizeof bytes) return -1;
  const long count = dbf::readI32(bytes);
  if (count < 0) return -1;
  if (countLockedByAny(file)) file.inMemoryCount = count;
  file.lastKnownCount = count;
  return count;
}

}  // namespace

}  // namespace tablekit::data

using namespace tablekit;
using namespace tablekit::data;

extern "C" {

TK_EXPORT long dfile4recCount(DFILE4 *file, long handleId) {
  if (file == nullptr) return report(nullptr, err::kParmNull, loc::dfile4_family);
  if (inError(file->c4)) return -1;
  return recordCount(*file, handleId);
}

TK_EXPORT long d4recCountDo(DATA4 *data) {
  if (data == nullptr || data->dataFile == nullptr) return report(nullptr, err::kParmNull, loc::d4recCount);
  if (inError(data->context)) return -1;
  DFILE4 &file = *data->dataFile;
  if (file.inMemoryCount < 0) return recordCount(file, data->handleId);
  return countLockedBy(file, data->handleId) ? file.inMemoryCount : file.lastKnownCount;
}

TK_EXPORT int d4recCountGreater(DATA4 *data, long n) {
  if (data == nullptr || data->dataFile == nullptr) return report(nullptr, err::kParmNull, loc::d4recCountLessEq);
  CODE4 *c4 = data->context;
  if (inError(c4)) return -1;
  if (std::min(data->count, data->dataFile->lastKnownCount) >= n) return 0;
  const long count = d4recCountDo(data);
  if (count < 0) {
    // A count that could not be read is an error of its own, unless the
    // read failed because of one already reported.
    if (!inError(c4)) report(c4, static_cast<int>(count), loc::d4recCountLessEq, data->dataFile->file.name);
    return static_cast<int>(count);
  }
  data->count = count;
  return count < n ? 1 : 0;
}

TK_EXPORT unsigned long dfile4recordPosition(DFILE4 *file, long recNo) {
  if (file == nullptr) {
    report(nullptr, err::kParmNull, loc::dfile4_family);
    return 0;
  }
  return static_cast<unsigned long>(recNo - 1) * file->recWidth + file->headerLen;
}

TK_EXPORT short d4numFields(DATA4 *data) {
  if (data == nullptr || data->dataFile == nullptr) return static_cast<short>(report(nullptr, err::kParmNull, loc::d4numFields));
  return static_cast<short>(data->dataFile->nFields);
}

TK_EXPORT unsigned long d4recWidthLow(DATA4 *data) {
  if (data == nullptr || data->dataFile == nullptr) {
    report(nullptr, err::kParmNull, loc::d4recWidth);
    return 0;
  }
  return data->dataFile->recWidth;
}

TK_EXPORT char *d4recordLow(DATA4 *data) {
  if (data == nullptr) {
    report(nullptr, err::kParmNull, loc::d4record);
    return nullptr;
  }
  return data->record;
}

TK_EXPORT const char *d4fileName(DATA4 *data) {
  if (data == nullptr || data->dataFile == nullptr) {
    report(nullptr, err::kParmNull, loc::d4fileName);
    return nullptr;
  }
  return data->dataFile->file.name;
}

}  // extern "C"
