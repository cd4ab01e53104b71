// Memory pools of fixed-size units (MEM4) with their engine-wide registry,
// circular doubly linked lists (RING4), the engine's plain allocation calls
// and the allocator objects a context hands out. Every subsystem takes its
// records from pools and links its open objects with lists; the context
// initialises the registry with its first live context and resets it with
// its last.
//
// Process-wide state and its locks:
//   gRegistry (the rings of free descriptors, live pools and descriptor
//   blocks, and the initialisation count) and every field of every MEM4
//   (its rings of blocks and free units, its counts and share count) are
//   read and written only while registryLock() is held. gResetting is
//   written under that lock and read without it (memResetting()).
//   exprLock() guards the expression evaluator's shared state; this file
//   only owns it.
//   Both mutexes live for the whole process: they are made on first use and
//   never destroyed, so a worker that is still running while the process
//   exits never meets a destroyed lock. Because the registry lock always
//   exists, every operation takes it first and then looks at the
//   initialisation count, which keeps "is the registry initialised" and the
//   work that depends on it one atomic step.
//   The registry lock is innermost: nothing else is locked and nothing is
//   reported while it is held (an error is reported after it is let go).
//
// Layout on 64-bit targets: a ring link is two pointers, 16 bytes. So the
// header of a pool block (its link in the pool's block ring) is 16 bytes,
// and a unit, which holds the two links of the free list while it is free,
// is at least 16 bytes; unit sizes are rounded up to a multiple of the
// strictest fundamental alignment so that every unit can hold any record.
//
// A unit handed out belongs to its caller until it is freed; lists take no
// lock: their owners guard them.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "foundation/foundation.h"
#include "platform/platform.h"

// The allocator objects (Mem5allocator and Mem5zeroAllocator). The public
// header knows only the name of the base; nothing in the engine calls them.
// The three operations keep the first three slots of the virtual table.
struct tk_allocator {
  virtual void *allocate(std::size_t size) = 0;
  virtual void free(void *memory) = 0;
  virtual void idle() = 0;
  virtual ~tk_allocator() = default;
};

namespace tablekit {
namespace {

class Mem5allocator : public tk_allocator {
 public:
  void *allocate(std::size_t size) override { return std::malloc(size); }
  void free(void *memory) override { std::free(memory); }
  void idle() override {}
};

class Mem5zeroAllocator : public Mem5allocator {
 public:
  void *allocate(std::size_t size) override { return std::calloc(1, size); }
};

constexpr std::size_t roundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

// Units and block headers are laid out on this boundary.
constexpr std::size_t kUnitAlign = alignof(std::max_align_t);
// The smallest unit: it must hold the free list's two links.
constexpr std::size_t kMinUnitSize = roundUp(sizeof(RING4NODE), kUnitAlign);
// A pool block: its link in the pool's block ring, then the units.
constexpr std::size_t kBlockHeader = roundUp(sizeof(RING4NODE), kUnitAlign);

// Pool descriptors are allocated ten at a time.
constexpr int kDescriptorsPerBlock = 10;
struct DescriptorBlock {
  RING4NODE link;  // on gRegistry.descriptorBlocks
  MEM4 descriptors[kDescriptorsPerBlock];
};

struct Registry {
  RING4 freeDescriptors;
  RING4 livePools;
  RING4 descriptorBlocks;
  int initCount;  // 0: not initialised
};

Registry gRegistry{};
std::atomic<bool> gResetting{false};

std::recursive_mutex &registryLock() {
  static auto *lock = new std::recursive_mutex;
  return *lock;
}

// Whether pool operations may run; the registry lock must be held. The
// registry serves from the first initialisation (by the first live context,
// or ahead of it by code4allocLow or mem4init) until the last reset.
bool usable() { return gRegistry.initCount > 0 || gResetting.load(); }

// The size a pool gives a requested unit size, or 0 when it cannot be
// represented.
unsigned effectiveUnitSize(unsigned requested) {
  const std::size_t size = roundUp(std::max<std::size_t>(requested, kMinUnitSize), kUnitAlign);
  return size > UINT32_MAX ? 0 : static_cast<unsigned>(size);
}

// Out of memory in a pool operation: the code is set without a message,
// the caller reports.
void setOutOfMemory(CODE4 *c4) {
  if (c4 != nullptr) c4->errorCode = err::kMemory;
}

void freeBlocks(MEM4 &pool) {
  while (void *block = l4pop(&pool.blocks)) std::free(block);
}

// A descriptor from the free list, allocating a block of ten when the list
// is empty. Null when out of memory. Registry lock held.
MEM4 *takeDescriptor() {
  if (gRegistry.freeDescriptors.count == 0) {
    auto *block = static_cast<DescriptorBlock *>(std::calloc(1, sizeof(DescriptorBlock)));
    if (block == nullptr) return nullptr;
    l4add(&gRegistry.descriptorBlocks, &block->link);
    for (MEM4 &descriptor : block->descriptors) l4add(&gRegistry.freeDescriptors, &descriptor);
  }
  return static_cast<MEM4 *>(l4pop(&gRegistry.freeDescriptors));
}

// A live pool that requests of this unit size may share, or null.
// Registry lock held.
MEM4 *findShared(unsigned unitSize) {
  for (void *p = l4first(&gRegistry.livePools); p != nullptr; p = l4next(&gRegistry.livePools, p)) {
    auto *pool = static_cast<MEM4 *>(p);
    if (pool->unitSize == unitSize && pool->shareCount > 0) return pool;
  }
  return nullptr;
}

// Takes the last free unit, first obtaining a block when none is free: the
// start count of units for the pool's first block, the grow count for every
// later one. Null when out of memory. Registry lock held.
void *takeUnit(MEM4 &pool) {
  if (void *unit = l4pop(&pool.freeUnits)) return unit;
  const int count = pool.blocks.count == 0 ? pool.startCount : pool.growCount;
  if (count <= 0) return nullptr;
  const std::size_t units = static_cast<std::size_t>(count);
  const std::size_t unitSize = pool.unitSize;
  if (units > (static_cast<std::size_t>(PTRDIFF_MAX) - kBlockHeader) / unitSize) return nullptr;
  auto *block = static_cast<char *>(std::calloc(1, kBlockHeader + units * unitSize));
  if (block == nullptr) return nullptr;
  l4add(&pool.blocks, block);
  for (std::size_t i = 0; i < units; ++i) l4add(&pool.freeUnits, block + kBlockHeader + i * unitSize);
  return l4pop(&pool.freeUnits);
}

// Zero-filled memory of size bytes; a size of 0 or less is reported as
// -930 (through c4, which may be null) at the given location.
void *allocZeroed(CODE4 *c4, long size, long location) {
  if (size <= 0) {
    report(c4, err::kParm, location);
    return nullptr;
  }
  return std::calloc(1, static_cast<std::size_t>(size));
}

}  // namespace

bool memResetting() { return gResetting.load(); }

std::recursive_mutex &exprLock() {
  static auto *lock = new std::recursive_mutex;
  return *lock;
}

tk_allocator *makeAllocator(bool zeroing) {
  if (zeroing) return new (std::nothrow) Mem5zeroAllocator;
  return new (std::nothrow) Mem5allocator;
}

void freeAllocator(tk_allocator *allocator) { delete allocator; }

void releaseContextPools(CODE4 &c4) {
  MEM4 **refs[] = {&c4.dataMemory,    &c4.dataFileMemory, &c4.lockMemory,   &c4.indexMemory,
                   &c4.indexFileMemory, &c4.tagMemory,    &c4.tagFileMemory, &c4.bitmapMemory,
                   &c4.relationMemory, &c4.calcMemory};
  for (MEM4 **ref : refs) {
    mem4release(*ref);
    *ref = nullptr;
  }
}

}  // namespace tablekit

using namespace tablekit;

extern "C" {

// ---------------------------------------------------------------------------
// Lists. A node begins with its two links; the ring closes through the last
// node, whose next is the first.

TK_EXPORT void l4add(RING4 *list, void *item) {
  auto *node = static_cast<RING4NODE *>(item);
  RING4NODE *last = list->last;
  if (last == nullptr) {
    node->n = node->p = node;
  } else {
    node->n = last->n;
    node->p = last;
    last->n->p = node;
    last->n = node;
  }
  list->last = node;
  ++list->count;
}

TK_EXPORT void *l4addBefore(RING4 *list, void *anchor, void *item) {
  if (list->last == nullptr) {
    l4add(list, item);
    return item;
  }
  auto *at = static_cast<RING4NODE *>(anchor);
  auto *node = static_cast<RING4NODE *>(item);
  node->n = at;
  node->p = at->p;
  at->p->n = node;
  at->p = node;
  ++list->count;
  return item;
}

TK_EXPORT void *l4remove(RING4 *list, void *item) {
  if (item == nullptr) return nullptr;
  auto *node = static_cast<RING4NODE *>(item);
  RING4NODE *previous = node->p == node ? nullptr : node->p;
  if (list->selected == node) list->selected = previous;
  if (list->last == node) list->last = previous;
  node->p->n = node->n;
  node->n->p = node->p;
  --list->count;
  return item;
}

TK_EXPORT void *l4first(const RING4 *list) { return list->last == nullptr ? nullptr : list->last->n; }

TK_EXPORT void *l4last(const RING4 *list) { return list->last; }

TK_EXPORT void *l4next(const RING4 *list, const void *item) {
  if (item == nullptr) return l4first(list);
  if (item == list->last) return nullptr;
  return static_cast<const RING4NODE *>(item)->n;
}

TK_EXPORT void *l4prev(const RING4 *list, const void *item) {
  if (item == nullptr) return list->last;
  if (item == l4first(list)) return nullptr;
  return static_cast<const RING4NODE *>(item)->p;
}

TK_EXPORT void *l4pop(RING4 *list) { return l4remove(list, list->last); }

TK_EXPORT int l4seek(const RING4 *list, const void *item) {
  for (void *node = l4first(list); node != nullptr; node = l4next(list, node))
    if (node == item) return 1;
  return 0;
}

// ---------------------------------------------------------------------------
// The pool registry.

TK_EXPORT void mem4init(void) {
  std::lock_guard<std::recursive_mutex> guard(registryLock());
  if (gRegistry.initCount > 0) {
    ++gRegistry.initCount;
    return;
  }
  gRegistry = Registry{};
  gRegistry.initCount = 1;
}

TK_EXPORT int mem4reset(void) {
  std::lock_guard<std::recursive_mutex> guard(registryLock());
  if (gRegistry.initCount > 1) {
    --gRegistry.initCount;
    return 0;
  }
  if (gRegistry.initCount == 0) return 0;
  gResetting = true;
  while (auto *pool = static_cast<MEM4 *>(l4pop(&gRegistry.livePools))) freeBlocks(*pool);
  // Free descriptors live inside the descriptor blocks.
  while (void *block = l4pop(&gRegistry.descriptorBlocks)) std::free(block);
  gRegistry = Registry{};
  gResetting = false;
  return 0;
}

// ---------------------------------------------------------------------------
// Pools.

TK_EXPORT MEM4 *mem4createDefault(CODE4 *c4, int start, unsigned unitSize, int expand, int noShare) {
  if (start <= 0 || expand <= 0) {
    report(c4, err::kParm, loc::mem4createDefault);
    return nullptr;
  }
  if (inError(c4)) return nullptr;
  const unsigned size = effectiveUnitSize(unitSize);
  if (size == 0) {
    setOutOfMemory(c4);
    return nullptr;
  }

  std::lock_guard<std::recursive_mutex> guard(registryLock());
  if (!usable()) return nullptr;
  if (!noShare) {
    if (MEM4 *shared = findShared(size)) {
      shared->startCount = std::max(shared->startCount, start);
      shared->growCount = std::max(shared->growCount, expand);
      ++shared->shareCount;
      return shared;
    }
  }
  MEM4 *pool = takeDescriptor();
  if (pool == nullptr) {
    setOutOfMemory(c4);
    return nullptr;
  }
  std::memset(pool, 0, sizeof *pool);
  l4add(&gRegistry.livePools, pool);
  pool->startCount = start;
  pool->unitSize = size;
  pool->growCount = expand;
  pool->shareCount = noShare ? -1 : 1;
  return pool;
}

TK_EXPORT void *mem4createAllocDefault(CODE4 *c4, MEM4 **poolRef, int start, unsigned unitSize, int expand,
                                       int noShare, int zero) {
  if (poolRef == nullptr) {
    report(c4, err::kParmNull, loc::mem4createDefault);
    return nullptr;
  }
  if (*poolRef == nullptr) {
    *poolRef = mem4createDefault(c4, start, unitSize, expand, noShare);
    if (*poolRef == nullptr) return nullptr;
  }
  return mem4allocErrDefault(*poolRef, c4, zero);
}

TK_EXPORT void *mem4allocErrDefault(MEM4 *pool, CODE4 *c4, int zero) {
  if (inError(c4)) return nullptr;
  if (pool == nullptr) {
    report(c4, err::kParmNull, loc::mem4allocDefault);
    return nullptr;
  }
  void *unit = nullptr;
  unsigned size = 0;
  {
    std::lock_guard<std::recursive_mutex> guard(registryLock());
    if (!usable()) return nullptr;
    unit = takeUnit(*pool);
    size = pool->unitSize;
  }
  if (unit == nullptr) {
    setOutOfMemory(c4);
    return nullptr;
  }
  if (zero) std::memset(unit, 0, size);
  return unit;
}

TK_EXPORT void *mem4allocDefault(MEM4 *pool, int zero) {
  if (pool == nullptr) {
    report(nullptr, err::kParmNull, loc::mem4allocDefault);
    return nullptr;
  }
  return mem4allocErrDefault(pool, nullptr, zero);
}

TK_EXPORT int mem4freeDefault(MEM4 *pool, void *unit) {
  if (pool == nullptr) return report(nullptr, err::kParmNull, loc::mem4freeDefault);
  if (unit == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> guard(registryLock());
  if (usable()) l4add(&pool->freeUnits, unit);
  return 0;
}

TK_EXPORT void mem4release(MEM4 *pool) {
  if (pool == nullptr) return;
  std::lock_guard<std::recursive_mutex> guard(registryLock());
  // A descriptor with no users is already back in the registry.
  if (!usable() || pool->shareCount == 0) return;
  if (pool->shareCount > 1) {
    --pool->shareCount;
    return;
  }
  freeBlocks(*pool);
  l4remove(&gRegistry.livePools, pool);
  std::memset(pool, 0, sizeof *pool);
  l4add(&gRegistry.freeDescriptors, pool);
}

// ---------------------------------------------------------------------------
// Plain allocation: zero-filled memory from the C library, freed with free.

// The location table has no entry of its own for u4allocDefault; its bad
// sizes are reported under the entry of its twin.
TK_EXPORT void *u4allocDefault(long size) { return allocZeroed(nullptr, size, loc::u4allocFixedDefault); }

// free() cannot fail, so the -920 a failing system free would give never
// arises here.
TK_EXPORT int u4freeDefault(void *ptr) {
  std::free(ptr);
  return 0;
}

// Allocation does not look at the context's error state: error paths and
// releases allocate too.
TK_EXPORT void *u4allocFreeDefault(CODE4 *c4, long size) {
  void *memory = allocZeroed(c4, size, loc::u4allocFixedDefault);
  // When the block cache exists, a failure here with the context's cache
  // running suspends the cache to give its memory back, tries the
  // allocation once more and restarts the cache.
  return memory;
}

TK_EXPORT void *u4allocErDefault(CODE4 *c4, long size) {
  void *memory = u4allocFreeDefault(c4, size);
  // A bad size was reported already; only a real shortage is -920.
  if (memory == nullptr && size > 0 && c4 != nullptr) report(c4, err::kMemory, loc::u4allocErDefault);
  return memory;
}

TK_EXPORT void *u4allocFixedDefault(CODE4 *c4, long size) { return u4allocFreeDefault(c4, size); }

TK_EXPORT int u4freeFixedDefault(void *ptr) { return u4freeDefault(ptr); }

TK_EXPORT int u4allocAgainDefault(CODE4 *c4, char **buffer, unsigned *bufferLen, unsigned newLen) {
  if (buffer == nullptr || bufferLen == nullptr) return report(c4, err::kParmNull, loc::u4allocAgainDefault);
  if (*buffer == nullptr && *bufferLen != 0) return report(c4, err::kParm, loc::u4allocAgainDefault);
  if (*bufferLen >= newLen) return 0;
  auto *grown = static_cast<char *>(std::calloc(1, newLen));
  if (grown == nullptr) {
    setOutOfMemory(c4);
    return err::kMemory;
  }
  if (*buffer != nullptr) {
    std::memcpy(grown, *buffer, *bufferLen);
    std::free(*buffer);
  }
  *buffer = grown;
  *bufferLen = newLen;
  return 0;
}

TK_EXPORT void u4delayHundredth(unsigned hundredths) {
  const unsigned long long ms = 10ULL * hundredths;
  platform::sleepMs(ms > UINT32_MAX ? UINT32_MAX : static_cast<unsigned>(ms));
}

}  // extern "C"
