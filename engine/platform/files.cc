// POSIX defaults of the platform's file entries: open and create with share
// modes, positioned transfers, length, sync and byte-range locks. The file
// layer (engine/file/) reaches the disk only through these.
//
// Locks belong to the open handle
// -------------------------------
// Classic fcntl record locks belong to the process: a second descriptor of
// the same file in the same process never conflicts with them, and closing
// ANY descriptor of the file drops ALL of the process's locks on it. The
// engine needs locks that belong to one handle, as its lock protocol assumes
// (two handles of one process exclude each other; closing one handle never
// drops another's locks). Open-file-description locks (F_OFD_SETLK) give
// exactly that, and they still conflict with other processes' fcntl locks.
// They are released when the last descriptor of the description closes, so a
// forked child that inherits a descriptor keeps its parent's locks alive.
//
// A lock asked for through a handle opened for reading only is taken as a
// shared lock (the system refuses exclusive locks on such handles): it keeps
// out every writer's lock and waits for none of them to be dropped, but two
// read-only handles do not exclude each other; neither of them can write.
//
// Share modes
// -----------
// The system has no share modes, so they are emulated with shared OFD locks
// on reserved bytes far beyond any position the engine uses (kMarkerBase,
// just below 2^63; the engine's own lock ranges stay below 2^33):
//
//   byte   marker        held (shared) by every open that
//   +0     gate          is checking and taking its markers (see below)
//   +1     access read   may read (all of them)
//   +2     access write  may write
//   +3     deny read     keeps others from reading (share kNone)
//   +4     deny write    keeps others from writing (share kNone and kRead)
//
// An open conflicts when its access meets another open's denial, or its
// denials meet another open's access. It takes its markers first and then
// tests the opposite markers for holders other than itself (F_OFD_GETLK does
// not see the asking handle's own locks); on a conflict it closes again, which
// drops its markers. Because every open marks before it tests, of two
// conflicting opens at least the later one sees the other: both may fail
// together, never both succeed. The gate serialises whole mark-and-test steps
// so that the double failure cannot happen either: a writable handle holds it
// exclusively, a read-only handle (which cannot take exclusive locks) holds it
// shared, so only two read-only opens that deny reading can still race.
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace tablekit::platform {
namespace {

constexpr std::uint64_t kMarkerBase = 0x7FFFFFFFFFFFFF00ULL;
constexpr std::uint64_t kGate = kMarkerBase + 0;
constexpr std::uint64_t kAccessRead = kMarkerBase + 1;
constexpr std::uint64_t kAccessWrite = kMarkerBase + 2;
constexpr std::uint64_t kDenyRead = kMarkerBase + 3;
constexpr std::uint64_t kDenyWrite = kMarkerBase + 4;

// Positions beyond this are not files' bytes: they hold the markers.
constexpr std::uint64_t kMaxPosition = kMarkerBase;

// The one place where positions become off_t. False when the range does not
// fit below the markers.
bool toRange(std::uint64_t pos, std::uint64_t len, off_t *start, off_t *length) {
  if (pos > kMaxPosition || len > kMaxPosition - pos) return false;
  *start = static_cast<off_t>(pos);
  *length = static_cast<off_t>(len);
  return true;
}

// One OFD lock call on [start, start + len); retried when interrupted.
int ofdLock(int fd, int command, short type, off_t start, off_t len) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  while (::fcntl(fd, command, &fl) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// Whether another open file description holds a lock on [start, start + len).
int ofdHeldByOther(int fd, off_t start, off_t len, bool *held) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  while (::fcntl(fd, F_OFD_GETLK, &fl) != 0) {
    if (errno != EINTR) return errno;
  }
  *held = fl.l_type != F_UNLCK;
  return 0;
}

int markerHeldByOther(int fd, std::uint64_t marker, bool *held) {
  return ofdHeldByOther(fd, static_cast<off_t>(marker), 1, held);
}

bool writable(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

// Marks and tests (see the top of the file). 0, kShareConflict or errno.
int markAndTest(int fd, bool write, FileShare share) {
  const bool denyRead = share == FileShare::kNone;
  const bool denyWrite = share != FileShare::kReadWrite;
  struct Mark {
    bool wanted;
    std::uint64_t byte;
  } const marks[] = {{true, kAccessRead}, {write, kAccessWrite}, {denyRead, kDenyRead}, {denyWrite, kDenyWrite}};
  for (const Mark &m : marks) {
    if (!m.wanted) continue;
    if (int rc = ofdLock(fd, F_OFD_SETLK, F_RDLCK, static_cast<off_t>(m.byte), 1)) return rc;
  }
  // Each access against the others' denials, each denial against the
  // others' access.
  const Mark tests[] = {{true, kDenyRead}, {write, kDenyWrite}, {denyRead, kAccessRead}, {denyWrite, kAccessWrite}};
  for (const Mark &t : tests) {
    if (!t.wanted) continue;
    bool held = false;
    if (int rc = markerHeldByOther(fd, t.byte, &held)) return rc;
    if (held) return kShareConflict;
  }
  return 0;
}

int claimShare(int fd, bool write, FileShare share) {
  const off_t gate = static_cast<off_t>(kGate);
  if (int rc = ofdLock(fd, F_OFD_SETLKW, write ? F_WRLCK : F_RDLCK, gate, 1)) return rc;
  const int rc = markAndTest(fd, write, share);
  const int unlocked = ofdLock(fd, F_OFD_SETLK, F_UNLCK, gate, 1);
  return rc != 0 ? rc : unlocked;
}

int openFlags(FileAccess access, FileDisposition disposition) {
  int flags = O_CLOEXEC | (access == FileAccess::kReadWrite ? O_RDWR : O_RDONLY);
  // kCreateAlways does not truncate here: only an open that the share modes
  // admit may empty the file.
  if (disposition == FileDisposition::kCreateNew) flags |= O_CREAT | O_EXCL;
  if (disposition == FileDisposition::kCreateAlways) flags |= O_CREAT;
  return flags;
}

int posixOpen(const char *path, FileAccess access, FileDisposition disposition, FileShare share, int *out) {
  int fd;
  while ((fd = ::open(path, openFlags(access, disposition), 0666)) < 0) {
    if (errno != EINTR) return errno;
  }
  struct stat st;
  int rc = ::fstat(fd, &st) != 0 ? errno : 0;
  if (rc == 0 && S_ISDIR(st.st_mode)) rc = EISDIR;
  if (rc == 0) rc = claimShare(fd, access == FileAccess::kReadWrite, share);
  if (rc == 0 && disposition == FileDisposition::kCreateAlways && st.st_size != 0) {
    while (::ftruncate(fd, 0) != 0) {
      if (errno != EINTR) {
        rc = errno;
        break;
      }
    }
  }
  if (rc != 0) {
    ::close(fd);
    return rc;
  }
  *out = fd;
  return 0;
}

int posixClose(int fd) {
  // The descriptor is gone even when close is interrupted; never retry.
  if (::close(fd) == 0 || errno == EINTR) return 0;
  return errno;
}

int posixReadAt(int fd, std::uint64_t pos, void *buf, std::size_t len, std::size_t *done) {
  *done = 0;
  off_t start, length;
  if (!toRange(pos, len, &start, &length)) return EINVAL;
  auto *p = static_cast<char *>(buf);
  while (*done < len) {
    const ssize_t n = ::pread(fd, p + *done, len - *done, start + static_cast<off_t>(*done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;  // end of file
    *done += static_cast<std::size_t>(n);
  }
  return 0;
}

int posixWriteAt(int fd, std::uint64_t pos, const void *data, std::size_t len, std::size_t *done) {
  *done = 0;
  off_t start, length;
  if (!toRange(pos, len, &start, &length)) return EFBIG;
  const auto *p = static_cast<const char *>(data);
  while (*done < len) {
    const ssize_t n = ::pwrite(fd, p + *done, len - *done, start + static_cast<off_t>(*done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;  // no progress and no reason: do not spin
    *done += static_cast<std::size_t>(n);
  }
  return 0;
}

int posixLength(int fd, std::uint64_t *len) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno;
  *len = static_cast<std::uint64_t>(st.st_size);
  return 0;
}

int posixSetLength(int fd, std::uint64_t len) {
  off_t start, length;
  if (!toRange(len, 0, &start, &length)) return EFBIG;
  while (::ftruncate(fd, start) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

int posixSync(int fd) {
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

int posixLockRange(int fd, std::uint64_t pos, std::uint64_t len) {
  off_t start, length;
  if (len == 0 || !toRange(pos, len, &start, &length)) return EINVAL;
  const int rc = ofdLock(fd, F_OFD_SETLK, writable(fd) ? F_WRLCK : F_RDLCK, start, length);
  return (rc == EAGAIN || rc == EACCES) ? kLockConflict : rc;
}

int posixUnlockRange(int fd, std::uint64_t pos, std::uint64_t len) {
  off_t start, length;
  if (len == 0 || !toRange(pos, len, &start, &length)) return EINVAL;
  return ofdLock(fd, F_OFD_SETLK, F_UNLCK, start, length);
}

int posixTestRange(int fd, std::uint64_t pos, std::uint64_t len, bool *locked) {
  off_t start, length;
  if (len == 0 || !toRange(pos, len, &start, &length)) return EINVAL;
  return ofdHeldByOther(fd, start, length, locked);
}

int posixReadOnlyAttribute(const char *path, bool *readOnly) {
  struct stat st;
  if (::stat(path, &st) != 0) return errno;
  // The permission bits decide even for a superuser, whom access() would
  // let write anything; access() adds what the bits do not show (another
  // owner, a read-only file system).
  *readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path, W_OK) != 0;
  return 0;
}

constexpr FileMethods kPosixFiles = {
    posixOpen,   posixClose,     posixReadAt,      posixWriteAt,   posixLength,           posixSetLength,
    posixSync,   posixLockRange, posixUnlockRange, posixTestRange, posixReadOnlyAttribute,
};

}  // namespace

const FileMethods &posixFileMethods() { return kPosixFiles; }

FileErrorKind fileErrorKind(int result) {
  switch (result) {
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return FileErrorKind::kNotFound;
    case EMFILE:
    case ENFILE:
      return FileErrorKind::kTooManyOpen;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case kShareConflict:
      return FileErrorKind::kDenied;
    case ENOSPC:
    case EDQUOT:
      return FileErrorKind::kDiskFull;
    default:
      return FileErrorKind::kOther;
  }
}

std::string fileErrorText(int result) {
  if (result == kShareConflict) return "the file is in use with a share mode that excludes this open";
  if (result == kLockConflict) return "the range is locked by another handle";
  char buf[128];
  // The GNU strerror_r returns its text, which need not be in buf.
  return ::strerror_r(result, buf, sizeof buf);
}

}  // namespace tablekit::platform
