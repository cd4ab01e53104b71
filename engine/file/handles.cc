// FILE4, the engine's only way to reach the disk: open, create, temporary
// files, close, positioned reads and writes, length, flush, refresh and
// replace. Data, memo, index, sort and temporary files are all FILE4s.
//
// Reads and writes go to the handle directly: the block cache is not part of
// the engine yet, and its hooks (cache_hooks.h) sit where it will take part.
// Writes to a file opened exclusively are gathered into runs
// (write_gather.cc), which every other operation here writes out first.
// Queued background requests of the same file are kept consistent with every
// direct transfer and length change through requests.cc.
//
// A FILE4 is open when it holds a handle and its fileLock (isOpen). It is
// cleared (all zeros, handle -1) before an open or create and after a close.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "file/cache_hooks.h"
#include "file/file_internal.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit::file {
namespace {

using platform::FileAccess;
using platform::FileDisposition;
using platform::FileShare;

// Files of 2^31 bytes or more cannot be measured, and no write makes one.
constexpr std::uint64_t kMaxLength = 0x7FFFFFFFULL;

void clear(FILE4 &file) {
  std::memset(&file, 0, sizeof file);
  file.handle = -1;
}

// The name as the system takes it: '\' separates directories too.
std::string diskName(const char *name) {
  std::string path(name);
  for (char &ch : path) {
    if (ch == '\\') ch = '/';
  }
  return path;
}

// The share mode of an access mode; false for an invalid one.
bool shareOf(int accessMode, FileShare *share) {
  switch (accessMode) {
    case 0: *share = FileShare::kReadWrite; return true;
    case 1: *share = FileShare::kNone; return true;
    case 2: *share = FileShare::kRead; return true;
    default: return false;
  }
}

int openErrorCode(int sysError) {
  switch (platform::fileErrorKind(sysError)) {
    case platform::FileErrorKind::kNotFound: return err::kFileFind;
    case platform::FileErrorKind::kTooManyOpen: return err::kNumFiles;
    case platform::FileErrorKind::kDenied: return err::kPermission;
    case platform::FileErrorKind::kDiskFull: return err::kWrite;
    case platform::FileErrorKind::kOther: break;
  }
  return err::kOpen;
}

// A failed open: reported when errOpen is set, else the condition 70.
int openFailure(CODE4 &c4, const char *name, int sysError) {
  if (c4.errOpen == 0) return c4.errorCode = r4noOpen;
  const std::string text = platform::fileErrorText(sysError);
  return report(&c4, openErrorCode(sysError), loc::file4open, name, text.c_str());
}

// A failed create: reported when errCreate is set, else the condition 60.
int createFailure(CODE4 &c4, const char *name, int sysError) {
  if (c4.errCreate == 0) return c4.errorCode = r4noCreate;
  const std::string text = platform::fileErrorText(sysError);
  return report(&c4, err::kCreate, loc::file4create, name, text.c_str());
}

// Gives a newly opened handle to the record: its fileLock and its name (an
// owned copy when asked for). On failure the handle is closed again and the
// record cleared. 0 or -920.
int adopt(FILE4 &file, CODE4 &c4, int fd, const char *name, bool copyName, long location) {
  file.fileLock = new (std::nothrow) tk_filelock;
  char *copy = nullptr;
  if (file.fileLock != nullptr && copyName) {
    copy = static_cast<char *>(u4allocFreeDefault(&c4, static_cast<long>(std::strlen(name)) + 1));
    if (copy != nullptr) std::strcpy(copy, name);
  }
  if (file.fileLock == nullptr || (copyName && copy == nullptr)) {
    delete file.fileLock;
    (void)platform::closeFile(fd);
    clear(file);
    file.context = &c4;
    return report(&c4, err::kMemory, location);
  }
  file.handle = fd;
  file.nameCopy = copy;
  file.nameAllocated = copy != nullptr ? 1 : 0;
  file.name = copy != nullptr ? copy : name;
  file.onDisk = 1;
  return 0;
}

// Opens an existing file with the given share mode (the context's accessMode,
// or the mode a replaced file had). Steps 3 to 9 of file4open.
int openLow(FILE4 &file, CODE4 &c4, const char *name, bool copyName, int accessMode) {
  clear(file);
  file.context = &c4;
  c4.errorCode = 0;
  FileShare share;
  if (!shareOf(accessMode, &share)) return report(&c4, err::kOpen, loc::file4open, name);

  const std::string path = diskName(name);
  bool readOnly = false;
  if (platform::readOnlyAttribute(path.c_str(), &readOnly) != 0) readOnly = false;  // the open will say why
  if (c4.readOnly != 0) readOnly = true;

  int fd = -1;
  const FileAccess access = readOnly ? FileAccess::kRead : FileAccess::kReadWrite;
  if (int rc = platform::openFile(path.c_str(), access, FileDisposition::kOpenExisting, share, &fd)) {
    return openFailure(c4, name, rc);
  }
  if (int rc = adopt(file, c4, fd, name, copyName, loc::file4open)) return rc;
  file.isReadOnly = readOnly ? 1 : 0;
  file.accessMode = accessMode;
  return 0;
}

// Creates a named file (steps 3 to 5 of file4create). *sysError receives
// the system's reason when the file could not be created.
int createNamed(FILE4 &file, CODE4 &c4, const char *name, bool copyName, int *sysError) {
  *sysError = 0;
  c4.errorCode = 0;
  FileShare share;
  if (!shareOf(c4.accessMode, &share)) return createFailure(c4, name, *sysError = EINVAL);

  const std::string path = diskName(name);
  const bool exists = platform::pathExists(path.c_str()) == 0;
  int fd = -1;
  int rc = 0;
  if (exists && c4.safety == 0) {
    // Replacing an existing file: only when nobody else has it open.
    rc = platform::openFile(path.c_str(), FileAccess::kReadWrite, FileDisposition::kOpenExisting, FileShare::kNone,
                            &fd);
    if (rc == 0) {
      (void)platform::closeFile(fd);
      rc = platform::openFile(path.c_str(), FileAccess::kReadWrite, FileDisposition::kCreateAlways, share, &fd);
    }
  } else if (exists) {
    rc = EEXIST;
  } else {
    const FileDisposition how = c4.safety != 0 ? FileDisposition::kCreateNew : FileDisposition::kCreateAlways;
    rc = platform::openFile(path.c_str(), FileAccess::kReadWrite, how, share, &fd);
  }
  if (rc != 0) return createFailure(c4, name, *sysError = rc);

  if (int failed = adopt(file, c4, fd, name, copyName, loc::file4create)) return failed;
  file.accessMode = c4.accessMode;
  if (c4.createTemp == 1) file.isTemp = 1;
  return 0;
}

// The name of the try-th temporary file (from the local time, as the
// original files were named) in dir, with the extension ext.
std::string temporaryName(const std::string &dir, const std::string &ext) {
  const platform::LocalTime now = platform::localTime();
  const auto stamp = static_cast<std::uint16_t>(now.second * 1000 + now.millisecond);
  char base[16];
  std::snprintf(base, sizeof base, "TEMP%04u", static_cast<unsigned>(stamp % 10000));
  std::string name = dir;
  if (!name.empty() && name.back() != '/' && name.back() != '\\') name += '/';
  return name + base + "." + ext;
}

// The directory for temporary files: TEMP, else TMP, else the current one.
std::string temporaryDirectory(bool useTempDirectory) {
  if (!useTempDirectory) return "";
  for (const char *variable : {"TEMP", "TMP"}) {
    const char *value = platform::getEnv(variable);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return "";
}

// A temporary table name is taken only when its index and memo names are
// free as well.
bool companionsExist(const std::string &name, CODE4 &c4) {
  const std::string stem = name.substr(0, name.size() - 3);
  return platform::pathExists((stem + code4indexExtension(&c4)).c_str()) == 0 ||
         platform::pathExists((stem + code4memoExtension(&c4)).c_str()) == 0;
}

// Creates a temporary file under a fresh name (steps 3 to 7 of
// file4tempLow), with errCreate and accessMode already set for it.
int createTemporary(FILE4 &file, CODE4 &c4, bool useTempDirectory, const char *extension) {
  constexpr int kTries = 100;
  const std::string dir = temporaryDirectory(useTempDirectory);
  const std::string ext = extension != nullptr ? extension : "TMP";
  int sysError = 0;
  std::string name;
  for (int attempt = 1; attempt <= kTries; ++attempt) {
    if (attempt > 10) u4delayHundredth(static_cast<unsigned>(attempt));
    name = temporaryName(dir, ext);
    if (ext == "DBF" && companionsExist(name, c4)) continue;
    clear(file);
    file.context = &c4;
    const int rc = createNamed(file, c4, name.c_str(), true, &sysError);
    if (rc <= 0) return rc;
    // Only a name in use is worth another try; a missing or unwritable
    // directory would fail the same way a hundred times.
    if (sysError != EEXIST && platform::fileErrorKind(sysError) != platform::FileErrorKind::kDenied) break;
  }
  const std::string text = sysError != 0 ? platform::fileErrorText(sysError) : std::string();
  return report(&c4, err::kCreate, loc::detail::error_creating_temporary_working_file, name.c_str(),
                sysError != 0 ? text.c_str() : nullptr);
}

// Closes the handle of an open file: cancels its advance reads, finishes its
// delayed writes (dropped when the file is deleted anyway), closes, and
// deletes a temporary file. The record keeps its name; the caller clears it.
int closeHandle(FILE4 &file, bool removeTemp) {
  CODE4 *c4 = file.context;
  int rc = cache::withdraw(file);
  cancelAdvanceReads(file);
  const bool drop = removeTemp && file.isTemp;
  const int flushed = flushDelayedWrites(file, !drop);
  if (rc == 0) rc = flushed;
  // The gathered run is younger than any queued write: it goes last.
  if (drop) {
    gather::drop(file);
  } else if (int written = gather::writeOut(file); rc == 0) {
    rc = written;
  }
  delete file.fileLock;
  file.fileLock = nullptr;
  const int fd = file.handle;
  file.handle = -1;
  if (int sys = platform::closeFile(fd)) {
    const std::string text = platform::fileErrorText(sys);
    rc = report(c4, err::kClose, loc::file4close, file.name, text.c_str());
  }
  if (drop) {
    if (int sys = platform::removeFile(diskName(file.name).c_str())) {
      const std::string text = platform::fileErrorText(sys);
      rc = report(c4, err::kRemove, loc::file4close, file.name, text.c_str());
    }
  }
  return rc;
}

void releaseName(FILE4 &file) {
  if (file.nameAllocated) u4freeDefault(file.nameCopy);
  file.nameCopy = nullptr;
  file.nameAllocated = 0;
}

// The largest copy buffer there is, from size down in steps of 2048 bytes,
// and a small one (reported when even that fails) below 2048.
char *copyBuffer(CODE4 &c4, unsigned *size) {
  for (long n = c4.memSizeBuffer; n >= 2048; n -= 2048) {
    if (auto *buf = static_cast<char *>(u4allocFreeDefault(&c4, n))) {
      *size = static_cast<unsigned>(n);
      return buf;
    }
  }
  *size = 100;
  return static_cast<char *>(u4allocErDefault(&c4, *size));
}

// file4replace for a file opened exclusively: the file of from takes the
// name of keep (the system replaces the old file in one step), and keep is
// opened again under its name.
int replaceByRename(FILE4 &keep, FILE4 &from) {
  CODE4 &c4 = *keep.context;
  if (file4flush(&keep) < 0 || file4flush(&from) < 0) return -1;
  const FILE4 saved = keep;
  const std::string keepName = keep.name;
  const std::string fromName = from.name;

  int rc = closeHandle(from, false);
  releaseName(from);
  clear(from);
  if (rc < 0) return -1;
  if (int sys = platform::renameFile(diskName(fromName.c_str()).c_str(), diskName(keepName.c_str()).c_str())) {
    const std::string text = platform::fileErrorText(sys);
    report(&c4, err::kRename, loc::file4replace, fromName.c_str(), keepName.c_str(), text.c_str());
    return -1;
  }
  // The old file of keep is gone from the directory; its handle goes now.
  rc = closeHandle(keep, false);
  if (rc < 0) return -1;
  if (openLow(keep, c4, keepName.c_str(), false, saved.accessMode) != 0) {
    if (saved.nameAllocated) u4freeDefault(saved.nameCopy);
    return -1;
  }
  keep.isTemp = saved.isTemp;
  keep.nameAllocated = saved.nameAllocated;
  keep.nameCopy = saved.nameCopy;
  keep.name = saved.name;
  return 0;
}

// file4replace for a shared file: the contents of from are copied into keep,
// and from is deleted.
int replaceByCopy(FILE4 &keep, FILE4 &from) {
  CODE4 &c4 = *keep.context;
  if (file4lenSetLow(&keep, 0) < 0) return -1;
  unsigned size = 0;
  char *buf = copyBuffer(c4, &size);
  if (buf == nullptr) return -1;
  int rc = 0;
  const unsigned long len = file4lenLow(&from);
  if (len == static_cast<unsigned long>(-1)) rc = -1;
  for (unsigned long pos = 0; rc == 0 && pos < len;) {
    const unsigned n = static_cast<unsigned>(std::min<unsigned long>(size, len - pos));
    if (file4readAll(&from, static_cast<long>(pos), buf, n) != 0 || file4write(&keep, static_cast<long>(pos), buf, n) != 0)
      rc = -1;
    pos += n;
  }
  if (rc == 0) {
    from.isTemp = 1;
    if (file4close(&from) < 0) rc = -1;
  }
  u4freeDefault(buf);
  return rc;
}

}  // namespace

bool isOpen(const FILE4 &file) { return file.handle >= 0 && file.fileLock != nullptr; }

unsigned rawRead(FILE4 &file, std::uint64_t pos, void *buf, unsigned len) {
  std::size_t done = 0;
  // A failed read counts what it moved before it failed.
  (void)platform::readAt(file.handle, pos, buf, len, &done);
  return static_cast<unsigned>(done);
}

int rawWrite(FILE4 &file, std::uint64_t pos, const void *data, unsigned len) {
  std::size_t done = 0;
  return platform::writeAt(file.handle, pos, data, len, &done);
}

int reportWriteError(FILE4 &file, int sysError) {
  const std::string text = platform::fileErrorText(sysError);
  return report(file.context, err::kWrite, loc::file4write, file.name, text.c_str());
}

int refuseBeyondMaxLength(FILE4 &file, std::uint64_t pos, unsigned len, long location) {
  if (endOf(pos, len) <= kMaxLength) return 0;
  return report(file.context, err::kWrite, location, file.name, "2 GB or more");
}

int directWrite(FILE4 &file, std::uint64_t pos, const void *data, unsigned len) {
  if (file.isReadOnly)
    return report(file.context, err::kWrite, loc::detail::attempt_to_write_to_a_read_only_file, file.name);
  if (file.readAheadOn) readAheadUpdate(file, pos, len, static_cast<const char *>(data), true);
  std::unique_lock<std::mutex> guard(file.fileLock->mutex);
  // The run is settled first: a write that cannot join it finds it on disk,
  // and so do the delayed writes performed below. A write that joins the run
  // leaves the delayed writes it overlaps to the run's write-out.
  bool gathered = false;
  int sys = gather::prepare(file, pos, len, &gathered, guard);
  if (sys == 0) {
    if (gathered) {
      gather::put(file, pos, data, len);
    } else {
      resolveDelayedWrites(file, pos, len, guard);
      sys = rawWrite(file, pos, data, len);
    }
  }
  guard.unlock();
  return sys == 0 ? 0 : reportWriteError(file, sys);
}

unsigned directRead(FILE4 &file, std::uint64_t pos, void *buf, unsigned len) {
  std::unique_lock<std::mutex> guard(file.fileLock->mutex);
  const unsigned n = readThroughDelayedWrites(file, pos, static_cast<char *>(buf), len);
  guard.unlock();
  if (file.readAheadOn) readAheadUpdate(file, pos, n, static_cast<const char *>(buf), false);
  return n;
}

}  // namespace tablekit::file

using namespace tablekit;
using namespace tablekit::file;

extern "C" {

TK_EXPORT int file4open(FILE4 *file, CODE4 *c4, const char *name, int copyName) {
  if (file == nullptr || c4 == nullptr || name == nullptr) return report(c4, err::kParm, loc::file4open);
  if (inError(c4)) return -1;
  cache::autoStart(*c4);
  return openLow(*file, *c4, name, copyName != 0, c4->accessMode);
}

TK_EXPORT int file4create(FILE4 *file, CODE4 *c4, const char *name, int copyName) {
  if (file == nullptr || c4 == nullptr) return report(c4, err::kParmNull, loc::file4create);
  cache::autoStart(*c4);
  clear(*file);
  file->context = c4;
  if (inError(c4)) return -1;
  if (name == nullptr) return file4tempLow(file, c4, c4->createTemp, c4->createTemp, nullptr);
  int sysError = 0;
  return createNamed(*file, *c4, name, copyName != 0, &sysError);
}

TK_EXPORT int file4tempLow(FILE4 *file, CODE4 *c4, int autoRemove, int useTempDirectory, const char *extension) {
  if (file == nullptr || c4 == nullptr) return report(c4, err::kParmNull, loc::file4tempLow);
  cache::autoStart(*c4);
  if (inError(c4)) return -1;
  // A cache-only temporary file would start here while the cache runs.
  const int savedErrCreate = c4->errCreate;
  const char savedAccessMode = c4->accessMode;
  c4->errCreate = 0;
  c4->accessMode = 1;
  const int rc = createTemporary(*file, *c4, useTempDirectory != 0, extension);
  c4->accessMode = savedAccessMode;
  c4->errCreate = savedErrCreate;
  if (rc == 0 && autoRemove) file->isTemp = 1;
  return rc;
}

TK_EXPORT int file4temp(FILE4 *, CODE4 *c4, char *, int) {
  return report(c4, err::kNotSupported, loc::file4temp);
}

TK_EXPORT int file4close(FILE4 *file) {
  if (file == nullptr) return report(nullptr, err::kParmNull, loc::file4close);
  if (!isOpen(*file)) return 0;
  CODE4 *c4 = file->context;
  (void)closeHandle(*file, true);
  releaseName(*file);
  clear(*file);
  return inError(c4) ? -1 : 0;
}

TK_EXPORT int file4exists(const char *name) {
  if (name == nullptr) return -1;
  return platform::pathExists(diskName(name).c_str()) == 0 ? 0 : -1;
}

TK_EXPORT int file4openTest(FILE4 *file) {
  if (file == nullptr) {
    report(nullptr, err::kParmNull, loc::file4open);
    return 0;
  }
  return isOpen(*file) ? 1 : 0;
}

TK_EXPORT unsigned file4read(FILE4 *file, long pos, void *buffer, unsigned len) {
  if (file == nullptr || buffer == nullptr || pos < 0) {
    report(file != nullptr ? file->context : nullptr, err::kParmNull, loc::file4read);
    return 0;
  }
  if (inError(file->context) || len == 0) return 0;
  const auto at = static_cast<std::uint64_t>(pos);
  if (cache::holds(*file)) return cache::read(*file, at, buffer, len);
  if (!file->onDisk || !isOpen(*file)) return 0;
  if (gather::writeOutForRead(*file, at, len) < 0) return 0;
  return directRead(*file, at, buffer, len);
}

TK_EXPORT int file4readAll(FILE4 *file, long pos, void *buffer, unsigned len) {
  if (file == nullptr || buffer == nullptr || pos < 0)
    return report(file != nullptr ? file->context : nullptr, err::kParmNull, loc::file4readAll);
  if (inError(file->context)) return -1;
  if (len == 0) return 0;
  const auto at = static_cast<std::uint64_t>(pos);
  if (int rc = refuseBeyondMaxLength(*file, at, len, loc::file4write)) return rc;
  if (cache::holds(*file)) {
    if (cache::read(*file, at, buffer, len) != len) return file4readError(file, pos, len, "file4readAll");
    return 0;
  }
  if (!file->onDisk || !isOpen(*file)) return report(file->context, err::kOpt, loc::file4readAll, file->name);
  if (int rc = gather::writeOutForRead(*file, at, len)) return rc;
  if (directRead(*file, at, buffer, len) != len) return file4readError(file, pos, len, "file4readAllLow");
  return 0;
}

TK_EXPORT int file4readError(FILE4 *file, long pos, unsigned len, const char *routine) {
  if (file == nullptr) return report(nullptr, err::kParmNull, loc::file4readError);
  // Position and length right-aligned in 19 columns each, one blank between.
  char where[40];
  rightAlignLong(where, pos, 19);
  where[19] = ' ';
  rightAlignLong(where + 20, static_cast<long>(len), 19);
  where[39] = '\0';
  return report(file->context, err::kRead, loc::file4readError, file->name, where, routine);
}

TK_EXPORT int file4write(FILE4 *file, long pos, const void *data, unsigned len) {
  if (file == nullptr) return report(nullptr, err::kParmNull, loc::file4write);
  if (pos < 0 || (data == nullptr && len > 0) || !isOpen(*file)) return report(file->context, err::kParm, loc::file4write);
  if (inError(file->context)) return -1;
  if (file->isReadOnly)
    return report(file->context, err::kWrite, loc::detail::attempt_to_write_to_a_read_only_file, file->name);
  if (len == 0) return 0;
  const auto at = static_cast<std::uint64_t>(pos);
  if (int rc = refuseBeyondMaxLength(*file, at, len, loc::file4write)) return rc;
  if (cache::holds(*file)) {
    if (cache::write(*file, at, data, len) != len) return report(file->context, err::kWrite, loc::file4write, file->name);
    if (file->writeCachePermitted && file->writesBuffered) return 0;
  }
  return directWrite(*file, at, data, len);
}

TK_EXPORT unsigned long file4lenLow(FILE4 *file) {
  constexpr unsigned long kFailed = static_cast<unsigned long>(-1);
  if (file == nullptr) {
    report(nullptr, err::kParmNull, loc::file4len);
    return kFailed;
  }
  if (!file->onDisk) return file->len > 0 ? static_cast<unsigned long>(file->len) : 0;
  if (cache::holds(*file) && cache::knownLength(*file) >= 0) return static_cast<unsigned long>(cache::knownLength(*file));
  std::uint64_t len = 0;
  const int sys = isOpen(*file) ? platform::fileLength(file->handle, &len) : EBADF;
  if (sys == 0) len = std::max(len, gather::end(*file));  // the held-back writes count
  if (sys != 0 || len > kMaxLength) {
    const std::string text = sys != 0 ? platform::fileErrorText(sys) : std::string("2 GB or more");
    report(file->context, err::kLength, loc::file4len, file->name, text.c_str());
    return kFailed;
  }
  return static_cast<unsigned long>(len);
}

TK_EXPORT int file4lenSetLow(FILE4 *file, unsigned long newLen) {
  if (file == nullptr || newLen == static_cast<unsigned long>(-1))
    return report(file != nullptr ? file->context : nullptr, err::kParmNull, loc::file4lenSet);
  CODE4 *c4 = file->context;
  if (c4 == nullptr) return -1;
  // A pending condition blocks length changes.
  if (c4->errorCode > 0 && c4->errorCode < 200) return -1;
  if (file->isReadOnly)
    return report(c4, err::kParm, loc::detail::attempt_to_change_file_length_of_a_read_only, file->name);
  if (cache::holds(*file) && cache::cut(*file, newLen)) return 0;
  if (!file->onDisk || !isOpen(*file)) return 0;
  if (int rc = gather::writeOut(*file)) return rc;
  std::unique_lock<std::mutex> guard(file->fileLock->mutex);
  trimDelayedWrites(*file, newLen, guard);
  gather::settleHandedOver(*file, newLen);
  const int sys = platform::setFileLength(file->handle, newLen);
  guard.unlock();
  if (sys != 0) {
    const std::string text = platform::fileErrorText(sys);
    return report(c4, err::kLengthSet, loc::file4lenSet, file->name, text.c_str());
  }
  return 0;
}

TK_EXPORT int file4flush(FILE4 *file) {
  if (file == nullptr) return report(nullptr, err::kParmNull, loc::file4flush);
  if (file->isReadOnly) return 0;
  CODE4 *c4 = file->context;
  int rc = cache::flushFile(*file);
  const int saved = c4 != nullptr ? c4->errorCode : 0;
  if (c4 != nullptr) c4->errorCode = 0;
  if (file->onDisk && isOpen(*file)) {
    const int flushed = flushDelayedWrites(*file, true);
    if (rc == 0) rc = flushed;
    const int written = gather::writeOut(*file);
    if (rc == 0) rc = written;
    std::unique_lock<std::mutex> guard(file->fileLock->mutex);
    const int sys = platform::syncFile(file->handle);
    guard.unlock();
    if (sys != 0) {
      const std::string text = platform::fileErrorText(sys);
      rc = report(c4, err::kOptFlush, loc::file4lowFlush, file->name, text.c_str());
    }
  }
  if (c4 != nullptr && saved != 0) c4->errorCode = saved;
  return rc;
}

TK_EXPORT int file4refresh(FILE4 *file) {
  if (file == nullptr) return report(nullptr, err::kParmNull, loc::file4refresh);
  if (int rc = gather::writeOut(*file)) return rc;
  if (cache::holds(*file) && file->accessMode == 0) return cache::refresh(*file);
  return 0;
}

TK_EXPORT int file4replace(FILE4 *keep, FILE4 *from) {
  if (keep == nullptr || from == nullptr) return report(nullptr, err::kParmNull, loc::file4replace);
  if (!isOpen(*keep) || !isOpen(*from) || keep->context == nullptr)
    return report(keep->context, err::kParm, loc::file4replace);
  if (gather::writeOut(*keep) < 0 || gather::writeOut(*from) < 0) return -1;
  (void)cache::withdraw(*keep);
  (void)cache::withdraw(*from);
  return keep->accessMode == 1 ? replaceByRename(*keep, *from) : replaceByCopy(*keep, *from);
}

}  // extern "C"
