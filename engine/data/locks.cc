// Record locking: the file lock, the append lock and record locks of a
// table, between the handles of one context and between processes; the
// automatic release before a new lock, group locks taken all or nothing,
// releases, and the report of the last conflict. Used by appending and
// writing, by lock-all before index rebuilds, and by every program that
// shares a table in access mode 0.
//
// Lock bytes of a data file (unsigned 32-bit offsets; no data lies there):
//
//   lock           first byte    length
//   file           0x40000000    0xB0000000 (through 0xEFFFFFFF)
//   append         0xEFFFFFFF    1
//   record r       0xEFFFFFFE-r  1           (record 1 at 0xEFFFFFFD)
//   record gate    0xEFFFFFFE    1
//
// The file range covers every other byte, so another process's file lock
// blocks them all. A record lock takes the gate, then the record's byte,
// then lets the gate go: it fails while another process holds the file lock
// but never waits on an append lock.
//
// Byte locks belong to the FILE4, which all handles of a DFILE4 share, and
// the file layer refuses a range overlapping one the FILE4 holds already. So
// within the process the bookkeeping decides before any byte is touched: the
// DFILE4 names the handle ids owning the file and append locks and counts
// the record bytes locked; each DATA4 lists the records it holds (entries
// from the context's lock pool). A lock of another handle of this process is
// a conflict the bookkeeping finds; the byte locks only ever meet other
// processes (and other contexts).
//
// Order inside one operation: file or append lock, then record locks, then
// index files; lock-all takes file, memo file, index files.
//
// In access modes 1 and 2 the share mode of the open already keeps other
// processes out: every test answers 1 and every lock call returns 0 without
// locking a byte or recording an owner.
//
// The automatic-unlock setting is CODE4::unlockAuto: 1 releases every lock
// of the context before a new lock, 2 those of the table concerned, 0 none.
#include <cstddef>

#include "data/data_layer.h"
#include "foundation/foundation.h"

namespace tablekit::data {
namespace {

constexpr int kHeld = 1;           // a test: held by the asking handle
constexpr int kNotObtained = 50;   // held by someone else, or not obtained

constexpr unsigned long kFileLockStart = 0x40000000ul;
constexpr unsigned long kFileLockLen = 0xB0000000ul;
constexpr unsigned long kAppendByte = 0xEFFFFFFFul;
constexpr unsigned long kGateByte = 0xEFFFFFFEul;

// The conflict items of the report: a record number, or these.
constexpr long kAppendItem = 0;
constexpr long kFileItem = -1;

// The kinds of group-lock requests.
constexpr int kRequestAll = 1;
constexpr int kRequestAppend = 10;
constexpr int kRequestFile = 20;
constexpr int kRequestRecord = 30;

// The owner argument -1 of the releases: the handle's own id.
constexpr long kOwnId = -1;

// One entry of a lock list, from the context's lock pool: a record lock in
// a DATA4's list (kind kRequestRecord), or a queued group-lock request in
// the context's lock list (trans.locks).
struct LockEntry {
  RING4NODE link;
  DATA4 *data;
  long recNo;
  int kind;
  int took;  // a granted request: 1 when code4lock took the lock, 0 when it was held already
};

unsigned long recordByte(long recNo) { return kGateByte - static_cast<unsigned long>(recNo); }

int lockBytes(DFILE4 &file, unsigned long pos, unsigned long len) {
  return file4lockInternal(&file.file, pos, 0, len, 0);
}
int unlockBytes(DFILE4 &file, unsigned long pos, unsigned long len) {
  return file4unlockInternal(&file.file, pos, 0, len, 0);
}

bool sharedOpen(const DFILE4 &file) { return file.file.accessMode == 0; }
bool transactionActive(const CODE4 &c4) { return c4.trans.currentTranStatus != 0; }

// Keeps the first negative result.
void keepFirst(int &rc, int next) {
  if (rc >= 0 && next < 0) rc = next;
}

// ---------------------------------------------------------------------------
// Who holds what

DATA4 *handleOfLink(void *link) {
  return link == nullptr ? nullptr
                         : reinterpret_cast<DATA4 *>(static_cast<char *>(link) - offsetof(DATA4, dataFileLink));
}

DATA4 *firstHandle(const DFILE4 &file) { return handleOfLink(l4first(&file.handles)); }
DATA4 *nextHandle(const DFILE4 &file, const DATA4 *data) {
  return handleOfLink(l4next(&file.handles, &data->dataFileLink));
}

DATA4 *handleWithId(const DFILE4 &file, long id) {
  for (DATA4 *data = firstHandle(file); data != nullptr; data = nextHandle(file, data))
    if (data->handleId == id) return data;
  return nullptr;
}

LockEntry *findRecord(const DATA4 &data, long recNo) {
  for (void *p = l4first(&data.locks); p != nullptr; p = l4next(&data.locks, p)) {
    auto *entry = static_cast<LockEntry *>(p);
    if (entry->recNo == recNo) return entry;
  }
  return nullptr;
}

// The holder of the first record lock of another handle of the file, or null.
DATA4 *recordHolder(const DATA4 &data, long recNo) {
  const DFILE4 &file = *data.dataFile;
  for (DATA4 *other = firstHandle(file); other != nullptr; other = nextHandle(file, other))
    if (other != &data && findRecord(*other, recNo) != nullptr) return other;
  return nullptr;
}

// Whether the file or append lock with this holder id (0 = nobody) is the
// handle's own.
bool heldBy(long holder, const DATA4 &data) { return holder != 0 && holder == data.handleId; }

// Whether a lock owned by holder (0 = nobody) belongs to owner (0 = anybody).
bool ownedBy(long holder, long owner) { return holder != 0 && (owner == 0 || holder == owner); }

long resolveOwner(const DATA4 &data, long owner) { return owner == kOwnId ? data.handleId : owner; }

// Whether the handle holds any lock of this owner: the file or append lock,
// or (when the owner is the handle or anybody) a record lock.
bool holdsAny(const DATA4 &data, long owner) {
  const DFILE4 &file = *data.dataFile;
  if (ownedBy(file.fileLockOwner, owner) || ownedBy(file.appendLockOwner, owner)) return true;
  return (owner == 0 || owner == data.handleId) && data.locks.count > 0;
}

// ---------------------------------------------------------------------------
// The conflict report

// Notes a lock found in the way: item is a record number, kAppendItem or
// kFileItem; holder the handle of this process holding it, or null for
// another process.
void noteConflict(DFILE4 &file, long item, const DATA4 *holder) {
  CODE4 &c4 = *file.c4;
  c4.lockedItem = item;
  c4.lockedFileName = holder != nullptr ? holder->alias : nullptr;
  // Locks carry no user or network names in this engine.
  c4.lockedUserId = "";
  c4.lockedNetworkId = "";
  file.conflictOwner = holder != nullptr ? holder->handleId : 0;
}

// A byte lock that failed: 50 is noted as a conflict with another process.
int byteLockResult(DFILE4 &file, int rc, long item) {
  if (rc == kNotObtained) noteConflict(file, item, nullptr);
  return rc;
}

// A lock of this process that can never be waited for (the append or a
// record lock before a file lock): 50, or -50 reported when lockAttempts
// is -1.
int blockedForever(CODE4 &c4, const DFILE4 &file) {
  if (c4.lockAttempts != -1) return kNotObtained;
  return report(&c4, err::kLock, loc::detail::wait4ever_lock_conflicts_with_own_local_impeding, file.file.name);
}

// A lock of another handle of this process is in the way. The lock call may
// go on only when its automatic release will free it (autoUnlock set and
// unlockAuto 1): 0. Otherwise 50; or, when lockAttempts is -1 and so the
// wait would never end, -50 reported.
int localConflict(DATA4 &data, int autoUnlock) {
  CODE4 &c4 = *data.context;
  if (autoUnlock != 0 && c4.unlockAuto == 1) return 0;
  return blockedForever(c4, *data.dataFile);
}

// What a lock call makes of a test's answer: kHeld when the lock is held by
// the handle already (the call is done), 0 when the call goes on, else the
// call's result (50 or negative).
int settle(DATA4 &data, int test, int autoUnlock) {
  if (test == kNotObtained) return localConflict(data, autoUnlock);
  return test;
}

// ---------------------------------------------------------------------------
// Tests (access mode 0 unless said otherwise)

// The file-lock check of the lock calls: 0 nobody, 1 this handle, 50 another
// handle (noted as the conflict).
int fileLockCheck(DATA4 &data) {
  DFILE4 &file = *data.dataFile;
  if (file.fileLockOwner == 0) return 0;
  if (heldBy(file.fileLockOwner, data)) return kHeld;
  noteConflict(file, kFileItem, handleWithId(file, file.fileLockOwner));
  return kNotObtained;
}

// The append-lock test: 0 nobody, 1 owner (or anybody when owner is 0), 50
// another handle (noted). Any open other than shared: 1.
int appendLockTest(DFILE4 &file, long owner) {
  if (!sharedOpen(file)) return kHeld;
  if (file.appendLockOwner == 0) return 0;
  if (owner == 0 || file.appendLockOwner == owner) return kHeld;
  noteConflict(file, kAppendItem, handleWithId(file, file.appendLockOwner));
  return kNotObtained;
}

// The record-lock test: 1 held by this handle (its file lock or its record
// lock), 50 held by another handle of this process (noted), else 0. Locks of
// other processes are not seen.
int recordLockTest(DATA4 &data, long recNo) {
  if (!sharedOpen(*data.dataFile)) return kHeld;
  if (int rc = fileLockCheck(data)) return rc;
  if (findRecord(data, recNo) != nullptr) return kHeld;
  if (const DATA4 *holder = recordHolder(data, recNo)) {
    noteConflict(*data.dataFile, recNo, holder);
    return kNotObtained;
  }
  return 0;
}

bool fileLockHeldBy(const DFILE4 &file, long client, long owner) {
  if (!sharedOpen(file)) return true;
  const long holder = file.fileLockOwner;
  if (holder == 0) return false;
  if (owner == 0) return true;
  return holder == owner && (client == 0 || holder == client);
}

// ---------------------------------------------------------------------------
// Releases. These ignore unlockAuto: the public operations and the automatic
// release decide whether to call them.

// When the file or append lock goes: the in-memory date becomes today if a
// header rewrite left it pending. The count is then unknown again.
void refreshPendingDate(DFILE4 &file) {
  if (file.dateChanged) {
    headerDateToday(file);
    file.dateChanged = 0;
  }
}

int releaseRecord(DATA4 &data, LockEntry &entry) {
  DFILE4 &file = *data.dataFile;
  const long recNo = entry.recNo;
  l4remove(&data.locks, &entry);
  mem4freeDefault(data.context->lockMemory, &entry);
  const int rc = unlockBytes(file, recordByte(recNo), 1);
  if (file.recordLockCount > 0) --file.recordLockCount;
  if (recNo == data.recNum) {
    data.oldRecNo = -1;
    data.memoValidated = 0;
  }
  return rc;
}

int releaseRecords(DATA4 &data, long owner) {
  owner = resolveOwner(data, owner);
  if (owner != 0 && owner != data.handleId) return 0;
  int rc = 0;
  while (auto *entry = static_cast<LockEntry *>(l4first(&data.locks))) keepFirst(rc, releaseRecord(data, *entry));
  return rc;
}

int releaseAppend(DATA4 &data, long owner) {
  DFILE4 &file = *data.dataFile;
  if (!ownedBy(file.appendLockOwner, resolveOwner(data, owner))) return 0;
  refreshPendingDate(file);
  const int rc = unlockBytes(file, kAppendByte, 1);
  file.appendLockOwner = 0;
  file.inMemoryCount = -1;
  return rc;
}

int releaseFile(DATA4 &data, long owner) {
  DFILE4 &file = *data.dataFile;
  if (!ownedBy(file.fileLockOwner, resolveOwner(data, owner))) return 0;
  refreshPendingDate(file);
  const int rc = unlockBytes(file, kFileLockStart, kFileLockLen);
  file.fileLockOwner = 0;
  file.inMemoryCount = -1;
  return rc;
}

// File, then append, then records.
int releaseData(DATA4 &data, long owner) {
  int rc = releaseFile(data, owner);
  keepFirst(rc, releaseAppend(data, owner));
  keepFirst(rc, releaseRecords(data, owner));
  return rc;
}

int releaseMemoLock(DFILE4 &file) { return file.memoFile.fileLock ? memoFileUnlock(file) : 0; }

int releaseIndexes(DFILE4 &file, long owner);

// d4unlockLow: finishes the pending record, then releases the handle's data
// locks, the memo file lock and the index files, with unlockAuto 1 for the
// duration.
int releaseHandle(DATA4 &data, long owner, int force) {
  CODE4 &c4 = *data.context;
  if (transactionActive(c4)) return report(&c4, err::kTransViolation, loc::d4unlock);
  owner = resolveOwner(data, owner);
  if (!force && !holdsAny(data, owner)) return 0;
  const short saved = c4.unlockAuto;
  c4.unlockAuto = 1;
  int rc = d4update(&data);
  if (rc > 0) rc = 0;
  if (holdsAny(data, owner)) keepFirst(rc, releaseData(data, owner));
  keepFirst(rc, releaseMemoLock(*data.dataFile));
  keepFirst(rc, releaseIndexes(*data.dataFile, owner));
  c4.unlockAuto = saved;
  return rc;
}

// code4unlock: every handle of the context releases what it holds, after
// finishing its own pending record.
int releaseContext(CODE4 &c4) {
  if (transactionActive(c4)) return report(&c4, err::kTransViolation, loc::code4unlock);
  int rc = 0;
  for (void *p = l4first(&c4.dataList); p != nullptr; p = l4next(&c4.dataList, p)) {
    auto *data = static_cast<DATA4 *>(p);
    if (data->dataFile != nullptr) keepFirst(rc, releaseHandle(*data, data->handleId, 0));
  }
  return rc;
}

// ---------------------------------------------------------------------------
// Index files. A table has index files only once the index layer opens
// them; until then its list is empty and there is nothing to lock or
// unlock.

int lockIndexes(DFILE4 &file, long /*owner*/) {
  if (file.indexes.count == 0) return 0;
  return report(file.c4, err::kNotIndex, loc::d4lockIndex, file.file.name);
}

int releaseIndexes(DFILE4 &file, long /*owner*/) {
  if (file.indexes.count == 0) return 0;
  return report(file.c4, err::kNotIndex, loc::d4unlock, file.file.name);
}

// ---------------------------------------------------------------------------
// The automatic release before a new lock

enum class Taking { record, append, file };

// Releases per unlockAuto: 1 every lock of the context; 2 the locks of this
// table that the new lock needs out of the way; 0 nothing.
int releaseBefore(DATA4 &data, Taking taking) {
  CODE4 &c4 = *data.context;
  DFILE4 &file = *data.dataFile;
  switch (c4.unlockAuto) {
    case 1:
      return releaseContext(c4);
    case 2: {
      if (taking == Taking::file) return releaseHandle(data, data.handleId, 0);
      int rc = releaseIndexes(file, data.handleId);
      keepFirst(rc, releaseRecords(data, data.handleId));
      if (taking == Taking::record) keepFirst(rc, releaseAppend(data, data.handleId));
      return rc;
    }
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Taking locks

int lockRecord(DATA4 &data, long recNo, int autoUnlock) {
  CODE4 &c4 = *data.context;
  DFILE4 &file = *data.dataFile;
  if (recNo <= 0) return report(&c4, err::kParm, loc::d4lock);
  if (!sharedOpen(file)) return 0;
  if (int rc = settle(data, recordLockTest(data, recNo), autoUnlock)) return rc == kHeld ? 0 : rc;
  if (autoUnlock) {
    if (int rc = releaseBefore(data, Taking::record)) return rc;
  }
  auto *entry = static_cast<LockEntry *>(mem4createAllocDefault(&c4, &c4.lockMemory, c4.lockPoolStart,
                                                                sizeof(LockEntry), c4.lockPoolGrow, 0, 1));
  if (entry == nullptr) return inError(&c4) ? c4.errorCode : report(&c4, err::kMemory, loc::d4lock);
  int rc = lockBytes(file, kGateByte, 1);
  if (rc == 0) {
    rc = lockBytes(file, recordByte(recNo), 1);
    const int gate = unlockBytes(file, kGateByte, 1);
    if (rc == 0 && gate < 0) {
      (void)unlockBytes(file, recordByte(recNo), 1);
      rc = gate;
    }
  }
  if (rc != 0) {
    mem4freeDefault(c4.lockMemory, entry);
    return byteLockResult(file, rc, recNo);
  }
  ++file.recordLockCount;
  entry->data = &data;
  entry->recNo = recNo;
  entry->kind = kRequestRecord;
  l4add(&data.locks, entry);
  return 0;
}

int lockAppend(DATA4 &data, int autoUnlock) {
  DFILE4 &file = *data.dataFile;
  if (!sharedOpen(file)) return 0;
  for (int step = 0; step < 2; ++step) {
    const int test = step == 0 ? fileLockCheck(data) : appendLockTest(file, data.handleId);
    if (int rc = settle(data, test, autoUnlock)) return rc == kHeld ? 0 : rc;
  }
  // The automatic release made its own report if it failed.
  if (autoUnlock && releaseBefore(data, Taking::append) < 0) return err::kUnlock;
  if (int rc = lockBytes(file, kAppendByte, 1)) return byteLockResult(file, rc, kAppendItem);
  file.appendLockOwner = data.handleId;
  return 0;
}

int lockFile(DATA4 &data, int autoUnlock) {
  CODE4 &c4 = *data.context;
  DFILE4 &file = *data.dataFile;
  if (!sharedOpen(file)) return 0;
  if (int rc = settle(data, fileLockCheck(data), autoUnlock)) return rc == kHeld ? 0 : rc;
  if (autoUnlock && releaseBefore(data, Taking::file) < 0) return err::kUnlock;
  // Locks of this process inside the range can never be waited out: the
  // byte locks are the process's own.
  if (file.appendLockOwner != 0) {
    noteConflict(file, kAppendItem, handleWithId(file, file.appendLockOwner));
    return blockedForever(c4, file);
  }
  if (file.recordLockCount > 0) {
    for (DATA4 *holder = firstHandle(file); holder != nullptr; holder = nextHandle(file, holder)) {
      if (auto *entry = static_cast<LockEntry *>(l4first(&holder->locks))) {
        noteConflict(file, entry->recNo, holder);
        return blockedForever(c4, file);
      }
    }
    if (c4.lockAttempts != -1) return report(&c4, err::kLock, loc::d4lockFile, file.file.name);
    return blockedForever(c4, file);
  }
  if (int rc = lockBytes(file, kFileLockStart, kFileLockLen)) return byteLockResult(file, rc, kFileItem);
  file.fileLockOwner = data.handleId;
  // The block cache, once the engine has one, drops the file's blocks here.
  return 0;
}

// After a failed step of lock-all: the automatic release per unlockAuto.
int undoPerUnlockAuto(DATA4 &data) {
  CODE4 &c4 = *data.context;
  if (c4.unlockAuto == 1) return releaseContext(c4);
  if (c4.unlockAuto == 2) return releaseHandle(data, data.handleId, 0);
  return 0;
}

int lockAll(DATA4 &data, int autoUnlock) {
  DFILE4 &file = *data.dataFile;
  if (!sharedOpen(file)) return 0;
  int rc = lockFile(data, autoUnlock);
  if (rc == 0 && file.nMemoFields > 0) rc = memoFileLock(file);
  if (rc == 0) rc = lockIndexes(file, data.handleId);
  if (rc != 0) (void)undoPerUnlockAuto(data);
  return rc;
}

// The append lock and the lock of the record that will be appended.
int lockAppendRecord(DATA4 &data, int autoUnlock) {
  CODE4 &c4 = *data.context;
  DFILE4 &file = *data.dataFile;
  if (!sharedOpen(file) || heldBy(file.fileLockOwner, data)) return 0;
  if (autoUnlock) {
    const long count = d4recCountDo(&data);
    if (count < 0) return static_cast<int>(count);
    const bool ready = heldBy(file.appendLockOwner, data) && findRecord(data, count + 1) != nullptr;
    if (!ready) {
      if (c4.unlockAuto == 1) {
        if (int rc = releaseContext(c4)) return rc;
      } else if (c4.unlockAuto == 2) {
        if (int rc = releaseHandle(data, data.handleId, 0)) return rc;
      }
    }
  }
  const short saved = c4.unlockAuto;
  c4.unlockAuto = 0;
  const bool tookAppend = !heldBy(file.appendLockOwner, data);
  int rc = 0;
  if (tookAppend) {
    rc = lockAppend(data, 1);
    // Counted afresh from the header, under the lock.
    if (rc == 0) file.inMemoryCount = -1;
  }
  if (rc == 0) {
    const long count = d4recCountDo(&data);
    rc = count < 0 ? static_cast<int>(count) : lockRecord(data, count + 1, 1);
  }
  // A failure leaves nothing of this call held: the append lock it took
  // goes again (the handle's other locks stay as they were).
  if (rc != 0 && tookAppend) (void)releaseAppend(data, data.handleId);
  c4.unlockAuto = saved;
  return rc;
}

// ---------------------------------------------------------------------------
// Group locks

LockEntry *newRequest(DATA4 &data, int kind, long recNo) {
  CODE4 &c4 = *data.context;
  auto *entry = static_cast<LockEntry *>(mem4createAllocDefault(&c4, &c4.lockMemory, c4.lockPoolStart,
                                                                sizeof(LockEntry), c4.lockPoolGrow, 0, 1));
  if (entry == nullptr) return nullptr;
  entry->data = &data;
  entry->kind = kind;
  entry->recNo = recNo;
  return entry;
}

// Whether the lock a request asks for is held by its handle already.
bool requestHeld(const LockEntry &request) {
  const DATA4 &data = *request.data;
  const DFILE4 &file = *data.dataFile;
  if (!sharedOpen(file) || heldBy(file.fileLockOwner, data)) return true;
  switch (request.kind) {
    case kRequestRecord: return findRecord(data, request.recNo) != nullptr;
    case kRequestAppend: return heldBy(file.appendLockOwner, data);
    default: return false;
  }
}

// One try of a request, without automatic release.
int tryRequest(LockEntry &request) {
  DATA4 &data = *request.data;
  request.took = requestHeld(request) ? 0 : 1;
  switch (request.kind) {
    case kRequestRecord: return lockRecord(data, request.recNo, 0);
    case kRequestAppend: return lockAppend(data, 0);
    case kRequestFile: return lockFile(data, 0);
    case kRequestAll: return lockAll(data, 0);
    default: return report(data.context, err::kLock, loc::detail::invalid_lock_type);
  }
}

// Releases the lock a granted request took (none when it was held before).
int releaseGranted(LockEntry &request) {
  if (!request.took) return 0;
  DATA4 &data = *request.data;
  switch (request.kind) {
    case kRequestRecord: {
      LockEntry *entry = findRecord(data, request.recNo);
      return entry != nullptr ? releaseRecord(data, *entry) : 0;
    }
    case kRequestAppend:
      return releaseAppend(data, data.handleId);
    case kRequestFile:
      return releaseFile(data, data.handleId);
    default: {
      int rc = releaseIndexes(*data.dataFile, data.handleId);
      keepFirst(rc, releaseMemoLock(*data.dataFile));
      keepFirst(rc, releaseFile(data, data.handleId));
      return rc;
    }
  }
}

// Gives back every granted lock, last granted first, and puts the requests
// back at the front of the queue in their old order.
void returnGranted(RING4 &queue, RING4 &granted) {
  while (auto *request = static_cast<LockEntry *>(l4last(&granted))) {
    l4remove(&granted, request);
    (void)releaseGranted(*request);
    l4addBefore(&queue, l4first(&queue), request);
  }
}

void freeAll(CODE4 &c4, RING4 &list) {
  while (void *p = l4pop(&list)) mem4freeDefault(c4.lockMemory, p);
}

// Passes over the queue until every request is granted (0), the allowed
// passes are used up (50), or a try fails otherwise (-1). unlockAuto is 0
// throughout.
int takeQueued(CODE4 &c4) {
  RING4 &queue = c4.trans.locks;
  RING4 granted{};
  for (int passes = 0;; ++passes) {
    if (queue.count == 0) {
      freeAll(c4, granted);
      return 0;
    }
    if (c4.groupLockAttempts != -1 && passes >= c4.groupLockAttempts) {
      returnGranted(queue, granted);
      return kNotObtained;
    }
    auto *request = static_cast<LockEntry *>(l4first(&queue));
    while (request != nullptr) {
      auto *next = static_cast<LockEntry *>(l4next(&queue, request));
      const int rc = tryRequest(*request);
      if (rc == 0) {
        l4remove(&queue, request);
        l4add(&granted, request);
      } else if (rc == kNotObtained) {
        if (c4.groupLockAttempts == 1) break;
      } else {
        returnGranted(queue, granted);
        return -1;
      }
      request = next;
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// What the other units of the data layer use

int recordLockedByHandle(DATA4 &data, long recNo) {
  if (data.dataFile == nullptr) return 0;
  const DFILE4 &file = *data.dataFile;
  if (!sharedOpen(file) || heldBy(file.fileLockOwner, data)) return 1;
  return findRecord(data, recNo) != nullptr ? 1 : 0;
}

bool countLockedByAny(const DFILE4 &file) {
  return !sharedOpen(file) || file.fileLockOwner != 0 || file.appendLockOwner != 0;
}

bool countLockedBy(const DFILE4 &file, long handleId) {
  if (!sharedOpen(file)) return true;
  return handleId != 0 && (file.fileLockOwner == handleId || file.appendLockOwner == handleId);
}

void forgetHandleLocks(DATA4 &data) {
  CODE4 &c4 = *data.context;
  RING4 &queue = c4.trans.locks;
  for (void *p = l4first(&queue); p != nullptr;) {
    void *next = l4next(&queue, p);
    if (static_cast<LockEntry *>(p)->data == &data) {
      l4remove(&queue, p);
      mem4freeDefault(c4.lockMemory, p);
    }
    p = next;
  }
  // Whatever a failed release left is given back (its failure was reported
  // then), so that no owner id outlives its handle.
  if (data.dataFile != nullptr) (void)releaseData(data, data.handleId);
  if (c4.lockedFileName == data.alias) c4.lockedFileName = nullptr;
}

}  // namespace tablekit::data

using namespace tablekit;
using namespace tablekit::data;

namespace {

// The guard of the table operations: -935 for a missing handle, -1 while
// the context is in error, else 0.
int guard(const DATA4 *data, long location) {
  if (data == nullptr || data->dataFile == nullptr || data->context == nullptr)
    return report(data != nullptr ? data->context : nullptr, err::kParmNull, location);
  return inError(data->context);
}

int guardFile(const DFILE4 *file, long location) {
  if (file == nullptr || file->c4 == nullptr) return report(nullptr, err::kParmNull, location);
  return inError(file->c4);
}

// Queues one group-lock request at the front of the context's queue.
int queueRequest(DATA4 *data, int kind, long recNo, long location) {
  if (int rc = guard(data, location)) return rc;
  RING4 &queue = data->context->trans.locks;
  RING4NODE *request = reinterpret_cast<RING4NODE *>(newRequest(*data, kind, recNo));
  if (request == nullptr) return inError(data->context) ? data->context->errorCode : -1;
  l4addBefore(&queue, l4first(&queue), request);
  return 0;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------
// Tests

TK_EXPORT int d4lockTest(DATA4 *data, long recNo, int /*lockType: always a write lock*/) {
  if (int rc = guard(data, loc::d4lockTest)) return rc;
  return recordLockTest(*data, recNo);
}

TK_EXPORT int d4lockTestAppend(DATA4 *data) {
  if (int rc = guard(data, loc::d4lockTestAppend)) return rc;
  const DFILE4 &file = *data->dataFile;
  if (!sharedOpen(file)) return 1;
  return (heldBy(file.fileLockOwner, *data) || heldBy(file.appendLockOwner, *data)) ? 1 : 0;
}

TK_EXPORT int dfile4lockTestFile(DFILE4 *file, long handleId, long owner, int /*lockType*/) {
  if (int rc = guardFile(file, loc::dfile4_family)) return rc;
  return fileLockHeldBy(*file, handleId, owner) ? 1 : 0;
}

TK_EXPORT int dfile4lockTestAppend(DFILE4 *file, long /*handleId*/, long owner) {
  if (int rc = guardFile(file, loc::dfile4_family)) return rc;
  return appendLockTest(*file, owner);
}

// ---------------------------------------------------------------------------
// Taking locks

TK_EXPORT int d4lock(DATA4 *data, long recNo) { return d4lockInternal(data, recNo, 1, 1); }

TK_EXPORT int d4lockInternal(DATA4 *data, long recNo, int autoUnlock, int /*lockType: always a write lock*/) {
  if (int rc = guard(data, loc::d4lock)) return rc;
  return lockRecord(*data, recNo, autoUnlock);
}

TK_EXPORT int d4lockAppend(DATA4 *data) { return d4lockAppendInternal(data, 1); }

TK_EXPORT int d4lockAppendInternal(DATA4 *data, int autoUnlock) {
  if (int rc = guard(data, loc::d4lockAppend)) return rc;
  return lockAppend(*data, autoUnlock);
}

TK_EXPORT int d4lockFile(DATA4 *data) { return d4lockFileInternal(data, 1, 1); }

TK_EXPORT int d4lockFileInternal(DATA4 *data, int autoUnlock, int /*lockType: always a write lock*/) {
  if (int rc = guard(data, loc::d4lockFile)) return rc;
  return lockFile(*data, autoUnlock);
}

TK_EXPORT int d4lockAll(DATA4 *data) { return d4lockAllInternal(data, 1); }

TK_EXPORT int d4lockAllInternal(DATA4 *data, int autoUnlock) {
  if (int rc = guard(data, loc::d4lockAll)) return rc;
  return lockAll(*data, autoUnlock);
}

TK_EXPORT int d4lockAppendRecord(DATA4 *data, int autoUnlock) {
  if (int rc = guard(data, loc::d4lockAppendRecord)) return rc;
  return lockAppendRecord(*data, autoUnlock);
}

TK_EXPORT int dfile4lockIndex(DFILE4 *file, long owner) {
  if (int rc = guardFile(file, loc::d4lockIndex)) return rc;
  if (!sharedOpen(*file)) return 0;
  return lockIndexes(*file, owner);
}

TK_EXPORT int dfile4unlockIndex(DFILE4 *file, long owner) {
  if (int rc = guardFile(file, loc::d4unlock)) return rc;
  return releaseIndexes(*file, owner);
}

// ---------------------------------------------------------------------------
// Group locks

TK_EXPORT int d4lockAdd(DATA4 *data, long recNo) { return queueRequest(data, kRequestRecord, recNo, loc::d4lockAdd); }
TK_EXPORT int d4lockAddAppend(DATA4 *data) { return queueRequest(data, kRequestAppend, 0, loc::d4lockAddAppend); }
TK_EXPORT int d4lockAddFile(DATA4 *data) { return queueRequest(data, kRequestFile, 0, loc::d4lockAddFile); }
TK_EXPORT int d4lockAddAll(DATA4 *data) { return queueRequest(data, kRequestAll, 0, loc::d4lock_group); }

TK_EXPORT int code4lock(CODE4 *c4) {
  if (c4 == nullptr) return report(nullptr, err::kParmNull, loc::code4lock);
  if (int rc = inError(c4)) return rc;
  if (c4->unlockAuto == 1) {
    if (int rc = releaseContext(*c4)) return rc;
  }
  const short saved = c4->unlockAuto;
  c4->unlockAuto = 0;
  const int rc = takeQueued(*c4);
  c4->unlockAuto = saved;
  return rc;
}

// ---------------------------------------------------------------------------
// Releasing

TK_EXPORT int d4unlock(DATA4 *data) {
  if (int rc = guard(data, loc::d4unlock)) return rc;
  return releaseHandle(*data, data->handleId, 1);
}

TK_EXPORT int d4unlockLow(DATA4 *data, long owner, int force) {
  if (int rc = guard(data, loc::d4unlock)) return rc;
  return releaseHandle(*data, owner, force);
}

TK_EXPORT int d4unlockRecord(DATA4 *data, long recNo) {
  if (int rc = guard(data, loc::d4unlockRecord)) return rc;
  if (data->context->unlockAuto == 0) return 0;
  LockEntry *entry = findRecord(*data, recNo);
  return entry != nullptr ? releaseRecord(*data, *entry) : 0;
}

TK_EXPORT int d4unlockRecords(DATA4 *data, long owner) {
  if (int rc = guard(data, loc::d4unlockRecords)) return rc;
  return data->context->unlockAuto == 0 ? 0 : releaseRecords(*data, owner);
}

TK_EXPORT int d4unlockAppend(DATA4 *data, long owner) {
  if (int rc = guard(data, loc::d4unlockAppend)) return rc;
  return data->context->unlockAuto == 0 ? 0 : releaseAppend(*data, owner);
}

TK_EXPORT int d4unlockFile(DATA4 *data, long owner) {
  if (int rc = guard(data, loc::d4unlockFile)) return rc;
  return data->context->unlockAuto == 0 ? 0 : releaseFile(*data, owner);
}

TK_EXPORT int d4unlockData(DATA4 *data, long owner) {
  if (int rc = guard(data, loc::d4unlockData)) return rc;
  return data->context->unlockAuto == 0 ? 0 : releaseData(*data, owner);
}

TK_EXPORT int code4unlock(CODE4 *c4) {
  if (c4 == nullptr) return report(nullptr, err::kParmNull, loc::code4unlock);
  if (int rc = inError(c4)) return rc;
  return releaseContext(*c4);
}

}  // extern "C"
