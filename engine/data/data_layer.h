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

// Whether record recNo of the table is locked by this handle: 1 locked,
// 0 not. Writing field operations refuse to write (-50) while the
// context's lockEnforce setting is on and the current record is not locked.
//
// Until the lock bookkeeping exists this answers from the share mode alone:
// a table whose file was opened exclusively (access mode 1) or for this
// process's writes only (access mode 2) counts as locked; a shared open
// (access mode 0) does not. The record-lock test of the locking unit
// replaces this body.
int recordLockedByHandle(DATA4 &data, long recNo);

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

// The memo file's block size: 16 bits at offset 20 of its 24-byte header.
constexpr unsigned kMemoHeaderSize = 24;
constexpr unsigned kMemoBlockSize = 20;

// Little-endian integers of the header.
inline unsigned readU16(const unsigned char *p) { return p[0] | (static_cast<unsigned>(p[1]) << 8); }
inline long readI32(const unsigned char *p) {
  const unsigned long u = p[0] | (static_cast<unsigned long>(p[1]) << 8) | (static_cast<unsigned long>(p[2]) << 16) |
                          (static_cast<unsigned long>(p[3]) << 24);
  return static_cast<long>(static_cast<int>(static_cast<unsigned>(u)));
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

// The lock tests behind the record counts. Until the lock bookkeeping exists
// these answer from the share mode alone, as recordLockedByHandle does: a
// file opened in access mode 1 or 2 counts as locked by every handle of this
// process; otherwise only the owner ids in the DFILE4 (never set yet) count.
// The locking unit replaces these bodies.
//   countLockedByAny: the file lock or the append lock is held by any handle.
//   countLockedBy: the file lock or the append lock is held by handle id.
bool countLockedByAny(const DFILE4 &file);
bool countLockedBy(const DFILE4 &file, long handleId);

// ---------------------------------------------------------------------------
// Records (append.cc, write.cc, zap.cc, navigation.cc)

// Rewrites the header fields of the data file from the in-memory header
// image, at their own offsets: with withDate the version and date (bytes
// 0-3), with withCount the record count and header length (bytes 4-9) when
// the in-memory count is known. Nothing is written while a transaction is
// active. withDate sets the date-pending flag, withCount makes the last known
// count the in-memory one, and the changed flag is cleared in every case.
// 0, or -1 when the write failed (reported by the file layer).
[[nodiscard]] int dfile4headerWrite(DFILE4 &file, bool withDate, bool withCount);

// Sets the in-memory header date to today's local date (year - 1900, month,
// day). Called at the last close of a changed file and when the append or
// file lock is released while the date-pending flag is set.
void headerDateToday(DFILE4 &file);

}  // namespace tablekit::data
