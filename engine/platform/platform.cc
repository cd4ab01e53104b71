// POSIX defaults of the platform table: message output, process exit, local
// time, environment, sleeping, the current directory and plain file-system
// calls. The only place besides paths.cc that includes OS headers.
#include "platform/platform.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tablekit::platform {
namespace {

int posixShowMessage(const char *title, const char *text) {
  // One write of the whole message so that it is not interleaved.
  std::string all;
  all.reserve(std::strlen(title) + std::strlen(text) + 4);
  all += title;
  all += "\n";
  all += text;
  if (all.empty() || all.back() != '\n') all += "\n";
  const char *p = all.data();
  std::size_t left = all.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return 0;
}

[[noreturn]] void posixExitProcess(int status) {
  std::fflush(nullptr);
  ::_exit(status);
}

void posixLocalTime(LocalTime *out) {
  auto now = std::chrono::system_clock::now();
  std::time_t secs = std::chrono::system_clock::to_time_t(now);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  ::localtime_r(&secs, &tm);
  out->year = tm.tm_year + 1900;
  out->month = tm.tm_mon + 1;
  out->day = tm.tm_mday;
  out->hour = tm.tm_hour;
  out->minute = tm.tm_min;
  out->second = tm.tm_sec;
  out->millisecond = static_cast<int>(ms);
}

const char *posixGetEnv(const char *name) { return std::getenv(name); }

void posixSleepMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int posixCurrentDirectory(char *buf, std::size_t size) {
  if (::getcwd(buf, size) == nullptr) return errno;
  return 0;
}

int posixRemoveFile(const char *path) { return ::unlink(path) == 0 ? 0 : errno; }

int posixRenameFile(const char *from, const char *to) { return std::rename(from, to) == 0 ? 0 : errno; }

int posixListDirectory(const char *dir, int (*visit)(const char *, void *), void *ctx) {
  DIR *d = ::opendir(dir);
  if (d == nullptr) return errno;
  while (dirent *e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (visit(e->d_name, ctx) != 0) break;
  }
  ::closedir(d);
  return 0;
}

int posixPathExists(const char *path) {
  struct stat st;
  return ::stat(path, &st) == 0 ? 0 : errno;
}

// Not constexpr: the file entries come from files.cc (constant-initialised
// there, so they are in place before this table is copied).
const Methods kPosix = {
    posixShowMessage, posixExitProcess, posixLocalTime,     posixGetEnv,        posixSleepMs,
    posixCurrentDirectory, posixRemoveFile, posixRenameFile, posixListDirectory, posixPathExists,
    posixFileMethods(),
};

// The table in force: written only by tests, between operations.
Methods gMethods = kPosix;

}  // namespace

Methods &methods() { return gMethods; }
const Methods &defaultMethods() { return kPosix; }

int threadCount() {
  std::FILE *f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  int count = -1;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, "Threads:", 8) == 0) {
      count = std::atoi(line + 8);
      break;
    }
  }
  std::fclose(f);
  return count;
}

}  // namespace tablekit::platform
