// Tests of memo files and memo entries: block sizes of new files, memos
// written and read back across several blocks, the free chain (reuse of
// freed runs, merging, the worked example of a file's life), the marker
// rule, damaged lengths and chains reported without ending the process,
// the memo file lock, the whole-file check, and the F4MEMO operations.
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "data/data_layer.h"
#include "file/test_support.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit {
namespace {

using data::MemoRun;
using file::testing::Context;
using file::testing::readWhole;
using file::testing::shownMessages;
using file::testing::TempDir;
using file::testing::writeWhole;

const FIELD4INFO kFields[] = {{const_cast<char *>("NAME"), 'C', 10, 0, 0},
                              {const_cast<char *>("NOTES"), 'M', 10, 0, 0},
                              {const_cast<char *>("PIC"), 'B', 10, 0, 0},
                              {nullptr, 0, 0, 0, 0}};

long le32(const std::string &bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return static_cast<long>(static_cast<std::int32_t>(v));
}

void put32(std::string &bytes, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Contents that are not text: every byte value, NULs included.
std::string contents(std::size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  return s;
}

// A run of the free chain as the file's bytes say: first block and length;
// the end entry has length -1.
using Chain = std::vector<std::pair<long, long>>;

class MemoTest : public ::testing::Test {
 protected:
  void SetUp() override { open("notes", 512); }

  void open(const std::string &name, unsigned blockSize) {
    if (data_ != nullptr) {
      ASSERT_EQ(0, d4close(data_));
    }
    name_ = name;
    ctx_.c4.memoBlockSize = blockSize;
    data_ = d4create(&ctx_.c4, (dir_ / name).c_str(), kFields, nullptr);
    ASSERT_NE(nullptr, data_);
  }

  MEMO4FILE &memo() { return data_->dataFile->memoFile; }
  std::string dbt() const { return readWhole(dir_ / (name_ + ".DBT")); }
  unsigned blockSize() { return data::memoBlockSize(memo()); }

  long write(long block, const std::string &text) {
    long b = block;
    EXPECT_EQ(0, data::memo4fileWrite(memo(), &b, text.data(), static_cast<unsigned>(text.size())));
    return b;
  }

  // The memo at block, or "<rc>" when the read failed.
  std::string read(long block) {
    char *buffer = data::emptyMemoContents();
    unsigned capacity = 0, len = 0;
    const int rc = data::memo4fileRead(memo(), block, &buffer, &capacity, &len);
    std::string text = rc == 0 ? std::string(buffer, len) : "<" + std::to_string(rc) + ">";
    if (rc == 0) {
      EXPECT_EQ('\0', buffer[len]);
      EXPECT_EQ('\0', buffer[len + 1]);
    }
    if (capacity > 0) u4freeDefault(buffer);
    return text;
  }

  // The free chain read from the file's bytes, end entry included.
  Chain chain() const {
    const std::string bytes = dbt();
    const unsigned bs = static_cast<unsigned char>(bytes[20]) | (static_cast<unsigned char>(bytes[21]) << 8);
    Chain runs;
    long p = le32(bytes, 0);
    while (static_cast<std::size_t>(p) * bs < bytes.size() && runs.size() < 100) {
      runs.emplace_back(p, le32(bytes, p * bs + 4));
      p = le32(bytes, p * bs);
    }
    runs.emplace_back(p, -1);
    return runs;
  }

  void expectConsistent(const std::vector<long> &memos) {
    EXPECT_EQ(0, data::memoCheckBlocks(memo(), memos.data(), static_cast<unsigned>(memos.size())));
  }

  void damage(std::size_t at, const std::string &bytes) {
    std::string all = dbt();
    all.replace(at, bytes.size(), bytes);
    writeWhole(dir_ / (name_ + ".DBT"), all);
  }

  TempDir dir_;
  Context ctx_;
  DATA4 *data_ = nullptr;
  std::string name_;
};

TEST_F(MemoTest, NewFileBlockSizeIsRoundedUpToAMultipleOf512) {
  struct Case {
    const char *name;
    unsigned setting;
    unsigned blockSize;
  };
  const Case cases[] = {
      {"0 becomes 512", 0, 512},   {"1", 1, 512},         {"512", 512, 512},
      {"513", 513, 1024},          {"1024", 1024, 1024},  {"largest the header holds", 65024, 65024},
      {"just under it", 65000, 65024},
  };
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    open("size" + std::to_string(n++), c.setting);
    EXPECT_EQ(c.blockSize, ctx_.c4.memoBlockSize);
    const std::string bytes = dbt();
    ASSERT_EQ(24u, bytes.size());
    EXPECT_EQ(c.blockSize, static_cast<unsigned char>(bytes[20]) | (static_cast<unsigned char>(bytes[21]) << 8));
    EXPECT_EQ(c.blockSize, blockSize());
  }
}

TEST_F(MemoTest, BlockSizeTheHeaderCannotHoldIsRefused) {
  ctx_.c4.memoBlockSize = 65025;
  shownMessages().clear();
  EXPECT_EQ(nullptr, d4create(&ctx_.c4, (dir_ / "huge").c_str(), kFields, nullptr));
  EXPECT_EQ(err::kParm, ctx_.c4.errorCode);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "huge.DBF"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "huge.DBT"));
}

TEST_F(MemoTest, ContentsOfEveryLengthReadBackAndTakeTheirBlocks) {
  struct Case {
    unsigned blockSize;
    std::size_t len;
    long blocks;
  };
  const Case cases[] = {
      {512, 1, 1},     {512, 504, 1},   {512, 505, 2},    {512, 1016, 2},
      {512, 1017, 3},  {1024, 1016, 1}, {1024, 5000, 5},  {512, 100000, 196},
  };
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.len) + " bytes in blocks of " + std::to_string(c.blockSize));
    open("len" + std::to_string(n++), c.blockSize);
    const std::string text = contents(c.len, static_cast<unsigned>(n));
    const long block = write(0, text);
    EXPECT_EQ(1, block);
    // Padded to the last block's end, which the chain's end entry names.
    EXPECT_EQ((1 + c.blocks) * c.blockSize, static_cast<long>(dbt().size()));
    EXPECT_EQ((Chain{{1 + c.blocks, -1}}), chain());
    EXPECT_EQ(text, read(block));
    const std::string bytes = dbt();
    EXPECT_EQ(std::string("\xFF\xFF\x08\x00", 4), bytes.substr(c.blockSize, 4));
    EXPECT_EQ(static_cast<long>(c.len + 8), le32(bytes, c.blockSize + 4));
    expectConsistent({block});
  }
}

TEST_F(MemoTest, WorkedExampleOfAFilesLife) {
  long first = write(0, contents(600));
  EXPECT_EQ(1, first);
  EXPECT_EQ(1536u, dbt().size());
  EXPECT_EQ((Chain{{3, -1}}), chain());

  const long second = write(0, contents(100, 2));
  EXPECT_EQ(3, second);
  EXPECT_EQ((Chain{{4, -1}}), chain());

  // Shorter contents stay in the tail of their run; its head is freed.
  first = write(first, contents(100, 3));
  EXPECT_EQ(2, first);
  EXPECT_EQ((Chain{{1, 1}, {4, -1}}), chain());

  const long third = write(0, contents(100, 4));
  EXPECT_EQ(1, third);
  EXPECT_EQ((Chain{{4, -1}}), chain());
  EXPECT_EQ(2048u, dbt().size());

  EXPECT_EQ(contents(100, 3), read(first));
  EXPECT_EQ(contents(100, 2), read(second));
  EXPECT_EQ(contents(100, 4), read(third));
  expectConsistent({first, second, third});
}

TEST_F(MemoTest, LongerContentsMoveAndTheirOldRunIsReused) {
  long a = write(0, contents(600));      // blocks 1-2
  const long b = write(0, contents(100, 2));  // block 3
  a = write(a, contents(1500, 3));       // 3 blocks: no run is long enough, so the end
  EXPECT_EQ(4, a);
  EXPECT_EQ((Chain{{1, 2}, {7, -1}}), chain());
  const long c = write(0, contents(1000, 4));  // 2 blocks: the freed run exactly
  EXPECT_EQ(1, c);
  EXPECT_EQ((Chain{{7, -1}}), chain());
  EXPECT_EQ(contents(1500, 3), read(a));
  EXPECT_EQ(contents(1000, 4), read(c));
  expectConsistent({a, b, c});
}

TEST_F(MemoTest, FreedRunMergesWithFreeNeighboursOnBothSides) {
  std::vector<long> blocks;
  for (unsigned i = 0; i < 5; ++i) blocks.push_back(write(0, contents(100, i)));
  EXPECT_EQ((std::vector<long>{1, 2, 3, 4, 5}), blocks);
  EXPECT_EQ(0, write(blocks[0], ""));
  EXPECT_EQ(0, write(blocks[2], ""));
  EXPECT_EQ((Chain{{1, 1}, {3, 1}, {6, -1}}), chain());
  EXPECT_EQ(0, write(blocks[1], ""));
  EXPECT_EQ((Chain{{1, 3}, {6, -1}}), chain());
  expectConsistent({blocks[3], blocks[4]});

  // A memo of three blocks fills the merged run.
  const long big = write(0, contents(1200, 9));
  EXPECT_EQ(1, big);
  EXPECT_EQ((Chain{{6, -1}}), chain());
  expectConsistent({big, blocks[3], blocks[4]});
}

TEST_F(MemoTest, RewriteThatNeedsMoreBlocksCanUseItsMergedOldRun) {
  const long a = write(0, contents(100));
  const long b = write(0, contents(100, 2));
  const long c = write(0, contents(100, 3));
  EXPECT_EQ(0, write(b, ""));
  EXPECT_EQ((Chain{{2, 1}, {4, -1}}), chain());
  // Two blocks: a's own block merged with b's freed one.
  const long moved = write(a, contents(700, 4));
  EXPECT_EQ(1, moved);
  EXPECT_EQ((Chain{{4, -1}}), chain());
  EXPECT_EQ(contents(700, 4), read(moved));
  expectConsistent({moved, c});
}

TEST_F(MemoTest, MemoEndingOnABlockBoundaryLeavesTheEndOfTheChainAtTheEndOfTheFile) {
  const long a = write(0, contents(504));
  EXPECT_EQ(1, a);
  EXPECT_EQ(1024u, dbt().size());
  EXPECT_EQ((Chain{{2, -1}}), chain());
  const long b = write(0, contents(504, 2));
  EXPECT_EQ(2, b);
  EXPECT_EQ(contents(504), read(a));
  EXPECT_EQ(contents(504, 2), read(b));
  expectConsistent({a, b});
}

TEST_F(MemoTest, EmptyContentsFreeTheRun) {
  long a = write(0, contents(600));
  a = write(a, "");
  EXPECT_EQ(0, a);
  EXPECT_EQ((Chain{{1, 2}, {3, -1}}), chain());
  EXPECT_EQ("", read(0));
  expectConsistent({});
}

TEST_F(MemoTest, BlockWithoutTheMarkerReadsAsEmpty) {
  const long a = write(0, contents(50));
  damage(512, std::string(2, '\0'));
  shownMessages().clear();
  EXPECT_EQ("", read(a));
  EXPECT_EQ(0, ctx_.c4.errorCode);
  EXPECT_TRUE(shownMessages().empty());
}

TEST_F(MemoTest, ImpossibleStoredMemosAreReportedAndReturned) {
  struct Case {
    const char *name;
    std::size_t at;
    std::string bytes;
    long block;
  };
  const Case cases[] = {
      {"length 0xFFFFFFFF", 516, std::string(4, '\xFF'), 1},
      {"length past the end of the file", 516, std::string("\x00\x10\x00\x00", 4), 1},
      {"length shorter than its header", 516, std::string("\x04\x00\x00\x00", 4), 1},
      {"block past the end of the file", 0, "", 9},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    open(std::string("bad") + std::to_string(&c - cases), 512);
    const long a = write(0, contents(50));
    ASSERT_EQ(1, a);
    if (!c.bytes.empty()) damage(c.at, c.bytes);
    shownMessages().clear();
    EXPECT_EQ("<" + std::to_string(err::kInfo) + ">", read(c.block));  // the process goes on
    EXPECT_EQ(err::kInfo, ctx_.c4.errorCode);
    ASSERT_EQ(1u, shownMessages().size());
    EXPECT_NE(std::string::npos, shownMessages()[0].find("Unexpected Information"));
    ctx_.c4.errorCode = 0;
  }
}

TEST_F(MemoTest, DamagedFreeChainIsReportedNotFollowed) {
  struct Case {
    const char *name;
    std::size_t at;
    std::uint32_t value;
  };
  const Case cases[] = {
      {"header points at itself", 0, 0},
      {"run points back at itself", 512, 1},
      {"run longer than the file", 516, 50},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    open(std::string("chain") + std::to_string(&c - cases), 512);
    long a = write(0, contents(600));
    (void)write(0, contents(100, 2));
    a = write(a, contents(100, 3));  // chain: header -> 1 (1 block) -> 4
    std::string bytes(4, '\0');
    put32(bytes, 0, c.value);
    damage(c.at, bytes);
    shownMessages().clear();
    long block = 0;
    const std::string text = contents(3000);
    EXPECT_EQ(err::kMemoCorrupt, data::memo4fileWrite(memo(), &block, text.data(), 3000u));
    EXPECT_EQ(err::kMemoCorrupt, ctx_.c4.errorCode);
    ctx_.c4.errorCode = 0;
  }
}

TEST_F(MemoTest, CheckFindsABlockUsedTwice) {
  const long a = write(0, contents(600));
  shownMessages().clear();
  const long twice[] = {a, a + 1};  // the second starts inside the first
  damage(1024, std::string("\xFF\xFF\x08\x00\x10\x00\x00\x00", 8));
  EXPECT_EQ(err::kInfo, data::memoCheckBlocks(memo(), twice, 2));
  ASSERT_EQ(1u, shownMessages().size());
  EXPECT_NE(std::string::npos, shownMessages()[0].find("memo block used twice"));
}

TEST_F(MemoTest, CheckEndsTheProcessOnWastedBlocks) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const long a = write(0, contents(600));
  (void)a;
  // Nobody names the memo at block 1: its blocks are neither used nor free.
  EXPECT_EXIT((void)data::memoCheckBlocks(memo(), nullptr, 0), ::testing::ExitedWithCode(kFatalExitStatus), "");
}

TEST_F(MemoTest, MemoFileLockTakesItsTwoBytesAgainstOtherHandles) {
  ASSERT_EQ(0, data_->dataFile->file.accessMode);
  FILE4 other;
  ASSERT_EQ(0, file4open(&other, &ctx_.c4, (dir_ / "notes.DBT").c_str(), 1));
  ctx_.c4.lockAttempts = 1;

  ASSERT_EQ(0, data::memoFileLock(*data_->dataFile));
  EXPECT_EQ(1, memo().fileLock);
  EXPECT_EQ(1, ctx_.c4.lockAttempts);  // waited without limit for its own call only
  EXPECT_EQ(0, data::memoFileLock(*data_->dataFile));  // held already
  EXPECT_EQ(50, file4lockInternal(&other, 0xEFFFFFFEul, 0, 1, 0));
  EXPECT_EQ(50, file4lockInternal(&other, 0xEFFFFFFFul, 0, 1, 0));
  ASSERT_EQ(0, file4lockInternal(&other, 0xEFFFFFFDul, 0, 1, 0));  // the byte before is free
  ASSERT_EQ(0, file4unlockInternal(&other, 0xEFFFFFFDul, 0, 1, 0));

  ASSERT_EQ(0, data::memoFileUnlock(*data_->dataFile));
  EXPECT_EQ(0, memo().fileLock);
  EXPECT_EQ(0, data::memoFileUnlock(*data_->dataFile));  // not held: nothing to do
  EXPECT_EQ(0, file4lockInternal(&other, 0xEFFFFFFEul, 0, 2, 0));
  EXPECT_EQ(0, file4unlockInternal(&other, 0xEFFFFFFEul, 0, 2, 0));
  EXPECT_EQ(0, file4close(&other));
}

TEST_F(MemoTest, OpeningRefusesABlockSizeOfZero) {
  ASSERT_EQ(0, d4close(data_));
  data_ = nullptr;
  damage(20, std::string(2, '\0'));
  EXPECT_EQ(nullptr, d4open(&ctx_.c4, (dir_ / "notes").c_str()));
  EXPECT_EQ(err::kMemoCorrupt, ctx_.c4.errorCode);
}

// ---------------------------------------------------------------------------
// Entries

TEST_F(MemoTest, AssignedContentsStayInMemoryUntilWritten) {
  FIELD4 *notes = d4field(data_, "NOTES");
  ASSERT_NE(nullptr, notes);
  ASSERT_EQ(0, f4memoAssign(notes, "hello, world"));
  EXPECT_EQ(12u, f4memoLen(notes));
  EXPECT_STREQ("hello, world", f4memoPtr(notes));
  EXPECT_EQ('\0', f4memoPtr(notes)[13]);
  EXPECT_STREQ("hello, world", f4memoStr(notes));
  EXPECT_EQ(1, notes->memo->changed);
  EXPECT_EQ(1, data_->recordChanged);
  EXPECT_EQ(24u, dbt().size());  // the memo file is written only with the record

  char small[6];
  EXPECT_EQ(5u, f4memoNcpy(notes, small, sizeof small));
  EXPECT_STREQ("hello", small);
  EXPECT_EQ(0u, f4memoNcpy(notes, small, 0));

  // Bytes from the contents themselves, NULs included.
  ASSERT_EQ(0, f4memoAssignN(notes, f4memoPtr(notes) + 7, 5));
  EXPECT_STREQ("world", f4memoPtr(notes));
  ASSERT_EQ(0, f4memoAssignN(notes, "a\0b", 3));
  EXPECT_EQ(3u, f4memoLen(notes));
  EXPECT_EQ(0, std::memcmp("a\0b\0\0", f4memoPtr(notes), 5));

  ASSERT_EQ(0, f4memoSetLen(notes, 2000));
  EXPECT_EQ(2000u, f4memoLen(notes));
  EXPECT_EQ('\0', f4memoPtr(notes)[2000]);
  EXPECT_EQ('\0', f4memoPtr(notes)[2001]);

  ASSERT_EQ(0, f4memoAssign(notes, nullptr));
  EXPECT_EQ(0u, f4memoLen(notes));
  EXPECT_STREQ("", f4memoPtr(notes));
}

TEST_F(MemoTest, FreeDropsTheBufferAndUnwrittenContents) {
  FIELD4 *notes = d4field(data_, "NOTES");
  ASSERT_EQ(0, f4memoAssign(notes, "draft"));
  ASSERT_EQ(0, f4memoFree(notes));
  EXPECT_EQ(0u, notes->memo->capacity);
  EXPECT_EQ(0, notes->memo->changed);
  EXPECT_EQ(1, notes->memo->status);
  EXPECT_EQ(0u, f4memoLen(notes));  // read again: no current record, nothing stored
  EXPECT_STREQ("", f4memoPtr(notes));
}

TEST_F(MemoTest, PlainFieldsFallBackToTheFieldOperations) {
  FIELD4 *name = d4field(data_, "NAME");
  EXPECT_EQ(10u, f4memoLen(name));
  ASSERT_EQ(0, f4memoAssign(name, "Bob"));
  EXPECT_EQ(0, std::memcmp("Bob       ", f4ptr(name), 10));
  EXPECT_EQ(f4ptr(name), f4memoPtr(name));
  ASSERT_EQ(0, f4memoAssignN(name, "Alice", 5));
  EXPECT_STREQ("Alice     ", f4memoStr(name));
  char copy[4];
  EXPECT_EQ(3u, f4memoNcpy(name, copy, sizeof copy));
  EXPECT_STREQ("Ali", copy);
  EXPECT_EQ(0, f4memoFree(name));
  EXPECT_EQ(err::kParm, f4memoSetLen(name, 3));
}

TEST_F(MemoTest, MissingFieldIsReported) {
  shownMessages().clear();
  EXPECT_EQ(err::kParmNull, f4memoAssign(nullptr, "x"));
  EXPECT_EQ(err::kParmNull, f4memoAssignN(nullptr, "x", 1));
  EXPECT_EQ(err::kParmNull, f4memoSetLen(nullptr, 1));
  EXPECT_EQ(err::kParmNull, f4memoFree(nullptr));
  EXPECT_EQ(0u, f4memoLen(nullptr));
  EXPECT_EQ(nullptr, f4memoPtr(nullptr));
  EXPECT_EQ(6u, shownMessages().size());
}

TEST_F(MemoTest, AssignmentAfterAnErrorChangesNothing) {
  FIELD4 *notes = d4field(data_, "NOTES");
  ASSERT_EQ(0, f4memoAssign(notes, "kept"));
  ctx_.c4.errorCode = -1;
  EXPECT_EQ(-1, f4memoAssign(notes, "lost"));
  EXPECT_EQ(-1, f4memoSetLen(notes, 100));
  ctx_.c4.errorCode = 0;
  EXPECT_STREQ("kept", f4memoPtr(notes));
}

TEST_F(MemoTest, AssignmentTooLargeEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  FIELD4 *notes = d4field(data_, "NOTES");
  EXPECT_EXIT((void)f4memoAssignN(notes, "x", 0xFFFFFF80u), ::testing::ExitedWithCode(kFatalExitStatus), "");
}

TEST_F(MemoTest, AppendingStoresContentsAndBlanksEmptyFields) {
  FIELD4 *notes = d4field(data_, "NOTES");
  FIELD4 *pic = d4field(data_, "PIC");
  const std::string text = contents(1500);
  ASSERT_EQ(0, f4memoAssignN(notes, text.data(), static_cast<unsigned>(text.size())));
  std::memset(f4assignPtr(pic), 'x', 10);

  ASSERT_EQ(0, data::memoAppendContents(*data_));
  EXPECT_EQ(0, std::memcmp("         1", f4ptr(notes), 10));
  EXPECT_EQ(std::string(10, '\0'), std::string(f4ptr(pic), 10));
  EXPECT_EQ(0, notes->memo->changed);
  EXPECT_EQ(text, read(1));
  EXPECT_EQ((Chain{{4, -1}}), chain());

  // The stored image names the block: loading brings the contents back.
  std::memcpy(data_->oldRecord, data_->record, d4recWidthLow(data_));
  data::memoResetEntries(*data_);
  EXPECT_EQ(0u, notes->memo->len);
  ASSERT_EQ(0, data::memoLoadAll(*data_));
  EXPECT_EQ(0, notes->memo->status);
  EXPECT_EQ(0, notes->memo->changed);
  EXPECT_EQ(text, std::string(f4memoPtr(notes), f4memoLen(notes)));
  EXPECT_EQ(0u, f4memoLen(pic));
}

// ---------------------------------------------------------------------------
// Through the table: memos written by appending and writing records.

class MemoTableTest : public MemoTest {
 protected:
  FIELD4 *name() { return d4field(data_, "NAME"); }
  FIELD4 *notes() { return d4field(data_, "NOTES"); }

  void append(const char *text, const std::string &memo) {
    ASSERT_EQ(0, d4appendStart(data_, 0));
    d4blank(data_);
    ASSERT_EQ(0, f4assign(name(), text));
    ASSERT_EQ(0, f4memoAssignN(notes(), memo.data(), static_cast<unsigned>(memo.size())));
    ASSERT_EQ(0, d4append(data_));
  }

  std::string memoOf(long recNo) {
    EXPECT_EQ(0, d4go(data_, recNo));
    return std::string(f4memoPtr(notes()), f4memoLen(notes()));
  }

  int check() { return data::f4memoCheck(memo(), *data_); }
};

TEST_F(MemoTableTest, MemosWrittenThroughAppendAndWriteReadBackAfterReopening) {
  const std::string first = contents(1500);
  append("first", first);
  EXPECT_EQ(0, std::memcmp("         1", f4ptr(notes()), 10));
  append("second", "");
  EXPECT_EQ(std::string(10, ' '), std::string(f4ptr(notes()), 10));

  // A third record carries a copy of the first one's memo, in blocks of its own.
  EXPECT_EQ(first, memoOf(1));
  ASSERT_EQ(0, d4appendStart(data_, 1));
  ASSERT_EQ(0, d4append(data_));
  EXPECT_EQ(4, f4long(notes()));
  EXPECT_EQ((Chain{{7, -1}}), chain());

  // Shorter contents stay in the tail of the old run; emptied ones free theirs.
  ASSERT_EQ(0, d4go(data_, 1));
  ASSERT_EQ(0, f4memoAssign(notes(), "now short"));
  ASSERT_EQ(0, d4go(data_, 3));
  ASSERT_EQ(0, f4memoAssign(notes(), ""));
  ASSERT_EQ(0, d4flush(data_));
  EXPECT_EQ(std::string(10, ' '), std::string(f4ptr(notes()), 10));
  EXPECT_EQ((Chain{{1, 2}, {4, 3}, {7, -1}}), chain());
  EXPECT_EQ(0, check());

  ASSERT_EQ(0, d4close(data_));
  data_ = d4open(&ctx_.c4, (dir_ / "notes").c_str());
  ASSERT_NE(nullptr, data_);
  EXPECT_EQ("now short", memoOf(1));
  EXPECT_EQ("", memoOf(2));
  EXPECT_EQ("", memoOf(3));
  EXPECT_EQ(0, check());
}

TEST_F(MemoTableTest, CheckFindsTwoRecordsSharingAMemo) {
  append("first", contents(600));
  append("second", contents(100, 2));
  ASSERT_EQ(0, d4close(data_));
  data_ = nullptr;
  // Record 2's field names record 1's memo.
  std::string table = readWhole(dir_ / "notes.DBF");
  const std::size_t headerLen = 32 * 3 + 33, width = 31, notesOffset = 11;
  table.replace(headerLen + width + notesOffset, 10, "         1");
  writeWhole(dir_ / "notes.DBF", table);
  data_ = d4open(&ctx_.c4, (dir_ / "notes").c_str());
  ASSERT_NE(nullptr, data_);
  shownMessages().clear();
  EXPECT_EQ(err::kInfo, check());
  ASSERT_EQ(1u, shownMessages().size());
  EXPECT_NE(std::string::npos, shownMessages()[0].find("memo block used twice"));
}

TEST_F(MemoTableTest, AssigningNeedsTheRecordLockUnderLockEnforce) {
  append("first", "one");
  ASSERT_EQ(0, d4unlock(data_));
  ASSERT_EQ(0, d4go(data_, 1));
  ctx_.c4.lockEnforce = 1;
  shownMessages().clear();
  EXPECT_EQ(err::kLock, f4memoAssign(notes(), "two"));
  ctx_.c4.errorCode = 0;
  EXPECT_EQ(err::kLock, f4memoSetLen(notes(), 5));
  ctx_.c4.errorCode = 0;
  EXPECT_EQ("one", std::string(f4memoPtr(notes()), f4memoLen(notes())));
  ASSERT_EQ(0, d4lock(data_, 1));
  EXPECT_EQ(0, f4memoAssign(notes(), "two"));
}

}  // namespace
}  // namespace tablekit
