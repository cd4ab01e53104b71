// What the units of the data layer share with each other and with the rest of
// the engine: blank field values for building a table's blank record, the
// record-lock test behind lock enforcement, and the date helpers that the
// field operations use. Internal: never installed, never included by the
// translator.
#pragma once

#include "tablekit.h"

namespace tablekit::data {

// ---------------------------------------------------------------------------
// Fields (fields.cc)

// The byte a blank field of this type is filled with: NUL for the binary
// types B, I, O, P, Q, R, V and W, a blank for every other type.
char blankByte(int type);

// Fills the field's bytes inside recordBuffer (which starts with the
// deletion flag, so the field lies at recordBuffer + field.offset) with the
// field's blank value. Used by f4blank and by table opening to build the
// blank record.
void fieldBlank(const FIELD4 &field, char *recordBuffer);

// ---------------------------------------------------------------------------
// Numbers as text (conversion.cc)

// c4dtoa45's layout of a double in width bytes: decimal rounding of the
// exact binary value, half way away from zero, right-aligned, asterisks
// and -440 when it does not fit. formatFixed takes every value;
// formatFixedSmall only values below 1e14 with at most four decimals, the
// amounts of a load, in integer arithmetic, and returns kNotSmall (writing
// nothing) for the others. Where both apply they give the same bytes.
constexpr int kNotSmall = 1;
int formatFixed(double value, char *out, int width, int decimals);
int formatFixedSmall(double value, char *out, int width, int decimals);

// ---------------------------------------------------------------------------
// Dates (dates.cc)

// The day number of an 8-character CCYYMMDD text (date4long) read from a
// field of len bytes: a shorter field counts as padded with blanks, a longer
// one is read in its first 8 bytes. Never reads past len.
long fieldDayNumber(const char *bytes, unsigned len);

// Writes the date of a day number into a field of len bytes: the 8
// characters of date4assignLow (blanks for a day number <= 0), cut to len
// or followed by blanks up to len.
void fieldAssignDayNumber(char *bytes, unsigned len, long dayNumber);

// ---------------------------------------------------------------------------
// The .DBF data file (open.cc reads it; table creation and the header rewrite
// write it). All integers little-endian.
//
//   offset  size    content
//   0       1       version byte; bit 7 (0x80) = a memo file belongs to the
//                   table, except for 0x30, where flags bit 1 decides
//   1       3       date of last update: year - 1900, month, day
//   4       4       record count, signed; never negative
//   8       2       header length: the file offset of record 1; > 32
//   10      2       record width, deletion flag included; never 0
//   12      16      reserved, zero
//   28      1       flags: 0x01 production index, 0x02 memo file (0x30 only)
//   29      3       reserved, zero
//   32      32 x n  field descriptors (below), in record order
//   32+32n  1       terminator 0x0D; bytes after it up to the header length
//                   are ignored
//   hdr     w x c   the records: record r at hdr + (r - 1) x w
//   end     1       end-of-file marker 0x1A
//
// Field descriptor (32 bytes):
//   0       11      name, NUL-padded, at most 10 significant characters
//   11      1       type code (upper-cased when read)
//   12      4       reserved
//   16      1       length (low byte)
//   17      1       decimals for N and F (and B in version 0x30 tables); the
//                   high byte of the length for C, I, O, P, Q, R, V, W and 5
//   18      13      reserved
//   31      1       production-tag flag (not read)
namespace dbf {
constexpr unsigned kHeaderSize = 32;
constexpr unsigned kVersion = 0;
constexpr unsigned kDate = 1;
constexpr unsigned kRecordCount = 4;
constexpr unsigned kHeaderLength = 8;
constexpr unsigned kRecordWidth = 10;
constexpr unsigned kFlags = 28;

constexpr unsigned kDescriptorSize = 32;
constexpr unsigned kFieldName = 0;
constexpr unsigned kFieldNameSize = 11;
constexpr unsigned kFieldType = 11;
constexpr unsigned kFieldLength = 16;
constexpr unsigned kFieldDecimals = 17;

constexpr unsigned char kTerminator = 0x0D;
constexpr unsigned char kEndOfFile = 0x1A;
constexpr unsigned char kFlagProductionIndex = 0x01;
constexpr unsigned char kFlagMemo = 0x02;
constexpr unsigned char kVersionMemoBit = 0x80;
constexpr unsigned char kVersionFlagsDecideMemo = 0x30;

// Little-endian integers, as the data and memo files store them.
inline unsigned readU16(const unsigned char *p) { return p[0] | (static_cast<unsigned>(p[1]) << 8); }
inline long readI32(const unsigned char *p) {
  const unsigned long u = p[0] | (static_cast<unsigned long>(p[1]) << 8) | (static_cast<unsigned long>(p[2]) << 16) |
                          (static_cast<unsigned long>(p[3]) << 24);
  return static_cast<long>(static_cast<int>(static_cast<unsigned>(u)));
}
inline void writeU16(unsigned char *p, unsigned value) {
  p[0] = static_cast<unsigned char>(value & 0xFF);
  p[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}
inline void writeI32(unsigned char *p, long value) {
  const auto u = static_cast<unsigned long>(value);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((u >> (8 * i)) & 0xFF);
}
}  // namespace dbf

// ---------------------------------------------------------------------------
// Tables: opening, closing, record counts (open.cc, close.cc, counts.cc)

// Releases one user of a DFILE4 (the caller has already unlinked its DATA4):
// the user count drops, and at the last user (or for a file kept without
// users) the file is closed for real:
// descriptor bytes freed, memo file and data file closed (deleted when the
// context's doRemove is 1), the DFILE4 taken out of the context's list and
// given back to its pool. Returns 0 or the first negative code of the close
// (already reported).
int dfile4release(DFILE4 &file);

// Frees what opening built for a handle: the record buffers and the field
// array (one block or several, as buffersOneBlock says) and the memo entries
// with their contents. Leaves the pointers null.
void freeHandleParts(DATA4 &data);

// The contents an F4MEMO points at while it has no buffer of its own: an
// empty text followed by a second NUL. Shared by every handle; never written.
char *emptyMemoContents();

// ---------------------------------------------------------------------------
// Locks (locks.cc)
//
// The automatic-unlock setting of the lock operations is CODE4::unlockAuto
// (1 every lock of the context, 2 those of the table concerned, 0 none);
// TRAN4::unlockAuto is not read. The context's lock list
// (trans.locks) holds the queued group-lock requests. In access modes 1
// and 2 every lock test answers 1 and every lock call returns 0 at once.

// Whether record recNo of the table is locked by this handle: 1 when the
// handle holds its record lock or the file lock (or the file was opened in
// access mode 1 or 2), else 0. Locks of other handles and processes are not
// looked at and nothing is noted as a conflict. Writing field operations
// refuse to write (-50) while lockEnforce is on and this answers 0 for the
// current record.
int recordLockedByHandle(DATA4 &data, long recNo);

// The lock tests behind the record counts; in access modes 1 and 2 both are
// true for every handle.
//   countLockedByAny: the file lock or the append lock is held by any handle.
//   countLockedBy: the file lock or the append lock is held by handle id.
bool countLockedByAny(const DFILE4 &file);
bool countLockedBy(const DFILE4 &file, long handleId);

// At the close of a handle, after its locks were released (d4unlockLow) and
// before its DATA4 is freed: drops its queued group-lock requests, gives
// back any lock a failed release left it holding, and clears the conflict
// report's file name when it is this handle's alias.
void forgetHandleLocks(DATA4 &data);

// ---------------------------------------------------------------------------
// Records (append.cc, write.cc, zap.cc, navigation.cc)

// Rewrites the header fields of the data file from the in-memory header
// image, at their own offsets: with withDate the version and date (bytes
// 0-3; the in-memory date becomes today first), with withCount the record
// count and header length (bytes 4-9) when the in-memory count is known.
// Nothing is written while a transaction is active. withDate sets the
// date-pending flag, withCount makes the last known count the in-memory one,
// and the changed flag is cleared in every case.
// 0, or -1 when the write failed (reported by the file layer).
[[nodiscard]] int dfile4headerWrite(DFILE4 &file, bool withDate, bool withCount);

// Sets the in-memory header date to today's local date (year - 1900, month,
// day). Called at the last close of a changed file and when the append or
// file lock is released while the date-pending flag is set.
void headerDateToday(DFILE4 &file);

// ---------------------------------------------------------------------------
// Memo (memo.cc, memo_file.cc)
//
// A table's memo file (.DBT) keeps the contents of its M, G and B fields in
// runs of fixed-size blocks; a memo field of a record holds the number of its
// memo's first block as text (blank or 0: no memo). A handle keeps each memo
// field's contents in its F4MEMO entry: assigned there, written to the memo
// file when the record is appended or written. The file's layout and its
// chain of free runs are drawn in memo_file.cc.

// The block size of a memo file in bytes (the record keeps it in 16 bits).
inline unsigned memoBlockSize(const MEMO4FILE &memo) { return static_cast<unsigned short>(memo.blockSize); }

// Opens the memo file of a table whose data file is named dataName (its
// extension replaced by the context's memo extension) into file.memoFile
// and takes the block size from its header. 0, a negative code (reported),
// or 70 when the file was not opened while errOpen is 0. On failure the
// memo file may be left open: releasing the DFILE4 closes it.
[[nodiscard]] int memoFileOpen(DFILE4 &file, const char *dataName);

// Creates the memo file of a new table named like dataName: the 24-byte
// header and nothing else, with the context's memoBlockSize rounded up to a
// multiple of 512 (the setting keeps the rounded value; over 65024, which
// the header cannot hold, is refused with -930). The file stays open in memo
// (closing it is the caller's). 0, or a nonzero code: negative (reported),
// or 60 when the file was not created while errCreate is 0.
[[nodiscard]] int memoFileCreate(CODE4 &c4, const char *dataName, MEMO4FILE &memo);

// Reads the memo whose first block is block into *contents, a buffer of
// *capacity + 2 bytes (or the empty contents while *capacity is 0); a
// buffer too small is freed and one of L + 2 bytes allocated. *len receives
// the length L (0 for block <= 0 or a first block without the memo marker),
// and two NULs follow the contents. 0, -910 (reported, not fatal) for a
// memo whose length cannot be (0xFFFFFFFF, or reaching past the end of the
// file), or another negative code. On failure *len is 0, and when the
// buffer could not be allocated it is the empty contents again.
[[nodiscard]] int memo4fileRead(MEMO4FILE &memo, long block, char **contents, unsigned *capacity, unsigned *len);

// Stores n bytes as a memo. *block holds the field's current block number
// on entry (0: none) and the new one on return (0 when n is 0). The old memo's
// blocks are freed, and the new memo is put into the tail of the old run
// when it fits there, else into the tail of the first free run long enough,
// else at the end of the file. 0 or a negative code (reported); -1110 for a
// damaged free chain.
[[nodiscard]] int memo4fileWrite(MEMO4FILE &memo, long *block, const void *bytes, unsigned n);

// One entry of the free chain: a run of free blocks, the header (first 0,
// length 0) or the end (the first block beyond the end of the file, of
// unlimited length).
struct MemoRun {
  long first = 0;  // first block
  long next = 0;   // first block of the next run
  long len = 0;    // blocks; for the end entry the whole rest of the file
  bool end = false;
};

// The entry of the free chain that follows from: the run at from.next, or
// the end entry when from.next lies at or beyond the end of the file
// (fileBlocks blocks, the last perhaps partly written). 0, or -1110
// (reported) for a chain that does not run forward without overlaps.
[[nodiscard]] int memo4fileChainSkip(MEMO4FILE &memo, const MemoRun &from, long fileBlocks, MemoRun *next);

// The memo file lock (bytes 0xEFFFFFFE-0xEFFFFFFF of the memo file), taken
// by lock-all: waits without limit; on success the file's cached blocks are
// dropped. 0 at once when this process holds it already or the table has no
// memo file. memoFileUnlock releases it (0 when it is not held).
[[nodiscard]] int memoFileLock(DFILE4 &file);
[[nodiscard]] int memoFileUnlock(DFILE4 &file);

// Verifies a table's memo file: locks the table's file, brings it up to
// date (d4update), and checks that the memos of all records and the runs of
// the free chain cover every block from 1 to the end exactly once. 0; -910
// (reported, not fatal) for a block used twice or a memo beyond the end of
// the file; -950 (fatal) for blocks neither used nor free; or the code of a
// lock or read.
[[nodiscard]] int f4memoCheck(MEMO4FILE &memo, DATA4 &data);

// The check of f4memoCheck over the memos whose first blocks are given.
[[nodiscard]] int memoCheckBlocks(MEMO4FILE &memo, const long *firstBlocks, unsigned count);

// The entries of a handle (memo.cc). Each works on every memo field of the
// handle; the handle must have memo fields.
//   memoResetEntries: length 0, to be read again, not changed (the buffers
//     stay for reuse).
//   memoMarkUnread: to be read again.
//   memoFreeEntries: frees the contents and the entry array (close).
void memoResetEntries(DATA4 &data);
void memoMarkUnread(DATA4 &data);
void memoFreeEntries(DATA4 &data);

// Loads every memo entry from the blocks named in the old-record buffer,
// which the caller has just filled with the current record's stored image
// under its lock; the entries count as loaded and not changed. 0 or a
// negative code.
[[nodiscard]] int memoLoadAll(DATA4 &data);

// Appending (d4append): each memo field with contents is written as a new
// memo and its field given the new block number; a field without contents
// is blanked. Every changed mark is cleared. 0 or the first negative code
// (the fields after it are left as they are).
[[nodiscard]] int memoAppendContents(DATA4 &data);

// Writing a record (d4writeLow): each memo field whose entry is changed is
// written over its old memo (d4validateMemoIds first) and the field given
// the new block number, or blanked for empty contents. 0, a positive code of
// the record lock, or a negative code.
[[nodiscard]] int memoWriteChanged(DATA4 &data);

// Makes the memo block numbers in the record buffer the stored ones, once
// between releases of the handle's record locks (memoValidated): locks the
// current record, reads its stored image into the old-record buffer and
// copies the block number of every memo field whose entry is not changed.
// 0 (also without a current record), the lock's positive code, or a
// negative code.
[[nodiscard]] int d4validateMemoIds(DATA4 &data);

// Loads a memo field's contents from the memo file into its entry (empty
// when the handle has no current record); clears the changed mark. 0 or a
// negative code (the entry is then empty).
[[nodiscard]] int f4memoRead(FIELD4 &field);

}  // namespace tablekit::data
