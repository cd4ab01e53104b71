// Tests of record locking: the lock bytes as the system and another process
// see them, the tests between two handles of one process, automatic
// unlocking, the conflict rule and its report, group locks all or nothing,
// access modes 1 and 2, releases with the count and date they refresh, and
// locks held by another process.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/data_layer.h"
#include "file/test_support.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit {
namespace {

using file::testing::Child;
using file::testing::Context;
using file::testing::readWhole;
using file::testing::shownMessages;
using file::testing::TempDir;
using file::testing::writeWhole;

constexpr int kNotObtained = 50;

constexpr std::uint64_t kRecord1 = 0xEFFFFFFDull;
constexpr std::uint64_t kGate = 0xEFFFFFFEull;
constexpr std::uint64_t kAppend = 0xEFFFFFFFull;
constexpr std::uint64_t kFileStart = 0x40000000ull;
constexpr std::uint64_t kFileLen = 0xB0000000ull;

// ---------------------------------------------------------------------------
// A table written byte by byte: one C field NAME of 10, count records.

void put32(std::string &bytes, std::size_t at, long value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((static_cast<unsigned long>(value) >> (8 * i)) & 0xFF);
}

std::string tableBytes(long count, bool withMemo = false) {
  const unsigned fields = withMemo ? 2 : 1;
  const unsigned width = withMemo ? 21 : 11;
  std::string bytes(32, '\0');
  bytes[0] = static_cast<char>(withMemo ? 0x83 : 0x03);
  bytes[1] = 120;
  bytes[2] = 6;
  bytes[3] = 30;
  put32(bytes, 4, count);
  bytes[8] = static_cast<char>(32 * fields + 33);
  bytes[10] = static_cast<char>(width);
  for (unsigned i = 0; i < fields; ++i) {
    std::string field(32, '\0');
    std::memcpy(&field[0], i == 0 ? "NAME" : "NOTES", i == 0 ? 4 : 5);
    field[11] = i == 0 ? 'C' : 'M';
    field[16] = 10;
    bytes += field;
  }
  bytes += '\x0D';
  for (long r = 1; r <= count; ++r) bytes += std::string(" record    ") + (withMemo ? "          " : "");
  bytes += '\x1A';
  return bytes;
}

// An empty memo file with blocks of 512 bytes.
std::string memoBytes() {
  std::string bytes(512, '\0');
  bytes[0] = 1;  // the next free block
  bytes[20] = 0;
  bytes[21] = 2;
  return bytes;
}

// The record count in a table file's header.
long headerCount(const std::string &path) {
  const std::string bytes = readWhole(path);
  long count = 0;
  for (int i = 3; i >= 0; --i) count = (count << 8) | static_cast<unsigned char>(bytes[4 + i]);
  return count;
}

// ---------------------------------------------------------------------------
// The system's lock calls, recorded.

struct LockCall {
  char op;  // 'L' lock, 'U' unlock
  std::uint64_t pos;
  std::uint64_t len;
  bool operator==(const LockCall &o) const { return op == o.op && pos == o.pos && len == o.len; }
};

std::ostream &operator<<(std::ostream &out, const LockCall &c) {
  return out << c.op << " 0x" << std::hex << c.pos << " +0x" << c.len << std::dec;
}

std::vector<LockCall> gCalls;
std::vector<unsigned> gWaits;

int recordingLock(int fd, std::uint64_t pos, std::uint64_t len) {
  const int rc = platform::posixFileMethods().lockRange(fd, pos, len);
  if (rc == 0) gCalls.push_back({'L', pos, len});
  return rc;
}
int recordingUnlock(int fd, std::uint64_t pos, std::uint64_t len) {
  gCalls.push_back({'U', pos, len});
  return platform::posixFileMethods().unlockRange(fd, pos, len);
}

class LocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gCalls.clear();
    gWaits.clear();
    writeWhole(path_, tableBytes(10));
    writeWhole(otherPath_, tableBytes(3));
    platform::methods().file.lockRange = recordingLock;
    platform::methods().file.unlockRange = recordingUnlock;
    platform::methods().sleepMs = [](unsigned ms) { gWaits.push_back(ms); };
    c4_.singleOpen = 0;
  }

  DATA4 *open(const std::string &path) {
    DATA4 *data = d4open(&c4_, path.c_str());
    EXPECT_NE(nullptr, data) << Context::lastMessage();
    return data;
  }

  // The record numbers a handle holds locked, by asking it for 1 to 12.
  std::vector<long> heldRecords(DATA4 *data) {
    std::vector<long> held;
    for (long r = 1; r <= 12; ++r)
      if (data::recordLockedByHandle(*data, r) == 1) held.push_back(r);
    return held;
  }

  TempDir dir_;
  const std::string path_ = dir_ / "T.DBF";
  const std::string otherPath_ = dir_ / "OTHER.DBF";
  Context cx_;
  CODE4 &c4_ = cx_.c4;
};

// Whether the last message shown carries the text.
bool lastShown(const std::string &text) { return Context::lastMessage().find(text) != std::string::npos; }

// ---------------------------------------------------------------------------
// Lock bytes

TEST_F(LocksTest, EachLockTakesItsBytes) {
  DATA4 *data = open(path_);
  ASSERT_NE(nullptr, data);
  struct Case {
    const char *name;
    int (*take)(DATA4 *);
    std::vector<LockCall> taken;
    LockCall released;  // by d4unlock
  } cases[] = {
      {"record 1", [](DATA4 *d) { return d4lock(d, 1); },
       {{'L', kGate, 1}, {'L', kRecord1, 1}, {'U', kGate, 1}}, {'U', kRecord1, 1}},
      {"record 2", [](DATA4 *d) { return d4lock(d, 2); },
       {{'L', kGate, 1}, {'L', kRecord1 - 1, 1}, {'U', kGate, 1}}, {'U', kRecord1 - 1, 1}},
      // The last record whose byte lies inside the file range.
      {"record 0xAFFFFFFE", [](DATA4 *d) { return d4lock(d, 0xAFFFFFFEl); },
       {{'L', kGate, 1}, {'L', kFileStart, 1}, {'U', kGate, 1}}, {'U', kFileStart, 1}},
      {"append", d4lockAppend, {{'L', kAppend, 1}}, {'U', kAppend, 1}},
      {"file", d4lockFile, {{'L', kFileStart, kFileLen}}, {'U', kFileStart, kFileLen}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    gCalls.clear();
    ASSERT_EQ(0, c.take(data));
    EXPECT_EQ(c.taken, gCalls);
    gCalls.clear();
    ASSERT_EQ(0, d4unlock(data));
    EXPECT_EQ(std::vector<LockCall>{c.released}, gCalls);
  }
}

// What another process sees: the child opens the file itself and asks the
// system (F_OFD_GETLK) which lock stands in the way of each probe. It
// answers '1' for a write lock of exactly the probe's range, '0' for none,
// 'x' for anything else.
char probe(int fd, std::uint64_t pos, std::uint64_t len) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(pos);
  fl.l_len = static_cast<off_t>(len);
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return 'e';
  if (fl.l_type == F_UNLCK) return '0';
  return (fl.l_type == F_WRLCK && static_cast<std::uint64_t>(fl.l_start) == pos &&
          static_cast<std::uint64_t>(fl.l_len) == len)
             ? '1'
             : 'x';
}

TEST_F(LocksTest, AnotherProcessSeesTheLockBytes) {
  DATA4 *data = open(path_);
  ASSERT_NE(nullptr, data);
  c4_.unlockAuto = 0;
  ASSERT_EQ(0, d4lock(data, 1));
  ASSERT_EQ(0, d4lockAppend(data));

  const std::string path = path_;
  Child child([path](const Child::Channel &channel) {
    const int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0) return 1;
    for (char command = channel.receive(); command == 'p'; command = channel.receive()) {
      // record 1, the gate, the append byte, record 2, the file range
      channel.send(probe(fd, kRecord1, 1));
      channel.send(probe(fd, kGate, 1));
      channel.send(probe(fd, kAppend, 1));
      channel.send(probe(fd, kRecord1 - 1, 1));
      channel.send(probe(fd, kFileStart, kFileLen));
    }
    ::close(fd);
    return 0;
  });
  auto answers = [&child]() {
    child.send('p');
    std::string got;
    for (int i = 0; i < 5; ++i) got += child.receive();
    return got;
  };
  // Record 1 and the append byte are held, the gate was let go; the probe
  // of the whole range meets one of the held bytes.
  EXPECT_EQ("1010x", answers());

  ASSERT_EQ(0, d4unlock(data));
  ASSERT_EQ(0, d4lockFile(data));
  EXPECT_EQ("xxxx1", answers());  // every probe meets the file range
  ASSERT_EQ(0, d4unlock(data));
  EXPECT_EQ("00000", answers());
  child.send('q');
  EXPECT_EQ(0, child.wait());
}

// ---------------------------------------------------------------------------
// Tests between two handles of one process

TEST_F(LocksTest, LockTestsBetweenTwoHandles) {
  DATA4 *a = open(path_);
  DATA4 *b = open(path_);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  ASSERT_EQ(a->dataFile, b->dataFile);
  DFILE4 *file = a->dataFile;
  c4_.unlockAuto = 0;
  struct Case {
    const char *name;
    int (*take)(DATA4 *);  // what handle a takes
    // d4lockTest a 5, b 5, b 6; d4lockTestAppend a, b;
    // dfile4lockTestFile a, b, anybody; dfile4lockTestAppend a, b, anybody
    std::vector<int> expected;
  } cases[] = {
      {"nothing", [](DATA4 *) { return 0; }, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"record 5", [](DATA4 *d) { return d4lock(d, 5); }, {1, 50, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"append", d4lockAppend, {0, 0, 0, 1, 0, 0, 0, 0, 1, 50, 1}},
      {"file", d4lockFile, {1, 50, 50, 1, 0, 1, 0, 1, 0, 0, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(0, c.take(a));
    const std::vector<int> got = {
        d4lockTest(a, 5, 1),
        d4lockTest(b, 5, 1),
        d4lockTest(b, 6, 1),
        d4lockTestAppend(a),
        d4lockTestAppend(b),
        dfile4lockTestFile(file, a->handleId, a->handleId, 1),
        dfile4lockTestFile(file, b->handleId, b->handleId, 1),
        dfile4lockTestFile(file, 0, 0, 1),
        dfile4lockTestAppend(file, a->handleId, a->handleId),
        dfile4lockTestAppend(file, b->handleId, b->handleId),
        dfile4lockTestAppend(file, 0, 0),
    };
    EXPECT_EQ(c.expected, got);
    ASSERT_EQ(0, d4unlock(a));
  }
  EXPECT_TRUE(shownMessages().empty());
}

// ---------------------------------------------------------------------------
// Automatic unlocking

TEST_F(LocksTest, UnlockAutoDecidesWhatANewRecordLockReleases) {
  struct Case {
    short unlockAuto;
    std::vector<long> heldByA;    // after a: 4, append; other: 1; then a: 5
    bool appendKept;
    bool otherKept;
  } cases[] = {
      {0, {4, 5}, true, true},
      {1, {5}, false, false},
      {2, {5}, false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.unlockAuto);
    DATA4 *a = open(path_);
    DATA4 *other = open(otherPath_);
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, other);
    c4_.unlockAuto = 0;
    ASSERT_EQ(0, d4lock(a, 4));
    ASSERT_EQ(0, d4lockAppend(a));
    ASSERT_EQ(0, d4lock(other, 1));
    c4_.unlockAuto = c.unlockAuto;
    ASSERT_EQ(0, d4lock(a, 5));
    EXPECT_EQ(c.heldByA, heldRecords(a));
    EXPECT_EQ(c.appendKept, d4lockTestAppend(a) == 1);
    EXPECT_EQ(c.otherKept, d4lockTest(other, 1, 1) == 1);
    c4_.unlockAuto = 1;
    ASSERT_EQ(0, code4unlock(&c4_));
    ASSERT_EQ(0, d4close(a));
    ASSERT_EQ(0, d4close(other));
  }
}

TEST_F(LocksTest, UnlockAutoZeroMakesTheReleasesDoNothingButD4unlock) {
  DATA4 *a = open(path_);
  ASSERT_NE(nullptr, a);
  c4_.unlockAuto = 0;
  ASSERT_EQ(0, d4lock(a, 3));
  ASSERT_EQ(0, d4lockAppend(a));
  EXPECT_EQ(0, d4unlockRecord(a, 3));
  EXPECT_EQ(0, d4unlockRecords(a, -1));
  EXPECT_EQ(0, d4unlockAppend(a, -1));
  EXPECT_EQ(0, d4unlockData(a, -1));
  EXPECT_EQ(std::vector<long>{3}, heldRecords(a));
  EXPECT_EQ(1, d4lockTestAppend(a));
  EXPECT_EQ(0, d4unlock(a));
  EXPECT_TRUE(heldRecords(a).empty());
  EXPECT_EQ(0, d4lockTestAppend(a));
  EXPECT_EQ(0, c4_.unlockAuto);  // d4unlock switched it only for its own duration
}

TEST_F(LocksTest, ReleasesTakeWhatTheyNameOnly) {
  DATA4 *a = open(path_);
  ASSERT_NE(nullptr, a);
  c4_.unlockAuto = 0;
  ASSERT_EQ(0, d4lock(a, 3));
  ASSERT_EQ(0, d4lock(a, 7));
  ASSERT_EQ(0, d4lockAppend(a));
  c4_.unlockAuto = 2;
  ASSERT_EQ(0, d4unlockRecord(a, 3));
  EXPECT_EQ(std::vector<long>{7}, heldRecords(a));
  EXPECT_EQ(0, d4unlockRecords(a, a->handleId + 100));  // another owner's: nothing
  EXPECT_EQ(std::vector<long>{7}, heldRecords(a));
  ASSERT_EQ(0, d4unlockAppend(a, -1));
  EXPECT_EQ(0, d4lockTestAppend(a));
  EXPECT_EQ(std::vector<long>{7}, heldRecords(a));
  ASSERT_EQ(0, d4unlockRecords(a, -1));
  EXPECT_TRUE(heldRecords(a).empty());
  EXPECT_EQ(0, a->dataFile->recordLockCount);
  // Only the bytes of records 3 and 7 and the append byte were unlocked.
  std::vector<LockCall> unlocks;
  for (const LockCall &call : gCalls)
    if (call.op == 'U' && call.pos != kGate) unlocks.push_back(call);
  const std::vector<LockCall> expected = {{'U', kGate - 3, 1}, {'U', kAppend, 1}, {'U', kGate - 7, 1}};
  EXPECT_EQ(expected, unlocks);
}

TEST_F(LocksTest, ReleasingTheCurrentRecordForgetsTheOldRecord) {
  DATA4 *a = open(path_);
  ASSERT_NE(nullptr, a);
  ASSERT_EQ(0, d4lock(a, 2));
  a->recNum = 2;
  a->oldRecNo = 2;
  a->memoValidated = 1;
  ASSERT_EQ(0, d4unlockRecord(a, 2));
  EXPECT_EQ(-1, a->oldRecNo);
  EXPECT_EQ(0, a->memoValidated);
}

// ---------------------------------------------------------------------------
// The conflict rule and its report

TEST_F(LocksTest, ALockOfAnotherHandleFollowsTheConflictRule) {
  struct Case {
    const char *name;
    short unlockAuto;
    int lockAttempts;
    int autoUnlock;
    int expected;
  } cases[] = {
      {"released by unlockAuto 1", 1, -1, 1, 0},
      {"unlockAuto 2 does not reach the other handle", 2, 3, 1, kNotObtained},
      {"no automatic release asked", 1, 3, 0, kNotObtained},
      {"waiting forever is refused", 2, -1, 1, err::kLock},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DATA4 *a = open(path_);
    DATA4 *b = open(path_);
    ASSERT_NE(nullptr, b);
    ASSERT_EQ(0, d4aliasSet(a, "HOLDER"));
    ASSERT_EQ(0, d4lock(a, 5));
    c4_.unlockAuto = c.unlockAuto;
    c4_.lockAttempts = c.lockAttempts;
    shownMessages().clear();
    EXPECT_EQ(c.expected, d4lockInternal(b, 5, c.autoUnlock, 1));
    if (c.expected < 0) {
      EXPECT_EQ(err::kLock, c4_.errorCode);
      EXPECT_TRUE(lastShown("WAIT4EVER lock conflicts with own local impeding lock"));
      c4_.errorCode = 0;
    } else {
      EXPECT_TRUE(shownMessages().empty());
    }
    if (c.expected == 0) {
      EXPECT_EQ(1, d4lockTest(b, 5, 1));
      EXPECT_EQ(kNotObtained, d4lockTest(a, 5, 1));
    } else {
      EXPECT_EQ(1, d4lockTest(a, 5, 1));
      EXPECT_EQ(5, code4lockItem(&c4_));
      ASSERT_NE(nullptr, code4lockFileName(&c4_));
      EXPECT_STREQ("HOLDER", code4lockFileName(&c4_));
      EXPECT_STREQ("", code4lockUserId(&c4_));
      EXPECT_STREQ("", code4lockNetworkId(&c4_));
      EXPECT_EQ(a->handleId, a->dataFile->conflictOwner);
    }
    c4_.unlockAuto = 1;
    ASSERT_EQ(0, code4unlock(&c4_));
    ASSERT_EQ(0, d4close(a));
    ASSERT_EQ(0, d4close(b));
  }
}

TEST_F(LocksTest, ConflictItemsNameTheLockInTheWay) {
  c4_.unlockAuto = 2;
  c4_.lockAttempts = 1;
  struct Case {
    const char *name;
    int (*hold)(DATA4 *);
    int (*ask)(DATA4 *);
    long item;
  } cases[] = {
      {"append", d4lockAppend, d4lockAppend, 0},
      {"file before a record", d4lockFile, [](DATA4 *d) { return d4lock(d, 9); }, -1},
      {"file before the append lock", d4lockFile, d4lockAppend, -1},
      {"record 8", [](DATA4 *d) { return d4lock(d, 8); }, [](DATA4 *d) { return d4lock(d, 8); }, 8},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DATA4 *a = open(path_);
    DATA4 *b = open(path_);
    ASSERT_NE(nullptr, b);
    ASSERT_EQ(0, d4aliasSet(a, "A"));
    ASSERT_EQ(0, c.hold(a));
    c4_.lockedItem = 12345;
    EXPECT_EQ(kNotObtained, c.ask(b));
    EXPECT_EQ(c.item, code4lockItem(&c4_));
    EXPECT_STREQ("A", code4lockFileName(&c4_));
    ASSERT_EQ(0, d4close(a));
    EXPECT_EQ(nullptr, code4lockFileName(&c4_));  // the holder's alias went with it
    ASSERT_EQ(0, d4close(b));
  }
}

TEST_F(LocksTest, TheFileLockWaitsForNoLockOfItsOwnProcess) {
  struct Case {
    const char *name;
    int lockAttempts;
    int (*hold)(DATA4 *);
    int expected;
    long item;
  } cases[] = {
      {"own append lock, wait forever", -1, d4lockAppend, err::kLock, 0},
      {"own append lock", 2, d4lockAppend, kNotObtained, 0},
      {"own record lock, wait forever", -1, [](DATA4 *d) { return d4lock(d, 6); }, err::kLock, 6},
      {"own record lock", 2, [](DATA4 *d) { return d4lock(d, 6); }, kNotObtained, 6},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DATA4 *a = open(path_);
    ASSERT_NE(nullptr, a);
    c4_.unlockAuto = 0;
    c4_.lockAttempts = c.lockAttempts;
    ASSERT_EQ(0, c.hold(a));
    shownMessages().clear();
    gCalls.clear();
    EXPECT_EQ(c.expected, d4lockFile(a));
    EXPECT_EQ(c.item, code4lockItem(&c4_));
    EXPECT_TRUE(gCalls.empty());  // no byte was tried
    EXPECT_EQ(0, a->dataFile->fileLockOwner);
    if (c.expected < 0) {
      EXPECT_TRUE(lastShown("WAIT4EVER lock conflicts with own local impeding lock"));
      c4_.errorCode = 0;
    }
    ASSERT_EQ(0, d4close(a));
  }
}

TEST_F(LocksTest, TheFileLockReleasesItsOwnHandleFirst) {
  DATA4 *a = open(path_);
  ASSERT_NE(nullptr, a);
  c4_.unlockAuto = 0;
  ASSERT_EQ(0, d4lock(a, 6));
  ASSERT_EQ(0, d4lockAppend(a));
  c4_.unlockAuto = 2;
  ASSERT_EQ(0, d4lockFile(a));
  EXPECT_EQ(a->handleId, a->dataFile->fileLockOwner);
  EXPECT_EQ(0, a->dataFile->appendLockOwner);
  EXPECT_EQ(0, a->dataFile->recordLockCount);
  // Under the file lock every record counts as locked, without a byte.
  gCalls.clear();
  EXPECT_EQ(0, d4lock(a, 9));
  EXPECT_EQ(0, d4lockAppend(a));
  EXPECT_TRUE(gCalls.empty());
  EXPECT_EQ(1, d4lockTest(a, 9, 1));
}

// ---------------------------------------------------------------------------
// Lock all

TEST_F(LocksTest, LockAllTakesTheFileLockThenTheMemoFileLock) {
  const std::string memoTable = dir_ / "MEMO.DBF";
  writeWhole(memoTable, tableBytes(2, true));
  writeWhole(dir_ / "MEMO.DBT", memoBytes());
  struct Case {
    const std::string *path;
    std::vector<LockCall> taken;
  } cases[] = {
      {&path_, {{'L', kFileStart, kFileLen}}},
      {&memoTable, {{'L', kFileStart, kFileLen}, {'L', kGate, 2}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(*c.path);
    DATA4 *a = open(*c.path);
    ASSERT_NE(nullptr, a);
    gCalls.clear();
    ASSERT_EQ(0, d4lockAll(a));
    EXPECT_EQ(c.taken, gCalls);
    EXPECT_EQ(a->handleId, a->dataFile->fileLockOwner);
    EXPECT_EQ(c.taken.size() > 1 ? 1 : 0, a->dataFile->memoFile.fileLock);
    gCalls.clear();
    ASSERT_EQ(0, d4unlock(a));
    EXPECT_EQ(c.taken.size(), gCalls.size());
    for (const LockCall &call : gCalls) EXPECT_EQ('U', call.op);
    EXPECT_EQ(0, a->dataFile->fileLockOwner);
    EXPECT_EQ(0, a->dataFile->memoFile.fileLock);
    ASSERT_EQ(0, d4close(a));
  }
}

// ---------------------------------------------------------------------------
// Errors

TEST_F(LocksTest, BadArgumentsAndTheErrorState) {
  DATA4 *a = open(path_);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(err::kParm, d4lock(a, 0));
  EXPECT_EQ(err::kParm, c4_.errorCode);
  c4_.errorCode = 0;
  EXPECT_EQ(err::kParm, d4lock(a, -3));
  c4_.errorCode = 0;
  EXPECT_EQ(err::kParmNull, d4lock(nullptr, 1));
  EXPECT_EQ(err::kParmNull, code4lock(nullptr));
  EXPECT_EQ(err::kParmNull, d4unlock(nullptr));
  c4_.errorCode = err::kRead;
  gCalls.clear();
  const struct {
    const char *name;
    int (*call)(DATA4 *);
  } calls[] = {
      {"d4lock", [](DATA4 *d) { return d4lock(d, 1); }},
      {"d4lockAppend", d4lockAppend},
      {"d4lockFile", d4lockFile},
      {"d4lockAll", d4lockAll},
      {"d4lockAppendRecord", [](DATA4 *d) { return d4lockAppendRecord(d, 1); }},
      {"d4lockTest", [](DATA4 *d) { return d4lockTest(d, 1, 1); }},
      {"d4lockAdd", [](DATA4 *d) { return d4lockAdd(d, 1); }},
      {"code4lock", [](DATA4 *d) { return code4lock(d->context); }},
  };
  for (const auto &c : calls) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(-1, c.call(a));
  }
  EXPECT_TRUE(gCalls.empty());
  EXPECT_EQ(0, c4_.trans.locks.count);
  c4_.errorCode = 0;
}

// ---------------------------------------------------------------------------
// Access modes 1 and 2

TEST_F(LocksTest, AccessModesOneAndTwoAnswerAtOnce) {
  for (char mode : {1, 2}) {
    SCOPED_TRACE(static_cast<int>(mode));
    c4_.accessMode = mode;
    DATA4 *a = open(path_);
    ASSERT_NE(nullptr, a);
    gCalls.clear();
    EXPECT_EQ(1, d4lockTest(a, 3, 1));
    EXPECT_EQ(1, d4lockTest(a, 1000000, 1));
    EXPECT_EQ(1, d4lockTestAppend(a));
    EXPECT_EQ(1, dfile4lockTestFile(a->dataFile, a->handleId, a->handleId, 1));
    EXPECT_EQ(1, dfile4lockTestAppend(a->dataFile, a->handleId, a->handleId));
    EXPECT_EQ(0, d4lock(a, 3));
    EXPECT_EQ(0, d4lockAppend(a));
    EXPECT_EQ(0, d4lockFile(a));
    EXPECT_EQ(0, d4lockAll(a));
    EXPECT_EQ(0, d4lockAppendRecord(a, 1));
    EXPECT_EQ(0, d4lockAdd(a, 4));
    EXPECT_EQ(0, code4lock(&c4_));
    EXPECT_TRUE(gCalls.empty());
    EXPECT_EQ(0, a->dataFile->fileLockOwner);
    EXPECT_EQ(0, a->dataFile->appendLockOwner);
    EXPECT_EQ(0, a->dataFile->recordLockCount);
    EXPECT_EQ(0, a->locks.count);
    EXPECT_EQ(0, d4unlock(a));
    ASSERT_EQ(0, d4close(a));
  }
  EXPECT_TRUE(shownMessages().empty());
}

// ---------------------------------------------------------------------------
// Counts and dates at release

TEST_F(LocksTest, ReleasingTheAppendOrFileLockForgetsTheCountAndRefreshesAPendingDate) {
  platform::methods().localTime = [](platform::LocalTime *t) { *t = platform::LocalTime{2031, 4, 9, 0, 0, 0, 0}; };
  struct Case {
    const char *name;
    int (*take)(DATA4 *);
    int (*release)(DATA4 *, long);
    int pending;
  } cases[] = {
      {"append, date pending", d4lockAppend, d4unlockAppend, 1},
      {"file, date pending", d4lockFile, d4unlockFile, 1},
      {"append", d4lockAppend, d4unlockAppend, 0},
      {"file", d4lockFile, d4unlockFile, 0},
  };
  DATA4 *a = open(path_);
  ASSERT_NE(nullptr, a);
  DFILE4 &file = *a->dataFile;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(0, c.take(a));
    EXPECT_EQ(10, d4recCountDo(a));
    EXPECT_EQ(10, file.inMemoryCount);  // kept while the lock is held
    file.yy = 120;
    file.mm = 6;
    file.dd = 30;
    file.dateChanged = c.pending;
    ASSERT_EQ(0, c.release(a, -1));
    EXPECT_EQ(-1, file.inMemoryCount);
    EXPECT_EQ(0, file.dateChanged);
    if (c.pending) {
      EXPECT_EQ(131, file.yy);
      EXPECT_EQ(4, file.mm);
      EXPECT_EQ(9, file.dd);
    } else {
      EXPECT_EQ(120, file.yy);
    }
  }
}

// ---------------------------------------------------------------------------
// The lock for appending

TEST_F(LocksTest, LockForAppendingTakesTheAppendLockAndTheNextRecord) {
  DATA4 *a = open(path_);
  ASSERT_NE(nullptr, a);
  ASSERT_EQ(0, d4lockAppendRecord(a, 1));
  EXPECT_EQ(1, d4lockTestAppend(a));
  EXPECT_EQ(std::vector<long>{11}, heldRecords(a));
  EXPECT_EQ(0, d4lockAppendRecord(a, 1));  // held already: nothing changes
  EXPECT_EQ(std::vector<long>{11}, heldRecords(a));
  ASSERT_EQ(0, d4unlock(a));

  // The count is read from the header under the new append lock.
  std::string bytes = readWhole(path_);
  put32(bytes, 4, 7);
  writeWhole(path_, bytes);
  ASSERT_EQ(7, headerCount(path_));
  ASSERT_EQ(0, d4lockAppendRecord(a, 1));
  EXPECT_EQ(std::vector<long>{8}, heldRecords(a));
  ASSERT_EQ(0, d4unlock(a));

  // Under the handle's file lock nothing more is taken.
  ASSERT_EQ(0, d4lockFile(a));
  gCalls.clear();
  EXPECT_EQ(0, d4lockAppendRecord(a, 1));
  EXPECT_TRUE(gCalls.empty());
  EXPECT_EQ(0, a->dataFile->appendLockOwner);
}

TEST_F(LocksTest, AFailedLockForAppendingKeepsNoAppendLock) {
  DATA4 *a = open(path_);
  DATA4 *b = open(path_);
  ASSERT_NE(nullptr, b);
  c4_.unlockAuto = 2;
  c4_.lockAttempts = 1;
  ASSERT_EQ(0, d4lock(b, 11));  // the record the append would add
  EXPECT_EQ(kNotObtained, d4lockAppendRecord(a, 1));
  EXPECT_EQ(0, a->dataFile->appendLockOwner);
  EXPECT_EQ(11, code4lockItem(&c4_));
  EXPECT_EQ(2, c4_.unlockAuto);
}

// ---------------------------------------------------------------------------
// Group locks

TEST_F(LocksTest, GroupLocksTakeEveryQueuedLock) {
  DATA4 *a = open(path_);
  DATA4 *b = open(path_);
  DATA4 *other = open(otherPath_);
  ASSERT_NE(nullptr, other);
  ASSERT_EQ(0, d4lockAdd(a, 1));
  ASSERT_EQ(0, d4lockAdd(b, 2));
  ASSERT_EQ(0, d4lockAddAppend(a));
  ASSERT_EQ(0, d4lockAddAll(other));
  EXPECT_EQ(4u, c4_.trans.locks.count);
  ASSERT_EQ(0, code4lock(&c4_));
  EXPECT_EQ(0u, c4_.trans.locks.count);
  EXPECT_EQ(std::vector<long>{1}, heldRecords(a));
  EXPECT_EQ(std::vector<long>{2}, heldRecords(b));
  EXPECT_EQ(1, d4lockTestAppend(a));
  EXPECT_EQ(other->handleId, other->dataFile->fileLockOwner);
  EXPECT_EQ(1, c4_.unlockAuto);
}

TEST_F(LocksTest, GroupLocksAreAllOrNothing) {
  DATA4 *a = open(path_);
  DATA4 *b = open(path_);
  DATA4 *holder = open(path_);
  DATA4 *other = open(otherPath_);
  ASSERT_NE(nullptr, other);
  c4_.unlockAuto = 2;  // code4lock does not release the holder first
  c4_.lockAttempts = 1;
  ASSERT_EQ(0, d4lock(a, 7));       // held before: stays held
  ASSERT_EQ(0, d4lock(holder, 3));  // in the way
  // Each request goes to the front of the queue: the one that fails is
  // tried last, after all the others were granted.
  ASSERT_EQ(0, d4lockAdd(b, 3));
  ASSERT_EQ(0, d4lockAdd(a, 7));
  ASSERT_EQ(0, d4lockAdd(a, 1));
  ASSERT_EQ(0, d4lockAddFile(other));
  ASSERT_EQ(0, d4lockAddAppend(b));
  gCalls.clear();
  EXPECT_EQ(kNotObtained, code4lock(&c4_));
  EXPECT_EQ(2, c4_.unlockAuto);
  EXPECT_EQ(5u, c4_.trans.locks.count);
  EXPECT_EQ(std::vector<long>{7}, heldRecords(a));
  EXPECT_TRUE(heldRecords(b).empty());
  EXPECT_EQ(0, d4lockTestAppend(b));
  EXPECT_EQ(0, other->dataFile->fileLockOwner);
  EXPECT_EQ(3, code4lockItem(&c4_));
  // Every byte the failed group took was given back.
  int held = 0;
  for (const LockCall &call : gCalls) held += call.op == 'L' ? 1 : -1;
  EXPECT_EQ(0, held);

  c4_.unlockAuto = 0;
  ASSERT_EQ(0, d4unlock(holder));
  ASSERT_EQ(0, code4lock(&c4_));
  EXPECT_EQ(0u, c4_.trans.locks.count);
  EXPECT_EQ((std::vector<long>{1, 7}), heldRecords(a));
  EXPECT_EQ(std::vector<long>{3}, heldRecords(b));
  EXPECT_EQ(1, d4lockTestAppend(b));
  EXPECT_EQ(other->handleId, other->dataFile->fileLockOwner);
}

TEST_F(LocksTest, GroupLockFailureReleasesWhatItTookAndKeepsTheError) {
  DATA4 *a = open(path_);
  ASSERT_NE(nullptr, a);
  ASSERT_EQ(0, d4lockAdd(a, 0));  // refused only when tried
  ASSERT_EQ(0, d4lockAdd(a, 2));
  ASSERT_EQ(0, d4lockAddAppend(a));
  EXPECT_EQ(-1, code4lock(&c4_));
  EXPECT_EQ(err::kParm, c4_.errorCode);
  EXPECT_TRUE(heldRecords(a).empty());
  EXPECT_EQ(0, a->dataFile->appendLockOwner);
  c4_.errorCode = 0;
}

TEST_F(LocksTest, AClosedHandleLeavesNoQueuedRequest) {
  DATA4 *a = open(path_);
  DATA4 *b = open(path_);
  ASSERT_NE(nullptr, b);
  ASSERT_EQ(0, d4lockAdd(a, 1));
  ASSERT_EQ(0, d4lockAdd(b, 2));
  ASSERT_EQ(0, d4close(a));
  EXPECT_EQ(1u, c4_.trans.locks.count);
  ASSERT_EQ(0, code4lock(&c4_));
  EXPECT_EQ(std::vector<long>{2}, heldRecords(b));
}

// ---------------------------------------------------------------------------
// Locks of another process

// The child opens the table with its own context, takes one lock, says 'h'
// and keeps it until it hears from the parent.
int holdInChild(const Child::Channel &channel, const std::string &path, int (*take)(DATA4 *)) {
  Context cx;
  DATA4 *data = d4open(&cx.c4, path.c_str());
  if (data == nullptr || take(data) != 0) return 1;
  channel.send('h');
  (void)channel.receive();
  return d4close(data) == 0 ? 0 : 2;
}

TEST_F(LocksTest, ALockOfAnotherProcessGivesFiftyAfterTheAttempts) {
  struct Case {
    const char *name;
    int (*childTakes)(DATA4 *);
    int (*parentAsks)(DATA4 *);
    long item;
  } cases[] = {
      {"record 1", [](DATA4 *d) { return d4lock(d, 1); }, [](DATA4 *d) { return d4lock(d, 1); }, 1},
      {"append", d4lockAppend, d4lockAppend, 0},
      {"file, asked for a record", d4lockFile, [](DATA4 *d) { return d4lock(d, 4); }, 4},
      {"record, asked for the file", [](DATA4 *d) { return d4lock(d, 9); }, d4lockFile, -1},
      {"append, asked for the file", d4lockAppend, d4lockFile, -1},
  };
  DATA4 *data = open(path_);
  ASSERT_NE(nullptr, data);
  c4_.lockAttempts = 3;
  c4_.lockRetryDelay = 1;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = path_;
    auto take = c.childTakes;
    Child child([path, take](const Child::Channel &channel) { return holdInChild(channel, path, take); });
    ASSERT_EQ('h', child.receive());
    gWaits.clear();
    c4_.lockedItem = 12345;
    c4_.lockedFileName = "stale";
    EXPECT_EQ(kNotObtained, c.parentAsks(data));
    EXPECT_EQ((std::vector<unsigned>{10, 10}), gWaits);  // three tries, a hundredth apart
    EXPECT_EQ(c.item, code4lockItem(&c4_));
    EXPECT_EQ(nullptr, code4lockFileName(&c4_));
    EXPECT_EQ(0, data->dataFile->fileLockOwner);
    EXPECT_EQ(0, data->dataFile->appendLockOwner);
    EXPECT_EQ(0, data->dataFile->recordLockCount);
    child.send('r');
    EXPECT_EQ(0, child.wait());
    EXPECT_EQ(0, c.parentAsks(data));
    ASSERT_EQ(0, d4unlock(data));
  }
  EXPECT_TRUE(shownMessages().empty());
}

TEST_F(LocksTest, TheAppendLockOfAnotherProcessLeavesRecordLocksAlone) {
  const std::string path = path_;
  Child child([path](const Child::Channel &channel) { return holdInChild(channel, path, d4lockAppend); });
  ASSERT_EQ('h', child.receive());
  DATA4 *data = open(path_);
  ASSERT_NE(nullptr, data);
  c4_.lockAttempts = 1;
  EXPECT_EQ(0, d4lock(data, 1));
  EXPECT_EQ(0, d4lock(data, 10));
  child.send('r');
  EXPECT_EQ(0, child.wait());
}

// ---------------------------------------------------------------------------
// Lock enforcement uses the record locks

TEST_F(LocksTest, LockEnforcementAsksForTheCurrentRecordsLock) {
  DATA4 *a = open(path_);
  ASSERT_NE(nullptr, a);
  c4_.lockEnforce = 1;
  a->recNum = 4;
  FIELD4 *name = d4field(a, "NAME");
  ASSERT_NE(nullptr, name);
  EXPECT_EQ(err::kLock, f4assign(name, "refused"));
  c4_.errorCode = 0;
  ASSERT_EQ(0, d4lock(a, 4));
  EXPECT_EQ(0, f4assign(name, "allowed"));
  ASSERT_EQ(0, d4unlockRecord(a, 4));
  a->recordChanged = 0;
  ASSERT_EQ(0, d4lockFile(a));
  EXPECT_EQ(0, f4assign(name, "allowed"));
  a->recordChanged = 0;
}

}  // namespace
}  // namespace tablekit
