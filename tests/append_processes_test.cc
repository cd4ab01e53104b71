// Tables appended to by several processes, and by a process that is killed
// before it closes the table. The processes are real: each runs the
// append_worker program (fork and exec), which uses only the public face.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "data/data_layer.h"
#include "file/test_support.h"
#include "foundation/foundation.h"

namespace tablekit {
namespace {

using file::testing::Context;
using file::testing::readWhole;
using file::testing::shownMessages;
using file::testing::TempDir;
using file::testing::writeWhole;

std::string workerPath() { return std::string(TK_TEST_BIN_DIR) + "/append_worker"; }

// The table the workers append to: WORKER N(4), SEQ N(6); records 11 wide.
constexpr unsigned kWidth = 11;

std::string emptyTable() {
  unsigned char header[32] = {};
  header[0] = 0x03;
  header[1] = 124;
  header[2] = 1;
  header[3] = 1;
  data::dbf::writeU16(header + 8, 32 * 2 + 33);
  data::dbf::writeU16(header + 10, kWidth);
  std::string bytes(reinterpret_cast<const char *>(header), sizeof header);
  for (const auto &field : {std::make_pair("WORKER", 4), std::make_pair("SEQ", 6)}) {
    std::string d(32, '\0');
    std::copy(field.first, field.first + std::strlen(field.first), d.begin());
    d[11] = 'N';
    d[16] = static_cast<char>(field.second);
    bytes += d;
  }
  bytes += '\x0D';
  bytes += '\x1A';
  return bytes;
}

long headerCount(const std::string &bytes) {
  return data::dbf::readI32(reinterpret_cast<const unsigned char *>(bytes.data()) + 4);
}
unsigned headerLength(const std::string &bytes) {
  return data::dbf::readU16(reinterpret_cast<const unsigned char *>(bytes.data()) + 8);
}

// A running append_worker. Its standard input and output are pipes of the
// test; nothing else of the test's is open in it.
class Worker {
 public:
  explicit Worker(const std::vector<std::string> &args) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    std::vector<std::string> all = {workerPath()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      for (int fd = 3; fd < 1024; ++fd) ::close(fd);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    toWorker_ = in[1];
    fromWorker_ = out[0];
  }
  ~Worker() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      (void)wait();
    }
    if (toWorker_ >= 0) ::close(toWorker_);
    if (fromWorker_ >= 0) ::close(fromWorker_);
  }
  Worker(const Worker &) = delete;
  Worker &operator=(const Worker &) = delete;

  // The next line the worker writes ("" when it ended without one).
  std::string readLine() {
    std::string line;
    char c;
    while (::read(fromWorker_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

  // The exit status, or 128 + the signal that ended the worker.
  int wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  void kill() { ::kill(pid_, SIGKILL); }

  // One byte to the worker's standard input.
  void send() { (void)!::write(toWorker_, "g", 1); }

 private:
  pid_t pid_ = -1;
  int toWorker_ = -1;
  int fromWorker_ = -1;
};

// (worker, seq) of every record the file holds (as far as the header
// counts), in file order.
std::vector<std::pair<long, long>> recordsOf(const std::string &bytes) {
  std::vector<std::pair<long, long>> out;
  const long count = headerCount(bytes);
  for (long r = 0; r < count; ++r) {
    const std::string rec = bytes.substr(headerLength(bytes) + r * kWidth, kWidth);
    out.emplace_back(std::stol(rec.substr(1, 4)), std::stol(rec.substr(5, 6)));
  }
  return out;
}

class AppendProcessesTest : public ::testing::Test {
 protected:
  std::string table() {
    const std::string path = dir / "shared.dbf";
    writeWhole(path, emptyTable());
    return path;
  }

  TempDir dir;
};

TEST_F(AppendProcessesTest, SharedAppendsOfSeveralProcessesLoseNothing) {
  const std::string path = table();
  constexpr int kWorkers = 4;
  constexpr long kEach = 400;
  std::vector<std::unique_ptr<Worker>> workers;
  for (int w = 1; w <= kWorkers; ++w) {
    workers.push_back(
        std::make_unique<Worker>(std::vector<std::string>{path, "0", std::to_string(w), std::to_string(kEach), "gate"}));
  }
  // Every worker has the table open before any of them appends.
  for (auto &worker : workers) ASSERT_EQ("open", worker->readLine());
  for (auto &worker : workers) worker->send();
  for (auto &worker : workers) EXPECT_EQ(0, worker->wait());

  const std::string bytes = readWhole(path);
  const long total = kWorkers * kEach;
  EXPECT_EQ(total, headerCount(bytes));
  ASSERT_EQ(headerLength(bytes) + total * kWidth + 1, bytes.size());
  EXPECT_EQ('\x1A', bytes.back());

  // Every record once, whole, and each worker's in the order it appended them.
  std::map<long, long> lastSeq;
  std::set<std::pair<long, long>> seen;
  for (const auto &record : recordsOf(bytes)) {
    EXPECT_TRUE(seen.insert(record).second) << record.first << "/" << record.second;
    EXPECT_EQ(lastSeq[record.first] + 1, record.second) << "worker " << record.first;
    lastSeq[record.first] = record.second;
  }
  EXPECT_EQ(static_cast<std::size_t>(total), seen.size());
  for (long r = 0; r < total; ++r) EXPECT_EQ(' ', bytes[headerLength(bytes) + r * kWidth]) << r;
}

// A run killed between its appends and its close. In access modes 0 and 2
// every append rewrites the header's count right after the record, so the
// file is whole: it reopens in any mode with every record counted. In access
// mode 1 the count is written only by a flush or the close, so it lags the
// records in the file. The table still opens in access mode 0, which takes
// the header's count as it stands (the records after it are not seen, and
// the next append goes over them). An exclusive open (mode 1) checks that
// the file holds exactly the records counted, and so reports -200 "File is
// not a Data File" (database corruption detected) for such a file, unless
// the count did not lag: the run was killed right after a flush.
TEST_F(AppendProcessesTest, KilledRunLeavesATableThatReopensInSharedMode) {
  struct Case {
    const char *name;
    const char *mode;
    const char *flush;       // flush=N, or null
    long headerCount;        // what the header says after the kill
    int exclusiveOpen;       // 0, or the error of an open in mode 1
  };
  const Case cases[] = {
      {"shared run", "0", nullptr, 5, 0},
      {"others-read run", "2", nullptr, 5, 0},
      {"exclusive run", "1", nullptr, 0, err::kData},
      {"exclusive run, flushed after 3", "1", "flush=3", 3, err::kData},
      {"exclusive run, flushed after the last", "1", "flush=5", 5, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = table();
    std::vector<std::string> args = {path, c.mode, "1", "5"};
    if (c.flush != nullptr) args.push_back(c.flush);
    args.push_back("hold");
    {
      Worker worker(args);
      ASSERT_EQ("ready", worker.readLine());
      worker.kill();
      EXPECT_EQ(128 + SIGKILL, worker.wait());
    }
    const std::string bytes = readWhole(path);
    EXPECT_EQ(c.headerCount, headerCount(bytes));
    EXPECT_EQ(headerLength(bytes) + 5 * kWidth + 1, bytes.size());  // all five records are there

    Context ctx;
    CODE4 &c4 = ctx.c4;
    c4.accessMode = 0;
    DATA4 *data = d4open(&c4, path.c_str());
    ASSERT_NE(nullptr, data) << Context::lastMessage();
    EXPECT_EQ(c.headerCount, d4recCountDo(data));
    ASSERT_EQ(0, d4close(data));

    c4.accessMode = 1;
    c4.errOff = 1;
    data = d4open(&c4, path.c_str());
    if (c.exclusiveOpen == 0) {
      ASSERT_NE(nullptr, data) << Context::lastMessage();
      EXPECT_EQ(5, d4recCountDo(data));
      ASSERT_EQ(0, d4close(data));
    } else {
      EXPECT_EQ(nullptr, data);
      EXPECT_EQ(c.exclusiveOpen, c4.errorCode);
    }
  }
}

TEST_F(AppendProcessesTest, SharedAppendAfterAKilledSharedRunGoesOn) {
  const std::string path = table();
  {
    Worker worker({path, "0", "1", "3", "hold"});
    ASSERT_EQ("ready", worker.readLine());
    worker.kill();
    (void)worker.wait();
  }
  Worker next({path, "0", "2", "2"});
  EXPECT_EQ(0, next.wait());
  const std::string bytes = readWhole(path);
  EXPECT_EQ((std::vector<std::pair<long, long>>{{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}}), recordsOf(bytes));
  EXPECT_EQ(headerLength(bytes) + 5 * kWidth + 1, bytes.size());
}

}  // namespace
}  // namespace tablekit
