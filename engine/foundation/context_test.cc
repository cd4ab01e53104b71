// The engine context: defaults, initialisation errors, release, workers and
// the small fixed operations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/foundation.h"
#include "platform/platform.h"
#include "testing/message_capture.h"

namespace tablekit {
namespace {

using test_support::MessageCapture;

TEST(Context, DefaultsAfterInit) {
  CODE4 cb;
  ASSERT_EQ(0, code4initLow(&cb, 0, 6500, sizeof(CODE4), 1));
  struct Case {
    const char *name;
    long actual;
    long expected;
  } cases[] = {
      {"accessMode", c4getAccessMode(&cb), 0},       {"autoOpen", c4getAutoOpen(&cb), 1},
      {"createTemp", c4getCreateTemp(&cb), 0},       {"doRemove", c4getDoRemove(&cb), 0},
      {"errorCode", c4getErrorCode(&cb), 0},         {"errCreate", c4getErrCreate(&cb), 1},
      {"errDefaultUnique", c4getErrDefaultUnique(&cb), 25},
      {"errExpr", c4getErrExpr(&cb), 1},             {"errFieldName", c4getErrFieldName(&cb), 1},
      {"errGo", c4getErrGo(&cb), 1},                 {"errOff", c4getErrOff(&cb), 0},
      {"errOpen", c4getErrOpen(&cb), 1},             {"errRelate", c4getErrRelate(&cb), 1},
      {"errSkip", c4getErrSkip(&cb), 1},             {"errTagName", c4getErrTagName(&cb), 1},
      {"lockAttempts", c4getLockAttempts(&cb), -1},  {"lockEnforce", c4getLockEnforce(&cb), 0},
      {"logOpen", c4getLogOpen(&cb), 1},             {"optimize", c4getOptimize(&cb), -1},
      {"optimizeWrite", c4getOptimizeWrite(&cb), -1}, {"readLockDo", c4getReadLockDo(&cb), 0},
      {"readOnly", c4getReadOnlyDo(&cb), 0},         {"safety", c4getSafety(&cb), 1},
      {"singleOpen", c4getSingleOpen(&cb), 1},       {"memSizeBuffer", cb.memSizeBuffer, 32768},
      {"dataPoolStart", cb.dataPoolStart, 10},       {"dataPoolGrow", cb.dataPoolGrow, 5},
      {"lockPoolGrow", cb.lockPoolGrow, 10},         {"tagFilePoolStart", cb.tagFilePoolStart, 10},
      {"lockRetryDelay", cb.lockRetryDelay, 100},    {"groupLockAttempts", cb.groupLockAttempts, 1},
      {"cacheBlockSize", cb.cacheBlockSize, 1024},   {"cacheMemory", cb.cacheMemory, 983040},
      {"cacheMemoryPercent", cb.cacheMemoryPercent, 25}, {"cacheAutoStartOff", cb.cacheAutoStartOff, 1},
      {"sortPoolSize", cb.sortPoolSize, 61440},      {"sortBufferSize", cb.sortBufferSize, 32768},
      {"memoBlockSize", cb.memoBlockSize, 512},      {"unlockAuto", cb.unlockAuto, 1},
      {"exprMemoLength", cb.exprMemoLength, 1024},   {"nodeReadCheck", cb.nodeReadCheck, 1},
      {"transaction unlockAuto", cb.trans.unlockAuto, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, c.actual);
  }
  EXPECT_STREQ("MM/DD/YY", cb.dateFormat);
  EXPECT_NE(nullptr, c4getMemZeroAllocator(&cb));
  EXPECT_EQ(0, code4initUndo(&cb));
}

TEST(Context, HeaderVersionMismatchIsReportedWithBothVersions) {
  MessageCapture capture;
  CODE4 cb;
  EXPECT_EQ(-1095, code4initLow(&cb, 0, 6400, sizeof(CODE4), 1));
  ASSERT_EQ(1u, MessageCapture::shown().size());
  const std::string &text = MessageCapture::shown()[0];
  EXPECT_EQ("TABLEKIT ERROR", MessageCapture::titles()[0]);
  EXPECT_NE(std::string::npos, text.find("Application/Library version mismatch\r\n"));
  EXPECT_NE(std::string::npos, text.find("Library: 6500\r\nHeaders: 6400\r\n"));
}

TEST(Context, RecordSizeZeroIsAcceptedOtherSizesFail) {
  MessageCapture capture;
  CODE4 cb;
  ASSERT_EQ(0, code4initLow(&cb, 0, 6500, 0, 1));
  EXPECT_EQ(0, code4initUndo(&cb));

  EXPECT_EQ(-960, code4initLow(&cb, 0, 6500, sizeof(CODE4) + 8, 1));
  ASSERT_EQ(1u, MessageCapture::shown().size());
  const std::string &text = MessageCapture::shown()[0];
  EXPECT_NE(std::string::npos, text.find("Structure Verification Failure\r\nstructure size mismatch\r\n"));
  const std::string sizes = "Library struct size: " + std::to_string(sizeof(CODE4)) +
                            "\r\nHeader struct size: " + std::to_string(sizeof(CODE4) + 8) + "\r\n";
  EXPECT_NE(std::string::npos, text.find(sizes));
}

TEST(Context, NullContextIsReported) {
  MessageCapture capture;
  EXPECT_EQ(-930, code4initLow(nullptr, 0, 6500, 0, 1));
  EXPECT_EQ(-935, code4initUndo(nullptr));
  EXPECT_EQ(-935, code4close(nullptr));
  EXPECT_EQ(204, code4indexFormat(nullptr));
  EXPECT_EQ(4u, MessageCapture::shown().size());
}

TEST(Context, ReleaseTwiceIsHarmless) {
  CODE4 cb;
  ASSERT_EQ(0, code4initLow(&cb, 0, 6500, sizeof(CODE4), 0));
  EXPECT_EQ(0, code4initUndo(&cb));
  EXPECT_EQ(0, code4initUndo(&cb));
  EXPECT_EQ(0, liveContexts());
}

TEST(Context, ReleaseReturnsTheErrorCodeAndClearsIt) {
  CODE4 cb;
  ASSERT_EQ(0, code4initLow(&cb, 0, 6500, sizeof(CODE4), 1));
  c4setErrOff(&cb, 1);
  EXPECT_EQ(-1090, code4largeOn(&cb));
  EXPECT_EQ(-1090, c4getErrorCode(&cb));
  // Release clears the error first, so nothing that follows refuses work.
  EXPECT_EQ(0, code4initUndo(&cb));
}

TEST(Context, WorkersRunFromInitUntilRelease) {
  const int before = platform::threadCount();
  ASSERT_GT(before, 0);

  CODE4 cb;
  ASSERT_EQ(0, code4initLow(&cb, 0, 6500, sizeof(CODE4), 0));
  EXPECT_EQ(before + 2, platform::threadCount());
  EXPECT_TRUE(workerRunning(cb.delayWriteWorker));
  EXPECT_TRUE(workerRunning(cb.advanceReadWorker));
  EXPECT_EQ(0, code4initUndo(&cb));
  EXPECT_EQ(before, platform::threadCount());

  ASSERT_EQ(0, code4initLow(&cb, 0, 6500, sizeof(CODE4), 1));
  EXPECT_EQ(before, platform::threadCount());
  EXPECT_EQ(nullptr, cb.delayWriteWorker);
  EXPECT_EQ(nullptr, cb.advanceReadWorker);
  EXPECT_EQ(0, code4initUndo(&cb));
}

TEST(Context, TwoContextsShareTheMemorySubsystem) {
  CODE4 a, b;
  ASSERT_EQ(0, code4initLow(&a, 0, 6500, sizeof(CODE4), 1));
  ASSERT_EQ(0, code4initLow(&b, 0, 6500, sizeof(CODE4), 1));
  EXPECT_EQ(2, liveContexts());
  EXPECT_EQ(0, code4initUndo(&a));
  // The second context still takes pool units after the first is gone.
  MEM4 *pool = mem4createDefault(&b, 2, 24, 2, 0);
  ASSERT_NE(nullptr, pool);
  void *unit = mem4allocErrDefault(pool, &b, 1);
  EXPECT_NE(nullptr, unit);
  mem4freeDefault(pool, unit);
  mem4release(pool);
  EXPECT_EQ(0, code4initUndo(&b));
  EXPECT_EQ(0, liveContexts());
}

TEST(Context, EngineAllocatedContexts) {
  CODE4 *c4 = code4initAllocLow(0);
  ASSERT_NE(nullptr, c4);
  EXPECT_EQ(1, c4->initialized);
  EXPECT_EQ(1, c4->engineAllocated);
  EXPECT_EQ(0, code4initUndo(c4));  // frees the record

  CODE4 *later = code4allocLow(0, 0, 6500);
  ASSERT_NE(nullptr, later);
  EXPECT_EQ(0, later->initialized);
  EXPECT_EQ(1, later->engineAllocated);
  ASSERT_EQ(0, code4initLow(later, 0, 6500, 0, 1));
  later->engineAllocated = 1;
  EXPECT_EQ(0, code4initUndo(later));
}

TEST(Context, FixedAnswers) {
  CODE4 cb;
  ASSERT_EQ(0, code4initLow(&cb, 0, 6500, sizeof(CODE4), 1));
  EXPECT_EQ(6500, code4version(&cb));
  EXPECT_EQ(201, code4indexFormat(&cb));
  EXPECT_STREQ("MDX", code4indexExtension(&cb));
  EXPECT_STREQ("DBT", code4memoExtension(&cb));
  EXPECT_EQ(0x030000C4L, u4switch());
  EXPECT_EQ(0, code4collateName(&cb));
  EXPECT_EQ(0, code4collateNameUnicode(&cb));

  c4setErrOff(&cb, 1);
  struct Case {
    const char *name;
    int result;
  } unsupported[] = {
      {"code4collate", code4collate(&cb, 1)},
      {"code4collateUnicode", code4collateUnicode(&cb, 1)},
      {"code4indexBlockSize", code4indexBlockSize(&cb)},
      {"code4indexBlockSizeSet", code4indexBlockSizeSet(&cb, 512)},
      {"code4largeOn", code4largeOn(&cb)},
      {"c4getClipperKeyLen", c4getClipperKeyLen(&cb)},
  };
  for (const Case &c : unsupported) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(-1090, c.result);
  }
  EXPECT_EQ(0, code4initUndo(&cb));
}

TEST(Context, VerifyTextIsAnOwnedCopy) {
  CODE4 cb;
  ASSERT_EQ(0, code4initLow(&cb, 0, 6500, sizeof(CODE4), 1));
  char text[] = "first";
  code4verifySet(&cb, text);
  text[0] = 'F';
  EXPECT_STREQ("first", c4getAppVerify(&cb));
  code4verifySet(&cb, "second");
  EXPECT_STREQ("second", c4getAppVerify(&cb));
  EXPECT_EQ(0, code4initUndo(&cb));
}

TEST(Context, ErrorCodeSetterForwardsToTheReporter) {
  CODE4 cb;
  ASSERT_EQ(0, code4initLow(&cb, 0, 6500, sizeof(CODE4), 1));
  EXPECT_EQ(0, c4setErrorCode(&cb, -60));
  EXPECT_EQ(-60, c4setErrorCode(&cb, 0));
  EXPECT_EQ(0, code4initUndo(&cb));
}

TEST(ContextDeathTest, ExitReleasesAndEndsWithTheFatalStatus) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        CODE4 cb;
        code4initLow(&cb, 0, 6500, sizeof(CODE4), 0);
        code4exit(&cb);
      },
      ::testing::ExitedWithCode(kFatalExitStatus), "EXITING APPLICATION");
}

}  // namespace
}  // namespace tablekit
