// Delayed writes and advance reads: what the workers do with them, and how
// direct reads, writes, length changes, flush and close keep them
// consistent. A worker is held in flight by parking it inside the platform's
// write or read call on a second file, so that the requests of the file
// under test stay queued for as long as a test needs.
#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "file/file_layer.h"
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

constexpr std::uint64_t kNowhere = ~std::uint64_t{0};
constexpr long kParkPos = 777;

// The platform calls of the workers, watched and, at one position, held.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  std::uint64_t parkWriteAt = kNowhere;
  std::uint64_t parkReadAt = kNowhere;
  bool parked = false;
  // How many times the test let a parked call go. A parked call waits for
  // this to change rather than for a flag that the next arm() could clear
  // again before the call has seen it.
  int releases = 0;
  int failWritesOf = -1;  // a handle whose writes fail with ENOSPC
  struct Write {
    int fd;
    std::uint64_t pos;
    std::size_t len;
  };
  std::vector<Write> writes;  // every write that reached the system

  void parkHere(std::unique_lock<std::mutex> &lock) {
    parked = true;
    cv.notify_all();
    const int ticket = releases;
    cv.wait(lock, [this, ticket] { return releases != ticket; });
  }
};
Gate *gGate;

int gateWriteAt(int fd, std::uint64_t pos, const void *data, std::size_t len, std::size_t *done) {
  {
    std::unique_lock<std::mutex> lock(gGate->m);
    gGate->writes.push_back({fd, pos, len});
    if (pos == gGate->parkWriteAt) gGate->parkHere(lock);
    if (fd == gGate->failWritesOf) {
      *done = 0;
      return ENOSPC;
    }
  }
  return platform::posixFileMethods().writeAt(fd, pos, data, len, done);
}

int gateReadAt(int fd, std::uint64_t pos, void *buf, std::size_t len, std::size_t *done) {
  {
    std::unique_lock<std::mutex> lock(gGate->m);
    if (pos == gGate->parkReadAt) gGate->parkHere(lock);
  }
  return platform::posixFileMethods().readAt(fd, pos, buf, len, done);
}

// What a completion routine saw.
struct Done {
  int calls = 0;
  int result = 0;
  int state = 0;
  bool onCaller = false;  // called on the test's own thread
};
std::thread::id gTestThread;

void recordCompletion(IOREQ4 *request) {
  auto *done = static_cast<Done *>(request->completionArg);
  ++done->calls;
  done->result = request->result;
  done->state = request->state;
  done->onCaller = std::this_thread::get_id() == gTestThread;
}

// A context with both workers, a file T.DBF holding `initial`, and a second
// file on which a worker can be parked.
class RequestsTest : public ::testing::Test {
 protected:
  explicit RequestsTest(bool light = false) : cx_(light) {}

  void SetUp() override {
    gTestThread = std::this_thread::get_id();
    gGate = &gate_;
    platform::methods().file.writeAt = gateWriteAt;
    platform::methods().file.readAt = gateReadAt;
    writeWhole(path_, std::string(200, 'd'));
    ASSERT_EQ(0, file4open(&file_, &c4_, path_.c_str(), 0));
    ASSERT_EQ(0, file4create(&parking_, &c4_, (dir_ / "P.DBF").c_str(), 1));
  }
  void TearDown() override {
    release();
    file4close(&file_);
    file4close(&parking_);
  }

  // Holds the delayed-write (or advance-read) worker inside its next system
  // call, a transfer of the parking file.
  void parkWriter() {
    arm(&gate_.parkWriteAt);
    ASSERT_EQ(7, file4writeDelay(&parking_, kParkPos, "p", 1, nullptr, nullptr));
    waitParked();
  }
  void parkReader() {
    arm(&gate_.parkReadAt);
    ASSERT_EQ(0, file4advanceRead(&parking_, kParkPos, parkBuf_, 1, nullptr, nullptr));
    waitParked();
  }
  void arm(std::uint64_t *where) {
    std::lock_guard<std::mutex> lock(gate_.m);
    gate_.parked = false;
    *where = kParkPos;
  }
  void waitParked() {
    std::unique_lock<std::mutex> lock(gate_.m);
    gate_.cv.wait(lock, [this] { return gate_.parked; });
  }
  void failWritesOfTheFile() {
    std::lock_guard<std::mutex> lock(gate_.m);
    gate_.failWritesOf = file_.handle;
  }
  void release() {
    {
      std::lock_guard<std::mutex> lock(gate_.m);
      ++gate_.releases;
      gate_.parkWriteAt = gate_.parkReadAt = kNowhere;
    }
    gate_.cv.notify_all();
  }
  // The writes of the file under test that reached the system so far.
  std::vector<Gate::Write> writesOfFile() {
    std::lock_guard<std::mutex> lock(gate_.m);
    std::vector<Gate::Write> mine;
    for (const Gate::Write &w : gate_.writes) {
      if (w.fd == file_.handle) mine.push_back(w);
    }
    return mine;
  }

  Gate gate_;
  TempDir dir_;
  const std::string path_ = dir_ / "T.DBF";
  Context cx_;
  CODE4 &c4_ = cx_.c4;
  FILE4 file_{};
  FILE4 parking_{};
  char parkBuf_[1];
};

// ---------------------------------------------------------------------------
// Delayed writes

TEST_F(RequestsTest, AQueuedWriteOfTheSameRangeIsSuperseded) {
  parkWriter();
  const std::string a(100, 'a'), b(100, 'b');
  Done first, second;
  EXPECT_EQ(7, file4writeDelay(&file_, 0, a.data(), 100, recordCompletion, &first));
  EXPECT_EQ(7, file4writeDelay(&file_, 0, b.data(), 100, recordCompletion, &second));
  EXPECT_EQ(1, first.calls);
  EXPECT_EQ(0, first.result);
  EXPECT_EQ(3, first.state);
  EXPECT_TRUE(first.onCaller);
  EXPECT_EQ(0, second.calls);
  release();
  ASSERT_EQ(0, file4flush(&file_));
  EXPECT_EQ(1, second.calls);
  EXPECT_EQ(0, second.result);  // written by the worker, or by the flush if it came first
  EXPECT_EQ(b + std::string(100, 'd'), readWhole(path_));
  ASSERT_EQ(1u, writesOfFile().size());  // the superseded data never reached the file
}

TEST_F(RequestsTest, APartlyOverlappedQueuedWriteIsWrittenFirst) {
  parkWriter();
  const std::string a(100, 'a'), b(100, 'b');
  Done first, second;
  EXPECT_EQ(7, file4writeDelay(&file_, 0, a.data(), 100, recordCompletion, &first));
  EXPECT_EQ(7, file4writeDelay(&file_, 50, b.data(), 100, recordCompletion, &second));
  EXPECT_EQ(1, first.calls);
  EXPECT_TRUE(first.onCaller);
  EXPECT_EQ(0, first.result);
  EXPECT_EQ(a + std::string(100, 'd'), readWhole(path_));  // the first is on disk, the second is not
  release();
  ASSERT_EQ(0, file4flush(&file_));
  EXPECT_EQ(1, second.calls);
  EXPECT_EQ(std::string(50, 'a') + b + std::string(50, 'd'), readWhole(path_));
}

TEST_F(RequestsTest, ADirectWriteFirstPerformsOrDropsQueuedWrites) {
  struct Case {
    const char *name;
    long pos;
    unsigned len;
    std::string after;
  } const cases[] = {
      {"covered: dropped", 0, 100, std::string(100, 'w') + std::string(100, 'd')},
      {"partly covered: written first", 50, 100, std::string(50, 'q') + std::string(100, 'w') + std::string(50, 'd')},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    writeWhole(path_, std::string(200, 'd'));
    parkWriter();
    const std::string queued(100, 'q'), direct(c.len, 'w');
    Done done;
    ASSERT_EQ(7, file4writeDelay(&file_, 0, queued.data(), 100, recordCompletion, &done));
    ASSERT_EQ(0, file4write(&file_, c.pos, direct.data(), c.len));
    EXPECT_EQ(1, done.calls);
    EXPECT_TRUE(done.onCaller);
    EXPECT_EQ(c.after, readWhole(path_));
    release();
    ASSERT_EQ(0, file4flush(&file_));
    EXPECT_EQ(c.after, readWhole(path_));
  }
}

TEST_F(RequestsTest, CuttingTheFileTrimsQueuedWrites) {
  struct Case {
    const char *name;
    long pos;
    unsigned len;
    bool dropped;
    std::string after;
  } const cases[] = {
      {"shortened to 50..59", 50, 100, false, std::string(50, 'd') + std::string(10, 'w')},
      {"80..99 dropped", 80, 20, true, std::string(60, 'd')},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    writeWhole(path_, std::string(200, 'd'));
    parkWriter();
    const std::string data(c.len, 'w');
    Done done;
    ASSERT_EQ(7, file4writeDelay(&file_, c.pos, data.data(), c.len, recordCompletion, &done));
    ASSERT_EQ(0, file4lenSetLow(&file_, 60));
    EXPECT_EQ(c.dropped ? 1 : 0, done.calls);
    if (c.dropped) {
      EXPECT_EQ(0, done.result);
      EXPECT_TRUE(done.onCaller);
    }
    release();
    ASSERT_EQ(0, file4flush(&file_));
    EXPECT_EQ(1, done.calls);
    EXPECT_EQ(c.after, readWhole(path_));
    EXPECT_EQ(60u, file4lenLow(&file_));
  }
}

TEST_F(RequestsTest, ReadsSeeQueuedWriteData) {
  parkWriter();
  const std::string queued(50, 'q');
  Done done;
  ASSERT_EQ(7, file4writeDelay(&file_, 100, queued.data(), 50, recordCompletion, &done));
  ASSERT_EQ(7, file4writeDelay(&file_, 250, queued.data(), 50, recordCompletion, &done));  // beyond the end
  struct Case {
    long pos;
    unsigned len;
    std::string expected;
  } const cases[] = {
      {0, 200, std::string(100, 'd') + std::string(50, 'q') + std::string(50, 'd')},
      {120, 10, std::string(10, 'q')},
      {140, 40, std::string(10, 'q') + std::string(30, 'd')},
      {90, 20, std::string(10, 'd') + std::string(10, 'q')},
      {190, 80, std::string(10, 'd')},  // the file ends before the second queued write
      {260, 20, std::string(20, 'q')},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pos);
    std::string buf(c.len, '?');
    EXPECT_EQ(c.expected.size(), file4read(&file_, c.pos, &buf[0], c.len));
    EXPECT_EQ(c.expected, buf.substr(0, c.expected.size()));
  }
  std::string all(200, '?');
  EXPECT_EQ(0, file4readAll(&file_, 0, &all[0], 200));
  EXPECT_EQ(cases[0].expected, all);
  EXPECT_EQ(std::string(200, 'd'), readWhole(path_));  // nothing written yet
  release();
  ASSERT_EQ(0, file4flush(&file_));
  EXPECT_EQ(2, done.calls);
}

TEST_F(RequestsTest, CloseWritesQueuedDataUnlessTheFileIsDeleted) {
  for (bool temporary : {false, true}) {
    SCOPED_TRACE(temporary);
    file4close(&file_);
    writeWhole(path_, std::string(200, 'd'));
    ASSERT_EQ(0, file4open(&file_, &c4_, path_.c_str(), 0));
    file_.isTemp = temporary ? 1 : 0;
    parkWriter();
    const std::string data(10, 'w');
    Done done;
    ASSERT_EQ(7, file4writeDelay(&file_, 0, data.data(), 10, recordCompletion, &done));
    ASSERT_EQ(0, file4close(&file_));
    EXPECT_EQ(1, done.calls);
    EXPECT_EQ(0, done.result);
    EXPECT_TRUE(done.onCaller);
    EXPECT_EQ(temporary ? "" : data + std::string(190, 'd'), readWhole(path_));
    release();
  }
}

TEST_F(RequestsTest, AWorkersFailureReachesTheCompletionAndIsReportedByTheFlush) {
  failWritesOfTheFile();
  const std::string data(10, 'w');
  Done done;
  ASSERT_EQ(7, file4writeDelay(&file_, 0, data.data(), 10, recordCompletion, &done));
  waitDelayedWrite(file_, data.data());
  EXPECT_EQ(1, done.calls);
  EXPECT_EQ(err::kWrite, done.result);
  EXPECT_EQ(0, c4_.errorCode);  // workers never report
  EXPECT_EQ(err::kWrite, file4flush(&file_));
  EXPECT_TRUE(hasLines(Context::lastMessage(), {"Writing to File", "file4writeDelay", path_}));
  EXPECT_EQ(err::kWrite, c4_.errorCode);
}

// ---------------------------------------------------------------------------
// Advance reads

TEST_F(RequestsTest, AdvanceReadsAreKeptCurrentByTransfers) {
  struct Case {
    const char *name;
    bool write;
    long pos;
    unsigned len;
    int calls;   // completions before the worker goes on
    int state;
    int result;
    std::string buffer;
  } const cases[] = {
      {"a covering write completes it", true, 90, 70, 1, 3, 50, std::string(50, 'w')},
      {"a partly overlapping write abandons it", true, 120, 10, 1, 4, 0, std::string(50, '?')},
      {"a covering read completes it", false, 0, 200, 1, 3, 50, std::string(50, 'd')},
      {"a partly overlapping read leaves it", false, 120, 10, 0, 3, 50, std::string(50, 'd')},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    writeWhole(path_, std::string(200, 'd'));
    parkReader();
    std::string buffer(50, '?');
    Done done;
    ASSERT_EQ(0, file4advanceRead(&file_, 100, &buffer[0], 50, recordCompletion, &done));
    if (c.write) {
      const std::string data(c.len, 'w');
      ASSERT_EQ(0, file4write(&file_, c.pos, data.data(), c.len));
    } else {
      std::string data(c.len, '?');
      ASSERT_EQ(c.len, file4read(&file_, c.pos, &data[0], c.len));
    }
    EXPECT_EQ(c.calls, done.calls);
    EXPECT_EQ(c.calls == 1, done.onCaller);
    release();
    waitAdvanceRead(file_, buffer.data());
    EXPECT_EQ(1, done.calls);
    EXPECT_EQ(c.state, done.state);
    EXPECT_EQ(c.result, done.result);
    EXPECT_EQ(c.buffer, buffer);
  }
}

TEST_F(RequestsTest, CloseCancelsQueuedAdvanceReadsWithoutCompletingThem) {
  parkReader();
  char buf[50];
  Done done;
  ASSERT_EQ(0, file4advanceRead(&file_, 0, buf, 50, recordCompletion, &done));
  ASSERT_EQ(0, file4close(&file_));
  release();
  ASSERT_EQ(0, file4close(&parking_));  // waits for the parked read
  EXPECT_EQ(0, done.calls);
}

TEST_F(RequestsTest, AdvanceReadsReadTheFile) {
  std::vector<std::string> buffers(20, std::string(10, '?'));
  std::vector<Done> done(buffers.size());
  writeWhole(path_, "0123456789abcdefghijklmnopqrst");
  for (std::size_t i = 0; i < buffers.size(); ++i)
    ASSERT_EQ(0, file4advanceRead(&file_, static_cast<long>(i), &buffers[i][0], 10, recordCompletion, &done[i]));
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    waitAdvanceRead(file_, buffers[i].data());
    EXPECT_EQ(1, done[i].calls);
    EXPECT_EQ(10, done[i].result);
    EXPECT_EQ(std::string("0123456789abcdefghijklmnopqrst").substr(i, 10), buffers[i]);
  }
}

// ---------------------------------------------------------------------------
// Many requests at once: what the file holds and every read along the way
// match a plain model of the same operations applied in order.

TEST_F(RequestsTest, ManyRequestsMatchAModel) {
  constexpr std::size_t kSize = 4096;
  std::string model(kSize, 'z');
  writeWhole(path_, model);
  std::mt19937 random(20260305);
  std::deque<std::string> buffers;  // each queued write's data lives to the end
  std::deque<Done> done;
  int queued = 0;
  for (int i = 0; i < 3000; ++i) {
    const auto len = static_cast<unsigned>(1 + random() % 300);
    const auto pos = static_cast<long>(random() % (kSize - len));
    const char fill = static_cast<char>('A' + i % 26);
    switch (random() % 6) {
      case 0:
      case 1:
      case 2: {
        buffers.emplace_back(len, fill);
        done.emplace_back();
        ASSERT_EQ(7, file4writeDelay(&file_, pos, buffers.back().data(), len, recordCompletion, &done.back()));
        model.replace(static_cast<std::size_t>(pos), len, buffers.back());
        ++queued;
        break;
      }
      case 3: {
        const std::string data(len, fill);
        ASSERT_EQ(0, file4write(&file_, pos, data.data(), len));
        model.replace(static_cast<std::size_t>(pos), len, data);
        break;
      }
      case 4: {
        std::string buf(len, '?');
        ASSERT_EQ(len, file4read(&file_, pos, &buf[0], len));
        ASSERT_EQ(model.substr(static_cast<std::size_t>(pos), len), buf) << "operation " << i;
        break;
      }
      default:
        if (random() % 10 == 0) {
          ASSERT_EQ(0, file4flush(&file_));
        }
        break;
    }
  }
  ASSERT_EQ(0, file4flush(&file_));
  EXPECT_EQ(model, readWhole(path_));
  for (const Done &d : done) {
    EXPECT_EQ(1, d.calls);
    EXPECT_EQ(0, d.result);
  }
  EXPECT_EQ(queued, static_cast<int>(done.size()));
}

// ---------------------------------------------------------------------------
// Without workers

class LightRequestsTest : public RequestsTest {
 protected:
  LightRequestsTest() : RequestsTest(true) {}
};

TEST_F(LightRequestsTest, TransfersHappenAtOnce) {
  EXPECT_EQ(nullptr, c4_.delayWriteWorker);
  const std::string data(10, 'w');
  Done written;
  EXPECT_EQ(0, file4writeDelay(&file_, 5, data.data(), 10, recordCompletion, &written));
  EXPECT_EQ(1, written.calls);
  EXPECT_EQ(0, written.result);
  EXPECT_EQ(3, written.state);
  EXPECT_TRUE(written.onCaller);
  EXPECT_EQ(std::string(5, 'd') + data + std::string(185, 'd'), readWhole(path_));

  char buf[20];
  Done read;
  EXPECT_EQ(0, file4advanceRead(&file_, 190, buf, 20, recordCompletion, &read));
  EXPECT_EQ(1, read.calls);
  EXPECT_EQ(10, read.result);
  EXPECT_EQ(std::string(10, 'd'), std::string(buf, 10));

  failWritesOfTheFile();
  Done failed;
  EXPECT_EQ(err::kWrite, file4writeDelay(&file_, 0, data.data(), 10, recordCompletion, &failed));
  EXPECT_EQ(1, failed.calls);
  EXPECT_EQ(err::kWrite, failed.result);
}

TEST_F(LightRequestsTest, QueuingChecksItsArguments) {
  c4_.readOnly = 1;
  FILE4 readOnly{};
  ASSERT_EQ(0, file4open(&readOnly, &c4_, path_.c_str(), 0));
  EXPECT_EQ(err::kWrite, file4writeDelay(&readOnly, 0, "x", 1, nullptr, nullptr));
  file4close(&readOnly);
  c4_.errorCode = 0;
  EXPECT_EQ(err::kParmNull, file4writeDelay(nullptr, 0, "x", 1, nullptr, nullptr));
  c4_.errorCode = 0;
  EXPECT_EQ(err::kParm, file4writeDelay(&file_, -1, "x", 1, nullptr, nullptr));
  EXPECT_EQ(-1, file4advanceRead(&file_, 0, parkBuf_, 1, nullptr, nullptr));
}

}  // namespace
}  // namespace tablekit::file
