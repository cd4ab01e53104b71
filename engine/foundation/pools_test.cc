// Circular lists, memory pools with their registry, and plain allocation.
#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "foundation/foundation.h"
#include "platform/platform.h"
#include "testing/message_capture.h"

// Huge requests below must fail with a null result under the sanitizers'
// allocators too, as they do with the C library's. The runtimes look these
// up by name, so they must stay visible.
extern "C" __attribute__((visibility("default"))) const char *__asan_default_options() {
  return "allocator_may_return_null=1";
}
extern "C" __attribute__((visibility("default"))) const char *__tsan_default_options() {
  return "allocator_may_return_null=1";
}

namespace tablekit {
namespace {

// ---------------------------------------------------------------------------
// Lists

struct Node {
  RING4NODE link;
  int id;
};

// Builds a list of the given nodes, appended in order.
class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 4; ++i) nodes[i].id = i;
  }
  void fill(int count) {
    for (int i = 0; i < count; ++i) l4add(&list, &nodes[i]);
  }
  // The ids read forwards with l4next, then checked against l4prev backwards
  // and against the ring's own links.
  std::vector<int> ids() {
    std::vector<int> forward;
    for (void *p = l4next(&list, nullptr); p != nullptr; p = l4next(&list, p))
      forward.push_back(static_cast<Node *>(p)->id);
    std::vector<int> backward;
    for (void *p = l4prev(&list, nullptr); p != nullptr; p = l4prev(&list, p))
      backward.insert(backward.begin(), static_cast<Node *>(p)->id);
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(forward.size(), list.count);
    if (list.last != nullptr) {
      EXPECT_EQ(list.last->n->p, list.last);  // the ring closes
      EXPECT_EQ(l4first(&list), list.last->n);
    }
    return forward;
  }

  RING4 list{};
  Node nodes[4];
};

TEST_F(ListTest, AddAppendsInOrder) {
  fill(3);
  EXPECT_EQ((std::vector<int>{0, 1, 2}), ids());
  EXPECT_EQ(&nodes[0], l4first(&list));
  EXPECT_EQ(&nodes[2], l4last(&list));
}

TEST_F(ListTest, EmptyListHasNoNodes) {
  EXPECT_EQ(nullptr, l4first(&list));
  EXPECT_EQ(nullptr, l4last(&list));
  EXPECT_EQ(nullptr, l4next(&list, nullptr));
  EXPECT_EQ(nullptr, l4prev(&list, nullptr));
  EXPECT_EQ(nullptr, l4pop(&list));
  EXPECT_EQ(0, l4seek(&list, &nodes[0]));
}

TEST_F(ListTest, NextAndPrevStopAtTheEnds) {
  fill(3);
  EXPECT_EQ(nullptr, l4next(&list, &nodes[2]));
  EXPECT_EQ(nullptr, l4prev(&list, &nodes[0]));
  EXPECT_EQ(&nodes[1], l4next(&list, &nodes[0]));
  EXPECT_EQ(&nodes[1], l4prev(&list, &nodes[2]));
}

TEST_F(ListTest, AddBeforeFirstMakesTheNodeFirstAndKeepsTheLast) {
  fill(2);
  EXPECT_EQ(&nodes[3], l4addBefore(&list, &nodes[0], &nodes[3]));
  EXPECT_EQ((std::vector<int>{3, 0, 1}), ids());
  EXPECT_EQ(&nodes[1], l4last(&list));
}

TEST_F(ListTest, AddBeforeInsertsInTheMiddle) {
  fill(3);
  l4addBefore(&list, &nodes[2], &nodes[3]);
  EXPECT_EQ((std::vector<int>{0, 1, 3, 2}), ids());
}

TEST_F(ListTest, AddBeforeOnEmptyListIgnoresTheAnchor) {
  l4addBefore(&list, nullptr, &nodes[1]);
  EXPECT_EQ((std::vector<int>{1}), ids());
}

TEST_F(ListTest, RemoveSelectedMovesSelectionToPrevious) {
  struct Case {
    const char *name;
    int removed;
    int selectedAfter;  // -1: none
    std::vector<int> left;
  } cases[] = {
      {"middle", 1, 0, {0, 2}},
      {"first: the previous is the last", 0, 2, {1, 2}},
      {"last", 2, 1, {0, 1}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    list = RING4{};
    fill(3);
    list.selected = &nodes[c.removed].link;
    EXPECT_EQ(&nodes[c.removed], l4remove(&list, &nodes[c.removed]));
    EXPECT_EQ(&nodes[c.selectedAfter].link, list.selected);
    EXPECT_EQ(c.left, ids());
  }
}

TEST_F(ListTest, RemoveLastMakesPreviousLast) {
  fill(3);
  l4remove(&list, &nodes[2]);
  EXPECT_EQ(&nodes[1], l4last(&list));
  EXPECT_EQ(&nodes[0], l4first(&list));
}

TEST_F(ListTest, RemoveOnlyNodeEmptiesListAndClearsSelection) {
  fill(1);
  list.selected = &nodes[0].link;
  l4remove(&list, &nodes[0]);
  EXPECT_EQ(nullptr, list.last);
  EXPECT_EQ(nullptr, list.selected);
  EXPECT_EQ(0u, list.count);
}

TEST_F(ListTest, RemoveNullDoesNothing) {
  fill(2);
  EXPECT_EQ(nullptr, l4remove(&list, nullptr));
  EXPECT_EQ((std::vector<int>{0, 1}), ids());
}

TEST_F(ListTest, PopTakesFromTheEnd) {
  fill(3);
  EXPECT_EQ(&nodes[2], l4pop(&list));
  EXPECT_EQ(&nodes[1], l4pop(&list));
  EXPECT_EQ((std::vector<int>{0}), ids());
}

TEST_F(ListTest, SeekFindsOnlyNodesOnTheList) {
  fill(3);
  EXPECT_EQ(1, l4seek(&list, &nodes[0]));
  EXPECT_EQ(1, l4seek(&list, &nodes[2]));
  EXPECT_EQ(0, l4seek(&list, &nodes[3]));
}

// ---------------------------------------------------------------------------
// Pools and allocation, inside a live context.

using test_support::MessageCapture;

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, code4initLow(&cb, 0, 6500, sizeof(CODE4), 1));
    cb.errOff = 1;
  }
  void TearDown() override { code4initUndo(&cb); }
  // Clears the error state after an expected error.
  void clearError() {
    cb.errorCode = 0;
    cb.errorCode2 = 0;
  }

  CODE4 cb;
};

TEST_F(PoolTest, FirstBlockHoldsStartCountLaterBlocksGrowCount) {
  MEM4 *pool = mem4createDefault(&cb, 10, 24, 5, 0);
  ASSERT_NE(nullptr, pool);
  EXPECT_EQ(0u, pool->blocks.count);  // no memory before the first take
  for (int i = 1; i <= 10; ++i) ASSERT_NE(nullptr, mem4allocErrDefault(pool, &cb, 0));
  EXPECT_EQ(1u, pool->blocks.count);
  EXPECT_EQ(0u, pool->freeUnits.count);
  ASSERT_NE(nullptr, mem4allocErrDefault(pool, &cb, 0));  // the eleventh
  EXPECT_EQ(2u, pool->blocks.count);
  EXPECT_EQ(4u, pool->freeUnits.count);
  mem4release(pool);
}

TEST_F(PoolTest, UnitsAreDistinctAlignedAndHoldTheirSize) {
  MEM4 *pool = mem4createDefault(&cb, 3, 40, 2, 1);
  ASSERT_NE(nullptr, pool);
  std::set<char *> units;
  for (int i = 0; i < 7; ++i) {
    auto *unit = static_cast<char *>(mem4allocErrDefault(pool, &cb, 0));
    ASSERT_NE(nullptr, unit);
    EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(unit) % alignof(std::max_align_t));
    std::memset(unit, i + 1, 40);
    units.insert(unit);
  }
  EXPECT_EQ(7u, units.size());
  // No unit overlaps another: each still holds its own fill.
  std::set<int> fills;
  for (char *unit : units) {
    for (int b = 1; b < 40; ++b) ASSERT_EQ(unit[0], unit[b]);
    fills.insert(unit[0]);
  }
  EXPECT_EQ(7u, fills.size());
  mem4release(pool);
}

TEST_F(PoolTest, LastFreedUnitIsTakenFirst) {
  MEM4 *pool = mem4createDefault(&cb, 4, 32, 4, 0);
  ASSERT_NE(nullptr, pool);
  void *a = mem4allocErrDefault(pool, &cb, 0);
  void *b = mem4allocErrDefault(pool, &cb, 0);
  ASSERT_NE(a, b);
  EXPECT_EQ(0, mem4freeDefault(pool, a));
  EXPECT_EQ(0, mem4freeDefault(pool, b));
  EXPECT_EQ(b, mem4allocErrDefault(pool, &cb, 0));
  EXPECT_EQ(a, mem4allocDefault(pool, 0));
  mem4release(pool);
}

TEST_F(PoolTest, ZeroFlagClearsAReusedUnit) {
  MEM4 *pool = mem4createDefault(&cb, 2, 64, 2, 0);
  ASSERT_NE(nullptr, pool);
  auto *unit = static_cast<unsigned char *>(mem4allocErrDefault(pool, &cb, 0));
  ASSERT_NE(nullptr, unit);
  std::memset(unit, 0xAB, 64);
  mem4freeDefault(pool, unit);
  ASSERT_EQ(unit, mem4allocErrDefault(pool, &cb, 1));
  for (int i = 0; i < 64; ++i) ASSERT_EQ(0, unit[i]) << "byte " << i;
  mem4release(pool);
}

TEST_F(PoolTest, EqualUnitSizesShareOnePoolUntilTheLastRelease) {
  MEM4 *first = mem4createDefault(&cb, 10, 48, 3, 0);
  MEM4 *second = mem4createDefault(&cb, 5, 48, 5, 0);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, second);
  EXPECT_EQ(2, first->shareCount);
  EXPECT_EQ(10, first->startCount);  // each count rises to the larger, never falls
  EXPECT_EQ(5, first->growCount);

  auto *unit = static_cast<char *>(mem4allocErrDefault(first, &cb, 0));
  ASSERT_NE(nullptr, unit);
  mem4release(first);
  EXPECT_EQ(1, second->shareCount);
  EXPECT_EQ(1u, second->blocks.count);  // memory kept for the other user
  std::memset(unit, 0x5A, 48);

  mem4release(second);
  EXPECT_EQ(0u, second->blocks.count);  // blocks returned
  // The descriptor went back to the registry and is the next one handed out.
  MEM4 *other = mem4createDefault(&cb, 1, 512, 1, 0);
  EXPECT_EQ(second, other);
  mem4release(other);
}

TEST_F(PoolTest, NoShareFlagAndDifferentSizesGiveSeparatePools) {
  MEM4 *shared = mem4createDefault(&cb, 5, 48, 5, 0);
  MEM4 *alone = mem4createDefault(&cb, 5, 48, 5, 1);
  MEM4 *bigger = mem4createDefault(&cb, 5, 96, 5, 0);
  EXPECT_NE(shared, alone);
  EXPECT_NE(shared, bigger);
  EXPECT_EQ(-1, alone->shareCount);
  // A pool that may not be shared is not found by a later request either.
  MEM4 *again = mem4createDefault(&cb, 5, 48, 5, 0);
  EXPECT_EQ(shared, again);
  EXPECT_EQ(-1, alone->shareCount);
  for (MEM4 *pool : {shared, alone, bigger, again}) mem4release(pool);
}

TEST_F(PoolTest, SmallUnitsAreRaisedToHoldTheFreeListLinks) {
  MEM4 *tiny = mem4createDefault(&cb, 2, 1, 2, 0);
  ASSERT_NE(nullptr, tiny);
  EXPECT_GE(tiny->unitSize, sizeof(RING4NODE));
  EXPECT_EQ(tiny, mem4createDefault(&cb, 2, 8, 2, 0));  // raised alike, so shared
  mem4release(tiny);
  mem4release(tiny);
}

TEST_F(PoolTest, CreateAllocMakesThePoolOnFirstUse) {
  MEM4 *pool = nullptr;
  void *a = mem4createAllocDefault(&cb, &pool, 4, 32, 4, 1, 1);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, pool);
  MEM4 *made = pool;
  void *b = mem4createAllocDefault(&cb, &pool, 4, 32, 4, 1, 1);
  EXPECT_EQ(made, pool);
  EXPECT_NE(a, b);
  EXPECT_EQ(-1, pool->shareCount);
  mem4release(pool);
}

TEST_F(PoolTest, BadCountsAreReported) {
  struct Case {
    const char *name;
    int start;
    int grow;
  } cases[] = {{"start 0", 0, 5}, {"grow 0", 5, 0}, {"negative start", -1, 5}, {"negative grow", 5, -3}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(nullptr, mem4createDefault(&cb, c.start, 16, c.grow, 0));
    EXPECT_EQ(err::kParm, cb.errorCode);
    EXPECT_EQ(loc::mem4createDefault, cb.errorCode2);
    clearError();
  }
}

TEST_F(PoolTest, NullPoolIsReported) {
  EXPECT_EQ(nullptr, mem4allocErrDefault(nullptr, &cb, 0));
  EXPECT_EQ(err::kParmNull, cb.errorCode);
  clearError();

  // Without a context the message is always shown.
  MessageCapture capture;
  int unit = 0;
  EXPECT_EQ(nullptr, mem4allocDefault(nullptr, 0));
  EXPECT_EQ(err::kParmNull, mem4freeDefault(nullptr, &unit));
  EXPECT_EQ(2u, MessageCapture::shown().size());
}

TEST_F(PoolTest, NullUnitFreeAndNullPoolReleaseDoNothing) {
  MEM4 *pool = mem4createDefault(&cb, 2, 16, 2, 0);
  ASSERT_NE(nullptr, pool);
  EXPECT_EQ(0, mem4freeDefault(pool, nullptr));
  EXPECT_EQ(0u, pool->freeUnits.count);
  mem4release(nullptr);
  mem4release(pool);
  EXPECT_EQ(0, cb.errorCode);
}

TEST_F(PoolTest, ContextInErrorGetsNothing) {
  MEM4 *pool = mem4createDefault(&cb, 2, 16, 2, 0);
  ASSERT_NE(nullptr, pool);
  cb.errorCode = -60;
  EXPECT_EQ(nullptr, mem4createDefault(&cb, 2, 200, 2, 0));
  EXPECT_EQ(nullptr, mem4allocErrDefault(pool, &cb, 0));
  EXPECT_EQ(-60, cb.errorCode);
  EXPECT_EQ(0u, pool->blocks.count);
  clearError();
  mem4release(pool);
}

TEST_F(PoolTest, OutOfMemorySetsTheCodeWithoutAMessage) {
  MessageCapture capture;
  MEM4 *pool = mem4createDefault(&cb, INT_MAX, UINT_MAX / 2, 1, 1);
  ASSERT_NE(nullptr, pool);
  EXPECT_EQ(nullptr, mem4allocErrDefault(pool, &cb, 0));
  EXPECT_EQ(err::kMemory, cb.errorCode);
  EXPECT_TRUE(MessageCapture::shown().empty());
  clearError();
  mem4release(pool);
}

TEST_F(PoolTest, UnitsServeSeveralThreads) {
  MEM4 *pool = mem4createDefault(&cb, 8, 32, 8, 1);
  ASSERT_NE(nullptr, pool);
  constexpr int kThreads = 4;
  constexpr int kRounds = 500;
  std::vector<int> bad(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([pool, t, &bad] {
      for (int r = 0; r < kRounds; ++r) {
        auto *unit = static_cast<unsigned char *>(mem4allocDefault(pool, 0));
        if (unit == nullptr) {
          ++bad[t];
          continue;
        }
        std::memset(unit, t + 1, 32);
        for (int b = 0; b < 32; ++b)
          if (unit[b] != t + 1) ++bad[t];
        mem4freeDefault(pool, unit);
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(std::vector<int>(kThreads, 0), bad);
  EXPECT_EQ(pool->freeUnits.count, 8u * pool->blocks.count);  // every unit came back
  mem4release(pool);
}

TEST_F(PoolTest, ReleaseContextPoolsReleasesAndClearsEveryReference) {
  ASSERT_NE(nullptr, mem4createAllocDefault(&cb, &cb.dataMemory, 2, 64, 2, 0, 0));
  ASSERT_NE(nullptr, mem4createAllocDefault(&cb, &cb.tagFileMemory, 2, 64, 2, 0, 0));
  ASSERT_NE(nullptr, mem4createAllocDefault(&cb, &cb.calcMemory, 2, 128, 2, 1, 0));
  MEM4 *shared = cb.dataMemory;
  EXPECT_EQ(shared, cb.tagFileMemory);
  releaseContextPools(cb);
  EXPECT_EQ(nullptr, cb.dataMemory);
  EXPECT_EQ(nullptr, cb.tagFileMemory);
  EXPECT_EQ(nullptr, cb.calcMemory);
  EXPECT_EQ(0, shared->shareCount);  // both users gone: back in the registry
}

// ---------------------------------------------------------------------------
// The registry's initialisation count, without a context.

TEST(PoolRegistry, ResetFreesOnlyAtTheLastInitialisation) {
  mem4init();
  mem4init();
  MEM4 *pool = mem4createDefault(nullptr, 2, 16, 2, 0);
  ASSERT_NE(nullptr, pool);
  ASSERT_NE(nullptr, mem4allocDefault(pool, 0));

  EXPECT_EQ(0, mem4reset());  // one initialisation less: everything stays
  EXPECT_EQ(1u, pool->blocks.count);
  EXPECT_NE(nullptr, mem4allocDefault(pool, 0));
  EXPECT_FALSE(memResetting());

  EXPECT_EQ(0, mem4reset());  // the last: all pool memory is gone
  EXPECT_EQ(nullptr, mem4createDefault(nullptr, 2, 16, 2, 0));
  EXPECT_EQ(0, mem4reset());  // nothing left to reset

  mem4init();  // usable again
  pool = mem4createDefault(nullptr, 2, 16, 2, 0);
  EXPECT_NE(nullptr, pool);
  EXPECT_NE(nullptr, mem4allocDefault(pool, 1));
  EXPECT_EQ(0, mem4reset());
}

TEST(PoolRegistry, ContextsInitialiseAndResetTheRegistry) {
  CODE4 first, second;
  ASSERT_EQ(0, code4initLow(&first, 0, 6500, sizeof(CODE4), 1));
  ASSERT_EQ(0, code4initLow(&second, 0, 6500, sizeof(CODE4), 1));
  code4initUndo(&first);
  EXPECT_NE(nullptr, mem4createDefault(&second, 2, 16, 2, 0));  // one context still live
  code4initUndo(&second);
  EXPECT_EQ(nullptr, mem4createDefault(nullptr, 2, 16, 2, 0));
}

// ---------------------------------------------------------------------------
// Plain allocation.

TEST_F(PoolTest, PlainAllocationIsZeroFilled) {
  auto *memory = static_cast<unsigned char *>(u4allocErDefault(&cb, 300));
  ASSERT_NE(nullptr, memory);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(0, memory[i]);
  EXPECT_EQ(0, u4freeDefault(memory));
  EXPECT_EQ(0, u4freeDefault(nullptr));
}

TEST_F(PoolTest, BadSizesAreReportedOnce) {
  struct Case {
    const char *name;
    void *(*alloc)(CODE4 *, long);
  } cases[] = {{"u4allocFreeDefault", u4allocFreeDefault},
               {"u4allocErDefault", u4allocErDefault},
               {"u4allocFixedDefault", u4allocFixedDefault}};
  for (const Case &c : cases) {
    for (long size : {0L, -8L}) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(size));
      EXPECT_EQ(nullptr, c.alloc(&cb, size));
      EXPECT_EQ(err::kParm, cb.errorCode);  // not a memory shortage
      clearError();
    }
  }
  MessageCapture capture;
  EXPECT_EQ(nullptr, u4allocDefault(0));
  EXPECT_EQ(1u, MessageCapture::shown().size());  // no context: always shown
}

TEST_F(PoolTest, ShortageIsFatalOnlyThroughAllocEr) {
  EXPECT_EQ(nullptr, u4allocFreeDefault(&cb, LONG_MAX));
  EXPECT_EQ(0, cb.errorCode);
  EXPECT_EXIT(u4allocErDefault(&cb, LONG_MAX), ::testing::ExitedWithCode(kFatalExitStatus), "");
}

TEST_F(PoolTest, AllocAgainGrowsOnlyWhenNeeded) {
  struct Case {
    const char *name;
    unsigned len;  // 0: start without a buffer
    unsigned needed;
    bool grows;
  } cases[] = {
      {"no buffer yet", 0, 10, true},
      {"needed equals length", 8, 8, false},
      {"needed below length", 8, 4, false},
      {"needed above length", 8, 16, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    char *buffer = nullptr;
    if (c.len > 0) {
      buffer = static_cast<char *>(u4allocDefault(c.len));
      std::memset(buffer, 'x', c.len);
    }
    char *before = buffer;
    unsigned len = c.len;
    ASSERT_EQ(0, u4allocAgainDefault(&cb, &buffer, &len, c.needed));
    if (!c.grows) {
      EXPECT_EQ(before, buffer);
      EXPECT_EQ(c.len, len);
    } else {
      EXPECT_EQ(c.needed, len);
      EXPECT_EQ(std::string(c.len, 'x'), std::string(buffer, c.len));  // old content kept
      EXPECT_EQ(std::string(c.needed - c.len, '\0'), std::string(buffer + c.len, c.needed - c.len));
    }
    u4freeDefault(buffer);
  }
}

TEST_F(PoolTest, AllocAgainRefusesALengthWithoutBuffer) {
  char *buffer = nullptr;
  unsigned len = 5;
  EXPECT_EQ(err::kParm, u4allocAgainDefault(&cb, &buffer, &len, 10));
  EXPECT_EQ(err::kParm, cb.errorCode);
  EXPECT_EQ(loc::u4allocAgainDefault, cb.errorCode2);
  EXPECT_EQ(nullptr, buffer);
  EXPECT_EQ(5u, len);
  clearError();
}

TEST(PlainAllocation, DelayWaitsTenMillisecondsPerHundredth) {
  static unsigned slept;
  slept = 0;
  platform::methods().sleepMs = [](unsigned ms) { slept += ms; };
  u4delayHundredth(7);
  platform::methods().sleepMs = platform::defaultMethods().sleepMs;
  EXPECT_EQ(70u, slept);
}

}  // namespace
}  // namespace tablekit
