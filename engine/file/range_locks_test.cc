// Byte-range locks of FILE4s: no locks in access modes 1 and 2, conflicts
// between handles of one process and between processes, the retry loop,
// locks that survive the close of another handle, positions beyond 2^31
// and 2^32, and the errors.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "file/file_layer.h"
#include "file/test_support.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit::file {
namespace {

using testing::Child;
using testing::Context;
using testing::hasLines;
using testing::TempDir;
using testing::writeWhole;

constexpr int kNotObtained = 50;

// Lock bytes of a table: record 1, the record-lock gate, the append byte and
// the whole file range.
constexpr unsigned long kRecord1 = 0xEFFFFFFDul;
constexpr unsigned long kGate = 0xEFFFFFFEul;
constexpr unsigned long kAppend = 0xEFFFFFFFul;
constexpr unsigned long kFileStart = 0x40000000ul;
constexpr unsigned long kFileLen = 0xB0000000ul;

// Counts the system's lock calls and the waits between tries.
struct Counts {
  int locks = 0;
  std::vector<unsigned> waits;
};
Counts gCounts;

int countingLock(int fd, std::uint64_t pos, std::uint64_t len) {
  ++gCounts.locks;
  return platform::posixFileMethods().lockRange(fd, pos, len);
}

int failingLock(int, std::uint64_t, std::uint64_t) { return EIO; }

class RangeLocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gCounts = Counts{};
    writeWhole(path_, "0123456789");
    platform::methods().file.lockRange = countingLock;
    platform::methods().sleepMs = [](unsigned ms) {
      gCounts.waits.push_back(ms);
      // A retry loop that does not end fails its lock call instead of hanging.
      if (gCounts.waits.size() > 20) platform::methods().file.lockRange = failingLock;
    };
  }
  void TearDown() override {
    file4close(&file_);
    file4close(&other_);
  }

  TempDir dir_;
  const std::string path_ = dir_ / "T.DBF";
  Context cx_;
  CODE4 &c4_ = cx_.c4;
  FILE4 file_{};
  FILE4 other_{};
};

// The child opens the file in access mode 0 and answers each probe of the
// parent (a position sent as eight bytes, high first) with the result of a
// single lock attempt of one byte there, as a byte; 'q' ends it.
int probeLocks(const Child::Channel &channel, const std::string &path) {
  Context cx;
  cx.c4.lockAttempts = 1;
  FILE4 file{};
  if (file4open(&file, &cx.c4, path.c_str(), 0) != 0) return 1;
  channel.send('o');
  for (;;) {
    const char command = channel.receive();
    if (command != 'p') break;
    std::uint64_t pos = 0;
    for (int i = 0; i < 8; ++i) pos = (pos << 8) | static_cast<unsigned char>(channel.receive());
    const int rc = file4lockInternal(&file, pos & 0xFFFFFFFFu, static_cast<long>(pos >> 32), 1, 0);
    if (rc == 0) file4unlockInternal(&file, pos & 0xFFFFFFFFu, static_cast<long>(pos >> 32), 1, 0);
    channel.send(static_cast<char>(rc));
  }
  return file4close(&file) == 0 ? 0 : 2;
}

int probe(const Child &child, std::uint64_t pos) {
  child.send('p');
  for (int shift = 56; shift >= 0; shift -= 8) child.send(static_cast<char>((pos >> shift) & 0xFF));
  return static_cast<unsigned char>(child.receive());
}

// The child takes one lock on [pos, pos + len) and holds it until told.
int holdLock(const Child::Channel &channel, const std::string &path, unsigned long pos, unsigned long len) {
  Context cx;
  FILE4 file{};
  if (file4open(&file, &cx.c4, path.c_str(), 0) != 0) return 1;
  if (file4lockInternal(&file, pos, 0, len, 0) != 0) return 2;
  channel.send('l');
  channel.receive();
  if (file4unlockInternal(&file, pos, 0, len, 0) != 0) return 3;
  channel.send('u');
  channel.receive();
  return file4close(&file) == 0 ? 0 : 4;
}

TEST_F(RangeLocksTest, AccessModesOneAndTwoNeedNoLocks) {
  for (char mode : {1, 2}) {
    SCOPED_TRACE(static_cast<int>(mode));
    c4_.accessMode = mode;
    ASSERT_EQ(0, file4open(&file_, &c4_, path_.c_str(), 0));
    EXPECT_EQ(0, file4lockInternal(&file_, kFileStart, 0, kFileLen, 0));
    EXPECT_EQ(0, file4lockInternal(&file_, kFileStart, 0, kFileLen, 0));
    EXPECT_EQ(0, file4unlockInternal(&file_, kRecord1, 0, 1, 0));
    EXPECT_EQ(0, gCounts.locks);
    file4close(&file_);
  }
}

TEST_F(RangeLocksTest, ALengthOfZeroLocksNothing) {
  ASSERT_EQ(0, file4open(&file_, &c4_, path_.c_str(), 0));
  EXPECT_EQ(0, file4lockInternal(&file_, kRecord1, 0, 0, 0));
  EXPECT_EQ(0, file4unlockInternal(&file_, kRecord1, 0, 0, 0));
  EXPECT_EQ(0, gCounts.locks);
}

TEST_F(RangeLocksTest, TwoHandlesOfOneProcessExcludeEachOther) {
  c4_.lockAttempts = 1;
  ASSERT_EQ(0, file4open(&file_, &c4_, path_.c_str(), 0));
  ASSERT_EQ(0, file4open(&other_, &c4_, path_.c_str(), 0));
  ASSERT_EQ(0, file4lockInternal(&file_, kRecord1, 0, 1, 0));
  EXPECT_EQ(kNotObtained, file4lockInternal(&other_, kRecord1, 0, 1, 0));
  EXPECT_EQ(kNotObtained, file4lockInternal(&other_, kFileStart, 0, kFileLen, 0));
  EXPECT_EQ(0, file4lockInternal(&other_, kGate, 0, 1, 0));
  EXPECT_EQ(0, c4_.errorCode);
  ASSERT_EQ(0, file4unlockInternal(&file_, kRecord1, 0, 1, 0));
  EXPECT_EQ(0, file4lockInternal(&other_, kRecord1, 0, 1, 0));
}

// As on the lock protocol's home system: a handle cannot lock bytes it
// already holds, and unlocks exactly what it locked.
TEST_F(RangeLocksTest, AHandleCannotLockItsOwnRangeTwice) {
  c4_.lockAttempts = 1;
  ASSERT_EQ(0, file4open(&file_, &c4_, path_.c_str(), 0));
  ASSERT_EQ(0, file4lockInternal(&file_, kFileStart, 0, kFileLen, 0));
  EXPECT_EQ(kNotObtained, file4lockInternal(&file_, kGate, 0, 1, 0));
  EXPECT_EQ(err::kUnlock, file4unlockInternal(&file_, kGate, 0, 1, 0));
  EXPECT_TRUE(hasLines(Context::lastMessage(), {"Unlocking File", "file4unlock", path_}));
  c4_.errorCode = 0;
  EXPECT_EQ(0, file4unlockInternal(&file_, kFileStart, 0, kFileLen, 0));
  EXPECT_EQ(0, file4lockInternal(&file_, kGate, 0, 1, 0));
}

TEST_F(RangeLocksTest, ALockHeldByAnotherProcessIsTriedLockAttemptsTimes) {
  Child child([&](const Child::Channel &ch) { return holdLock(ch, path_, kRecord1, 1); });
  ASSERT_EQ('l', child.receive());
  ASSERT_EQ(0, file4open(&file_, &c4_, path_.c_str(), 0));
  struct Case {
    int lockAttempts;
    int tries;
    int waits;
  } const cases[] = {{3, 3, 2}, {1, 1, 0}, {0, 1, 0}};
  c4_.lockRetryDelay = 1;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.lockAttempts);
    gCounts = Counts{};
    c4_.lockAttempts = c.lockAttempts;
    EXPECT_EQ(kNotObtained, file4lockInternal(&file_, kRecord1, 0, 1, 0));
    EXPECT_EQ(c.tries, gCounts.locks);
    EXPECT_EQ(std::vector<unsigned>(static_cast<std::size_t>(c.waits), 10u), gCounts.waits);
    EXPECT_EQ(0, c4_.errorCode);
  }
  child.send('x');
  ASSERT_EQ('u', child.receive());
  child.send('x');
  EXPECT_EQ(0, child.wait());
}

Child *gHolder;

TEST_F(RangeLocksTest, WithoutALimitTheLockIsTriedUntilItIsFree) {
  Child child([&](const Child::Channel &ch) { return holdLock(ch, path_, kAppend, 1); });
  gHolder = &child;
  ASSERT_EQ('l', child.receive());
  ASSERT_EQ(0, file4open(&file_, &c4_, path_.c_str(), 0));
  c4_.lockAttempts = -1;
  // The third wait lets the other process go. Should the lock still not be
  // obtained, a failing lock call ends the loop instead of the test hanging.
  platform::methods().sleepMs = [](unsigned ms) {
    gCounts.waits.push_back(ms);
    if (gCounts.waits.size() == 3) {
      gHolder->send('x');
      EXPECT_EQ('u', gHolder->receive());
    }
    if (gCounts.waits.size() > 5) platform::methods().file.lockRange = failingLock;
  };
  EXPECT_EQ(0, file4lockInternal(&file_, kAppend, 0, 1, 0));
  EXPECT_EQ(4, gCounts.locks);
  EXPECT_EQ(3u, gCounts.waits.size());
  child.send('x');
  EXPECT_EQ(0, child.wait());
}

TEST_F(RangeLocksTest, ClosingAnotherHandleOfTheFileKeepsTheLock) {
  ASSERT_EQ(0, file4open(&file_, &c4_, path_.c_str(), 0));
  ASSERT_EQ(0, file4open(&other_, &c4_, path_.c_str(), 0));
  ASSERT_EQ(0, file4lockInternal(&file_, kRecord1, 0, 1, 0));
  ASSERT_EQ(0, file4close(&other_));
  Child child([&](const Child::Channel &ch) { return probeLocks(ch, path_); });
  ASSERT_EQ('o', child.receive());
  EXPECT_EQ(kNotObtained, probe(child, kRecord1));
  ASSERT_EQ(0, file4close(&file_));
  EXPECT_EQ(0, probe(child, kRecord1));
  child.send('q');
  EXPECT_EQ(0, child.wait());
}

TEST_F(RangeLocksTest, AnotherProcessSeesLocksFarBeyondTwoGigabytes) {
  struct Probe {
    std::uint64_t pos;
    int result;
  };
  struct Case {
    const char *name;
    unsigned long posLow;
    long posHigh;
    unsigned long lenLow;
    std::vector<Probe> probes;
  } const cases[] = {
      {"record 1", kRecord1, 0, 1, {{kRecord1, kNotObtained}, {kRecord1 - 1, 0}, {kGate, 0}}},
      {"the file range",
       kFileStart,
       0,
       kFileLen,
       {{kFileStart, kNotObtained}, {kRecord1, kNotObtained}, {kAppend, kNotObtained}, {kFileStart - 1, 0},
        {kAppend + 1, 0}}},
      {"beyond 2^32", 5, 1, 1, {{0x100000005ull, kNotObtained}, {5, 0}, {0x100000004ull, 0}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(0, file4open(&file_, &c4_, path_.c_str(), 0));
    ASSERT_EQ(0, file4lockInternal(&file_, c.posLow, c.posHigh, c.lenLow, 0));
    Child child([&](const Child::Channel &ch) { return probeLocks(ch, path_); });
    ASSERT_EQ('o', child.receive());
    for (const Probe &p : c.probes) {
      SCOPED_TRACE(p.pos);
      EXPECT_EQ(p.result, probe(child, p.pos));
    }
    ASSERT_EQ(0, file4unlockInternal(&file_, c.posLow, c.posHigh, c.lenLow, 0));
    EXPECT_EQ(0, probe(child, c.probes.front().pos));
    child.send('q');
    EXPECT_EQ(0, child.wait());
    file4close(&file_);
  }
}

TEST_F(RangeLocksTest, Errors) {
  EXPECT_EQ(err::kParmNull, file4lockInternal(nullptr, kRecord1, 0, 1, 0));
  EXPECT_EQ(err::kParmNull, file4unlockInternal(nullptr, kRecord1, 0, 1, 0));
  c4_.errorCode = 0;
  FILE4 closed{};
  closed.handle = -1;
  closed.context = &c4_;
  EXPECT_EQ(err::kParm, file4lockInternal(&closed, kRecord1, 0, 1, 0));
  EXPECT_TRUE(hasLines(Context::lastMessage(), {"Unexpected Parameter", "attempt to lock an unopened file"}));

  c4_.errorCode = 0;
  ASSERT_EQ(0, file4open(&file_, &c4_, path_.c_str(), 0));
  platform::methods().file.lockRange = [](int, std::uint64_t, std::uint64_t) { return ENOLCK; };
  EXPECT_EQ(err::kLock, file4lockInternal(&file_, kRecord1, 0, 1, 0));
  EXPECT_TRUE(hasLines(Context::lastMessage(), {"Locking File", "file4lock", path_}));
  EXPECT_EQ(-1, file4lockInternal(&file_, kRecord1, 0, 1, 0));

  c4_.errorCode = 0;
  platform::methods().file.lockRange = platform::defaultMethods().file.lockRange;
  ASSERT_EQ(0, file4lockInternal(&file_, kRecord1, 0, 1, 0));
  platform::methods().file.unlockRange = [](int, std::uint64_t, std::uint64_t) { return EIO; };
  EXPECT_EQ(err::kUnlock, file4unlockInternal(&file_, kRecord1, 0, 1, 0));
  EXPECT_TRUE(hasLines(Context::lastMessage(), {"Unlocking File", "file4unlock", path_}));
}

TEST_F(RangeLocksTest, LastConflictDescription) {
  EXPECT_EQ(0, code4lockItem(nullptr));
  EXPECT_EQ(nullptr, code4lockFileName(nullptr));
  EXPECT_EQ(nullptr, code4lockUserId(nullptr));
  EXPECT_EQ(nullptr, code4lockNetworkId(nullptr));
  EXPECT_TRUE(hasLines(Context::lastMessage(), {"Null Input Parameter unexpected", "code4lockNetworkId"}));
  c4_.lockedItem = 7;
  c4_.lockedFileName = "LEVEL_4";
  c4_.lockedUserId = "user";
  c4_.lockedNetworkId = "net";
  EXPECT_EQ(7, code4lockItem(&c4_));
  EXPECT_STREQ("LEVEL_4", code4lockFileName(&c4_));
  EXPECT_STREQ("user", code4lockUserId(&c4_));
  EXPECT_STREQ("net", code4lockNetworkId(&c4_));
}

}  // namespace
}  // namespace tablekit::file
