// FILE4 handles: create and open with their settings and error mapping,
// share modes within and between processes, read-only files, reads at the
// end of a file, lengths, temporary files, close, flush and replace.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>

#include <sys/stat.h>

#include "file/file_layer.h"
#include "file/test_support.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit::file {
namespace {

using testing::Child;
using testing::Context;
using testing::hasLines;
using testing::readWhole;
using testing::TempDir;
using testing::writeWhole;

class HandlesTest : public ::testing::Test {
 protected:
  TempDir dir_;
  Context cx_;
  CODE4 &c4_ = cx_.c4;
  FILE4 file_{};
  FILE4 other_{};

  void TearDown() override {
    file4close(&file_);
    file4close(&other_);
  }
};

// ---------------------------------------------------------------------------
// Create

TEST_F(HandlesTest, CreateOverAnExistingFile) {
  struct Case {
    const char *name;
    char safety;
    int errCreate;
    int result;          // of file4create
    int errorCode;       // left in the context
    bool shown;          // a message was shown
    std::string after;   // the file's contents afterwards
  } const cases[] = {
      {"safety 1, errCreate 0: not created, quietly", 1, 0, r4noCreate, r4noCreate, false, "old"},
      {"safety 1, errCreate 1: reported", 1, 1, err::kCreate, err::kCreate, true, "old"},
      {"safety 0: emptied", 0, 1, 0, 0, false, ""},
  };
  const std::string path = dir_ / "T.DBF";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    writeWhole(path, "old");
    testing::shownMessages().clear();
    c4_.errorCode = 0;
    c4_.safety = c.safety;
    c4_.errCreate = c.errCreate;
    EXPECT_EQ(c.result, file4create(&file_, &c4_, path.c_str(), 0));
    EXPECT_EQ(c.errorCode, c4_.errorCode);
    EXPECT_EQ(c.shown, !testing::shownMessages().empty());
    if (c.shown) {
      EXPECT_TRUE(hasLines(Context::lastMessage(), {"Creating File", "file4create", path}));
    }
    EXPECT_EQ(c.result == 0 ? 1 : 0, file4openTest(&file_));
    EXPECT_EQ(0, file4close(&file_));
    EXPECT_EQ(c.after, readWhole(path));
  }
}

TEST_F(HandlesTest, CreateMakesANewFileWithTheNameAsGiven) {
  const std::string path = dir_ / "New.dbf";
  ASSERT_EQ(0, file4create(&file_, &c4_, path.c_str(), 1));
  EXPECT_EQ(1, file4openTest(&file_));
  EXPECT_EQ(path, file_.name);
  EXPECT_EQ(1, file_.nameAllocated);
  EXPECT_EQ(0, file_.isReadOnly);
  EXPECT_EQ(0u, file4lenLow(&file_));
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(HandlesTest, CreateInAMissingDirectoryFails) {
  const std::string path = dir_ / "NODIR/T.DBF";
  EXPECT_EQ(err::kCreate, file4create(&file_, &c4_, path.c_str(), 0));
  EXPECT_EQ(0, file4openTest(&file_));
  EXPECT_EQ(-1, file_.handle);
}

TEST_F(HandlesTest, CreateTempSettingDeletesTheFileAtClose) {
  const std::string path = dir_ / "GONE.DBF";
  c4_.createTemp = 1;
  ASSERT_EQ(0, file4create(&file_, &c4_, path.c_str(), 0));
  EXPECT_EQ(1, file_.isTemp);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(0, file4close(&file_));
  EXPECT_FALSE(std::filesystem::exists(path));
}

// ---------------------------------------------------------------------------
// Open

TEST_F(HandlesTest, OpenFailuresFollowErrOpen) {
  writeWhole(dir_ / "PLAIN", "x");
  struct Case {
    const char *name;
    std::string path;
    int code;  // reported with errOpen 1
  } const cases[] = {
      {"missing file", dir_ / "NONE.DBF", err::kFileFind},
      {"missing directory", dir_ / "NODIR/NONE.DBF", err::kFileFind},
      {"a directory", dir_.path(), err::kFileFind},
      {"through a file", dir_ / "PLAIN/X.DBF", err::kFileFind},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    testing::shownMessages().clear();
    c4_.errorCode = 0;
    c4_.errOpen = 1;
    EXPECT_EQ(c.code, file4open(&file_, &c4_, c.path.c_str(), 0));
    EXPECT_TRUE(hasLines(Context::lastMessage(), {"File Find Error Opening File", "file4open", c.path}));
    EXPECT_EQ(0, file4openTest(&file_));

    testing::shownMessages().clear();
    c4_.errorCode = 0;
    c4_.errOpen = 0;
    EXPECT_EQ(r4noOpen, file4open(&file_, &c4_, c.path.c_str(), 0));
    EXPECT_EQ(r4noOpen, c4_.errorCode);
    EXPECT_TRUE(testing::shownMessages().empty());
  }
}

// The system's reasons for a failed open map onto the engine's codes.
TEST_F(HandlesTest, OpenErrorMapping) {
  static int gFailWith = 0;
  platform::methods().file.open = [](const char *, platform::FileAccess, platform::FileDisposition,
                                     platform::FileShare, int *) { return gFailWith; };
  struct Case {
    int sysError;
    int code;
  } const cases[] = {
      {ENOENT, err::kFileFind},     {ENOTDIR, err::kFileFind},   {EISDIR, err::kFileFind},
      {ENAMETOOLONG, err::kFileFind}, {EMFILE, err::kNumFiles},  {ENFILE, err::kNumFiles},
      {EACCES, err::kPermission},   {EPERM, err::kPermission},   {platform::kShareConflict, err::kPermission},
      {ENOSPC, err::kWrite},        {EDQUOT, err::kWrite},       {EIO, err::kOpen},
  };
  const std::string path = dir_ / "T.DBF";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.sysError);
    gFailWith = c.sysError;
    c4_.errorCode = 0;
    EXPECT_EQ(c.code, file4open(&file_, &c4_, path.c_str(), 0));
    EXPECT_EQ(c.code, c4_.errorCode);
  }
}

TEST_F(HandlesTest, OpenRefusesAnUnknownAccessMode) {
  const std::string path = dir_ / "T.DBF";
  writeWhole(path, "x");
  c4_.accessMode = 3;
  EXPECT_EQ(err::kOpen, file4open(&file_, &c4_, path.c_str(), 0));
  c4_.errorCode = 0;
  EXPECT_EQ(err::kCreate, file4create(&other_, &c4_, (dir_ / "U.DBF").c_str(), 1));
}

TEST_F(HandlesTest, NullArguments) {
  char buf[4];
  EXPECT_EQ(err::kParm, file4open(nullptr, &c4_, "x", 0));
  EXPECT_EQ(err::kParm, file4open(&file_, &c4_, nullptr, 0));
  EXPECT_EQ(err::kParmNull, file4create(nullptr, &c4_, "x", 0));
  EXPECT_EQ(err::kParmNull, file4close(nullptr));
  EXPECT_EQ(0u, file4read(nullptr, 0, buf, 4));
  EXPECT_EQ(err::kParmNull, file4readAll(nullptr, 0, buf, 4));
  EXPECT_EQ(err::kParmNull, file4write(nullptr, 0, buf, 4));
  EXPECT_EQ(err::kParmNull, file4flush(nullptr));
  EXPECT_EQ(err::kNotSupported, file4temp(&file_, &c4_, buf, 0));
}

TEST_F(HandlesTest, ClosedRecordsAreNotOpen) {
  FILE4 zeros;
  std::memset(&zeros, 0, sizeof zeros);  // handle 0 without a fileLock: never opened
  EXPECT_EQ(0, file4openTest(&zeros));
  EXPECT_EQ(0, file4close(&zeros));
  char buf[4];
  EXPECT_EQ(err::kParm, file4write(&zeros, 0, "abcd", 4));
  c4_.errorCode = 0;
  EXPECT_EQ(0u, file4read(&zeros, 0, buf, 4));
}

// ---------------------------------------------------------------------------
// Read-only files

TEST_F(HandlesTest, ReadOnlyAttributeOrSettingOpensForReading) {
  const std::string path = dir_ / "RO.DBF";
  writeWhole(path, "0123456789");
  struct Case {
    const char *name;
    mode_t mode;
    int readOnlySetting;
  } const cases[] = {
      {"attribute", 0444, 0},
      {"setting", 0644, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(0, ::chmod(path.c_str(), c.mode));
    c4_.readOnly = c.readOnlySetting;
    ASSERT_EQ(0, file4open(&file_, &c4_, path.c_str(), 0));
    EXPECT_EQ(1, file_.isReadOnly);
    char buf[4];
    EXPECT_EQ(0, file4readAll(&file_, 2, buf, 4));
    EXPECT_EQ("2345", std::string(buf, 4));

    EXPECT_EQ(err::kWrite, file4write(&file_, 0, "abcd", 4));
    EXPECT_TRUE(hasLines(Context::lastMessage(), {"Writing to File", "attempt to write to a read-only file", path}));
    c4_.errorCode = 0;
    EXPECT_EQ(err::kParm, file4lenSetLow(&file_, 2));
    EXPECT_TRUE(hasLines(Context::lastMessage(),
                         {"Unexpected Parameter", "attempt to change file length of a read-only file", path}));
    c4_.errorCode = 0;
    EXPECT_EQ(0, file4flush(&file_));
    EXPECT_EQ(0, file4close(&file_));
    EXPECT_EQ("0123456789", readWhole(path));
  }
}

// ---------------------------------------------------------------------------
// Reading, writing, length

TEST_F(HandlesTest, ReadPastTheEndReturnsWhatExists) {
  const std::string path = dir_ / "T.DBF";
  writeWhole(path, "0123456789");
  ASSERT_EQ(0, file4open(&file_, &c4_, path.c_str(), 0));
  struct Case {
    long pos;
    unsigned len;
    unsigned got;
  } const cases[] = {{0, 10, 10}, {5, 10, 5}, {10, 4, 0}, {20, 4, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pos);
    char buf[16];
    EXPECT_EQ(c.got, file4read(&file_, c.pos, buf, c.len));
    EXPECT_EQ(0, c4_.errorCode);
  }
}

TEST_F(HandlesTest, ReadAllOfAShortRangeReportsPositionLengthAndRoutine) {
  const std::string path = dir_ / "T.DBF";
  writeWhole(path, "0123456789");
  ASSERT_EQ(0, file4open(&file_, &c4_, path.c_str(), 0));
  char buf[16];
  EXPECT_EQ(err::kRead, file4readAll(&file_, 5, buf, 10));
  const std::string where = std::string(18, ' ') + "5" + " " + std::string(17, ' ') + "10";
  ASSERT_EQ(39u, where.size());
  EXPECT_TRUE(hasLines(Context::lastMessage(), {"Reading File", "file4readError", path, where, "file4readAllLow"}))
      << Context::lastMessage();
  EXPECT_EQ(err::kRead, c4_.errorCode);
  // In the error state nothing more is read or written.
  EXPECT_EQ(-1, file4readAll(&file_, 0, buf, 4));
  EXPECT_EQ(0u, file4read(&file_, 0, buf, 4));
  EXPECT_EQ(-1, file4write(&file_, 0, "abcd", 4));
  EXPECT_EQ(-1, file4close(&file_));  // close still closes, and says the context is in error
  EXPECT_EQ(0, file4openTest(&file_));
  EXPECT_EQ("0123456789", readWhole(path));
}

TEST_F(HandlesTest, WriteReadLengthAndCut) {
  const std::string path = dir_ / "T.DBF";
  ASSERT_EQ(0, file4create(&file_, &c4_, path.c_str(), 0));
  ASSERT_EQ(0, file4write(&file_, 4, "abcdef", 6));
  EXPECT_EQ(10u, file4lenLow(&file_));
  char buf[10];
  ASSERT_EQ(0, file4readAll(&file_, 0, buf, 10));
  EXPECT_EQ(std::string("\0\0\0\0abcdef", 10), std::string(buf, 10));
  ASSERT_EQ(0, file4lenSetLow(&file_, 6));
  EXPECT_EQ(6u, file4lenLow(&file_));
  ASSERT_EQ(0, file4lenSetLow(&file_, 100));
  EXPECT_EQ(100u, file4lenLow(&file_));
  EXPECT_EQ(0, file4flush(&file_));
  EXPECT_EQ(err::kParmNull, file4lenSetLow(&file_, static_cast<unsigned long>(-1)));
}

TEST_F(HandlesTest, APendingConditionBlocksLengthChanges) {
  ASSERT_EQ(0, file4create(&file_, &c4_, (dir_ / "T.DBF").c_str(), 1));
  c4_.errorCode = r4noOpen;
  EXPECT_EQ(-1, file4lenSetLow(&file_, 0));
}

TEST_F(HandlesTest, FilesOf2GigabytesCannotBeMeasured) {
  const std::string path = dir_ / "BIG.DBF";
  writeWhole(path, "");
  struct Case {
    std::uintmax_t size;
    unsigned long len;
  } const cases[] = {{0x7FFFFFFFu, 0x7FFFFFFFul}, {0x80000000u, static_cast<unsigned long>(-1)}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.size);
    std::filesystem::resize_file(path, c.size);  // sparse
    c4_.errorCode = 0;
    ASSERT_EQ(0, file4open(&file_, &c4_, path.c_str(), 0));
    EXPECT_EQ(c.len, file4lenLow(&file_));
    EXPECT_EQ(c.len == static_cast<unsigned long>(-1) ? err::kLength : 0, c4_.errorCode);
    file4close(&file_);
  }
}

// No write makes a file that could not be measured: one that would end past
// 2^31 - 1 bytes is refused, before anything is written, and the file keeps
// its length.
TEST_F(HandlesTest, WritesPast2GigabytesAreRefused) {
  const std::string path = dir_ / "BIG.DBF";
  ASSERT_EQ(0, file4create(&file_, &c4_, path.c_str(), 0));
  EXPECT_EQ(0, file4write(&file_, 0x7FFFFFFE, "a", 1));  // ends at 2^31 - 1: measurable
  EXPECT_EQ(0x7FFFFFFFul, file4lenLow(&file_));
  struct Case {
    const char *name;
    int (*write)(FILE4 *);
  } const cases[] = {
      {"file4write", [](FILE4 *f) { return file4write(f, 0x7FFFFFFF, "b", 1); }},
      {"file4write across", [](FILE4 *f) { return file4write(f, 0x7FFFFFF0, "0123456789abcdefg", 17); }},
      {"file4writeDelay", [](FILE4 *f) { return file4writeDelay(f, 0x7FFFFFFF, "b", 1, nullptr, nullptr); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    c4_.errorCode = 0;
    EXPECT_EQ(err::kWrite, c.write(&file_));
    EXPECT_TRUE(hasLines(Context::lastMessage(), {"Writing to File"}));
    EXPECT_TRUE(hasLines(Context::lastMessage(), {path, "2 GB or more"}));
    c4_.errorCode = 0;
    EXPECT_EQ(0x7FFFFFFFul, file4lenLow(&file_));
  }
  EXPECT_EQ(0, file4close(&file_));
  EXPECT_EQ(0x7FFFFFFFu, std::filesystem::file_size(path));
}

TEST_F(HandlesTest, FailedWritesAreReportedWithTheName) {
  const std::string path = dir_ / "T.DBF";
  ASSERT_EQ(0, file4create(&file_, &c4_, path.c_str(), 0));
  platform::methods().file.writeAt = [](int, std::uint64_t, const void *, std::size_t, std::size_t *done) {
    *done = 3;
    return ENOSPC;
  };
  EXPECT_EQ(err::kWrite, file4write(&file_, 0, "abcdef", 6));
  EXPECT_TRUE(hasLines(Context::lastMessage(), {"Writing to File", "file4write", path}));
}

TEST_F(HandlesTest, FailedSyncIsAFlushFailure) {
  ASSERT_EQ(0, file4create(&file_, &c4_, (dir_ / "T.DBF").c_str(), 1));
  platform::methods().file.sync = [](int) { return EIO; };
  c4_.errorCode = r4noOpen;  // a condition set before is put back
  EXPECT_EQ(err::kOptFlush, file4flush(&file_));
  EXPECT_EQ(r4noOpen, c4_.errorCode);
  EXPECT_TRUE(hasLines(Context::lastMessage(), {"Optimization File Flushing Failure", "file4lowFlush"}));
}

// ---------------------------------------------------------------------------
// Temporary files

TEST_F(HandlesTest, TemporaryFilesAreNamedAndPlaced) {
  TempDir tempDir, tmpDir;
  std::error_code ec;
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  struct Case {
    const char *name;
    const char *temp;
    const char *tmp;
    int useTempDirectory;
    const char *ext;
    std::string where;
    const char *suffix;
  } const cases[] = {
      {"TEMP first", tempDir.path().c_str(), tmpDir.path().c_str(), 1, nullptr, tempDir.path(), ".TMP"},
      {"TMP when TEMP is unset", nullptr, tmpDir.path().c_str(), 1, nullptr, tmpDir.path(), ".TMP"},
      {"current directory when neither is set", nullptr, nullptr, 1, "DBF", dir_.path(), ".DBF"},
      {"current directory without the flag", tempDir.path().c_str(), nullptr, 0, "SRT", dir_.path(), ".SRT"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    c.temp != nullptr ? ::setenv("TEMP", c.temp, 1) : ::unsetenv("TEMP");
    c.tmp != nullptr ? ::setenv("TMP", c.tmp, 1) : ::unsetenv("TMP");
    ASSERT_EQ(0, file4tempLow(&file_, &c4_, 1, c.useTempDirectory, c.ext));
    const std::filesystem::path made = std::filesystem::absolute(file_.name);
    EXPECT_TRUE(std::filesystem::equivalent(c.where, made.parent_path(), ec));
    EXPECT_TRUE(std::regex_match(made.filename().string(), std::regex(std::string("TEMP[0-9]{4}\\") + c.suffix)))
        << made;
    EXPECT_EQ(1, file_.isTemp);
    EXPECT_EQ(1, file_.accessMode);
    EXPECT_TRUE(std::filesystem::exists(made));
    EXPECT_EQ(0, file4close(&file_));
    EXPECT_FALSE(std::filesystem::exists(made));
  }
  // The settings it changed for the creation are back.
  EXPECT_EQ(1, c4_.errCreate);
  EXPECT_EQ(0, c4_.accessMode);
  ::unsetenv("TEMP");
  ::unsetenv("TMP");
  std::filesystem::current_path(cwd);
}

TEST_F(HandlesTest, TemporaryFileKeptWithoutAutoRemove) {
  ::setenv("TEMP", dir_.path().c_str(), 1);
  ASSERT_EQ(0, file4tempLow(&file_, &c4_, 0, 1, nullptr));
  const std::string made = file_.name;
  EXPECT_EQ(0, file_.isTemp);
  EXPECT_EQ(0, file4close(&file_));
  EXPECT_TRUE(std::filesystem::exists(made));
  ::unsetenv("TEMP");
}

TEST_F(HandlesTest, CreateWithoutANameMakesATemporaryFile) {
  ::setenv("TEMP", dir_.path().c_str(), 1);
  c4_.createTemp = 1;
  ASSERT_EQ(0, file4create(&file_, &c4_, nullptr, 0));
  const std::string made = file_.name;
  EXPECT_EQ(0u, made.find(dir_.path()));
  EXPECT_EQ(0, file4close(&file_));
  EXPECT_FALSE(std::filesystem::exists(made));
  ::unsetenv("TEMP");
}

TEST_F(HandlesTest, TemporaryFileInAMissingDirectoryFailsAtOnce) {
  ::setenv("TEMP", (dir_ / "NODIR").c_str(), 1);
  static unsigned gWaits;
  gWaits = 0;
  platform::methods().sleepMs = [](unsigned) { ++gWaits; };
  EXPECT_EQ(err::kCreate, file4tempLow(&file_, &c4_, 1, 1, nullptr));
  EXPECT_TRUE(hasLines(Context::lastMessage(), {"Creating File", "error creating temporary working file"}));
  EXPECT_EQ(0u, gWaits);
  ::unsetenv("TEMP");
}

// ---------------------------------------------------------------------------
// Replace

TEST_F(HandlesTest, ReplaceGivesKeepTheContentsOfFrom) {
  for (char mode : {1, 0}) {
    SCOPED_TRACE(static_cast<int>(mode));
    const std::string keepPath = dir_ / "KEEP.DBF", fromPath = dir_ / "FROM.TMP";
    writeWhole(keepPath, "the old contents, longer");
    writeWhole(fromPath, "new");
    c4_.accessMode = mode;
    c4_.memSizeBuffer = 2;  // copies in the smallest freeUnits
    ASSERT_EQ(0, file4open(&file_, &c4_, keepPath.c_str(), 1));
    ASSERT_EQ(0, file4open(&other_, &c4_, fromPath.c_str(), 0));
    ASSERT_EQ(0, file4replace(&file_, &other_));
    EXPECT_EQ(0, file4openTest(&other_));
    EXPECT_FALSE(std::filesystem::exists(fromPath));
    ASSERT_EQ(1, file4openTest(&file_));
    EXPECT_EQ(keepPath, file_.name);
    EXPECT_EQ(mode, file_.accessMode);
    char buf[8];
    EXPECT_EQ(3u, file4read(&file_, 0, buf, sizeof buf));
    EXPECT_EQ("new", std::string(buf, 3));
    ASSERT_EQ(0, file4write(&file_, 3, "er", 2));
    EXPECT_EQ(0, file4close(&file_));
    EXPECT_EQ("newer", readWhole(keepPath));
  }
}

// ---------------------------------------------------------------------------
// Share modes

TEST_F(HandlesTest, ShareModesBetweenTwoOpensOfOneProcess) {
  const std::string path = dir_ / "T.DBF";
  writeWhole(path, "x");
  struct Case {
    const char *name;
    char firstMode;
    int firstReadOnly;
    char secondMode;
    int secondReadOnly;
    int result;
  } const cases[] = {
      {"both shared", 0, 0, 0, 0, 0},
      {"exclusive first", 1, 0, 0, 1, err::kPermission},
      {"exclusive second", 0, 1, 1, 0, err::kPermission},
      {"read-sharing first, then a writer", 2, 0, 0, 0, err::kPermission},
      {"read-sharing first, then a reader", 2, 0, 0, 1, 0},
      {"a writer first, then read-sharing", 0, 0, 2, 0, err::kPermission},
      {"a reader first, then read-sharing", 0, 1, 2, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    c4_.errorCode = 0;
    c4_.accessMode = c.firstMode;
    c4_.readOnly = c.firstReadOnly;
    ASSERT_EQ(0, file4open(&file_, &c4_, path.c_str(), 0));
    c4_.accessMode = c.secondMode;
    c4_.readOnly = c.secondReadOnly;
    EXPECT_EQ(c.result, file4open(&other_, &c4_, path.c_str(), 0));
    if (c.result != 0) {
      EXPECT_TRUE(hasLines(Context::lastMessage(), {"Permission Error Opening File", "file4open", path}));
    }
    file4close(&other_);
    file4close(&file_);
  }
}

// The child opens the file with the given access mode and holds it until
// told to let go.
int holdOpen(const Child::Channel &channel, const std::string &path, char mode) {
  Context cx;
  cx.c4.accessMode = mode;
  FILE4 file{};
  if (file4open(&file, &cx.c4, path.c_str(), 0) != 0) return 1;
  channel.send('o');
  channel.receive();
  return file4close(&file) == 0 ? 0 : 2;
}

TEST_F(HandlesTest, AnotherProcessHoldingTheFileExclusively) {
  const std::string path = dir_ / "T.DBF";
  writeWhole(path, "x");
  Child child([&](const Child::Channel &ch) { return holdOpen(ch, path, 1); });
  ASSERT_EQ('o', child.receive());
  EXPECT_EQ(err::kPermission, file4open(&file_, &c4_, path.c_str(), 0));
  c4_.errorCode = 0;
  c4_.readOnly = 1;
  EXPECT_EQ(err::kPermission, file4open(&file_, &c4_, path.c_str(), 0));
  child.send('x');
  EXPECT_EQ(0, child.wait());
  c4_.errorCode = 0;
  EXPECT_EQ(0, file4open(&file_, &c4_, path.c_str(), 0));
}

TEST_F(HandlesTest, ExclusiveOpenOfAFileAnotherProcessHasOpen) {
  const std::string path = dir_ / "T.DBF";
  writeWhole(path, "old");
  Child child([&](const Child::Channel &ch) { return holdOpen(ch, path, 0); });
  ASSERT_EQ('o', child.receive());
  c4_.accessMode = 1;
  EXPECT_EQ(err::kPermission, file4open(&file_, &c4_, path.c_str(), 0));
  // Replacing it fails too: the file is in use.
  c4_.errorCode = 0;
  c4_.accessMode = 0;
  c4_.safety = 0;
  c4_.errCreate = 0;
  EXPECT_EQ(r4noCreate, file4create(&file_, &c4_, path.c_str(), 0));
  EXPECT_EQ("old", readWhole(path));
  child.send('x');
  EXPECT_EQ(0, child.wait());
}

TEST_F(HandlesTest, ReadSharingInAnotherProcessAdmitsOnlyReaders) {
  const std::string path = dir_ / "T.DBF";
  writeWhole(path, "x");
  Child child([&](const Child::Channel &ch) { return holdOpen(ch, path, 2); });
  ASSERT_EQ('o', child.receive());
  EXPECT_EQ(err::kPermission, file4open(&file_, &c4_, path.c_str(), 0));
  c4_.errorCode = 0;
  c4_.readOnly = 1;
  EXPECT_EQ(0, file4open(&file_, &c4_, path.c_str(), 0));
  child.send('x');
  EXPECT_EQ(0, child.wait());
}

}  // namespace
}  // namespace tablekit::file
