// The platform's file entries: share modes between opens, positioned
// transfers at the end of a file, and byte-range locks that belong to their
// handle, far beyond 2^31 and between processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"

namespace tablekit::platform {
namespace {

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "tk_files_XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(&pattern[0]));
    dir_ = pattern;
    path_ = dir_ + "/DATA.DBF";
    std::ofstream(path_, std::ios::binary) << "0123456789";
  }
  void TearDown() override {
    for (int fd : fds_) (void)closeFile(fd);
    std::filesystem::remove_all(dir_);
  }

  // Opens path_ and keeps the handle for TearDown; the result of the open.
  int open(FileAccess access, FileShare share, int *fd = nullptr,
           FileDisposition how = FileDisposition::kOpenExisting) {
    int handle = -1;
    const int rc = openFile(path_.c_str(), access, how, share, &handle);
    if (rc == 0) fds_.push_back(handle);
    if (fd != nullptr) *fd = handle;
    return rc;
  }
  void close(int fd) {
    fds_.erase(std::find(fds_.begin(), fds_.end(), fd));
    EXPECT_EQ(0, closeFile(fd));
  }

  std::string dir_, path_;
  std::vector<int> fds_;
};

// Every pair of opens: the second is refused exactly when its access meets
// the first's denial or its denial meets the first's access.
TEST_F(FilesTest, ShareModesBetweenTwoOpensOfOneProcess) {
  constexpr FileAccess kR = FileAccess::kRead, kRW = FileAccess::kReadWrite;
  constexpr FileShare kAll = FileShare::kReadWrite, kNone = FileShare::kNone, kReadOnly = FileShare::kRead;
  struct Case {
    const char *name;
    FileAccess firstAccess;
    FileShare firstShare;
    FileAccess secondAccess;
    FileShare secondShare;
    bool refused;
  } const cases[] = {
      {"shared writers", kRW, kAll, kRW, kAll, false},
      {"exclusive, then a reader", kRW, kNone, kR, kAll, true},
      {"a reader, then exclusive", kR, kAll, kRW, kNone, true},
      {"exclusive reader, then a reader", kR, kNone, kR, kAll, true},
      {"deny-write, then a writer", kRW, kReadOnly, kRW, kAll, true},
      {"deny-write, then a reader", kRW, kReadOnly, kR, kAll, false},
      {"a writer, then deny-write", kRW, kAll, kRW, kReadOnly, true},
      {"a reader, then deny-write", kR, kAll, kRW, kReadOnly, false},
      {"two deny-write readers", kR, kReadOnly, kR, kReadOnly, false},
      {"deny-write reader, then deny-write writer", kR, kReadOnly, kRW, kReadOnly, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    int first = -1, second = -1;
    ASSERT_EQ(0, open(c.firstAccess, c.firstShare, &first));
    const int rc = open(c.secondAccess, c.secondShare, &second);
    EXPECT_EQ(c.refused ? kShareConflict : 0, rc);
    if (rc == 0) close(second);
    close(first);
    // Whatever was refused holds no markers: the file is free again.
    ASSERT_EQ(0, open(kRW, kNone, &first));
    close(first);
  }
}

TEST_F(FilesTest, ShareModeHoldsAgainstAnotherProcess) {
  int fd = -1;
  ASSERT_EQ(0, open(FileAccess::kReadWrite, FileShare::kRead, &fd));
  const pid_t pid = ::fork();
  if (pid == 0) {
    int other = -1;
    const bool writerRefused = openFile(path_.c_str(), FileAccess::kReadWrite, FileDisposition::kOpenExisting,
                                        FileShare::kReadWrite, &other) == kShareConflict;
    const bool readerAdmitted =
        openFile(path_.c_str(), FileAccess::kRead, FileDisposition::kOpenExisting, FileShare::kReadWrite, &other) == 0;
    ::_exit(writerRefused && readerAdmitted ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(FilesTest, CreateAlwaysEmptiesOnlyWhenAdmitted) {
  int fd = -1;
  ASSERT_EQ(0, open(FileAccess::kReadWrite, FileShare::kNone, &fd));
  EXPECT_EQ(kShareConflict, open(FileAccess::kReadWrite, FileShare::kReadWrite, nullptr,
                                 FileDisposition::kCreateAlways));
  std::uint64_t len = 0;
  ASSERT_EQ(0, fileLength(fd, &len));
  EXPECT_EQ(10u, len);
  close(fd);
  ASSERT_EQ(0, open(FileAccess::kReadWrite, FileShare::kReadWrite, &fd, FileDisposition::kCreateAlways));
  ASSERT_EQ(0, fileLength(fd, &len));
  EXPECT_EQ(0u, len);
}

TEST_F(FilesTest, OpenFailures) {
  int fd = -1;
  const std::string missing = dir_ + "/NONE.DBF";
  EXPECT_EQ(ENOENT, openFile(missing.c_str(), FileAccess::kRead, FileDisposition::kOpenExisting,
                             FileShare::kReadWrite, &fd));
  EXPECT_EQ(EISDIR, openFile(dir_.c_str(), FileAccess::kRead, FileDisposition::kOpenExisting,
                             FileShare::kReadWrite, &fd));
  EXPECT_EQ(EEXIST, openFile(path_.c_str(), FileAccess::kReadWrite, FileDisposition::kCreateNew,
                             FileShare::kReadWrite, &fd));
}

TEST_F(FilesTest, ReadStopsAtTheEndOfTheFile) {
  int fd = -1;
  ASSERT_EQ(0, open(FileAccess::kRead, FileShare::kReadWrite, &fd));
  char buf[16] = {};
  std::size_t done = 99;
  EXPECT_EQ(0, readAt(fd, 6, buf, sizeof buf, &done));
  EXPECT_EQ(4u, done);
  EXPECT_EQ("6789", std::string(buf, done));
  EXPECT_EQ(0, readAt(fd, 50, buf, sizeof buf, &done));
  EXPECT_EQ(0u, done);
}

TEST_F(FilesTest, WriteBeyondTheEndExtendsTheFile) {
  int fd = -1;
  ASSERT_EQ(0, open(FileAccess::kReadWrite, FileShare::kReadWrite, &fd));
  std::size_t done = 0;
  ASSERT_EQ(0, writeAt(fd, 20, "xy", 2, &done));
  EXPECT_EQ(2u, done);
  std::uint64_t len = 0;
  ASSERT_EQ(0, fileLength(fd, &len));
  EXPECT_EQ(22u, len);
  ASSERT_EQ(0, setFileLength(fd, 5));
  ASSERT_EQ(0, fileLength(fd, &len));
  EXPECT_EQ(5u, len);
}

TEST_F(FilesTest, ReadOnlyAttributeFollowsThePermissionBits) {
  bool readOnly = true;
  ASSERT_EQ(0, readOnlyAttribute(path_.c_str(), &readOnly));
  EXPECT_FALSE(readOnly);
  ASSERT_EQ(0, ::chmod(path_.c_str(), 0444));
  ASSERT_EQ(0, readOnlyAttribute(path_.c_str(), &readOnly));
  EXPECT_TRUE(readOnly);
  EXPECT_EQ(ENOENT, readOnlyAttribute((dir_ + "/NONE").c_str(), &readOnly));
}

// Locks of one process's two handles conflict, reach far beyond 2^32, and
// one handle's close leaves the other's locks in place.
TEST_F(FilesTest, LocksBelongToTheHandle) {
  int a = -1, b = -1, c = -1;
  ASSERT_EQ(0, open(FileAccess::kReadWrite, FileShare::kReadWrite, &a));
  ASSERT_EQ(0, open(FileAccess::kReadWrite, FileShare::kReadWrite, &b));
  ASSERT_EQ(0, open(FileAccess::kReadWrite, FileShare::kReadWrite, &c));
  constexpr std::uint64_t kHigh = 0x1EFFFFFFDULL;  // beyond 2^32
  ASSERT_EQ(0, lockRange(a, 0xEFFFFFFD, 1));
  ASSERT_EQ(0, lockRange(a, kHigh, 1));
  EXPECT_EQ(kLockConflict, lockRange(b, 0xEFFFFFFD, 1));
  EXPECT_EQ(kLockConflict, lockRange(b, kHigh, 1));
  EXPECT_EQ(0, lockRange(b, 0xEFFFFFFC, 1));
  close(c);
  bool locked = false;
  ASSERT_EQ(0, testRange(b, 0xEFFFFFFD, 1, &locked));
  EXPECT_TRUE(locked);
  ASSERT_EQ(0, unlockRange(a, 0xEFFFFFFD, 1));
  EXPECT_EQ(0, lockRange(b, 0xEFFFFFFD, 1));
}

TEST_F(FilesTest, LocksOfReadOnlyHandlesAreShared) {
  int reader1 = -1, reader2 = -1, writer = -1;
  ASSERT_EQ(0, open(FileAccess::kRead, FileShare::kReadWrite, &reader1));
  ASSERT_EQ(0, open(FileAccess::kRead, FileShare::kReadWrite, &reader2));
  ASSERT_EQ(0, open(FileAccess::kReadWrite, FileShare::kReadWrite, &writer));
  ASSERT_EQ(0, lockRange(reader1, 0x40000000, 16));
  EXPECT_EQ(0, lockRange(reader2, 0x40000000, 16));
  EXPECT_EQ(kLockConflict, lockRange(writer, 0x40000008, 1));
}

TEST_F(FilesTest, TheShareMarkersAreNotForLocking) {
  int fd = -1;
  ASSERT_EQ(0, open(FileAccess::kReadWrite, FileShare::kReadWrite, &fd));
  EXPECT_EQ(EINVAL, lockRange(fd, 0x7FFFFFFFFFFFFF00ULL, 1));
  EXPECT_EQ(EINVAL, lockRange(fd, 0x7FFFFFFFFFFFFE00ULL, 0x200));
  EXPECT_EQ(EINVAL, lockRange(fd, 0, 0));
}

TEST_F(FilesTest, ErrorKinds) {
  struct Case {
    int result;
    FileErrorKind kind;
  } const cases[] = {
      {ENOENT, FileErrorKind::kNotFound},    {ENOTDIR, FileErrorKind::kNotFound},
      {EISDIR, FileErrorKind::kNotFound},    {ENAMETOOLONG, FileErrorKind::kNotFound},
      {EMFILE, FileErrorKind::kTooManyOpen}, {ENFILE, FileErrorKind::kTooManyOpen},
      {EACCES, FileErrorKind::kDenied},      {EPERM, FileErrorKind::kDenied},
      {kShareConflict, FileErrorKind::kDenied}, {ENOSPC, FileErrorKind::kDiskFull},
      {EDQUOT, FileErrorKind::kDiskFull},    {EIO, FileErrorKind::kOther},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.result);
    EXPECT_EQ(c.kind, fileErrorKind(c.result));
    EXPECT_FALSE(fileErrorText(c.result).empty());
  }
}

}  // namespace
}  // namespace tablekit::platform
