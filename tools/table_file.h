// The header of a table file as it lies on disk, read without opening the
// table, so that `info` can show a damaged header and `repair` can mend one
// the engine refuses to open. Layout of the start of a .DBF file (integers
// little-endian):
//
//   offset  size  content
//        0     1  version byte (bit 7: a memo file belongs to the table)
//        1     3  date of last update: year - 1900, month, day
//        4     4  record count, signed
//        8     2  header length: the offset of record 1
//       10     2  record width, deletion flag included
//       28     1  table flags (bit 0: production index)
//       32  32*n  field descriptors: name (11 bytes, NUL padded), type (1),
//                 reserved (4), length (1), decimals or length high byte (1)
//   32+32n     1  0x0D ends the descriptors
//   header length: the records, then the end-of-file byte 0x1A
#ifndef TABLEKIT_TOOLS_TABLE_FILE_H
#define TABLEKIT_TOOLS_TABLE_FILE_H

#include <string>
#include <vector>

#include "tablekit.h"

namespace tktool {

constexpr unsigned kHeaderSize = 32;
constexpr unsigned kDescriptorSize = 32;
constexpr long kCountOffset = 4;
constexpr char kEndOfFile = 0x1A;

struct FieldInfo {
  std::string name;
  char type = 'C';
  unsigned len = 0;
  unsigned dec = 0;
  unsigned long offset = 0;  // position in the record; the first field is at 1
};

struct TableFile {
  unsigned long fileLen = 0;
  unsigned char version = 0;
  unsigned year = 0, month = 0, day = 0;  // year in full (1900 + the byte)
  long count = 0;                         // as the header says
  unsigned headerLen = 0;
  unsigned recWidth = 0;  // as the header says
  unsigned char flags = 0;
  std::vector<FieldInfo> fields;
  unsigned long computedWidth = 0;  // 1 plus the field lengths
  // What the length holds beyond the header.
  unsigned long wholeRecords = 0;
  unsigned long restBytes = 0;  // bytes after the last whole record
  bool endMarker = false;       // those bytes are the one end-of-file byte
  // Damage beyond the count: the table cannot be opened, nor repaired.
  std::vector<std::string> faults;

  bool countAgrees() const { return faults.empty() && count >= 0 && static_cast<unsigned long>(count) == wholeRecords; }
  bool hasMemo() const { return version == 0x30 ? (flags & 0x02) != 0 : (version & 0x80) != 0; }
  bool hasIndex() const { return (flags & 0x01) != 0; }
  // Bytes from the start of the file to the end of the last whole record.
  unsigned long recordsEnd() const { return headerLen + wholeRecords * recWidth; }
};

// Reads the header, descriptors and length of an open file into *table.
// Damage is listed in table->faults; 0 comes back unless the engine failed
// to read (a negative code, held by the file's context).
int readTableFile(FILE4 &file, TableFile *table);

}  // namespace tktool

#endif  // TABLEKIT_TOOLS_TABLE_FILE_H
