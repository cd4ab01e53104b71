// The memo contents of a table handle: one F4MEMO entry per memo field (M,
// G, B) holds the field's contents in memory. Reading loads them from the
// memo file on first use; assigning replaces them in memory only; appending
// and writing the record store them in the memo file (memo_file.cc) and put
// the block number into the record. The translator, the records unit and
// expressions use these.
//
// An entry's states: status 1 (to be read) until its contents are loaded or
// assigned, then 0; changed from an assignment until the record is written
// or appended. Moving to another record, starting an append and finishing a
// write reset the entry (length 0, status 1, not changed); its buffer stays
// for reuse until the handle closes or f4memoFree.
#include <cstring>

#include "data/data_layer.h"
#include "foundation/foundation.h"

namespace tablekit::data {
namespace {

// Assignments this long or longer are refused: their buffer size would wrap.
constexpr unsigned kLargestMemo = 0xFFFFFF80u;

unsigned memoCount(const DATA4 &data) {
  return data.memos != nullptr && data.dataFile != nullptr ? data.dataFile->nMemoFields : 0;
}

MEMO4FILE &memoFileOf(const DATA4 &data) { return data.dataFile->memoFile; }

// The block number a record holds in a memo field (blank, NULs or 0: none).
long blockIn(const FIELD4 &field, const char *record) { return c4atol(record + field.offset, field.len); }

// Puts a memo's block number into the record buffer; 0 blanks the field.
// Written directly: the record is on its way to the file and has been
// locked by the append or write that stores it.
void storeBlock(FIELD4 &field, long block) {
  if (block == 0) {
    fieldBlank(field, field.data->record);
  } else {
    c4ltoa45(block, field.data->record + field.offset, field.len);
  }
}

void resetEntry(F4MEMO &entry) {
  entry.len = 0;
  entry.status = 1;
  entry.changed = 0;
}

// Frees the entry's buffer; it points at the shared empty contents again.
void dropBuffer(F4MEMO &entry) {
  if (entry.capacity > 0) u4freeDefault(entry.contents);
  entry.contents = emptyMemoContents();
  entry.capacity = 0;
}

// On failure the entry is empty.
int readInto(F4MEMO &entry, MEMO4FILE &memo, long block) {
  const int rc = memo4fileRead(memo, block, &entry.contents, &entry.capacity, &entry.len);
  if (rc != 0) {
    entry.len = 0;
    if (entry.capacity > 0) entry.contents[0] = entry.contents[1] = '\0';
  }
  return rc;
}

// Loads the entry when it is still to be read.
void ensureLoaded(FIELD4 &field) {
  if (field.memo->status == 1 && f4memoRead(field) == 0) field.memo->status = 0;
}

// The guard of the memo writers: -1 while the context is in error, -50 when
// lockEnforce is on and the handle does not hold its current record's lock.
int lockGuard(FIELD4 &field, long location) {
  CODE4 *c4 = field.data->context;
  if (int rc = inError(c4)) return rc;
  DATA4 &data = *field.data;
  if (c4->lockEnforce && data.recNum > 0 && recordLockedByHandle(data, data.recNum) != 1)
    return report(c4, err::kLock, location);
  return 0;
}

// f4memoSetLen without its guard.
int setLen(FIELD4 &field, unsigned n) {
  CODE4 &c4 = *field.data->context;
  if (n >= kLargestMemo) return report(&c4, err::kMemory, loc::detail::invalid_memo_size_too_small_or_too_large);
  F4MEMO &entry = *field.memo;
  if (entry.capacity < n) {
    dropBuffer(entry);
    auto *buffer = static_cast<char *>(u4allocErDefault(&c4, static_cast<long>(n) + 2));
    if (buffer == nullptr) {
      resetEntry(entry);
      return err::kMemory;
    }
    entry.contents = buffer;
    entry.capacity = n;
  }
  entry.len = n;
  if (entry.capacity > 0) entry.contents[n] = entry.contents[n + 1] = '\0';
  entry.status = 0;
  entry.changed = 1;
  field.data->recordChanged = 1;
  return 0;
}

int reportNullField(long location) { return report(nullptr, err::kParmNull, location); }

}  // namespace

// ---------------------------------------------------------------------------
// The entries of a handle

void memoResetEntries(DATA4 &data) {
  for (unsigned i = 0; i < memoCount(data); ++i) resetEntry(data.memos[i]);
}

void memoMarkUnread(DATA4 &data) {
  for (unsigned i = 0; i < memoCount(data); ++i) data.memos[i].status = 1;
}

void memoFreeEntries(DATA4 &data) {
  for (unsigned i = 0; i < memoCount(data); ++i) dropBuffer(data.memos[i]);
  u4freeDefault(data.memos);
  data.memos = nullptr;
}

int memoLoadAll(DATA4 &data) {
  for (unsigned i = 0; i < memoCount(data); ++i) {
    F4MEMO &entry = data.memos[i];
    if (int rc = readInto(entry, memoFileOf(data), blockIn(*entry.field, data.oldRecord))) return rc;
    entry.status = 0;
    entry.changed = 0;
  }
  return 0;
}

int memoAppendContents(DATA4 &data) {
  for (unsigned i = 0; i < memoCount(data); ++i) {
    F4MEMO &entry = data.memos[i];
    entry.changed = 0;
    long block = 0;
    if (entry.len > 0) {
      if (int rc = memo4fileWrite(memoFileOf(data), &block, entry.contents, entry.len)) return rc;
    }
    storeBlock(*entry.field, block);
  }
  return 0;
}

int memoWriteChanged(DATA4 &data) {
  bool changed = false;
  for (unsigned i = 0; i < memoCount(data); ++i) changed = changed || data.memos[i].changed;
  if (!changed) return 0;
  // Once, before any field takes its new block number.
  if (int rc = d4validateMemoIds(data)) return rc;
  for (unsigned i = 0; i < memoCount(data); ++i) {
    F4MEMO &entry = data.memos[i];
    if (!entry.changed) continue;
    const long old = blockIn(*entry.field, data.record);
    long block = old;
    if (int rc = memo4fileWrite(memoFileOf(data), &block, entry.contents, entry.len)) return rc;
    if (block != old) storeBlock(*entry.field, block);
    entry.changed = 0;
  }
  return 0;
}

int d4validateMemoIds(DATA4 &data) {
  if (data.memoValidated || data.recNum <= 0 || memoCount(data) == 0) return 0;
  if (int rc = d4lock(&data, data.recNum)) return rc;
  DFILE4 &file = *data.dataFile;
  if (int rc = file4readAll(&file.file, static_cast<long>(dfile4recordPosition(&file, data.recNum)), data.oldRecord,
                            static_cast<unsigned>(file.recWidth)))
    return rc;
  data.oldRecNo = data.recNum;
  for (unsigned i = 0; i < memoCount(data); ++i) {
    const F4MEMO &entry = data.memos[i];
    if (entry.changed) continue;
    const FIELD4 &field = *entry.field;
    std::memcpy(data.record + field.offset, data.oldRecord + field.offset, field.len);
  }
  data.memoValidated = 1;
  return 0;
}

int f4memoRead(FIELD4 &field) {
  F4MEMO &entry = *field.memo;
  DATA4 &data = *field.data;
  entry.changed = 0;
  if (data.recNum <= 0) return readInto(entry, memoFileOf(data), 0);
  if (data.context->readLockDo) {
    if (int rc = d4validateMemoIds(data); rc < 0) {
      (void)readInto(entry, memoFileOf(data), 0);
      return rc;
    }
  }
  return readInto(entry, memoFileOf(data), blockIn(field, data.record));
}

}  // namespace tablekit::data

using namespace tablekit;
using namespace tablekit::data;

extern "C" {

TK_EXPORT unsigned f4memoLen(FIELD4 *field) {
  if (field == nullptr) {
    reportNullField(loc::f4memoLen);
    return 0;
  }
  if (field->memo == nullptr) return field->len;
  ensureLoaded(*field);
  return field->memo->len;
}

TK_EXPORT char *f4memoPtr(FIELD4 *field) {
  if (field == nullptr) {
    reportNullField(loc::f4memoPtr);
    return nullptr;
  }
  if (field->memo == nullptr) return f4ptr(field);
  ensureLoaded(*field);
  return field->memo->contents;
}

// The contents stay valid until the entry is assigned, reset or freed.
TK_EXPORT char *f4memoStr(FIELD4 *field) {
  if (field == nullptr) {
    reportNullField(loc::f4memoStr);
    return nullptr;
  }
  if (field->memo == nullptr) return f4str(field);
  ensureLoaded(*field);
  return field->memo->contents;
}

TK_EXPORT unsigned f4memoNcpy(FIELD4 *field, char *dst, unsigned n) {
  if (n == 0) return 0;
  if (field == nullptr || dst == nullptr) {
    report(field != nullptr ? field->data->context : nullptr, err::kParmNull, loc::f4memoNcpy);
    return 0;
  }
  if (field->memo == nullptr) return f4ncpy(field, dst, n);
  ensureLoaded(*field);
  const F4MEMO &entry = *field->memo;
  const unsigned copied = entry.len < n - 1 ? entry.len : n - 1;
  std::memcpy(dst, entry.contents, copied);
  dst[copied] = '\0';
  return copied;
}

TK_EXPORT int f4memoAssign(FIELD4 *field, const char *text) {
  if (field == nullptr) return reportNullField(loc::f4memoAssign);
  if (field->memo == nullptr) return f4assign(field, text);
  if (text == nullptr) return f4memoAssignN(field, "", 0);
  return f4memoAssignN(field, text, static_cast<unsigned>(std::strlen(text)));
}

// bytes may lie in the field's own contents.
TK_EXPORT int f4memoAssignN(FIELD4 *field, const void *bytes, unsigned n) {
  if (field == nullptr) return reportNullField(loc::f4memoAssignN);
  if (field->memo == nullptr) return f4assignN(field, bytes, n);
  if (int rc = lockGuard(*field, loc::f4memoAssignN)) return rc;
  if (bytes == nullptr && n > 0) return report(field->data->context, err::kParmNull, loc::f4memoAssignN);
  if (int rc = setLen(*field, n)) return rc;
  if (n > 0) std::memmove(field->memo->contents, bytes, n);
  return 0;
}

TK_EXPORT int f4memoSetLen(FIELD4 *field, unsigned n) {
  if (field == nullptr) return reportNullField(loc::f4memoSetLen);
  if (field->memo == nullptr)
    return report(field->data->context, err::kParm, loc::detail::field_function_not_supported_for_given_field);
  if (int rc = lockGuard(*field, loc::f4memoSetLen)) return rc;
  return setLen(*field, n);
}

// Contents assigned and not yet written are dropped with the buffer.
TK_EXPORT int f4memoFree(FIELD4 *field) {
  if (field == nullptr) return reportNullField(loc::f4memoFree);
  if (field->memo == nullptr) return 0;
  dropBuffer(*field->memo);
  resetEntry(*field->memo);
  return 0;
}

}  // extern "C"
