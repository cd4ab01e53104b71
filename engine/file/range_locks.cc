// Byte-range locks of a FILE4 with their retry loop, and the description of
// the last lock conflict that the record-locking layer keeps in the context.
// Tables, memo files and index files lock bytes far beyond their data
// (0x40000000 to 0xEFFFFFFF); nothing here knows what the bytes mean.
//
// A lock belongs to the open handle (platform/files.cc): another handle of
// this process conflicts with it like another process does, and closing
// another handle of the file leaves it alone. Two more rules of the lock
// protocol's home system are kept here, because the system's own locks
// behave otherwise:
//   * A range that overlaps one this handle already holds is refused, as a
//     range held by someone else is (the system would merge the two, and
//     unlocking either would then drop part of the other).
//   * An unlock must name a range exactly as it was locked, else -110.
// The handle's ranges are kept in its tk_filelock (application thread only).
// Files opened with share mode 1 or 2 exclude other opens already, so their
// lock calls succeed at once without locking anything; an exclusive file's
// gathered writes (write_gather.cc) are written out all the same, as a lock
// is where a caller expects the file to be current.
#include <algorithm>
#include <new>
#include <string>

#include "file/file_internal.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit::file {
namespace {

// A lock still held by someone else after every allowed attempt.
constexpr int kNotObtained = 50;

using Range = tk_filelock::Range;

// A position or length given as two 32-bit halves.
std::uint64_t fromHalves(unsigned long low, long high) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) | static_cast<std::uint32_t>(low);
}

bool overlap(const Range &a, const Range &b) { return a.pos < b.pos + b.len && b.pos < a.pos + a.len; }

// One attempt: 0, platform::kLockConflict or the system's error.
int lockOnce(FILE4 &file, const Range &range) {
  std::vector<Range> &held = file.fileLock->held;
  for (const Range &mine : held) {
    if (overlap(mine, range)) return platform::kLockConflict;
  }
  if (int rc = platform::lockRange(file.handle, range.pos, range.len)) return rc;
  try {
    held.push_back(range);
  } catch (const std::bad_alloc &) {
    (void)platform::unlockRange(file.handle, range.pos, range.len);
    return report(file.context, err::kMemory, loc::file4lock);
  }
  return 0;
}

int reportLockError(FILE4 &file, int code, long location, int sysError) {
  const std::string text = platform::fileErrorText(sysError);
  return report(file.context, code, location, file.name, text.c_str());
}

}  // namespace

}  // namespace tablekit::file

using namespace tablekit;
using namespace tablekit::file;

extern "C" {

TK_EXPORT int file4lockInternal(FILE4 *file, unsigned long posLow, long posHigh, unsigned long lenLow, long lenHigh) {
  if (file == nullptr) return report(nullptr, err::kParmNull, loc::file4lock);
  if (int rc = gather::writeOut(*file)) return rc;
  if (static_cast<std::uint32_t>(lenLow) == 0 || file->accessMode != 0) return 0;
  if (!isOpen(*file)) return report(file->context, err::kParm, loc::detail::attempt_to_lock_an_unopened_file);
  CODE4 *c4 = file->context;
  if (inError(c4)) return -1;
  const Range range{fromHalves(posLow, posHigh), fromHalves(lenLow, lenHigh)};
  int attempts = c4->lockAttempts == 0 ? 1 : c4->lockAttempts;
  for (;;) {
    const int rc = lockOnce(*file, range);
    if (rc == 0) return 0;
    if (rc < 0 && rc != platform::kLockConflict) return rc;  // reported
    if (rc != platform::kLockConflict) return reportLockError(*file, err::kLock, loc::file4lock, rc);
    if (attempts == 1) return kNotObtained;
    if (attempts > 1) --attempts;  // any other value tries without limit
    u4delayHundredth(static_cast<unsigned>(std::max(c4->lockRetryDelay, 0)));
  }
}

TK_EXPORT int file4unlockInternal(FILE4 *file, unsigned long posLow, long posHigh, unsigned long lenLow,
                                  long lenHigh) {
  if (file == nullptr) return report(nullptr, err::kParmNull, loc::file4unlock);
  if (int rc = gather::writeOut(*file)) return rc;
  if (static_cast<std::uint32_t>(lenLow) == 0 || file->accessMode != 0) return 0;
  if (!isOpen(*file)) return report(file->context, err::kUnlock, loc::file4unlock, file->name);
  const Range range{fromHalves(posLow, posHigh), fromHalves(lenLow, lenHigh)};
  std::vector<Range> &held = file->fileLock->held;
  const auto it = std::find_if(held.begin(), held.end(),
                               [&](const Range &r) { return r.pos == range.pos && r.len == range.len; });
  if (it == held.end())
    return report(file->context, err::kUnlock, loc::file4unlock, file->name, "the range is not locked by this handle");
  if (int sys = platform::unlockRange(file->handle, range.pos, range.len))
    return reportLockError(*file, err::kUnlock, loc::file4unlock, sys);
  held.erase(it);
  return 0;
}

TK_EXPORT long code4lockItem(CODE4 *c4) {
  if (c4 == nullptr) {
    report(nullptr, err::kParmNull, loc::code4lockItem);
    return 0;
  }
  return c4->lockedItem;
}

TK_EXPORT const char *code4lockFileName(CODE4 *c4) {
  if (c4 == nullptr) {
    report(nullptr, err::kParmNull, loc::code4lockFileName);
    return nullptr;
  }
  return c4->lockedFileName;
}

TK_EXPORT const char *code4lockNetworkId(CODE4 *c4) {
  if (c4 == nullptr) {
    report(nullptr, err::kParmNull, loc::code4lockNetworkId);
    return nullptr;
  }
  return c4->lockedNetworkId;
}

TK_EXPORT const char *code4lockUserId(CODE4 *c4) {
  if (c4 == nullptr) {
    report(nullptr, err::kParmNull, loc::code4lockUserId);
    return nullptr;
  }
  return c4->lockedUserId;
}

}  // extern "C"
