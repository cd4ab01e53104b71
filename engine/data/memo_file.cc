// The memo file (.DBT) of a table: opening and creating it, reading one
// memo, writing one with reuse of freed blocks, walking the chain of free
// runs, the memo file lock, and the check of the whole file. The memo
// entries of a handle (memo.cc), table opening and table creation use it.
//
// Layout. All integers little-endian. With B the block size, block n holds
// the bytes n x B to (n + 1) x B - 1. Block 0 is the header:
//
//   offset  size  content
//   0       4     first block of the first free run (1 in a new file)
//   4       4     0: the header's own run length
//   8       8     base name of the file, upper case, NUL-padded (not read)
//   16      2     0
//   18      2     0x0102 (not read)
//   20      2     block size B in bytes; written as a multiple of 512
//   22      2     0
//
// A new file is these 24 bytes and nothing else; block 1 starts at B.
//
// A memo of L bytes starts at a block boundary and fills
// k = ceil((L + 8) / B) consecutive blocks:
//
//   offset  size  content
//   0       2     0xFFFF marker; a first block without it holds no memo
//   2       2     8: where the contents start in the block
//   4       4     L + 8
//   8       L     the contents
//
// Free chain. The free blocks form runs of consecutive blocks, chained in
// block order: the first 8 bytes of a run's first block hold the first
// block of the next run and the run's length in blocks. The chain starts in
// the header (bytes 0-7, a run of length 0 at block 0) and ends with a
// pointer to the first block beyond the end of the file, the end entry,
// which counts as a run of unlimited length.
//
// What memo4fileWrite keeps true:
//   1. Runs lie in block order without overlapping; a freed run merges with
//      a free run on either side.
//   2. A memo written at the end of the file is padded to the block
//      boundary, so the chain's last pointer is the end of the file, ceil
//      (length / B), even when the memo ends exactly on a boundary. A chain
//      walk therefore never meets a zero pointer after the last run.
//   3. Each block from 1 to the end lies in exactly one memo or free run.
//   4. The memo's bytes reach the file before the chain entries that give
//      its blocks away.
// Memo writes take no lock of their own: writers sharing a table rely on
// the record and append locks (only lock-all takes the memo file lock).
#include <cctype>
#include <cstdio>
#include <cstring>

#include "data/data_layer.h"
#include "foundation/foundation.h"

namespace tablekit::data {
namespace {

constexpr int kNameSize = 258;

constexpr unsigned kHeaderSize = 24;
constexpr unsigned kFirstFree = 0;
constexpr unsigned kHeaderRunLength = 4;
constexpr unsigned kBaseName = 8;
constexpr unsigned kBaseNameSize = 8;
constexpr unsigned kFormatMark = 18;
constexpr unsigned kBlockSize = 20;
constexpr unsigned kFormatMarkValue = 0x0102;

constexpr unsigned kMemoHeaderSize = 8;
constexpr unsigned kMarker = 0;
constexpr unsigned kContentsOffset = 2;
constexpr unsigned kStoredLength = 4;
constexpr unsigned kMarkerValue = 0xFFFF;

constexpr unsigned kRunNext = 0;
constexpr unsigned kRunLength = 4;
constexpr unsigned kRunHeaderSize = 8;

constexpr unsigned kBlockUnit = 512;
// The largest multiple of 512 that the header's 16 bits can hold.
constexpr unsigned kLargestBlockSize = 65024;
// A file and its positions stay below 2 GB.
constexpr unsigned long long kFileLimit = 0x7FFFFFFFull;

constexpr unsigned long kLockPos = 0xEFFFFFFEul;
constexpr unsigned long kLockLen = 2;

unsigned long readU32(const unsigned char *p) { return static_cast<unsigned long>(dbf::readI32(p)) & 0xFFFFFFFFul; }

CODE4 &contextOf(MEMO4FILE &memo) { return *memo.file.context; }

long blockPos(const MEMO4FILE &memo, long block) { return block * static_cast<long>(memoBlockSize(memo)); }

// Blocks needed by a memo of n bytes, its 8-byte header included.
long blocksFor(unsigned long long stored, unsigned blockSize) {
  return static_cast<long>((stored + blockSize - 1) / blockSize);
}

// The file's length in blocks, a last partial block counted: where the
// chain's end entry lies. -1 when the length cannot be had (reported).
long fileBlocks(MEMO4FILE &memo) {
  const unsigned long len = file4lenLow(&memo.file);
  if (len == static_cast<unsigned long>(-1)) return -1;
  return blocksFor(len, memoBlockSize(memo));
}

// -910 for a memo that cannot be as stored: reported, returned to the
// caller (the file is damaged; the process goes on).
int reportImpossible(MEMO4FILE &memo, long block, const char *what, long location = loc::memo4fileRead) {
  char where[32];
  std::snprintf(where, sizeof where, "memo block %ld", block);
  return reportReturning(&contextOf(memo), err::kInfo, location, memo.file.name, where, what);
}

int reportBrokenChain(MEMO4FILE &memo, long block) {
  char where[32];
  std::snprintf(where, sizeof where, "free block %ld", block);
  return report(&contextOf(memo), err::kMemoCorrupt, loc::detail::corrupt_memo_file, memo.file.name, where);
}

// The header of the memo at block, as far as it says where the memo lies.
struct MemoHeader {
  bool marked = false;          // starts with the 0xFFFF marker
  unsigned long stored = 0;     // L + 8
  unsigned offset = 0;          // where the contents start
};

// Reads the memo header at block, which must lie inside the file (else,
// or when the file ends within the header, -910 reported at location). 0 or
// a negative code.
int readMemoHeader(MEMO4FILE &memo, long block, long blocks, MemoHeader *out, long location = loc::memo4fileRead) {
  if (block >= blocks) return reportImpossible(memo, block, "beyond the end of the file", location);
  unsigned char bytes[kMemoHeaderSize];
  const unsigned got = file4read(&memo.file, blockPos(memo, block), bytes, sizeof bytes);
  if (inError(&contextOf(memo))) return -1;
  if (got != sizeof bytes) return reportImpossible(memo, block, "cut short by the end of the file", location);
  out->marked = dbf::readU16(bytes + kMarker) == kMarkerValue;
  out->stored = readU32(bytes + kStoredLength);
  out->offset = dbf::readU16(bytes + kContentsOffset);
  return 0;
}

// The blocks a stored memo fills, or 0 when its header does not describe a
// memo that fits in the file (such blocks are never freed: better lost
// than given to two owners).
long storedRun(MEMO4FILE &memo, long block, long blocks) {
  if (block <= 0 || block >= blocks) return 0;
  unsigned char bytes[kMemoHeaderSize];
  if (file4read(&memo.file, blockPos(memo, block), bytes, sizeof bytes) != sizeof bytes) return 0;
  if (dbf::readU16(bytes + kMarker) != kMarkerValue) return 0;
  const unsigned long stored = readU32(bytes + kStoredLength);
  if (stored < kMemoHeaderSize || stored == 0xFFFFFFFFul) return 0;
  const long run = blocksFor(stored, memoBlockSize(memo));
  return block + run <= blocks ? run : 0;
}

// Writes the memo's header and contents at block; a memo at the end of the
// file is padded to its last block's boundary (invariant 2).
int writeMemoAt(MEMO4FILE &memo, long block, const void *bytes, unsigned n) {
  const unsigned bs = memoBlockSize(memo);
  const unsigned long long end = (static_cast<unsigned long long>(block) + blocksFor(n + 8ull, bs)) * bs;
  if (end > kFileLimit)
    return report(&contextOf(memo), err::kWrite, loc::memo4fileWrite, memo.file.name, "the memo file would reach 2 GB");
  unsigned char header[kMemoHeaderSize] = {};
  dbf::writeU16(header + kMarker, kMarkerValue);
  dbf::writeU16(header + kContentsOffset, kMemoHeaderSize);
  dbf::writeI32(header + kStoredLength, static_cast<long>(n + 8ul));
  const long pos = blockPos(memo, block);
  if (int rc = file4write(&memo.file, pos, header, sizeof header)) return rc;
  if (int rc = file4write(&memo.file, pos + kMemoHeaderSize, bytes, n)) return rc;
  const unsigned long len = file4lenLow(&memo.file);
  if (len == static_cast<unsigned long>(-1)) return -1;
  if (len < end) return file4lenSetLow(&memo.file, static_cast<unsigned long>(end));
  return 0;
}

// ---------------------------------------------------------------------------
// The walk of memo4fileWrite along the free chain.
//
// It keeps a window of three entries, before -> prev -> cur, and at each
// step: puts the run waiting to be freed between prev and prev's next run
// when that is where it belongs; merges cur into prev when prev ends where
// cur begins; takes the memo's blocks from cur when cur is long enough (its
// tail) or is the end entry. It stops when the memo has its place and the
// freed run is in the chain and has met the run after it (for a merge). Entries it changes are written afterwards, once
// the memo itself is on file (invariant 4).
class ChainWalk {
 public:
  ChainWalk(MEMO4FILE &memo, long blocks) : memo_(memo), blocks_(blocks) {}

  // Frees run (len > 0) and finds a place for need blocks (need > 0): *place
  // receives its first block. 0 or a negative code.
  int run(MemoRun freeRun, long need, long *place);

  // Writes the changed entries. 0 or a negative code.
  int writeBack();

 private:
  struct Entry {
    MemoRun run;
    bool dirty = false;
  };

  int readHeader();
  int nextEntry();
  void merge();
  void take(long *place);
  void keep(const Entry &entry);
  int writeEntry(const MemoRun &run);

  MEMO4FILE &memo_;
  long blocks_;
  Entry before_, prev_, cur_;
  bool haveBefore_ = false;
  bool curRemoved_ = false;
  MemoRun toFree_;
  bool freeing_ = false;
  // Steps left before the freed run has met both neighbours: 2 when it is
  // put in (it meets the run before it now, the one after it next).
  int mergeSteps_ = 0;
  long need_ = 0;
  // At most four distinct entries change in one walk (the one before the
  // freed run, the freed run, the run that gives blocks and the one before
  // it); a full list is written out at once.
  static constexpr unsigned kPending = 8;
  MemoRun pending_[kPending];
  unsigned nPending_ = 0;
};

int ChainWalk::readHeader() {
  unsigned char bytes[kRunHeaderSize];
  if (int rc = file4readAll(&memo_.file, 0, bytes, sizeof bytes)) return rc;
  prev_.run = MemoRun{};
  prev_.run.next = dbf::readI32(bytes + kRunNext);
  return 0;
}

// The entry after prev: the run waiting to be freed when it lies before
// prev's next run, else the next run of the chain.
int ChainWalk::nextEntry() {
  curRemoved_ = false;
  cur_.dirty = false;
  MemoRun &prev = prev_.run;
  if (freeing_ && prev.next > toFree_.first) {
    if (prev.first + prev.len > toFree_.first || toFree_.first + toFree_.len > prev.next)
      return reportBrokenChain(memo_, toFree_.first);  // the blocks are free already
    cur_.run = toFree_;
    cur_.run.next = prev.next;
    cur_.run.end = false;
    cur_.dirty = true;
    prev.next = toFree_.first;
    prev_.dirty = true;
    freeing_ = false;
    mergeSteps_ = 2;
    return 0;
  }
  return memo4fileChainSkip(memo_, prev, blocks_, &cur_.run);
}

// prev absorbs cur; the window steps back so that the merged run is cur.
void ChainWalk::merge() {
  prev_.run.len += cur_.run.len;
  prev_.run.next = cur_.run.next;
  cur_.run = prev_.run;
  cur_.dirty = true;
  prev_ = before_;
  haveBefore_ = false;
}

void ChainWalk::take(long *place) {
  MemoRun &cur = cur_.run;
  if (cur.end) {
    *place = cur.first;
    prev_.run.next = cur.first + need_;
    prev_.dirty = true;
    cur.first += need_;
  } else {
    cur.len -= need_;
    *place = cur.first + cur.len;
    if (cur.len > 0) {
      cur_.dirty = true;
    } else {
      // Used up: the run leaves the chain; its first block is the memo's.
      prev_.run.next = cur.next;
      prev_.dirty = true;
      cur_.dirty = false;
      curRemoved_ = true;
    }
  }
  need_ = 0;
}

void ChainWalk::keep(const Entry &entry) {
  if (!entry.dirty) return;
  if (nPending_ == kPending) {
    // Cannot happen (see kPending); written now rather than lost.
    (void)writeEntry(entry.run);
    return;
  }
  pending_[nPending_++] = entry.run;
}

int ChainWalk::run(MemoRun freeRun, long need, long *place) {
  toFree_ = freeRun;
  freeing_ = freeRun.len > 0;
  need_ = need;
  if (int rc = readHeader()) return rc;
  if (int rc = nextEntry()) return rc;
  for (;;) {
    if (haveBefore_ && !cur_.run.end && prev_.run.len > 0 && prev_.run.first + prev_.run.len == cur_.run.first)
      merge();
    if (need_ > 0 && (cur_.run.end || cur_.run.len >= need_)) take(place);
    if (mergeSteps_ > 0) --mergeSteps_;
    if (need_ == 0 && !freeing_ && mergeSteps_ == 0) break;
    if (cur_.run.end) {
      if (freeing_) return reportBrokenChain(memo_, toFree_.first);  // it lies beyond the end
      break;
    }
    if (!curRemoved_) {
      if (haveBefore_) keep(before_);
      before_ = prev_;
      haveBefore_ = true;
      prev_ = cur_;
    }
    if (int rc = nextEntry()) return rc;
    if (int rc = inError(&contextOf(memo_))) return rc;
  }
  if (haveBefore_) keep(before_);
  keep(prev_);
  if (!curRemoved_ && !cur_.run.end) keep(cur_);
  return 0;
}

int ChainWalk::writeEntry(const MemoRun &run) {
  unsigned char bytes[kRunHeaderSize];
  dbf::writeI32(bytes + kRunNext, run.next);
  if (run.first == 0) return file4write(&memo_.file, kFirstFree, bytes, 4);
  dbf::writeI32(bytes + kRunLength, run.len);
  return file4write(&memo_.file, blockPos(memo_, run.first), bytes, sizeof bytes);
}

int ChainWalk::writeBack() {
  for (unsigned i = 0; i < nPending_; ++i) {
    if (int rc = writeEntry(pending_[i])) return rc;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// The check: one bit per block, each set once.

class BlockMap {
 public:
  BlockMap(MEMO4FILE &memo, long blocks) : memo_(memo), blocks_(blocks) {}
  ~BlockMap() { u4freeDefault(bits_); }
  BlockMap(const BlockMap &) = delete;
  BlockMap &operator=(const BlockMap &) = delete;

  int init() {
    bits_ = static_cast<unsigned char *>(u4allocErDefault(&contextOf(memo_), blocks_ / 8 + 1));
    return bits_ != nullptr ? 0 : err::kMemory;
  }

  // Marks count blocks from first: -910 for a block marked before or one
  // beyond the end of the file.
  int mark(long first, long count) {
    if (first < 0 || count < 0 || first + count > blocks_)
      return reportImpossible(memo_, first, "beyond the end of the file", loc::f4memoCheck);
    for (long b = first; b < first + count; ++b) {
      unsigned char &byte = bits_[b / 8];
      const auto bit = static_cast<unsigned char>(1u << (b % 8));
      if (byte & bit) {
        char where[32];
        std::snprintf(where, sizeof where, "block %ld", b);
        return reportReturning(&contextOf(memo_), err::kInfo, loc::detail::memo_block_used_twice, memo_.file.name, where);
      }
      byte |= bit;
    }
    return 0;
  }

  // Marks the memo whose first block is block.
  int markMemo(long block) {
    MemoHeader header;
    if (int rc = readMemoHeader(memo_, block, blocks_, &header, loc::f4memoCheck)) return rc;
    const unsigned long stored = header.marked ? header.stored : kMemoHeaderSize;
    if (stored < kMemoHeaderSize || stored == 0xFFFFFFFFul)
      return reportImpossible(memo_, block, "impossible length", loc::f4memoCheck);
    return mark(block, blocksFor(stored, memoBlockSize(memo_)));
  }

  int markFreeChain() {
    unsigned char bytes[kRunHeaderSize];
    if (int rc = file4readAll(&memo_.file, 0, bytes, sizeof bytes)) return rc;
    MemoRun run;
    run.next = dbf::readI32(bytes + kRunNext);
    for (;;) {
      MemoRun next;
      if (int rc = memo4fileChainSkip(memo_, run, blocks_, &next)) return rc;
      if (next.end) return 0;
      if (int rc = mark(next.first, next.len)) return rc;
      run = next;
    }
  }

  // -950 (fatal) when a block from 1 to the end is neither used nor free.
  int checkComplete() {
    for (long b = 1; b < blocks_; ++b) {
      if ((bits_[b / 8] & (1u << (b % 8))) == 0)
        return report(&contextOf(memo_), err::kResult, loc::detail::wasted_space_in_memo_file, memo_.file.name);
    }
    return 0;
  }

 private:
  MEMO4FILE &memo_;
  long blocks_;
  unsigned char *bits_ = nullptr;
};

// The memo file's name: the table's with the memo extension.
int memoName(CODE4 &c4, const char *dataName, char *name) {
  std::strncpy(name, dataName, kNameSize - 1);
  name[kNameSize - 1] = '\0';
  const int rc = u4nameExt(name, kNameSize, code4memoExtension(&c4), 1);
  // The names code reports without a context; the context takes the code.
  if (rc < 0 && c4.errorCode >= 0) c4.errorCode = rc;
  return rc;
}

// The block size of a new memo file: memoBlockSize rounded up to a multiple
// of 512 (0 becomes 512), the setting keeping the rounded value. A size the
// header cannot hold is refused (-930).
int newBlockSize(CODE4 &c4, unsigned *out) {
  unsigned long long size = c4.memoBlockSize;
  size = size == 0 ? kBlockUnit : (size + kBlockUnit - 1) / kBlockUnit * kBlockUnit;
  if (size > kLargestBlockSize) {
    char text[48];
    std::snprintf(text, sizeof text, "memoBlockSize %u is over %u", c4.memoBlockSize, kLargestBlockSize);
    return report(&c4, err::kParm, loc::memo4fileCreate, text);
  }
  c4.memoBlockSize = static_cast<unsigned>(size);
  *out = c4.memoBlockSize;
  return 0;
}

}  // namespace

int memoFileOpen(DFILE4 &file, const char *dataName) {
  CODE4 &c4 = *file.c4;
  char name[kNameSize];
  if (int rc = memoName(c4, dataName, name)) return rc;
  MEMO4FILE &memo = file.memoFile;
  memo.data = &file;
  if (int rc = file4open(&memo.file, &c4, name, 1)) return rc;
  // The block cache, once the engine has one, takes the memo file here.
  unsigned char header[kHeaderSize];
  if (int rc = file4readAll(&memo.file, 0, header, sizeof header)) return rc;
  memo.blockSize = static_cast<short>(dbf::readU16(header + kBlockSize));
  // Every position in the file is a multiple of the block size.
  if (memoBlockSize(memo) == 0)
    return report(&c4, err::kMemoCorrupt, loc::detail::corrupt_memo_file, memo.file.name, "block size 0");
  return 0;
}

int memoFileCreate(CODE4 &c4, const char *dataName, MEMO4FILE &memo) {
  unsigned blockSize = 0;
  if (int rc = newBlockSize(c4, &blockSize)) return rc;
  char name[kNameSize];
  if (int rc = memoName(c4, dataName, name)) return rc;
  if (int rc = file4create(&memo.file, &c4, name, 1)) return rc;
  memo.blockSize = static_cast<short>(blockSize);
  memo.fileLock = 0;

  unsigned char header[kHeaderSize] = {};
  dbf::writeI32(header + kFirstFree, 1);
  dbf::writeI32(header + kHeaderRunLength, 0);
  char base[kNameSize];
  if (u4namePiece(base, sizeof base, name, 0, 0) != 0) base[0] = '\0';
  for (unsigned i = 0; i < kBaseNameSize && base[i] != '\0'; ++i)
    header[kBaseName + i] = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(base[i])));
  dbf::writeU16(header + kFormatMark, kFormatMarkValue);
  dbf::writeU16(header + kBlockSize, blockSize);
  return file4write(&memo.file, 0, header, sizeof header);
}

int memo4fileRead(MEMO4FILE &memo, long block, char **contents, unsigned *capacity, unsigned *len) {
  *len = 0;
  if (*capacity > 0) (*contents)[0] = (*contents)[1] = '\0';
  if (block <= 0 || file4openTest(&memo.file) != 1) return 0;
  if (int rc = inError(&contextOf(memo))) return rc;
  const long blocks = fileBlocks(memo);
  if (blocks < 0) return -1;
  MemoHeader header;
  if (int rc = readMemoHeader(memo, block, blocks, &header)) return rc;
  if (!header.marked) return 0;
  if (header.stored == 0xFFFFFFFFul || header.stored < kMemoHeaderSize)
    return reportImpossible(memo, block, "impossible length");
  const unsigned long size = header.stored - kMemoHeaderSize;
  const unsigned long long pos = static_cast<unsigned long long>(blockPos(memo, block)) + header.offset;
  if (pos + size > static_cast<unsigned long long>(file4lenLow(&memo.file)))
    return reportImpossible(memo, block, "reaches beyond the end of the file");

  if (size > *capacity) {
    if (*capacity > 0) u4freeDefault(*contents);
    *contents = emptyMemoContents();
    *capacity = 0;
    auto *buffer = static_cast<char *>(u4allocErDefault(&contextOf(memo), static_cast<long>(size) + 2));
    if (buffer == nullptr) return err::kMemory;
    *contents = buffer;
    *capacity = static_cast<unsigned>(size);
  }
  if (size > 0) {
    if (int rc = file4readAll(&memo.file, static_cast<long>(pos), *contents, static_cast<unsigned>(size))) return rc;
  }
  if (*capacity > 0) (*contents)[size] = (*contents)[size + 1] = '\0';
  *len = static_cast<unsigned>(size);
  return 0;
}

int memo4fileWrite(MEMO4FILE &memo, long *block, const void *bytes, unsigned n) {
  CODE4 &c4 = contextOf(memo);
  if (file4openTest(&memo.file) != 1) return report(&c4, err::kWrite, loc::detail::memo_file_not_open_for_append);
  if (int rc = inError(&c4)) return rc;
  const long blocks = fileBlocks(memo);
  if (blocks < 0) return -1;
  const long k = n > 0 ? blocksFor(n + 8ull, memoBlockSize(memo)) : 0;

  // 1. The old memo's run is to be freed; 2. a new memo that fits in it
  // takes its tail.
  const long old = *block;
  const long m = storedRun(memo, old, blocks);
  if (inError(&c4)) return -1;
  MemoRun toFree;
  toFree.first = old;
  toFree.len = m;
  if (n == 0) {
    *block = 0;
  } else if (k <= m) {
    const long place = old + m - k;
    if (int rc = writeMemoAt(memo, place, bytes, n)) return rc;
    *block = place;
    toFree.len = m - k;
  }
  const long need = n > 0 && k > m ? k : 0;
  if (toFree.len == 0 && need == 0) return 0;

  // 3. The walk frees the run and finds a place; the memo is written before
  // the chain entries that give its blocks away.
  ChainWalk walk(memo, blocks);
  long place = 0;
  if (int rc = walk.run(toFree, need, &place)) return rc;
  if (need > 0) {
    if (int rc = writeMemoAt(memo, place, bytes, n)) return rc;
    *block = place;
  }
  return walk.writeBack();
}

int memo4fileChainSkip(MEMO4FILE &memo, const MemoRun &from, long fileBlocks, MemoRun *next) {
  // Each pointer lies beyond the run it leaves: the walk always ends.
  const long reach = from.first + (from.len > 0 ? from.len : 1);
  if (from.next < reach) return reportBrokenChain(memo, from.first);
  *next = MemoRun{};
  next->first = from.next;
  if (from.next >= fileBlocks) {
    next->next = -1;
    next->len = -1;
    next->end = true;
    return 0;
  }
  unsigned char bytes[kRunHeaderSize];
  if (file4read(&memo.file, blockPos(memo, from.next), bytes, sizeof bytes) != sizeof bytes) {
    if (int rc = inError(&contextOf(memo))) return rc;
    return reportBrokenChain(memo, from.next);
  }
  next->next = dbf::readI32(bytes + kRunNext);
  next->len = dbf::readI32(bytes + kRunLength);
  if (next->len < 0 || next->first + next->len > fileBlocks) return reportBrokenChain(memo, next->first);
  return 0;
}

int memoFileLock(DFILE4 &file) {
  MEMO4FILE &memo = file.memoFile;
  if (memo.fileLock) return 0;
  // A table without a memo file has nothing to lock.
  if (file4openTest(&memo.file) != 1) return 0;
  CODE4 &c4 = contextOf(memo);
  const int attempts = c4.lockAttempts;
  c4.lockAttempts = -1;
  const int rc = file4lockInternal(&memo.file, kLockPos, 0, kLockLen, 0);
  c4.lockAttempts = attempts;
  if (rc != 0) return rc;
  memo.fileLock = 1;
  return file4refresh(&memo.file);
}

int memoFileUnlock(DFILE4 &file) {
  MEMO4FILE &memo = file.memoFile;
  if (!memo.fileLock) return 0;
  if (file4openTest(&memo.file) == 1) {
    if (int rc = file4unlockInternal(&memo.file, kLockPos, 0, kLockLen, 0)) return rc;
  }
  memo.fileLock = 0;
  return 0;
}

int memoCheckBlocks(MEMO4FILE &memo, const long *firstBlocks, unsigned count) {
  const long blocks = fileBlocks(memo);
  if (blocks < 0) return -1;
  BlockMap map(memo, blocks);
  if (int rc = map.init()) return rc;
  if (int rc = map.mark(0, blocks > 0 ? 1 : 0)) return rc;
  for (unsigned i = 0; i < count; ++i) {
    if (firstBlocks[i] <= 0) continue;
    if (int rc = map.markMemo(firstBlocks[i])) return rc;
  }
  if (int rc = map.markFreeChain()) return rc;
  return map.checkComplete();
}

int f4memoCheck(MEMO4FILE &memo, DATA4 &data) {
  if (file4openTest(&memo.file) != 1) return 0;
  if (int rc = d4lockFile(&data)) return rc;
  if (int rc = d4update(&data); rc < 0) return rc;
  const long count = d4recCountDo(&data);
  if (count < 0) return -1;
  const long blocks = fileBlocks(memo);
  if (blocks < 0) return -1;
  BlockMap map(memo, blocks);
  if (int rc = map.init()) return rc;
  if (int rc = map.mark(0, blocks > 0 ? 1 : 0)) return rc;

  DFILE4 &file = *data.dataFile;
  CODE4 &c4 = *data.context;
  auto *record = static_cast<char *>(u4allocErDefault(&c4, static_cast<long>(file.recWidth) + 1));
  if (record == nullptr) return err::kMemory;
  int rc = 0;
  for (long r = 1; r <= count && rc == 0; ++r) {
    rc = file4readAll(&file.file, static_cast<long>(dfile4recordPosition(&file, r)), record,
                      static_cast<unsigned>(file.recWidth));
    for (unsigned i = 0; i < file.nFields && rc == 0; ++i) {
      const FIELD4 &field = data.fields[i];
      if (field.memo == nullptr) continue;
      const long block = c4atol(record + field.offset, field.len);
      if (block > 0) rc = map.markMemo(block);
    }
  }
  u4freeDefault(record);
  if (rc != 0) return rc;
  if (int chain = map.markFreeChain()) return chain;
  return map.checkComplete();
}

}  // namespace tablekit::data
