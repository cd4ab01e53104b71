// Write gathering of exclusively opened files: which writes join the run and
// which write it out first (and so the order in which bytes reach the disk),
// the full run, which files gather, every operation that must see the run,
// the length, failed write-outs at each place that triggers one, a failure
// at every write of a table-like load, and the background workers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "file/file_layer.h"
#include "file/test_support.h"
#include "file/write_gather.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit::file {
namespace {

using testing::Context;
using testing::hasLines;
using testing::readWhole;
using testing::TempDir;
using testing::writeWhole;

// Every write the platform table saw, and the one to fail: the failAt-th
// call writes half of its bytes and then fails with ENOSPC.
struct WriteLog {
  std::vector<std::pair<std::uint64_t, std::size_t>> calls;
  int failAt = 0;  // 0: none fails
  bool fired = false;
  std::thread::id caller = std::this_thread::get_id();  // the test's own thread
  int byOthers = 0;                                      // calls made on another thread
  bool holdOthers = false;  // calls on another thread wait while this is set
  int othersHeld = 0;       // calls waiting so far
};

WriteLog &writeLog() {
  static WriteLog log;
  return log;
}

// The write worker writes too: calls are logged one at a time, and read
// under the same lock while the worker may be writing.
std::mutex &logLock() {
  static std::mutex lock;
  return lock;
}
std::condition_variable &logChanged() {
  static std::condition_variable changed;
  return changed;
}

WriteLog loggedSoFar() {
  std::lock_guard<std::mutex> guard(logLock());
  return writeLog();
}

int loggingWriteAt(int fd, std::uint64_t pos, const void *data, std::size_t len, std::size_t *done) {
  std::unique_lock<std::mutex> guard(logLock());
  WriteLog &log = writeLog();
  log.calls.emplace_back(pos, len);
  if (std::this_thread::get_id() != log.caller) {
    ++log.byOthers;
    ++log.othersHeld;
    logChanged().notify_all();
    logChanged().wait(guard, [&] { return !log.holdOthers; });
  }
  const auto &posix = platform::posixFileMethods();
  if (log.failAt == static_cast<int>(log.calls.size())) {
    log.fired = true;
    (void)posix.writeAt(fd, pos, data, len / 2, done);
    return ENOSPC;
  }
  return posix.writeAt(fd, pos, data, len, done);
}

using Calls = std::vector<std::pair<std::uint64_t, std::size_t>>;

// What the file must hold: the bytes of each write laid over the ones before.
void lay(std::string &image, std::uint64_t pos, const std::string &bytes) {
  if (image.size() < pos + bytes.size()) image.resize(pos + bytes.size(), '\0');
  image.replace(pos, bytes.size(), bytes);
}

// n bytes that differ from those of any other (seed, n).
std::string pattern(int seed, std::size_t n) {
  std::string out(n, '\0');
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>('A' + (seed * 7 + i) % 26);
  return out;
}

class WriteGatherTest : public ::testing::Test {
 protected:
  explicit WriteGatherTest(bool light = true) : cx_(light) {}

  void SetUp() override {
    writeLog() = WriteLog{};
    platform::methods().file.writeAt = loggingWriteAt;
    c4_.accessMode = 1;
    c4_.optimizeWrite = 1;
    c4_.safety = 0;  // tests create their files again and again
  }
  void TearDown() override {
    writeLog().failAt = 0;
    file4close(&file_);
    file4close(&other_);
  }

  // Creates the file (exclusive unless the context says otherwise) and
  // forgets the writes so far.
  void create(FILE4 &file, const std::string &name) {
    ASSERT_EQ(0, file4create(&file, &c4_, (dir_ / name).c_str(), 1));
    writeLog().calls.clear();
  }

  // file4write of bytes at pos, laid over image as well.
  int write(FILE4 &file, std::uint64_t pos, const std::string &bytes, std::string &image) {
    const int rc = file4write(&file, static_cast<long>(pos), bytes.data(), static_cast<unsigned>(bytes.size()));
    if (rc == 0) lay(image, pos, bytes);
    return rc;
  }

  std::string path(const std::string &name) const { return dir_ / name; }

  TempDir dir_;
  Context cx_;
  CODE4 &c4_ = cx_.c4;
  FILE4 file_{};
  FILE4 other_{};
};

// ---------------------------------------------------------------------------
// Which writes join the run

TEST_F(WriteGatherTest, AdjoiningWritesReachTheDiskInOneWrite) {
  create(file_, "T.DBF");
  std::string image;
  for (int i = 0; i < 100; ++i) ASSERT_EQ(0, write(file_, i * 10u, pattern(i, 10), image));
  EXPECT_TRUE(writeLog().calls.empty());
  EXPECT_EQ("", readWhole(path("T.DBF")));
  EXPECT_EQ(0, file4close(&file_));
  EXPECT_EQ((Calls{{0, 1000}}), writeLog().calls);
  EXPECT_EQ(image, readWhole(path("T.DBF")));
}

// An append writes the record and the end-of-file byte; the next append
// starts on that byte.
TEST_F(WriteGatherTest, AppendsThatOverwriteTheEndOfFileByteJoinTheRun) {
  create(file_, "T.DBF");
  constexpr unsigned kHeader = 33, kWidth = 20;
  std::string image;
  ASSERT_EQ(0, write(file_, 0, pattern(0, kHeader) + "\x1A", image));
  for (unsigned r = 1; r <= 50; ++r)
    ASSERT_EQ(0, write(file_, kHeader + (r - 1) * kWidth, pattern(r, kWidth) + "\x1A", image));
  EXPECT_TRUE(writeLog().calls.empty());
  EXPECT_EQ(0, file4close(&file_));
  EXPECT_EQ((Calls{{0, kHeader + 50 * kWidth + 1}}), writeLog().calls);
  EXPECT_EQ(image, readWhole(path("T.DBF")));
}

TEST_F(WriteGatherTest, AnyOtherWriteFindsTheRunOnDisk) {
  struct Case {
    const char *name;
    std::uint64_t pos;
    std::string bytes;
    Calls atWrite;  // the writes the disk saw once file4write returned
    Calls atClose;  // and once the file was closed
  } const cases[] = {
      // The run is [100, 160) on a file of 100 bytes.
      {"inside the run, ending before its end", 104, "CNT!", {{100, 60}}, {{100, 60}, {104, 4}}},
      {"before the run", 10, "head", {{100, 60}}, {{100, 60}, {10, 4}}},
      {"beyond its end: leaves a gap", 200, "far", {{100, 60}, {200, 3}}, {{100, 60}, {200, 3}}},
      {"at its end", 160, "next", {}, {{100, 64}}},
      {"inside, reaching past its end", 150, pattern(9, 20), {}, {{100, 70}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    writeWhole(path("T.DBF"), pattern(0, 100));
    ASSERT_EQ(0, file4open(&file_, &c4_, path("T.DBF").c_str(), 1));
    std::string image = pattern(0, 100);
    ASSERT_EQ(0, write(file_, 100, pattern(1, 30), image));
    ASSERT_EQ(0, write(file_, 130, pattern(2, 30), image));
    writeLog().calls.clear();
    ASSERT_EQ(0, write(file_, c.pos, c.bytes, image));
    EXPECT_EQ(c.atWrite, writeLog().calls);
    EXPECT_EQ(0, file4close(&file_));
    EXPECT_EQ(c.atClose, writeLog().calls);
    EXPECT_EQ(image, readWhole(path("T.DBF")));
  }
}

TEST_F(WriteGatherTest, AFullRunIsWrittenOutAndALongWriteGoesStraightToDisk) {
  create(file_, "T.DBF");
  constexpr unsigned kChunk = 1000;
  constexpr unsigned kFit = gather::kMaxRun / kChunk;  // blocks in one run
  std::string image;
  for (unsigned i = 0; i < kFit; ++i) ASSERT_EQ(0, write(file_, i * kChunk, pattern(i, kChunk), image));
  EXPECT_TRUE(writeLog().calls.empty());
  ASSERT_EQ(0, write(file_, kFit * kChunk, pattern(-1, kChunk), image));
  EXPECT_EQ((Calls{{0, kFit * kChunk}}), writeLog().calls);

  const std::string whole = pattern(-2, gather::kMaxRun);
  ASSERT_EQ(0, write(file_, (kFit + 1) * kChunk, whole, image));
  EXPECT_EQ((Calls{{0, kFit * kChunk}, {kFit * kChunk, kChunk}, {(kFit + 1) * kChunk, gather::kMaxRun}}),
            writeLog().calls);
  EXPECT_EQ(0, file4close(&file_));
  EXPECT_EQ(image, readWhole(path("T.DBF")));
}

// ---------------------------------------------------------------------------
// Which files gather

TEST_F(WriteGatherTest, OnlyExclusiveFilesGatherAndOnlyWhenOptimizeWriteIsOne) {
  struct Case {
    const char *name;
    char accessMode;
    int optimizeWrite;
    bool gathers;
  } const cases[] = {
      {"exclusive, optimizeWrite 1", 1, 1, true},
      {"exclusive, optimizeWrite -1 (the default)", 1, -1, false},
      {"exclusive, optimizeWrite 0", 1, 0, false},
      {"shared (0)", 0, 1, false},
      {"others may read (2)", 2, 1, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    c4_.accessMode = c.accessMode;
    c4_.optimizeWrite = c.optimizeWrite;
    create(file_, "T.DBF");
    std::string image;
    ASSERT_EQ(0, write(file_, 0, "abc", image));
    ASSERT_EQ(0, write(file_, 3, "def", image));
    EXPECT_EQ(c.gathers ? "" : "abcdef", readWhole(path("T.DBF")));
    EXPECT_EQ(0, file4close(&file_));
    EXPECT_EQ("abcdef", readWhole(path("T.DBF")));
  }
}

TEST_F(WriteGatherTest, TurningOptimizeWriteOffWritesTheRunOutAtTheNextWrite) {
  create(file_, "T.DBF");
  std::string image;
  ASSERT_EQ(0, write(file_, 0, "abc", image));
  c4_.optimizeWrite = 0;
  ASSERT_EQ(0, write(file_, 3, "def", image));
  EXPECT_EQ((Calls{{0, 3}, {3, 3}}), writeLog().calls);
  EXPECT_EQ("abcdef", readWhole(path("T.DBF")));
}

// ---------------------------------------------------------------------------
// Operations that see the run

TEST_F(WriteGatherTest, EveryOperationThatLooksAtTheFileFindsTheRunOnDisk) {
  char buf[64];
  FILE4SEQ_READ reader{};
  const std::string data = pattern(5, 40);
  struct Case {
    const char *name;
    std::function<int(FILE4 &)> operation;  // 0 when it went well
    std::string disk;                       // the file afterwards
  } const cases[] = {
      {"file4read", [&](FILE4 &f) { return file4read(&f, 30, buf, 20) == 10 ? 0 : 1; }, data},
      {"file4readAll", [&](FILE4 &f) { return file4readAll(&f, 0, buf, 40); }, data},
      {"file4lenSetLow, longer", [&](FILE4 &f) { return file4lenSetLow(&f, 50); }, data + std::string(10, '\0')},
      {"file4lenSetLow, shorter", [&](FILE4 &f) { return file4lenSetLow(&f, 25); }, data.substr(0, 25)},
      {"file4flush", [&](FILE4 &f) { return file4flush(&f); }, data},
      {"file4refresh", [&](FILE4 &f) { return file4refresh(&f); }, data},
      {"file4lockInternal", [&](FILE4 &f) { return file4lockInternal(&f, 0x40000000, 0, 1, 0); }, data},
      {"file4unlockInternal", [&](FILE4 &f) { return file4unlockInternal(&f, 0x40000000, 0, 1, 0); }, data},
      {"file4seqReadInit", [&](FILE4 &f) { return file4seqReadInit(&reader, &f, 0, buf, sizeof buf); }, data},
      {"file4writeDelay", [&](FILE4 &f) { return file4writeDelay(&f, 100, "zz", 2, nullptr, nullptr); },
       data + std::string(60, '\0') + "zz"},
      {"file4advanceRead", [&](FILE4 &f) { return file4advanceRead(&f, 20, buf, 20, nullptr, nullptr); }, data},
      {"file4close", [&](FILE4 &f) { return file4close(&f); }, data},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    create(file_, "T.DBF");
    std::string image;
    ASSERT_EQ(0, write(file_, 0, data.substr(0, 25), image));
    ASSERT_EQ(0, write(file_, 25, data.substr(25), image));
    ASSERT_EQ("", readWhole(path("T.DBF")));
    EXPECT_EQ(0, c.operation(file_));
    EXPECT_EQ(c.disk, readWhole(path("T.DBF")));
    EXPECT_EQ(0, c4_.errorCode);
    file4close(&file_);
  }
}

TEST_F(WriteGatherTest, ReadsReturnTheGatheredBytes) {
  writeWhole(path("T.DBF"), "0123456789");
  ASSERT_EQ(0, file4open(&file_, &c4_, path("T.DBF").c_str(), 1));
  std::string image = "0123456789";
  ASSERT_EQ(0, write(file_, 10, "abcdef", image));
  char buf[32] = {};

  // Bytes before the run are the disk's own: the run stays.
  ASSERT_EQ(5u, file4read(&file_, 2, buf, 5));
  EXPECT_EQ("23456", std::string(buf, 5));
  EXPECT_TRUE(writeLog().calls.empty());

  ASSERT_EQ(8u, file4read(&file_, 8, buf, 20));
  EXPECT_EQ("89abcdef", std::string(buf, 8));
  EXPECT_EQ((Calls{{10, 6}}), writeLog().calls);
}

TEST_F(WriteGatherTest, ReplaceTakesTheGatheredContentsOfBothFiles) {
  for (char accessMode : {1, 0}) {
    SCOPED_TRACE(static_cast<int>(accessMode));
    c4_.accessMode = accessMode;
    create(file_, "KEEP.DBF");
    c4_.accessMode = 1;
    create(other_, "FROM.TMP");
    std::string keep, from;
    ASSERT_EQ(0, write(file_, 0, "old contents", keep));
    ASSERT_EQ(0, write(other_, 0, "new", from));
    ASSERT_EQ(0, write(other_, 3, " contents", from));
    ASSERT_EQ(0, file4replace(&file_, &other_));
    EXPECT_EQ(0, file4close(&file_));
    EXPECT_EQ("new contents", readWhole(path("KEEP.DBF")));
  }
}

TEST_F(WriteGatherTest, LengthCountsTheRunWithoutWritingIt) {
  writeWhole(path("T.DBF"), pattern(0, 100));
  ASSERT_EQ(0, file4open(&file_, &c4_, path("T.DBF").c_str(), 1));
  std::string image = pattern(0, 100);
  EXPECT_EQ(100u, file4lenLow(&file_));
  ASSERT_EQ(0, write(file_, 90, pattern(1, 30), image));  // reaches past the end
  EXPECT_EQ(120u, file4lenLow(&file_));
  ASSERT_EQ(0, write(file_, 120, pattern(2, 5), image));
  EXPECT_EQ(125u, file4lenLow(&file_));
  EXPECT_TRUE(writeLog().calls.empty());
  EXPECT_EQ(100u, readWhole(path("T.DBF")).size());
}

std::string &temporaryDirectory() {
  static std::string dir;
  return dir;
}

TEST_F(WriteGatherTest, ATemporaryFileDeletedAtCloseDropsItsRun) {
  temporaryDirectory() = dir_.path();
  platform::methods().getEnv = [](const char *name) {
    return std::string(name) == "TEMP" ? temporaryDirectory().c_str() : nullptr;
  };
  ASSERT_EQ(0, file4tempLow(&file_, &c4_, 1, 1, nullptr));
  ASSERT_EQ(0, std::string(file_.name).rfind(dir_.path(), 0));
  writeLog().calls.clear();
  const std::string name = file_.name;
  std::string image;
  ASSERT_EQ(0, write(file_, 0, "spool", image));
  EXPECT_EQ(0, file4close(&file_));
  EXPECT_TRUE(writeLog().calls.empty());
  EXPECT_NE(0, file4exists(name.c_str()));
}

// ---------------------------------------------------------------------------
// Failed write-outs

TEST_F(WriteGatherTest, AFailedWriteOutIsReportedByTheOperationThatNeededIt) {
  char buf[8];
  struct Case {
    const char *name;
    std::function<int(FILE4 &)> operation;
    int result;
  } const cases[] = {
      {"a write elsewhere", [](FILE4 &f) { return file4write(&f, 4, "CNT!", 4); }, err::kWrite},
      {"a read of the run", [&](FILE4 &f) { return static_cast<int>(file4read(&f, 20, buf, 8)); }, 0},
      {"file4readAll", [&](FILE4 &f) { return file4readAll(&f, 20, buf, 8); }, err::kWrite},
      {"file4lenSetLow", [](FILE4 &f) { return file4lenSetLow(&f, 10); }, err::kWrite},
      {"file4flush", [](FILE4 &f) { return file4flush(&f); }, err::kWrite},
      {"file4lockInternal", [](FILE4 &f) { return file4lockInternal(&f, 0x40000000, 0, 1, 0); }, err::kWrite},
      {"file4writeDelay", [](FILE4 &f) { return file4writeDelay(&f, 200, "x", 1, nullptr, nullptr); }, err::kWrite},
      {"file4close", [](FILE4 &f) { return file4close(&f); }, -1},
  };
  const std::string data = pattern(3, 100);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    create(file_, "T.DBF");
    c4_.errorCode = 0;
    testing::shownMessages().clear();
    std::string image;
    ASSERT_EQ(0, write(file_, 0, data.substr(0, 50), image));
    ASSERT_EQ(0, write(file_, 50, data.substr(50), image));
    writeLog().failAt = 1;
    EXPECT_EQ(c.result, c.operation(file_));
    writeLog().failAt = 0;
    EXPECT_EQ(err::kWrite, c4_.errorCode);
    EXPECT_EQ(1u, testing::shownMessages().size());
    EXPECT_TRUE(hasLines(Context::lastMessage(), {"Writing to File", "file4write", path("T.DBF")}));
    // What reached the disk is all there is: the first half of the run.
    EXPECT_EQ(data.substr(0, 50), readWhole(path("T.DBF")));
    c4_.errorCode = 0;
    if (file4openTest(&file_)) {
      EXPECT_EQ(50u, file4lenLow(&file_));
      EXPECT_EQ(0, file4close(&file_));
      EXPECT_EQ(data.substr(0, 50), readWhole(path("T.DBF")));
    }
    writeLog().calls.clear();
  }
}

// A table-like load: a header that counts the records, records appended with
// their end-of-file byte, the count rewritten now and then, runs filled past
// their limit. Whichever write fails, the failure is reported once, and the
// file holds a prefix of the records with a count that covers no record that
// is not complete on disk.
TEST_F(WriteGatherTest, AFailureAtAnyWriteLeavesAPrefixUnderACountThatHolds) {
  constexpr unsigned kHeader = 32, kWidth = 3000, kRecords = 420, kCountEvery = 100;
  auto header = [](unsigned count) {
    std::string h = pattern(0, kHeader);
    for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<char>((count >> (8 * i)) & 0xFF);
    return h;
  };
  auto record = [](unsigned r) { return pattern(static_cast<int>(r), kWidth); };
  std::string full = header(kRecords);
  for (unsigned r = 1; r <= kRecords; ++r) full += record(r);
  full += '\x1A';

  for (int n = 1;; ++n) {
    SCOPED_TRACE(n);
    writeLog() = WriteLog{};
    writeLog().failAt = n;
    c4_.errorCode = 0;
    testing::shownMessages().clear();
    ASSERT_EQ(0, file4create(&file_, &c4_, path("T.DBF").c_str(), 1));

    std::vector<int> results;
    std::string image;
    results.push_back(write(file_, 0, header(0) + "\x1A", image));
    for (unsigned r = 1; r <= kRecords; ++r) {
      results.push_back(write(file_, kHeader + (r - 1) * kWidth, record(r) + "\x1A", image));
      if (r % kCountEvery == 0) results.push_back(write(file_, 4, header(r).substr(4, 4), image));
    }
    results.push_back(write(file_, 4, header(kRecords).substr(4, 4), image));
    results.push_back(file4close(&file_));

    if (!writeLog().fired) {
      EXPECT_TRUE(std::all_of(results.begin(), results.end(), [](int rc) { return rc == 0; }));
      EXPECT_EQ(full, readWhole(path("T.DBF")));
      EXPECT_LE(writeLog().calls.size(), 20u);
      break;
    }
    // The first failure is the report; everything after it refused to work.
    const auto failed = std::find_if(results.begin(), results.end(), [](int rc) { return rc != 0; });
    ASSERT_NE(results.end(), failed);
    EXPECT_EQ(failed == results.end() - 1 ? -1 : err::kWrite, *failed);
    EXPECT_TRUE(std::all_of(failed + 1, results.end(), [](int rc) { return rc == -1; }));
    EXPECT_EQ(err::kWrite, c4_.errorCode);
    EXPECT_EQ(1u, testing::shownMessages().size());

    const std::string disk = readWhole(path("T.DBF"));
    ASSERT_LE(disk.size(), full.size());
    unsigned count = 0;
    for (int i = 0; i < 4 && disk.size() >= 8; ++i) count |= static_cast<unsigned>(static_cast<unsigned char>(disk[4 + i])) << (8 * i);
    SCOPED_TRACE(count);
    // The records the count covers are all there.
    ASSERT_LE(kHeader + count * kWidth, disk.size());
    EXPECT_EQ(full.substr(kHeader, count * kWidth), disk.substr(kHeader, count * kWidth));
    // Every byte past the header is the load's own, but for an end-of-file
    // byte where a later record had yet to start.
    for (std::size_t i = kHeader; i < disk.size(); ++i) {
      if (disk[i] != full[i]) {
        ASSERT_EQ('\x1A', disk[i]) << i;
        ASSERT_EQ(0u, (i - kHeader) % kWidth) << i;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// With the background workers

class WriteGatherWorkersTest : public WriteGatherTest {
 protected:
  WriteGatherWorkersTest() : WriteGatherTest(false) {}
};

TEST_F(WriteGatherWorkersTest, DelayedWritesAndAdvanceReadsKeepTheCallersOrder) {
  create(file_, "T.DBF");
  std::string image;
  ASSERT_EQ(0, write(file_, 0, pattern(1, 100), image));

  // A delayed write over gathered bytes lands after them.
  const std::string delayed = "DELAYED";
  ASSERT_GE(file4writeDelay(&file_, 50, delayed.data(), static_cast<unsigned>(delayed.size()), nullptr, nullptr), 0);
  waitDelayedWrite(file_, delayed.data());  // on disk now, and the run was before it
  lay(image, 50, delayed);
  // A gathered write over a queued delayed write lands after it.
  const std::string queued = "QUEUED";
  ASSERT_GE(file4writeDelay(&file_, 200, queued.data(), static_cast<unsigned>(queued.size()), nullptr, nullptr), 0);
  lay(image, 200, queued);
  ASSERT_EQ(0, write(file_, 150, pattern(2, 53), image));
  ASSERT_EQ(0, write(file_, 203, pattern(3, 20), image));

  // An advance read of gathered bytes reads them.
  char buf[40] = {};
  struct Done {
    int result = -1;
  } done;
  ASSERT_EQ(0, file4advanceRead(&file_, 190, buf, sizeof buf, [](IOREQ4 *r) {
    static_cast<Done *>(r->completionArg)->result = r->result;
  }, &done));
  waitAdvanceRead(file_, buf);
  ASSERT_EQ(33, done.result);
  EXPECT_EQ(image.substr(190, 33), std::string(buf, 33));

  EXPECT_EQ(0, file4close(&file_));
  EXPECT_EQ(image, readWhole(path("T.DBF")));
}

// Write-behind: a full run goes to the write worker while appends go on
// into another buffer. Here the worker's write is held up: the caller goes
// on meanwhile, and the length and reads count the bytes the worker holds.
// At close the file holds every byte in the caller's order, also where a
// new run overwrites the last byte of the run before (a table's end-of-file
// byte).
TEST_F(WriteGatherWorkersTest, FullRunsAreWrittenBehindInTheCallersOrder) {
  create(file_, "T.DBF");
  constexpr unsigned kWidth = 3001;  // record plus end-of-file byte; the next record starts on that byte
  constexpr unsigned kRecords = 4 * gather::kMaxRun / (kWidth - 1);
  std::string image;
  const auto append = [&](unsigned i) {
    std::string record = pattern(static_cast<int>(i) + 1, kWidth);
    record.back() = '\x1A';
    return write(file_, 32 + std::uint64_t{i} * (kWidth - 1), record, image);
  };
  ASSERT_EQ(0, write(file_, 0, pattern(0, 32), image));
  {
    std::lock_guard<std::mutex> guard(logLock());
    writeLog().holdOthers = true;
  }
  unsigned i = 0;
  for (; 32 + i * (kWidth - 1) < gather::kMaxRun + gather::kMaxRun / 2; ++i) ASSERT_EQ(0, append(i));
  {
    std::unique_lock<std::mutex> guard(logLock());
    // (A bound, so that a caller that wrote the run itself fails the test
    // instead of hanging it.)
    ASSERT_TRUE(logChanged().wait_for(guard, std::chrono::seconds(30), [] { return writeLog().othersHeld == 1; }));
    EXPECT_EQ(1u, writeLog().calls.size());  // the first run, by the worker only
    EXPECT_GE(writeLog().calls[0].second, gather::kMaxRun - kWidth);
  }
  EXPECT_EQ(image.size(), file4lenLow(&file_));
  const std::size_t firstRun = loggedSoFar().calls[0].second;
  std::string back(firstRun, '\0');  // all in the held-up write
  ASSERT_EQ(back.size(), file4read(&file_, 0, back.data(), static_cast<unsigned>(back.size())));
  EXPECT_EQ(image.substr(0, back.size()), back);
  {
    std::lock_guard<std::mutex> guard(logLock());
    writeLog().holdOthers = false;
  }
  logChanged().notify_all();

  for (; i < kRecords; ++i) {
    ASSERT_EQ(0, append(i));
    ASSERT_EQ(image.size(), file4lenLow(&file_)) << i;
  }
  EXPECT_EQ(0, file4close(&file_));
  EXPECT_EQ(image, readWhole(path("T.DBF")));
}

// A run the worker fails to write is reported, once, by the close.
TEST_F(WriteGatherWorkersTest, AFailedWriteBehindIsReportedByTheClose) {
  create(file_, "T.DBF");
  constexpr unsigned kChunk = 1000;
  std::string image;
  writeLog().failAt = 1;
  for (unsigned i = 0; i < 2 * gather::kMaxRun / kChunk; ++i)
    ASSERT_EQ(0, write(file_, std::uint64_t{i} * kChunk, pattern(static_cast<int>(i), kChunk), image));
  EXPECT_EQ(-1, file4close(&file_));
  writeLog().failAt = 0;
  EXPECT_TRUE(writeLog().fired);
  EXPECT_EQ(err::kWrite, c4_.errorCode);
  EXPECT_EQ(1u, testing::shownMessages().size());
  // Written by the worker or, when the close came first, by the close itself.
  const std::string &message = Context::lastMessage();
  EXPECT_TRUE(hasLines(message, {"Writing to File"}) && message.find(path("T.DBF")) != std::string::npos) << message;
}

}  // namespace
}  // namespace tablekit::file
