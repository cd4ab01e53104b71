// The platform table's defaults and its replaceable entries.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace tablekit::platform {
namespace {

TEST(Platform, LocalTimeFieldsAreInRange) {
  LocalTime t = localTime();
  EXPECT_GE(t.year, 2020);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_GE(t.day, 1);
  EXPECT_LE(t.day, 31);
  EXPECT_LE(t.hour, 23);
  EXPECT_LE(t.minute, 59);
  EXPECT_LE(t.second, 60);
}

TEST(Platform, EnvironmentLookup) {
  ::setenv("TK_PLATFORM_TEST_VALUE", "abc", 1);
  EXPECT_STREQ("abc", getEnv("TK_PLATFORM_TEST_VALUE"));
  ::unsetenv("TK_PLATFORM_TEST_VALUE");
  EXPECT_EQ(nullptr, getEnv("TK_PLATFORM_TEST_VALUE"));
}

TEST(Platform, ThreadCountSeesANewThread) {
  const int before = threadCount();
  ASSERT_GT(before, 0);
  bool go = false;
  std::mutex m;
  std::condition_variable cv;
  std::thread t([&] {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return go; });
  });
  EXPECT_EQ(before + 1, threadCount());
  {
    std::lock_guard<std::mutex> lock(m);
    go = true;
  }
  cv.notify_all();
  t.join();
  EXPECT_EQ(before, threadCount());
}

TEST(Platform, EntriesCanBeReplacedAndRestored) {
  methods().getEnv = [](const char *) -> const char * { return "replaced"; };
  EXPECT_STREQ("replaced", getEnv("HOME"));
  methods().getEnv = defaultMethods().getEnv;
  EXPECT_STRNE("replaced", getEnv("PATH"));
}

}  // namespace
}  // namespace tablekit::platform
