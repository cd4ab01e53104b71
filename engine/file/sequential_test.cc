// Sequential reader and writer: the transfers they make (sizes, 1024-byte
// alignment, which thread performs them), double buffering with read-ahead
// and write-behind, the ends of files and of small buffers, requests that a
// write completes or abandons, and the errors. Every test runs with a light
// context (requests performed at once) and with the background workers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "file/test_support.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit::file {
namespace {

using testing::Context;
using testing::hasLines;
using testing::readWhole;
using testing::TempDir;
using testing::writeWhole;

// One read or write of the watched file as the platform table saw it.
struct Transfer {
  std::uint64_t pos;
  std::size_t len;
  bool background;  // performed on a thread other than the test's
};

// Who is expected to perform a transfer.
enum class By {
  kCaller,  // the test's thread
  kWorker,  // a background worker when the context has them, else the caller
  kEither,  // not determined (a write the flush may perform itself)
};

struct Expected {
  std::uint64_t pos;
  std::size_t len;
  By by;
};

// `count` transfers of len bytes each, the first at pos.
std::vector<Expected> run(std::uint64_t pos, std::size_t len, int count, By by) {
  std::vector<Expected> out;
  for (int i = 0; i < count; ++i) out.push_back({pos + i * len, len, by});
  return out;
}

std::vector<Expected> operator+(std::vector<Expected> a, const std::vector<Expected> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Watches the transfers of one file through the platform table's readAt and
// writeAt entries, can make the watched file's writes fail, and can park a
// worker inside a transfer of another file (the blocker) so that requests
// queued behind it stay queued until the test releases it. The hooks are
// plain functions, so the state is static; a Monitor object installs them
// and resets the state.
class Monitor {
 public:
  Monitor() {
    std::lock_guard<std::mutex> guard(mutex_);
    watched_ = parkFd_ = -1;
    parked_ = false;
    failWrites_ = 0;
    reads_.clear();
    writes_.clear();
    caller_ = std::this_thread::get_id();
    platform::methods().file.readAt = readAt;
    platform::methods().file.writeAt = writeAt;
  }
  ~Monitor() { release(); }  // the context restores the table
  Monitor(const Monitor &) = delete;
  Monitor &operator=(const Monitor &) = delete;

  static void watch(int fd) {
    std::lock_guard<std::mutex> guard(mutex_);
    watched_ = fd;
    reads_.clear();
    writes_.clear();
  }
  static void failWrites(int sysError) {
    std::lock_guard<std::mutex> guard(mutex_);
    failWrites_ = sysError;
  }
  static std::vector<Transfer> reads() { return sorted(reads_); }
  static std::vector<Transfer> writes() { return sorted(writes_); }

  // The next transfer of fd waits inside the platform call until release().
  static void park(int fd) {
    std::lock_guard<std::mutex> guard(mutex_);
    parkFd_ = fd;
    parked_ = false;
  }
  static void waitParked() {
    std::unique_lock<std::mutex> guard(mutex_);
    changed_.wait(guard, [] { return parked_; });
  }
  static void release() {
    std::lock_guard<std::mutex> guard(mutex_);
    parkFd_ = -1;
    changed_.notify_all();
  }

 private:
  static std::vector<Transfer> sorted(const std::vector<Transfer> &list) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<Transfer> out = list;
    std::sort(out.begin(), out.end(), [](const Transfer &a, const Transfer &b) { return a.pos < b.pos; });
    return out;
  }

  // Parks a transfer of the blocker; records one of the watched file. Lock held.
  static void pass(std::unique_lock<std::mutex> &guard, int fd) {
    if (fd != parkFd_) return;
    parked_ = true;
    changed_.notify_all();
    changed_.wait(guard, [fd] { return parkFd_ != fd; });
  }
  static void record(std::vector<Transfer> &list, int fd, std::uint64_t pos, std::size_t len) {
    if (fd == watched_) list.push_back({pos, len, std::this_thread::get_id() != caller_});
  }

  static int readAt(int fd, std::uint64_t pos, void *buf, std::size_t len, std::size_t *done) {
    {
      std::unique_lock<std::mutex> guard(mutex_);
      pass(guard, fd);
      record(reads_, fd, pos, len);
    }
    return platform::posixFileMethods().readAt(fd, pos, buf, len, done);
  }
  static int writeAt(int fd, std::uint64_t pos, const void *data, std::size_t len, std::size_t *done) {
    {
      std::unique_lock<std::mutex> guard(mutex_);
      pass(guard, fd);
      record(writes_, fd, pos, len);
      if (fd == watched_ && failWrites_ != 0) {
        *done = 0;
        return failWrites_;
      }
    }
    return platform::posixFileMethods().writeAt(fd, pos, data, len, done);
  }

  static inline std::mutex mutex_;
  static inline std::condition_variable changed_;
  static inline int watched_ = -1;
  static inline int parkFd_ = -1;
  static inline bool parked_ = false;
  static inline int failWrites_ = 0;
  static inline std::thread::id caller_;
  static inline std::vector<Transfer> reads_, writes_;
};

// Bytes that differ from one kilobyte to the next, so that a block read or
// written at the wrong place shows.
std::string pattern(std::size_t n, unsigned seed = 1) {
  std::string out(n, '\0');
  std::uint32_t x = 2463534242u ^ seed;
  for (char &ch : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    ch = static_cast<char>(x);
  }
  return out;
}

enum class Mode { kLight, kWorkers };

class SequentialTest : public ::testing::TestWithParam<Mode> {
 protected:
  SequentialTest() : cx_(GetParam() == Mode::kLight) {}

  void TearDown() override {
    Monitor::release();
    file4close(&blocker_);
    file4close(&file_);
  }

  bool workers() const { return GetParam() == Mode::kWorkers; }

  // The file under test with these contents, open and watched.
  void openWith(const std::string &contents) {
    writeWhole(path_, contents);
    ASSERT_EQ(0, file4open(&file_, &c4_, path_.c_str(), 0));
    Monitor::watch(file_.handle);
  }
  // The file under test, new and empty, open and watched.
  void create() {
    ASSERT_EQ(0, file4create(&file_, &c4_, path_.c_str(), 0));
    Monitor::watch(file_.handle);
  }

  // Parks the worker of the given kind inside a transfer of another file,
  // so that what is queued after it stays queued. Workers only.
  void parkWorker(bool writes) {
    const std::string path = dir_ / "BLOCKER.DAT";
    writeWhole(path, std::string(64, 'b'));
    ASSERT_EQ(0, file4open(&blocker_, &c4_, path.c_str(), 0));
    Monitor::park(blocker_.handle);
    if (writes)
      ASSERT_EQ(7, file4writeDelay(&blocker_, 0, blockerBytes_, sizeof blockerBytes_, nullptr, nullptr));
    else
      ASSERT_EQ(0, file4advanceRead(&blocker_, 0, blockerBytes_, sizeof blockerBytes_, nullptr, nullptr));
    Monitor::waitParked();
  }

  // The file holds contents (8192 bytes); reader_ reads it double-buffered
  // in halves of 2048 and has delivered the first half into got. The read
  // ahead of the second half waits in the queue behind the parked
  // advance-read worker. Workers only.
  void startWithReadAheadHeld(const std::string &contents, char *got) {
    openWith(contents);
    parkWorker(false);
    ASSERT_EQ(0, file4seqReadInitDo(&reader_, &file_, 0, readBuffer_, sizeof readBuffer_, 1));
    ASSERT_EQ(2048u, file4seqRead(&reader_, got, 2048));
  }

  // Compares transfers with what was expected of them.
  void expectTransfers(const std::vector<Expected> &expected, const std::vector<Transfer> &got) {
    ASSERT_EQ(expected.size(), got.size()) << describe(got);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE("transfer " + std::to_string(i) + " " + describe(got));
      EXPECT_EQ(expected[i].pos, got[i].pos);
      EXPECT_EQ(expected[i].len, got[i].len);
      if (expected[i].by != By::kEither) {
        EXPECT_EQ(expected[i].by == By::kWorker && workers(), got[i].background);
      }
    }
  }

  static std::string describe(const std::vector<Transfer> &list) {
    std::string out;
    for (const Transfer &t : list)
      out += "(" + std::to_string(t.pos) + "," + std::to_string(t.len) + (t.background ? ",bg) " : ") ");
    return out;
  }

  TempDir dir_;
  Context cx_;
  Monitor monitor_;
  CODE4 &c4_ = cx_.c4;
  FILE4 file_{};
  FILE4 blocker_{};
  char blockerBytes_[16] = {};
  char readBuffer_[4096] = {};
  FILE4SEQ_READ reader_{};
  const std::string path_ = dir_ / "SEQ.DAT";
};

// ---------------------------------------------------------------------------
// Reader

TEST_P(SequentialTest, ReaderTransfers) {
  struct Case {
    const char *name;
    unsigned fileLen;
    long start;
    unsigned bufferSize;  // 0: no buffer at all
    int doubleBuffer;
    unsigned chunk;       // bytes asked of each file4seqRead
    bool readsNothing;    // the reader delivers nothing at all
    std::vector<Expected> reads;
  } const cases[] = {
      {"at 1500 with 4096 unsplit: 3620 up to 5120, then 4096 at a time", 20000, 1500, 4096, 0, 500, false,
       std::vector<Expected>{{1500, 3620, By::kCaller}} + run(5120, 4096, 4, By::kCaller) +
           std::vector<Expected>{{20000, 4096, By::kCaller}}},
      {"double buffering asked with 2047 bytes: one buffer of 1024", 3000, 0, 2047, 1, 1000, false,
       run(0, 1024, 3, By::kCaller) + std::vector<Expected>{{3000, 1024, By::kCaller}}},
      {"a buffer below 1024 bytes reads nothing", 3000, 0, 1000, 0, 100, true, {}},
      {"double buffering asked with a buffer below 1024 bytes", 3000, 0, 1000, 1, 100, true, {}},
      {"double buffered exactly to the end: one more read ahead delivers 0", 6144, 0, 4096, 1, 1024, false,
       std::vector<Expected>{{0, 2048, By::kCaller}} + run(2048, 2048, 3, By::kWorker)},
      {"double buffered from 1500: the shortened first half reads no further ahead", 12000, 1500, 8192, 1, 500,
       false,
       {{1500, 3620, By::kCaller}, {5120, 4096, By::kCaller}, {9216, 4096, By::kWorker}, {12000, 4096, By::kCaller}}},
      {"unbuffered: every read goes to the file", 3000, 100, 0, 0, 1000, false,
       run(100, 1000, 3, By::kCaller) + std::vector<Expected>{{3000, 1000, By::kCaller}}},
      {"one read over many buffers", 10000, 0, 1024, 0, 10000, false,
       run(0, 1024, 10, By::kCaller) + std::vector<Expected>{{10000, 1024, By::kCaller}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string contents = pattern(c.fileLen);
    openWith(contents);
    std::vector<char> buffer(c.bufferSize);
    FILE4SEQ_READ reader;
    ASSERT_EQ(0, file4seqReadInitDo(&reader, &file_, c.start, c.bufferSize > 0 ? buffer.data() : nullptr,
                                    c.bufferSize, c.doubleBuffer));
    std::string delivered;
    std::vector<char> chunk(c.chunk);
    for (unsigned n; (n = file4seqRead(&reader, chunk.data(), c.chunk)) > 0;) delivered.append(chunk.data(), n);
    file4seqReadWait(&reader);
    EXPECT_EQ(c.readsNothing ? std::string() : contents.substr(static_cast<std::size_t>(c.start)), delivered);
    expectTransfers(c.reads, Monitor::reads());
    // At the end it stays at the end: nothing read ahead is delivered twice.
    EXPECT_EQ(0u, file4seqRead(&reader, chunk.data(), c.chunk));
    file4seqReadWait(&reader);
    EXPECT_EQ(0, c4_.errorCode);
    ASSERT_EQ(0, file4close(&file_));
  }
}

TEST_P(SequentialTest, ReadAllGivesExactlyWhatWasAskedOrReportsTheShortRead) {
  const std::string contents = pattern(3000);
  openWith(contents);
  char buffer[4096];
  FILE4SEQ_READ reader;
  ASSERT_EQ(0, file4seqReadInit(&reader, &file_, 0, buffer, sizeof buffer));
  char got[2000];
  ASSERT_EQ(0, file4seqReadAll(&reader, got, sizeof got));
  EXPECT_EQ(contents.substr(0, 2000), std::string(got, sizeof got));

  // 1000 bytes are left: the reader stands at the end of the file, 3000,
  // and would read 4096 next.
  EXPECT_EQ(err::kRead, file4seqReadAll(&reader, got, sizeof got));
  EXPECT_EQ(err::kRead, c4_.errorCode);
  const std::string where = std::string(15, ' ') + "3000" + " " + std::string(15, ' ') + "4096";
  EXPECT_TRUE(hasLines(Context::lastMessage(), {"Reading File", "file4readError", path_, where, "file4seqReadAll"}))
      << Context::lastMessage();

  // In the error state nothing more is read.
  const std::size_t transfers = Monitor::reads().size();
  EXPECT_EQ(-1, file4seqReadAll(&reader, got, 1));
  EXPECT_EQ(0u, file4seqRead(&reader, got, 1));
  EXPECT_EQ(transfers, Monitor::reads().size());
}

TEST_P(SequentialTest, ReadAheadAbandonedByAPartlyOverlappingWriteIsReadAgain) {
  if (!workers()) GTEST_SKIP() << "without workers a read ahead is done before anything can overlap it";
  const std::string contents = pattern(8192);
  std::vector<char> got(8192);
  ASSERT_NO_FATAL_FAILURE(startWithReadAheadHeld(contents, got.data()));

  // A write of 3000..4999 only partly covers the queued read: it is abandoned.
  const std::string written = pattern(2000, 7);
  ASSERT_EQ(0, file4write(&file_, 3000, written.data(), static_cast<unsigned>(written.size())));
  Monitor::release();

  ASSERT_EQ(6144u, file4seqRead(&reader_, got.data() + 2048, 6144));
  file4seqReadWait(&reader_);
  std::string expected = contents;
  expected.replace(3000, written.size(), written);
  EXPECT_EQ(expected, std::string(got.begin(), got.end()));
  // The abandoned half was read again, directly.
  expectTransfers(std::vector<Expected>{{0, 2048, By::kCaller}, {2048, 2048, By::kCaller}} +
                      run(4096, 2048, 3, By::kWorker),
                  Monitor::reads());
}

TEST_P(SequentialTest, ReadAheadCoveredByAWriteDeliversTheWrittenBytes) {
  if (!workers()) GTEST_SKIP() << "without workers a read ahead is done before anything can cover it";
  std::vector<char> got(8192);
  ASSERT_NO_FATAL_FAILURE(startWithReadAheadHeld(pattern(8192), got.data()));

  const std::string written = pattern(8192, 9);
  ASSERT_EQ(0, file4write(&file_, 0, written.data(), static_cast<unsigned>(written.size())));
  Monitor::release();

  ASSERT_EQ(6144u, file4seqRead(&reader_, got.data() + 2048, 6144));
  file4seqReadWait(&reader_);
  EXPECT_EQ(written.substr(2048), std::string(got.begin() + 2048, got.end()));
  // 2048..4095 came from the write, not from the disk.
  expectTransfers(std::vector<Expected>{{0, 2048, By::kCaller}} + run(4096, 2048, 3, By::kWorker), Monitor::reads());
}

TEST_P(SequentialTest, ReadWaitReturnsWhenClosingTheFileDroppedItsReadAhead) {
  if (!workers()) GTEST_SKIP() << "without workers nothing is ever left queued";
  char got[2048];
  ASSERT_NO_FATAL_FAILURE(startWithReadAheadHeld(pattern(8192), got));
  ASSERT_EQ(0, file4close(&file_));  // drops the queued read without completing it
  file4seqReadWait(&reader_);        // must not wait for it
  EXPECT_EQ(0u, file4seqRead(&reader_, got, sizeof got));
  Monitor::release();
  expectTransfers({{0, 2048, By::kCaller}}, Monitor::reads());  // the dropped read never ran
}

// ---------------------------------------------------------------------------
// Writer

TEST_P(SequentialTest, WriterTransfers) {
  struct Case {
    const char *name;
    long start;
    unsigned bufferSize;
    unsigned total;  // bytes written
    unsigned chunk;  // bytes per file4seqWrite
    std::vector<Expected> writes;
  } const cases[] = {
      {"a 1000-byte buffer has halves of 0: every write goes through", 0, 1000, 1000, 300,
       run(0, 300, 3, By::kCaller) + std::vector<Expected>{{900, 100, By::kCaller}}},
      {"4096 bytes from 0: halves of 2048", 0, 4096, 5000, 700,
       run(0, 2048, 2, By::kWorker) + std::vector<Expected>{{4096, 904, By::kEither}}},
      {"4096 bytes from 1500: the first half ends at 3072", 1500, 4096, 5000, 700,
       {{1500, 1572, By::kWorker}, {3072, 2048, By::kWorker}, {5120, 1380, By::kEither}}},
      {"halves of 512 from 700: the first write opens a fresh half", 700, 1024, 1200, 400,
       {{700, 512, By::kWorker}, {1212, 512, By::kWorker}, {1724, 176, By::kEither}}},
      {"3000 bytes: halves rounded down to 1024; one write over three halves", 0, 3000, 2500, 2500,
       run(0, 1024, 2, By::kWorker) + std::vector<Expected>{{2048, 452, By::kEither}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    u4remove(path_.c_str());
    create();
    std::vector<char> buffer(c.bufferSize);
    FILE4SEQ_WRITE writer;
    ASSERT_EQ(0, file4seqWriteInit(&writer, &file_, c.start, buffer.data(), c.bufferSize));
    const std::string data = pattern(c.total);
    for (unsigned at = 0; at < c.total; at += c.chunk)
      ASSERT_EQ(0, file4seqWrite(&writer, data.data() + at, std::min(c.chunk, c.total - at)));
    ASSERT_EQ(0, file4seqWriteFlush(&writer));
    expectTransfers(c.writes, Monitor::writes());
    EXPECT_EQ(std::string(static_cast<std::size_t>(c.start), '\0') + data, readWhole(path_));
    ASSERT_EQ(0, file4close(&file_));
  }
}

TEST_P(SequentialTest, RepeatWritesWholeBlocksThenTheRest) {
  struct Case {
    long count;
    std::vector<Expected> writes;
  } const cases[] = {
      {0, {}},
      {1, {{0, 1, By::kCaller}}},
      {512, {{0, 512, By::kCaller}}},
      {513, {{0, 512, By::kCaller}, {512, 1, By::kCaller}}},
      {1300, run(0, 512, 2, By::kCaller) + std::vector<Expected>{{1024, 276, By::kCaller}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.count);
    u4remove(path_.c_str());
    create();
    // A 1000-byte buffer writes through, so every block is one transfer.
    char buffer[1000];
    FILE4SEQ_WRITE writer;
    ASSERT_EQ(0, file4seqWriteInit(&writer, &file_, 0, buffer, sizeof buffer));
    ASSERT_EQ(0, file4seqWriteRepeat(&writer, c.count, ' '));
    ASSERT_EQ(0, file4seqWriteFlush(&writer));
    expectTransfers(c.writes, Monitor::writes());
    EXPECT_EQ(std::string(static_cast<std::size_t>(c.count), ' '), readWhole(path_));
    ASSERT_EQ(0, file4close(&file_));
  }
}

void markDone(IOREQ4 *request) { *static_cast<bool *>(request->completionArg) = true; }

TEST_P(SequentialTest, FlushWithBothHalvesEmptyWritesNothingButWaitsForQueuedWrites) {
  create();
  if (workers()) parkWorker(true);
  const std::string queued = pattern(100, 3);
  bool done = false;
  ASSERT_EQ(workers() ? 7 : 0, file4writeDelay(&file_, 5000, queued.data(), 100, markDone, &done));
  char buffer[4096];
  FILE4SEQ_WRITE writer;
  ASSERT_EQ(0, file4seqWriteInit(&writer, &file_, 0, buffer, sizeof buffer));
  EXPECT_EQ(0, file4seqWriteFlush(&writer));
  EXPECT_TRUE(done);
  expectTransfers({{5000, 100, By::kEither}}, Monitor::writes());
  EXPECT_EQ(queued, readWhole(path_).substr(5000));
}

TEST_P(SequentialTest, RoundTripThroughBothHalvesKeepsTransfersAligned) {
  create();
  constexpr long kStart = 777;
  const std::string data = pattern(100000, 5);
  std::vector<char> buffer(8192);  // halves of 4096
  FILE4SEQ_WRITE writer;
  ASSERT_EQ(0, file4seqWriteInit(&writer, &file_, kStart, buffer.data(), static_cast<unsigned>(buffer.size())));
  const unsigned sizes[] = {1, 700, 2999, 13, 4096, 2560, 0, 333};
  std::size_t at = 0;
  for (int i = 0; at < data.size(); ++i) {
    const unsigned n = std::min<unsigned>(sizes[i % 8], static_cast<unsigned>(data.size() - at));
    ASSERT_EQ(0, file4seqWrite(&writer, data.data() + at, n));
    at += n;
  }
  ASSERT_EQ(0, file4seqWriteFlush(&writer));
  EXPECT_EQ(data, readWhole(path_).substr(kStart));

  FILE4SEQ_READ reader;
  ASSERT_EQ(0, file4seqReadInitDo(&reader, &file_, kStart, buffer.data(), static_cast<unsigned>(buffer.size()), 1));
  std::string back;
  std::vector<char> chunk(4096);
  for (int i = 0; back.size() <= data.size(); ++i) {
    const unsigned n = file4seqRead(&reader, chunk.data(), sizes[i % 8] == 0 ? 1 : sizes[i % 8]);
    if (n == 0) break;
    back.append(chunk.data(), n);
  }
  file4seqReadWait(&reader);
  EXPECT_EQ(data, back);

  // After the first, every transfer inside the file starts on a kilobyte
  // boundary; with workers, halves really go through them.
  const std::uint64_t end = kStart + data.size();
  for (const auto &list : {Monitor::writes(), Monitor::reads()}) {
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(static_cast<std::uint64_t>(kStart), list.front().pos);
    int background = 0;
    for (std::size_t i = 1; i < list.size(); ++i) {
      if (list[i].pos < end) {
        EXPECT_EQ(0u, list[i].pos % 1024) << describe(list);
      }
      background += list[i].background ? 1 : 0;
    }
    if (workers())
      EXPECT_GT(background, 0) << describe(list);
    else
      EXPECT_EQ(0, background);
  }
  EXPECT_EQ(0, c4_.errorCode);
}

TEST_P(SequentialTest, FailedWriteOfAHalfIsReportedAndFailsTheFlush) {
  create();
  Monitor::failWrites(ENOSPC);
  char buffer[4096];
  FILE4SEQ_WRITE writer;
  ASSERT_EQ(0, file4seqWriteInit(&writer, &file_, 0, buffer, sizeof buffer));
  const std::string data = pattern(5000);
  int firstFailure = 0;
  for (unsigned at = 0; at < data.size(); at += 700) {
    const int rc = file4seqWrite(&writer, data.data() + at, std::min<unsigned>(700, 5000 - at));
    if (rc < 0 && firstFailure == 0) firstFailure = rc;
  }
  // Without workers the first hand-over fails at once; with them, the
  // failure comes back when the flush collects the writes.
  EXPECT_EQ(workers() ? 0 : -1, firstFailure);
  EXPECT_LT(file4seqWriteFlush(&writer), 0);
  EXPECT_EQ(err::kWrite, c4_.errorCode);
  EXPECT_NE(std::string::npos, Context::lastMessage().find("Writing to File")) << Context::lastMessage();
}

// ---------------------------------------------------------------------------
// Errors

TEST_P(SequentialTest, ArgumentErrors) {
  openWith(pattern(100));
  char buffer[4096];
  FILE4SEQ_READ reader;
  FILE4SEQ_WRITE writer;
  ASSERT_EQ(0, file4seqReadInit(&reader, &file_, 0, buffer, sizeof buffer));
  ASSERT_EQ(0, file4seqWriteInit(&writer, &file_, 0, buffer, sizeof buffer));
  struct Case {
    const char *name;
    std::function<int()> call;
    int result;
    int errorCode;  // left in the context (0 where the call cannot name one)
  } const cases[] = {
      {"read init without reader", [&] { return file4seqReadInitDo(nullptr, &file_, 0, buffer, 4096, 0); },
       err::kParm, err::kParm},
      {"read init without file", [&] { return file4seqReadInitDo(&reader, nullptr, 0, buffer, 4096, 1); }, err::kParm,
       0},
      {"read init before the start of the file", [&] { return file4seqReadInit(&reader, &file_, -1, buffer, 4096); },
       err::kParm, err::kParm},
      {"read without reader", [&] { return static_cast<int>(file4seqRead(nullptr, buffer, 1)); }, 0, 0},
      {"read without destination", [&] { return static_cast<int>(file4seqRead(&reader, nullptr, 1)); }, 0,
       err::kParmNull},
      {"read all without reader", [&] { return file4seqReadAll(nullptr, buffer, 1); }, err::kParmNull, 0},
      {"write init without writer", [&] { return file4seqWriteInit(nullptr, &file_, 0, buffer, 4096); }, err::kParm,
       err::kParm},
      {"write init before the start of the file", [&] { return file4seqWriteInit(&writer, &file_, -5, buffer, 4096); },
       err::kParm, err::kParm},
      {"write without writer", [&] { return file4seqWrite(nullptr, "x", 1); }, err::kParmNull, 0},
      {"write without data", [&] { return file4seqWrite(&writer, nullptr, 1); }, err::kParmNull, err::kParmNull},
      {"delay without writer", [&] { return file4seqWriteDelay(nullptr); }, err::kParmNull, 0},
      {"flush without writer", [&] { return file4seqWriteFlush(nullptr); }, err::kParmNull, 0},
      {"repeat without writer", [&] { return file4seqWriteRepeat(nullptr, 1, ' '); }, err::kParm, 0},
      {"repeat a negative count", [&] { return file4seqWriteRepeat(&writer, -1, ' '); }, err::kParm, err::kParm},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    c4_.errorCode = 0;
    testing::shownMessages().clear();
    EXPECT_EQ(c.result, c.call());
    EXPECT_EQ(c.errorCode, c4_.errorCode);
    EXPECT_EQ(1u, testing::shownMessages().size());
  }
  EXPECT_TRUE(Monitor::writes().empty());
}

TEST_P(SequentialTest, NothingMovesWhileTheContextIsInError) {
  const std::string contents = pattern(5000);
  openWith(contents);
  char readBuffer[4096], writeBuffer[4096];
  FILE4SEQ_READ reader;
  FILE4SEQ_WRITE writer;
  ASSERT_EQ(0, file4seqReadInitDo(&reader, &file_, 0, readBuffer, sizeof readBuffer, 1));
  ASSERT_EQ(0, file4seqWriteInit(&writer, &file_, 0, writeBuffer, sizeof writeBuffer));
  ASSERT_EQ(0, file4seqWrite(&writer, "abc", 3));  // held in the writer's half
  c4_.errorCode = err::kRead;
  char got[10];
  EXPECT_EQ(0u, file4seqRead(&reader, got, sizeof got));
  EXPECT_EQ(-1, file4seqReadAll(&reader, got, sizeof got));
  EXPECT_EQ(-1, file4seqWrite(&writer, "def", 3));
  EXPECT_EQ(-1, file4seqWriteRepeat(&writer, 600, 'x'));
  EXPECT_EQ(-1, file4seqWriteDelay(&writer));
  EXPECT_EQ(-1, file4seqWriteFlush(&writer));
  EXPECT_TRUE(Monitor::reads().empty());
  EXPECT_TRUE(Monitor::writes().empty());
  EXPECT_EQ(contents, readWhole(path_));
}

TEST_P(SequentialTest, WritingWithoutAnOpenFileIsAWriteError) {
  FILE4 closed{};
  closed.handle = -1;
  char buffer[4096];
  FILE4SEQ_WRITE writer;
  ASSERT_EQ(0, file4seqWriteInit(&writer, &closed, 0, buffer, sizeof buffer));
  EXPECT_EQ(err::kWrite, file4seqWrite(&writer, "x", 1));
  EXPECT_NE(std::string::npos, Context::lastMessage().find("Writing to File")) << Context::lastMessage();
  FILE4SEQ_READ reader;
  ASSERT_EQ(0, file4seqReadInit(&reader, &closed, 0, buffer, sizeof buffer));
  char got[4];
  EXPECT_EQ(0u, file4seqRead(&reader, got, sizeof got));
}

INSTANTIATE_TEST_SUITE_P(Contexts, SequentialTest, ::testing::Values(Mode::kLight, Mode::kWorkers),
                         [](const ::testing::TestParamInfo<Mode> &info) {
                           return info.param == Mode::kLight ? "Light" : "Workers";
                         });

}  // namespace
}  // namespace tablekit::file
