// The few operating-system services the engine needs, behind one table of
// function pointers with a POSIX default. Engine code calls the short
// wrappers below and includes no OS header itself; a test may replace one
// entry of the table (and must put it back) to inject a fault.
//
// Calls return 0 or an errno value; they never print and never report: the
// caller picks the engine's error code and location.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tablekit::platform {

// Local calendar time, as the engine stores it in headers and logs.
struct LocalTime {
  int year;    // e.g. 2026
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..59
  int millisecond;
};

// ---------------------------------------------------------------------------
// Files (files.cc). Positions and lengths are 64-bit here and widened to the
// system's off_t in one place; the engine's own positions are 32-bit.
//
// Results are 0, an errno value, or one of the two negative results below,
// which no errno value can be.

// Another open of the file excludes this one by its share mode, or this
// open's share mode excludes one that is already there.
constexpr int kShareConflict = -1;
// The byte range is locked by another handle (of this or another process).
constexpr int kLockConflict = -2;

enum class FileAccess { kRead, kReadWrite };
enum class FileDisposition {
  kOpenExisting,  // the file must exist
  kCreateNew,     // the file must not exist
  kCreateAlways,  // created, or emptied once the share mode admits the open
};
// What other opens may do while this one is open.
enum class FileShare {
  kReadWrite,  // others may read and write (access mode 0)
  kNone,       // others may not open the file at all (access mode 1)
  kRead,       // others may only read (access mode 2)
};

struct FileMethods {
  // Opens or creates a file; *fd receives the handle. Share modes hold
  // between processes and between opens of one process alike. A directory
  // is EISDIR. 0, kShareConflict or errno.
  int (*open)(const char *path, FileAccess access, FileDisposition disposition, FileShare share, int *fd);
  // Closes the handle, which releases every byte-range lock it holds.
  int (*close)(int fd);
  // Reads up to len bytes at pos; *done receives the bytes read, fewer only
  // at the end of the file or on an error. Interrupted and short transfers
  // are continued. 0 or errno.
  int (*readAt)(int fd, std::uint64_t pos, void *buf, std::size_t len, std::size_t *done);
  // Writes len bytes at pos; *done receives the bytes written. 0 or errno.
  int (*writeAt)(int fd, std::uint64_t pos, const void *data, std::size_t len, std::size_t *done);
  int (*length)(int fd, std::uint64_t *len);
  int (*setLength)(int fd, std::uint64_t len);
  // Asks the system to write the file's buffers to the device.
  int (*sync)(int fd);
  // Locks [pos, pos + len), len > 0, for this handle alone; never waits.
  // The lock belongs to the open handle, not to the process: another handle
  // of this process conflicts with it, and closing another handle of the
  // same file leaves it in place. 0, kLockConflict or errno.
  int (*lockRange)(int fd, std::uint64_t pos, std::uint64_t len);
  int (*unlockRange)(int fd, std::uint64_t pos, std::uint64_t len);
  // *locked receives whether another handle holds a lock that overlaps the
  // range (this handle's own locks are not seen). 0 or errno.
  int (*testRange)(int fd, std::uint64_t pos, std::uint64_t len, bool *locked);
  // *readOnly receives whether the file may not be written: no write
  // permission bit for anyone, or no write access for this process. 0 or
  // errno.
  int (*readOnlyAttribute)(const char *path, bool *readOnly);
};

// The POSIX defaults of the file entries.
const FileMethods &posixFileMethods();

// How the engine classifies a result of the file entries.
enum class FileErrorKind {
  kNotFound,     // no such file or directory, bad name, a directory
  kTooManyOpen,  // the process or the system has too many open files
  kDenied,       // permission denied, read-only file system, share conflict
  kDiskFull,     // no space or quota left
  kOther,
};
FileErrorKind fileErrorKind(int result);
// A short text for a result (the system's for errno values).
std::string fileErrorText(int result);

struct Methods {
  // Writes a message with its title to the user (standard error here).
  // Returns 0 or an errno value.
  int (*showMessage)(const char *title, const char *text);
  // Ends the process at once with the given status; never returns.
  [[noreturn]] void (*exitProcess)(int status);
  void (*localTime)(LocalTime *out);
  // The value of an environment variable, or null when it is not set.
  const char *(*getEnv)(const char *name);
  void (*sleepMs)(unsigned milliseconds);
  // The process's current directory into buf (size bytes); 0 or errno
  // (ERANGE when it does not fit).
  int (*currentDirectory)(char *buf, std::size_t size);
  // Deletes or renames a file; 0 or errno.
  int (*removeFile)(const char *path);
  int (*renameFile)(const char *oldPath, const char *newPath);
  // Lists the entries of a directory; calls visit(name, ctx) for each until it
  // returns non-zero. 0 or errno.
  int (*listDirectory)(const char *dir, int (*visit)(const char *name, void *ctx), void *ctx);
  // 0 when the path exists (file or directory), else errno.
  int (*pathExists)(const char *path);
  // Files (files.cc); see FileMethods.
  FileMethods file;
};

// The table in force. Tests may assign entries and must restore them.
Methods &methods();
// The POSIX defaults, to restore from.
const Methods &defaultMethods();

inline int showMessage(const char *title, const char *text) { return methods().showMessage(title, text); }
[[noreturn]] inline void exitProcess(int status) { methods().exitProcess(status); }
inline LocalTime localTime() { LocalTime t{}; methods().localTime(&t); return t; }
inline const char *getEnv(const char *name) { return methods().getEnv(name); }
inline void sleepMs(unsigned ms) { methods().sleepMs(ms); }
inline int currentDirectory(char *buf, std::size_t size) { return methods().currentDirectory(buf, size); }
inline int removeFile(const char *path) { return methods().removeFile(path); }
inline int renameFile(const char *from, const char *to) { return methods().renameFile(from, to); }
inline int pathExists(const char *path) { return methods().pathExists(path); }

inline int openFile(const char *path, FileAccess access, FileDisposition disposition, FileShare share, int *fd) {
  return methods().file.open(path, access, disposition, share, fd);
}
inline int closeFile(int fd) { return methods().file.close(fd); }
inline int readAt(int fd, std::uint64_t pos, void *buf, std::size_t len, std::size_t *done) {
  return methods().file.readAt(fd, pos, buf, len, done);
}
inline int writeAt(int fd, std::uint64_t pos, const void *data, std::size_t len, std::size_t *done) {
  return methods().file.writeAt(fd, pos, data, len, done);
}
inline int fileLength(int fd, std::uint64_t *len) { return methods().file.length(fd, len); }
inline int setFileLength(int fd, std::uint64_t len) { return methods().file.setLength(fd, len); }
inline int syncFile(int fd) { return methods().file.sync(fd); }
inline int lockRange(int fd, std::uint64_t pos, std::uint64_t len) { return methods().file.lockRange(fd, pos, len); }
inline int unlockRange(int fd, std::uint64_t pos, std::uint64_t len) {
  return methods().file.unlockRange(fd, pos, len);
}
inline int testRange(int fd, std::uint64_t pos, std::uint64_t len, bool *locked) {
  return methods().file.testRange(fd, pos, len, locked);
}
inline int readOnlyAttribute(const char *path, bool *readOnly) {
  return methods().file.readOnlyAttribute(path, readOnly);
}

// The number of threads of this process (from the system's own count).
int threadCount();

// ---------------------------------------------------------------------------
// Case-insensitive names (paths.cc).
//
// Both '/' and '\' separate directories. resolveCase() walks an absolute path
// component by component: a component that names an existing entry of its
// directory whatever the case of its letters is replaced by that entry's own
// spelling (an exact match wins over a case-insensitive one; among several
// case-insensitive matches the first in byte order wins). Resolution stops at
// the first component that does not exist; the rest is kept as given.
// Separators in the result are '/'. A path that is not absolute is returned
// with only its separators converted.
std::string resolveCase(const std::string &path);

}  // namespace tablekit::platform
