// Tests of d4zap: ranges at the end, in the middle and at the front of a
// table, through buffers of every size the copy may get (none, smaller than
// a record, smaller than the records moved, large) with and without the
// background workers; empty ranges and tables that change nothing; and
// the refusals.
#include <string>
#include <vector>

#include "data/records_test_support.h"

namespace tablekit {
namespace {

using namespace records_testing;

class ZapTest : public RecordsTest {
 protected:
  // The IDs of the records the file holds, in order.
  static std::vector<std::string> ids(const std::string &bytes) {
    std::vector<std::string> out;
    const long count = headerCount(bytes);
    for (long r = 1; r <= count; ++r) out.push_back(idOf(bytes, r));
    return out;
  }

  static std::vector<std::string> numbers(std::initializer_list<int> list) {
    std::vector<std::string> out;
    for (int n : list) out.push_back(std::to_string(n));
    return out;
  }
};

TEST_F(ZapTest, RangePastTheEndKeepsTheRecordsBeforeIt) {
  const std::string path = numbered("t.dbf", 5);
  DATA4 *data = open(path, 1);
  ASSERT_EQ(0, d4zap(data, 3, 100)) << Context::lastMessage();
  EXPECT_EQ(2, d4recCountDo(data));
  EXPECT_EQ(-1, d4recNo(data));
  EXPECT_EQ(0, d4eof(data));
  EXPECT_EQ(0, d4bof(data));
  // The header is up to date before the close.
  const std::string bytes = readWhole(path);
  EXPECT_EQ(2, headerCount(bytes));
  EXPECT_EQ(headerLength(bytes) + 2 * recordWidth(bytes) + 1, bytes.size());
  EXPECT_EQ('\x1A', bytes.back());
  EXPECT_EQ(numbers({1, 2}), ids(bytes));
  EXPECT_EQ((std::vector<int>{131, 7, 4}), headerDate(bytes));
  ASSERT_EQ(0, d4close(data));
  EXPECT_EQ(bytes, readWhole(path));
}

TEST_F(ZapTest, RemovedRangeIsClosedUpThroughBuffersOfEverySize) {
  struct Case {
    const char *name;
    int records;
    long first, last;
    int memSizeBuffer;
    bool workers;
    std::vector<int> kept;
  };
  // Records are 26 bytes wide.
  const Case cases[] = {
      {"middle, large buffers", 6, 2, 4, 32768, false, {1, 5, 6}},
      {"front", 6, 1, 2, 32768, false, {3, 4, 5, 6}},
      {"everything", 4, 1, 4, 32768, false, {}},
      {"one record", 3, 2, 2, 32768, false, {1, 3}},
      {"no buffers (smaller than a record)", 7, 3, 4, 20, false, {1, 2, 5, 6, 7}},
      {"buffers below a kilobyte go unused", 7, 3, 4, 1000, false, {1, 2, 5, 6, 7}},
      {"buffers of one and a half kilobytes", 100, 3, 4, 1500, false, {}},
      {"many passes through small buffers", 300, 10, 20, 2048, false, {}},
      {"many passes with workers", 300, 10, 20, 2048, true, {}},
      {"middle with workers", 6, 2, 4, 32768, true, {1, 5, 6}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Context context(!c.workers);
    CODE4 &cb = context.c4;
    cb.memSizeBuffer = c.memSizeBuffer;
    cb.accessMode = 1;
    const std::string path = numbered(std::string("t") + std::to_string(&c - cases) + ".dbf", c.records);
    DATA4 *data = d4open(&cb, path.c_str());
    ASSERT_NE(nullptr, data) << Context::lastMessage();
    ASSERT_EQ(0, d4zap(data, c.first, c.last)) << Context::lastMessage();
    ASSERT_EQ(0, d4close(data));

    std::vector<std::string> expected;
    if (!c.kept.empty()) {
      for (int n : c.kept) expected.push_back(std::to_string(n));
    } else {
      for (int n = 1; n <= c.records; ++n)
        if (n < c.first || n > c.last) expected.push_back(std::to_string(n));
    }
    const std::string bytes = readWhole(path);
    EXPECT_EQ(static_cast<long>(expected.size()), headerCount(bytes));
    EXPECT_EQ(expected, ids(bytes));
    EXPECT_EQ(headerLength(bytes) + expected.size() * recordWidth(bytes) + 1, bytes.size());
    EXPECT_EQ('\x1A', bytes.back());
    // The records moved are whole: every one of them reads as it was written.
    const auto rows = numberedRows(c.records);
    for (std::size_t i = 0; i < expected.size(); ++i)
      EXPECT_EQ(rowBytes(plainFields(), rows[std::stoi(expected[i]) - 1]), record(bytes, static_cast<long>(i) + 1));
  }
}

TEST_F(ZapTest, EmptyRangesAndEmptyTablesChangeNothing) {
  struct Case {
    const char *name;
    int records;
    long first, last;
  };
  const Case cases[] = {{"1 to 0", 3, 1, 0}, {"empty table, 1 to its count", 0, 1, 0}, {"last before first", 3, 3, 2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = numbered(std::string("t") + std::to_string(&c - cases) + ".dbf", c.records);
    const std::string before = readWhole(path);
    DATA4 *data = open(path, 0);
    ASSERT_EQ(0, d4top(data) < 0);
    const long recNo = d4recNo(data);
    EXPECT_EQ(0, d4zap(data, c.first, c.last));
    EXPECT_EQ(recNo, d4recNo(data));
    EXPECT_EQ(before, readWhole(path));
    ASSERT_EQ(0, d4close(data));
    EXPECT_EQ(before, readWhole(path));
  }
}

TEST_F(ZapTest, EmptiedTableStandsAtBothEnds) {
  const std::string path = numbered("t.dbf", 3);
  DATA4 *data = open(path, 0);
  ASSERT_EQ(0, d4zap(data, 1, d4recCountDo(data)));
  EXPECT_EQ(1, d4bof(data));
  EXPECT_EQ(1, d4eof(data));
  EXPECT_EQ(0, d4recCountDo(data));
  // Appending after the zap starts at record 1 again.
  ASSERT_EQ(0, d4appendStart(data, 0));
  d4blank(data);
  f4assignLong(d4field(data, "ID"), 42);
  ASSERT_EQ(0, d4append(data));
  ASSERT_EQ(0, d4close(data));
  const std::string bytes = readWhole(path);
  EXPECT_EQ(1, headerCount(bytes));
  EXPECT_EQ("42", idOf(bytes, 1));
  EXPECT_EQ(headerLength(bytes) + recordWidth(bytes) + 1, bytes.size());
}

TEST_F(ZapTest, PendingRecordIsWrittenBeforeTheZap) {
  const std::string path = numbered("t.dbf", 4);
  DATA4 *data = open(path, 1);
  ASSERT_EQ(0, d4go(data, 4));
  ASSERT_EQ(0, f4assignLong(d4field(data, "ID"), 44));
  ASSERT_EQ(0, d4zap(data, 1, 2));
  ASSERT_EQ(0, d4close(data));
  EXPECT_EQ((std::vector<std::string>{"3", "44"}), ids(readWhole(path)));
}

TEST_F(ZapTest, RefusesRecordNumbersBelowOne) {
  const std::string path = numbered("t.dbf", 3);
  const std::string before = readWhole(path);
  DATA4 *data = open(path, 0);
  for (const auto &range : std::vector<std::pair<long, long>>{{0, 2}, {-1, 0}}) {
    SCOPED_TRACE(range.first);
    shownMessages().clear();
    EXPECT_EQ(err::kParm, d4zap(data, range.first, range.second));
    EXPECT_EQ(1u, shownMessages().size());
    error4set(&c4, 0);
  }
  // With the context in error nothing is done.
  error4set(&c4, err::kRead);
  EXPECT_EQ(-1, d4zap(data, 1, 3));
  error4set(&c4, 0);
  ASSERT_EQ(0, d4close(data));
  EXPECT_EQ(before, readWhole(path));
}

}  // namespace
}  // namespace tablekit
