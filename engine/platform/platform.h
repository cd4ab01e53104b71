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
