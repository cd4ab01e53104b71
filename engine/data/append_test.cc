// Tests of appending and writing records: where an append puts the record
// and the end-of-file byte, when the header's count and date are rewritten
// in each access mode, records written in place, the deletion flag and the
// changed flag, read-only handles, flushing, the last record taken away
// again, and closing with and without changes.
#include <functional>
#include <string>
#include <vector>

#include "data/records_test_support.h"

namespace tablekit {
namespace {

using namespace records_testing;

class AppendTest : public RecordsTest {
 protected:
  // Starts a record, fills ID and NAME and appends it.
  static int appendRow(DATA4 *data, long id, const char *name) {
    if (int rc = d4appendStart(data, 0)) return rc;
    d4blank(data);
    f4assignLong(d4field(data, "ID"), id);
    f4assign(d4field(data, "NAME"), name);
    return d4append(data);
  }

  std::string row(long id, const char *name) {
    return rowBytes(plainFields(), {std::to_string(id), name});
  }
};

// ---------------------------------------------------------------------------
// Appending

TEST_F(AppendTest, FirstRecordLandsAtHeaderLengthWithEndMarkerAndCountPerAccessMode) {
  struct Case {
    const char *name;
    char accessMode;
    long countWhileOpen;  // the header's count right after the append
  };
  const Case cases[] = {{"shared", 0, 1}, {"exclusive", 1, 0}, {"others read only", 2, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = numbered(std::string(c.name) + ".dbf", 0);
    const std::size_t emptySize = readWhole(path).size();
    DATA4 *data = open(path, c.accessMode);
    ASSERT_NE(nullptr, data);

    ASSERT_EQ(0, appendRow(data, 7, "Ann")) << Context::lastMessage();
    EXPECT_EQ(1, d4recNo(data));
    const std::string bytes = readWhole(path);
    const unsigned width = recordWidth(bytes);
    ASSERT_EQ(emptySize + width, bytes.size());
    EXPECT_EQ(row(7, "Ann"), bytes.substr(headerLength(bytes), width));
    EXPECT_EQ('\x1A', bytes[headerLength(bytes) + width]);
    EXPECT_EQ(c.countWhileOpen, headerCount(bytes));

    ASSERT_EQ(0, d4close(data));
    EXPECT_EQ(1, headerCount(readWhole(path)));
  }
}

TEST_F(AppendTest, AppendsWithNothingAssignedRepeatTheRecordImage) {
  const std::string path = numbered("t.dbf", 2);
  DATA4 *data = open(path);
  ASSERT_EQ(0, appendRow(data, 3, "Carl"));
  ASSERT_EQ(0, d4appendStart(data, 0));
  ASSERT_EQ(0, d4append(data));
  EXPECT_EQ(4, d4recNo(data));
  ASSERT_EQ(0, d4close(data));

  const std::string bytes = readWhole(path);
  EXPECT_EQ(4, headerCount(bytes));
  EXPECT_EQ(row(3, "Carl"), record(bytes, 3));
  EXPECT_EQ(record(bytes, 3), record(bytes, 4));
  EXPECT_EQ(headerLength(bytes) + 4 * recordWidth(bytes) + 1, bytes.size());
}

TEST_F(AppendTest, AppendStartLeavesMemoBlockNumbersAtZeroUntilTheAppend) {
  const std::vector<FieldDef> fields = {{"ID", 'N', 6, 0}, {"NOTE", 'M', 10, 0}};
  const std::string path = write("memo.dbf", dbfBytes(fields, {{"1", ""}}, 0x8B));
  write("memo.dbt", emptyDbtBytes());
  DATA4 *data = open(path);
  ASSERT_NE(nullptr, data);
  FIELD4 *note = d4field(data, "NOTE");

  ASSERT_EQ(0, d4appendStart(data, 0));
  EXPECT_EQ(std::string("         0"), std::string(f4ptr(note), 10));
  EXPECT_EQ(0, d4recNo(data));
  ASSERT_EQ(0, f4assignLong(d4field(data, "ID"), 2));

  // Without contents the field is blanked when the record is appended.
  ASSERT_EQ(0, d4append(data)) << Context::lastMessage();
  EXPECT_EQ(std::string(10, ' '), std::string(f4ptr(note), 10));
  ASSERT_EQ(0, d4close(data));
  EXPECT_EQ(rowBytes(fields, {"2", ""}), record(readWhole(path), 2));
}

TEST_F(AppendTest, HandlesOfOneContextAppendInTurn) {
  const std::string path = numbered("t.dbf", 3);
  DATA4 *first = open(path);
  DATA4 *second = d4openClone(first);
  ASSERT_NE(nullptr, second);
  ASSERT_EQ(0, appendRow(first, 4, "Dora"));
  ASSERT_EQ(0, appendRow(second, 5, "Eve"));
  ASSERT_EQ(0, appendRow(first, 6, "Finn"));
  EXPECT_EQ(6, d4recNo(first));
  EXPECT_EQ(5, d4recNo(second));
  ASSERT_EQ(0, d4close(second));
  ASSERT_EQ(0, d4close(first));

  const std::string bytes = readWhole(path);
  EXPECT_EQ(6, headerCount(bytes));
  EXPECT_EQ(row(4, "Dora"), record(bytes, 4));
  EXPECT_EQ(row(5, "Eve"), record(bytes, 5));
  EXPECT_EQ(row(6, "Finn"), record(bytes, 6));
  EXPECT_EQ('\x1A', bytes.back());
}

TEST_F(AppendTest, AppendBlankAddsTheBlankRecord) {
  const std::string path = numbered("t.dbf", 1);
  DATA4 *data = open(path);
  f4assignLong(d4field(data, "ID"), 99);  // not carried into the blank record
  ASSERT_EQ(0, d4appendBlank(data));
  ASSERT_EQ(0, d4close(data));
  EXPECT_EQ(std::string(recordWidth(readWhole(path)), ' '), record(readWhole(path), 2));
}

// ---------------------------------------------------------------------------
// The header at close

TEST_F(AppendTest, ClosingAnUnchangedTableLeavesEveryByte) {
  for (char mode : {0, 1, 2}) {
    SCOPED_TRACE(static_cast<int>(mode));
    const std::string path = numbered("t" + std::to_string(mode) + ".dbf", 3);
    const std::string before = readWhole(path);
    DATA4 *data = open(path, mode);
    ASSERT_EQ(0, d4top(data));
    ASSERT_EQ(0, d4skip(data, 2));
    ASSERT_EQ(0, d4flush(data));
    ASSERT_EQ(0, d4close(data));
    EXPECT_EQ(before, readWhole(path));
  }
}

TEST_F(AppendTest, ClosingAChangedTableStampsTodaysDate) {
  struct Case {
    const char *name;
    char accessMode;
    bool append;       // else a record is written in place
    bool datedAtOnce;  // the append rewrites the header at once
  };
  const Case cases[] = {{"append, exclusive", 1, true, false},
                        {"append, others read only", 2, true, true},
                        {"append, shared", 0, true, true},
                        {"write in place, shared", 0, false, false},
                        {"write in place, exclusive", 1, false, false}};
  const std::vector<int> opened = {kImageYear, kImageMonth, kImageDay};
  const std::vector<int> today = {131, 7, 4};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = numbered(std::string("t") + std::to_string(&c - cases) + ".dbf", 2);
    DATA4 *data = open(path, c.accessMode);
    if (c.append) {
      ASSERT_EQ(0, appendRow(data, 3, "Cy"));
    } else {
      ASSERT_EQ(0, d4go(data, 2));
      ASSERT_EQ(0, d4lock(data, 2));
      ASSERT_EQ(0, f4assign(d4field(data, "NAME"), "Renamed"));
      ASSERT_EQ(0, d4go(data, 1));
    }
    EXPECT_EQ(c.datedAtOnce ? today : opened, headerDate(readWhole(path)));
    ASSERT_EQ(0, d4close(data));
    const std::string bytes = readWhole(path);
    EXPECT_EQ(today, headerDate(bytes));
    EXPECT_EQ(c.append ? 3 : 2, headerCount(bytes));
    if (!c.append) {
      EXPECT_EQ(rowBytes(plainFields(), {"2", "Renamed", "20240101", "T"}), record(bytes, 2));
    }
  }
}

TEST_F(AppendTest, FlushInExclusiveModeWritesTheCount) {
  const std::string path = numbered("t.dbf", 1);
  DATA4 *data = open(path, 1);
  ASSERT_EQ(0, appendRow(data, 2, "B"));
  ASSERT_EQ(0, appendRow(data, 3, "C"));
  EXPECT_EQ(1, headerCount(readWhole(path)));
  ASSERT_EQ(0, d4flush(data));
  EXPECT_EQ(3, headerCount(readWhole(path)));
  ASSERT_EQ(0, d4close(data));
}

TEST_F(AppendTest, ContextFlushBringsEveryTableUpToDate) {
  const std::string a = numbered("a.dbf", 0);
  const std::string b = numbered("b.dbf", 1);
  DATA4 *first = open(a, 1);
  DATA4 *second = open(b, 1);
  ASSERT_EQ(0, appendRow(first, 1, "A"));
  ASSERT_EQ(0, appendRow(second, 2, "B"));
  ASSERT_EQ(0, code4flush(&c4));
  EXPECT_EQ(1, headerCount(readWhole(a)));
  EXPECT_EQ(2, headerCount(readWhole(b)));
  EXPECT_EQ(0, code4close(&c4));
}

// ---------------------------------------------------------------------------
// Writing in place

TEST_F(AppendTest, MovingAwayWritesThePendingRecordInPlace) {
  const std::string path = numbered("t.dbf", 3);
  DATA4 *data = open(path);
  c4.lockEnforce = 0;
  ASSERT_EQ(0, d4go(data, 2));
  ASSERT_EQ(0, f4assign(d4field(data, "NAME"), "Zed"));
  EXPECT_EQ(1, d4changed(data, -1));
  ASSERT_EQ(0, d4go(data, 3));
  EXPECT_EQ(0, d4changed(data, -1));
  ASSERT_EQ(0, d4close(data));

  const std::string bytes = readWhole(path);
  EXPECT_EQ(3, headerCount(bytes));
  EXPECT_EQ(rowBytes(plainFields(), {"2", "Zed", "20240101", "T"}), record(bytes, 2));
  EXPECT_EQ(rowBytes(plainFields(), numberedRows(3)[0]), record(bytes, 1));
  EXPECT_EQ(rowBytes(plainFields(), numberedRows(3)[2]), record(bytes, 3));
}

TEST_F(AppendTest, ChangedFlagIsDroppedOnRequestAndTheRecordStays) {
  const std::string path = numbered("t.dbf", 2);
  const std::string before = readWhole(path);
  DATA4 *data = open(path);
  ASSERT_EQ(0, d4go(data, 1));
  ASSERT_EQ(0, f4assign(d4field(data, "NAME"), "Lost"));
  EXPECT_EQ(1, d4changed(data, 0));
  EXPECT_EQ(0, d4changed(data, -1));
  EXPECT_EQ(0, d4changed(data, 1));
  EXPECT_EQ(1, d4changed(data, 0));
  ASSERT_EQ(0, d4go(data, 2));
  ASSERT_EQ(0, d4close(data));
  EXPECT_EQ(before, readWhole(path));
}

TEST_F(AppendTest, DeleteAndRecallSetTheDeletionFlag) {
  const std::string path = numbered("t.dbf", 3);
  DATA4 *data = open(path, 1);
  ASSERT_EQ(0, d4go(data, 2));
  EXPECT_EQ(0, d4deleted(data));
  d4delete(data);
  EXPECT_EQ(1, d4deleted(data));
  ASSERT_EQ(0, d4go(data, 3));
  EXPECT_EQ('*', record(readWhole(path), 2)[0]);

  // Recalling an undeleted record changes nothing.
  d4recall(data);
  EXPECT_EQ(0, d4changed(data, -1));
  ASSERT_EQ(0, d4go(data, 2));
  EXPECT_EQ(1, d4deleted(data));
  d4recall(data);
  EXPECT_EQ(1, d4changed(data, -1));
  ASSERT_EQ(0, d4close(data));
  EXPECT_EQ(' ', record(readWhole(path), 2)[0]);
}

TEST_F(AppendTest, LockEnforcementRefusesChangesToAnUnlockedRecord) {
  const std::string path = numbered("t.dbf", 2);
  const std::string before = readWhole(path);
  DATA4 *data = open(path, 0);
  c4.lockEnforce = 1;
  c4.errOff = 1;
  ASSERT_EQ(0, d4go(data, 1));
  d4delete(data);
  EXPECT_EQ(err::kLock, c4.errorCode);
  EXPECT_EQ(0, d4deleted(data));
  error4set(&c4, 0);
  d4blank(data);
  EXPECT_EQ(err::kLock, c4.errorCode);
  error4set(&c4, 0);
  EXPECT_EQ(0, d4changed(data, -1));
  EXPECT_EQ(before.substr(headerLength(before), 26), std::string(d4recordLow(data), 26));

  ASSERT_EQ(0, d4lock(data, 1));
  d4delete(data);
  EXPECT_EQ(1, d4deleted(data));
  EXPECT_EQ(0, c4.errorCode);
  ASSERT_EQ(0, d4close(data));
  EXPECT_EQ('*', record(readWhole(path), 1)[0]);
}

TEST_F(AppendTest, WriteRefusesBadRecordNumbersAndTheEndOfFile) {
  const std::string path = numbered("t.dbf", 2);
  const std::string before = readWhole(path);
  DATA4 *data = open(path, 1);
  struct Case {
    const char *name;
    long recNo;
    bool atEnd;
    int code;
    const char *text;
  };
  const Case cases[] = {{"record 0", 0, false, err::kParm, "Unexpected Parameter"},
                        {"below -1", -2, false, err::kParm, "Unexpected Parameter"},
                        {"at end of file", -1, true, err::kWrite, "attempt to d4write record to a non-existant record"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    shownMessages().clear();
    if (c.atEnd) {
      ASSERT_EQ(r4eof, d4goEof(data));
    }
    EXPECT_EQ(c.code, d4writeLow(data, c.recNo, 0, 0));
    EXPECT_EQ(c.code, c4.errorCode);
    ASSERT_EQ(1u, shownMessages().size());
    EXPECT_NE(std::string::npos, shownMessages()[0].find(c.text)) << shownMessages()[0];
    error4set(&c4, 0);
  }
  ASSERT_EQ(0, d4close(data));
  EXPECT_EQ(before, readWhole(path));
}

TEST_F(AppendTest, ReadOnlyHandleRefusesEveryWrite) {
  const std::string path = numbered("people.dbf", 2);
  const std::string before = readWhole(path);
  c4.readOnly = 1;
  DATA4 *data = open(path);
  ASSERT_NE(nullptr, data);
  struct Case {
    const char *name;
    std::function<int()> call;
  };
  const Case cases[] = {
      {"append", [&] { return d4append(data); }},
      {"append blank", [&] { return d4appendBlank(data); }},
      {"write", [&] { return d4writeLow(data, 1, 0, 0); }},
      {"zap", [&] { return d4zap(data, 1, 2); }},
      {"unappend", [&] { return d4unappend(data); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(0, d4go(data, 1));
    shownMessages().clear();
    EXPECT_EQ(err::kWrite, c.call());
    ASSERT_EQ(1u, shownMessages().size());
    EXPECT_TRUE(file::testing::hasLines(shownMessages()[0], {"attempt to write to a read-only file", "PEOPLE"}))
        << shownMessages()[0];
    error4set(&c4, 0);
  }
  ASSERT_EQ(0, d4close(data));
  EXPECT_EQ(before, readWhole(path));
}

// ---------------------------------------------------------------------------
// Taking the last record away again

TEST_F(AppendTest, UnappendRemovesTheLastRecord) {
  for (char mode : {0, 1}) {
    SCOPED_TRACE(static_cast<int>(mode));
    const std::string path = numbered("t" + std::to_string(mode) + ".dbf", 3);
    DATA4 *data = open(path, mode);
    ASSERT_EQ(0, d4unappend(data)) << Context::lastMessage();
    EXPECT_EQ(2, d4recCountDo(data));
    EXPECT_EQ(-1, d4recNo(data));
    std::string bytes = readWhole(path);
    EXPECT_EQ(2, headerCount(bytes));
    EXPECT_EQ(headerLength(bytes) + 2 * recordWidth(bytes) + 1, bytes.size());
    EXPECT_EQ('\x1A', bytes.back());
    ASSERT_EQ(0, d4close(data));
    bytes = readWhole(path);
    EXPECT_EQ(2, headerCount(bytes));
    EXPECT_EQ("2", idOf(bytes, 2));
  }
}

TEST_F(AppendTest, UnappendFreesTheMemoBlocksOfTheRecord) {
  const std::vector<FieldDef> fields = {{"ID", 'N', 6, 0}, {"NOTE", 'M', 10, 0}};
  const std::string path = write("memo.dbf", dbfBytes(fields, {}, 0x8B));
  const std::string memoPath = write("memo.dbt", emptyDbtBytes());
  DATA4 *data = open(path, 1);
  const std::string note(600, 'x');  // blocks 1 and 2 of 512 bytes
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(0, d4appendStart(data, 0));
    ASSERT_EQ(0, f4memoAssignN(d4field(data, "NOTE"), note.data(), static_cast<unsigned>(note.size())));
    ASSERT_EQ(0, d4append(data)) << Context::lastMessage();
    ASSERT_EQ(0, d4flush(data));
    // The second memo takes the blocks the first one left.
    EXPECT_EQ(3u * 512, readWhole(memoPath).size());
    if (i == 0) {
      ASSERT_EQ(0, d4unappend(data)) << Context::lastMessage();
    }
  }
  ASSERT_EQ(0, d4close(data));
  const std::string bytes = readWhole(path);
  EXPECT_EQ(1, headerCount(bytes));
  EXPECT_EQ(std::string("         1"), record(bytes, 1).substr(7, 10));
}

TEST_F(AppendTest, UnappendOnAnEmptyTableFindsNoRecord) {
  const std::string path = numbered("t.dbf", 0);
  const std::string before = readWhole(path);
  DATA4 *data = open(path);
  EXPECT_EQ(r4entry, d4unappend(data));
  EXPECT_EQ(0, c4.errorCode);
  ASSERT_EQ(0, d4close(data));
  EXPECT_EQ(before, readWhole(path));
}

// ---------------------------------------------------------------------------
// Closing

TEST_F(AppendTest, ClosingWritesThePendingRecordButDropsAnUnfinishedAppend) {
  const std::string path = numbered("t.dbf", 2);
  DATA4 *data = open(path, 1);
  ASSERT_EQ(0, d4go(data, 1));
  ASSERT_EQ(0, f4assign(d4field(data, "NAME"), "Kept"));
  ASSERT_EQ(0, d4close(data));
  std::string bytes = readWhole(path);
  EXPECT_EQ(rowBytes(plainFields(), {"1", "Kept", "20240101", "T"}), record(bytes, 1));

  data = open(path, 1);
  ASSERT_EQ(0, d4appendStart(data, 0));
  f4assign(d4field(data, "NAME"), "Dropped");
  ASSERT_EQ(0, d4close(data));
  bytes = readWhole(path);
  EXPECT_EQ(2, headerCount(bytes));
  EXPECT_EQ(headerLength(bytes) + 2 * recordWidth(bytes) + 1, bytes.size());
}

TEST_F(AppendTest, CloseAfterAnEarlierErrorStillClosesAndReturnsIt) {
  const std::string path = numbered("t.dbf", 1);
  DATA4 *data = open(path, 1);
  ASSERT_EQ(0, appendRow(data, 2, "B"));
  error4set(&c4, err::kRead);
  EXPECT_EQ(err::kRead, d4close(data));
  EXPECT_EQ(err::kRead, c4.errorCode);
  EXPECT_EQ(0u, c4.dataList.count);
  EXPECT_EQ(2, headerCount(readWhole(path)));
}

}  // namespace
}  // namespace tablekit
