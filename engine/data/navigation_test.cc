// Tests of moving through a table in record-number order: loading records,
// top and bottom, skipping over both ends, an empty table, fractional
// positions, end and beginning of file, the read hint, and reloading the
// current record after another handle changed it.
#include <string>
#include <vector>

#include "data/records_test_support.h"

namespace tablekit {
namespace {

using namespace records_testing;

class NavigationTest : public RecordsTest {
 protected:
  // The ID field of the record in the buffer, trimmed.
  static std::string currentId(DATA4 *data) {
    std::string id(f4ptr(d4field(data, "ID")), 6);
    id.erase(0, id.find_first_not_of(' '));
    return id;
  }
};

TEST_F(NavigationTest, EmptyTableStandsAtBothEnds) {
  const std::string path = numbered("t.dbf", 0);
  DATA4 *data = open(path);
  struct Case {
    const char *name;
    int (*move)(DATA4 *);
  };
  const Case cases[] = {{"top", d4top}, {"bottom", d4bottom}, {"end", d4goEof}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(r4eof, c.move(data));
    EXPECT_EQ(1, d4bof(data));
    EXPECT_EQ(1, d4eof(data));
    EXPECT_EQ(1, d4recNo(data));
    EXPECT_EQ(r4eof, d4skip(data, 1));
    EXPECT_EQ(r4eof, d4skip(data, -1));
    EXPECT_EQ(1, d4bof(data));
  }
  EXPECT_EQ(r4bof, d4goBof(data));
  EXPECT_EQ(1, d4eof(data));
  EXPECT_DOUBLE_EQ(1.1, d4position(data));
  ASSERT_EQ(0, d4close(data));
}

TEST_F(NavigationTest, SkipWithoutACurrentRecordIsRefused) {
  const std::string path = numbered("t.dbf", 3);
  DATA4 *data = open(path);
  ASSERT_EQ(-1, d4recNo(data));
  EXPECT_EQ(err::kInfo, d4skip(data, 1));
  ASSERT_EQ(1u, shownMessages().size());
  EXPECT_NE(std::string::npos, shownMessages()[0].find("skip must be made from valid record number"));
  error4set(&c4, 0);

  // With errSkip off the refusal is silent.
  c4.errSkip = 0;
  shownMessages().clear();
  EXPECT_EQ(err::kInfo, d4skip(data, 1));
  EXPECT_TRUE(shownMessages().empty());
  EXPECT_EQ(0, c4.errorCode);
  ASSERT_EQ(0, d4close(data));
}

TEST_F(NavigationTest, SkippingOverBothEnds) {
  const std::string path = numbered("t.dbf", 5);
  DATA4 *data = open(path);
  struct Case {
    const char *name;
    long from;
    long n;
    int result;
    long recNo;
    int bof, eof;
  };
  const Case cases[] = {
      {"forward", 1, 2, 0, 3, 0, 0},
      {"backward", 4, -3, 0, 1, 0, 0},
      {"nowhere", 2, 0, 0, 2, 0, 0},
      {"before the first", 1, -1, r4bof, 1, 1, 0},
      {"far before the first", 3, -10, r4bof, 1, 1, 0},
      {"past the last", 5, 1, r4eof, 6, 0, 1},
      {"far past the last", 2, 40, r4eof, 6, 0, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(0, d4go(data, c.from));
    EXPECT_EQ(c.result, d4skip(data, c.n));
    EXPECT_EQ(c.recNo, d4recNo(data));
    EXPECT_EQ(c.bof, d4bof(data));
    EXPECT_EQ(c.eof, d4eof(data));
    if (c.recNo <= 5) {
      EXPECT_EQ(std::to_string(c.recNo), currentId(data));
    }
  }
  // Back from the end of file onto the last record.
  ASSERT_EQ(r4eof, d4goEof(data));
  EXPECT_EQ(0, d4skip(data, -1));
  EXPECT_EQ(5, d4recNo(data));
  EXPECT_EQ(0, c4.errorCode);
  ASSERT_EQ(0, d4close(data));
}

TEST_F(NavigationTest, TopBottomAndDirectLoads) {
  const std::string path = numbered("t.dbf", 4);
  DATA4 *data = open(path);
  EXPECT_EQ(0, d4bottom(data));
  EXPECT_EQ("4", currentId(data));
  EXPECT_EQ(0, d4top(data));
  EXPECT_EQ("1", currentId(data));
  EXPECT_EQ(0, d4go(data, 3));
  EXPECT_EQ("3", currentId(data));
  EXPECT_EQ(r4bof, d4goBof(data));
  EXPECT_EQ(1, d4recNo(data));
  EXPECT_EQ(1, d4bof(data));
  ASSERT_EQ(0, d4close(data));
}

TEST_F(NavigationTest, LoadingAMissingRecordLeavesNoCurrentRecord) {
  const std::string path = numbered("t.dbf", 2);
  DATA4 *data = open(path);
  ASSERT_EQ(0, d4go(data, 2));

  c4.errGo = 0;
  EXPECT_EQ(r4entry, d4go(data, 3));
  EXPECT_EQ(-1, d4recNo(data));
  EXPECT_EQ(std::string(26, ' '), std::string(d4recordLow(data), 26));
  EXPECT_TRUE(shownMessages().empty());

  c4.errGo = 1;
  EXPECT_EQ(err::kRead, d4go(data, 9));
  EXPECT_TRUE(file::testing::hasLines(Context::lastMessage(), {"T"})) << Context::lastMessage();
  error4set(&c4, 0);
  ASSERT_EQ(0, d4close(data));
}

TEST_F(NavigationTest, FractionalPositions) {
  const std::string path = numbered("t.dbf", 5);
  DATA4 *data = open(path);
  EXPECT_DOUBLE_EQ(0.0, d4position(data));  // no current record
  struct Case {
    long recNo;
    double position;
  };
  for (const Case &c : {Case{1, 0.0}, Case{3, 0.5}, Case{5, 1.0}}) {
    SCOPED_TRACE(c.recNo);
    ASSERT_EQ(0, d4go(data, c.recNo));
    EXPECT_DOUBLE_EQ(c.position, d4position(data));
    double out = -5;
    EXPECT_EQ(0, d4position2(data, &out));
    EXPECT_DOUBLE_EQ(c.position, out);
  }
  ASSERT_EQ(r4eof, d4goEof(data));
  EXPECT_DOUBLE_EQ(1.1, d4position(data));

  struct SetCase {
    double x;
    int result;
    long recNo;
  };
  const SetCase sets[] = {{0.5, 0, 3}, {0.0, 0, 1}, {-2.0, 0, 1}, {0.99, 0, 5}, {1.0, 0, 5}, {1.5, r4eof, 6}, {0.3, 0, 2}};
  for (const SetCase &c : sets) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(c.result, d4positionSet(data, c.x));
    EXPECT_EQ(c.recNo, d4recNo(data));
  }
  ASSERT_EQ(0, d4close(data));
}

TEST_F(NavigationTest, OneRecordTableSitsAtPositionZero) {
  const std::string path = numbered("t.dbf", 1);
  DATA4 *data = open(path);
  ASSERT_EQ(0, d4top(data));
  EXPECT_DOUBLE_EQ(0.0, d4position(data));
  EXPECT_EQ(0, d4positionSet(data, 0.7));
  EXPECT_EQ(1, d4recNo(data));
  ASSERT_EQ(0, d4close(data));
}

TEST_F(NavigationTest, SkipLoadsWithTheReadHintSet) {
  const std::string path = numbered("t.dbf", 3);
  DATA4 *data = open(path);
  ASSERT_EQ(0, d4top(data));
  // The hint as the file layer sees it while the record is read.
  static DFILE4 *file;
  static std::vector<int> seen;
  file = data->dataFile;
  seen.clear();
  platform::methods().file.readAt = [](int fd, std::uint64_t pos, void *buf, std::size_t len, std::size_t *done) {
    seen.push_back(file->readHint);
    return platform::defaultMethods().file.readAt(fd, pos, buf, len, done);
  };
  ASSERT_EQ(0, d4skip(data, 1));
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(-1, seen.back());
  EXPECT_EQ(0, data->dataFile->readHint);
  seen.clear();
  ASSERT_EQ(0, d4go(data, 1));
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(0, seen.back());
  platform::methods().file.readAt = platform::defaultMethods().file.readAt;
  ASSERT_EQ(0, d4close(data));
}

TEST_F(NavigationTest, RefreshRecordSeesAnotherHandlesWrite) {
  const std::string path = numbered("t.dbf", 3);
  DATA4 *reader = open(path, 0);
  DATA4 *writer = d4openClone(reader);
  ASSERT_NE(nullptr, writer);
  ASSERT_EQ(0, d4go(reader, 2));
  ASSERT_EQ(0, d4go(writer, 2));
  ASSERT_EQ(0, f4assignLong(d4field(writer, "ID"), 22));
  ASSERT_EQ(0, d4writeLow(writer, -1, 1, 1));
  EXPECT_EQ("2", currentId(reader));

  // A change of the reader's own is dropped by the reload.
  ASSERT_EQ(0, f4assign(d4field(reader, "NAME"), "mine"));
  ASSERT_EQ(0, d4refreshRecord(reader));
  EXPECT_EQ("22", currentId(reader));
  EXPECT_EQ(0, d4changed(reader, -1));
  EXPECT_EQ(2, d4recNo(reader));
  EXPECT_EQ(0, d4refresh(reader));
  ASSERT_EQ(0, d4close(writer));
  ASSERT_EQ(0, d4close(reader));
  EXPECT_EQ("22", idOf(readWhole(path), 2));
}

TEST_F(NavigationTest, MovesWriteThePendingRecordFirst) {
  const std::string path = numbered("t.dbf", 3);
  DATA4 *data = open(path, 1);
  struct Case {
    const char *name;
    int (*move)(DATA4 *);
  };
  const Case cases[] = {{"top", d4top}, {"bottom", d4bottom}, {"end", d4goEof}, {"beginning", d4goBof}};
  long id = 100;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(0, d4go(data, 2));
    ASSERT_EQ(0, f4assignLong(d4field(data, "ID"), ++id));
    EXPECT_LE(0, c.move(data));
    EXPECT_EQ(std::to_string(id), idOf(readWhole(path), 2));
  }
  ASSERT_EQ(0, d4close(data));
}

}  // namespace
}  // namespace tablekit
