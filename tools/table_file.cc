// Reading a table file's header and descriptors as they lie on disk, and
// judging them against the file's length.
#include "table_file.h"

#include <cctype>
#include <cstring>

namespace tktool {
namespace {

unsigned readU16(const unsigned char *bytes) { return bytes[0] | (static_cast<unsigned>(bytes[1]) << 8); }

long readI32(const unsigned char *bytes) {
  const unsigned long value = bytes[0] | (static_cast<unsigned long>(bytes[1]) << 8) |
                              (static_cast<unsigned long>(bytes[2]) << 16) |
                              (static_cast<unsigned long>(bytes[3]) << 24);
  return static_cast<long>(static_cast<int>(static_cast<unsigned>(value)));
}

// The field types the engine opens; the others make a table unreadable.
bool knownType(char type) { return type != '\0' && std::strchr("CNFDLMGBIPQRV5OW", type) != nullptr; }

// The field's length: 16 bits for C, O and W, byte 16 alone for the others.
unsigned fieldLength(char type, const unsigned char *descriptor) {
  if (type == 'C' || type == 'O' || type == 'W') return readU16(descriptor + 16);
  return descriptor[16];
}

void readDescriptors(const std::vector<unsigned char> &area, unsigned char version, TableFile &table) {
  unsigned long offset = 1;
  size_t pos = 0;
  for (; pos + kDescriptorSize <= area.size() && area[pos] != 0x0D; pos += kDescriptorSize) {
    const unsigned char *descriptor = area.data() + pos;
    FieldInfo field;
    field.name.assign(reinterpret_cast<const char *>(descriptor),
                      strnlen(reinterpret_cast<const char *>(descriptor), 10));
    field.type = static_cast<char>(std::toupper(descriptor[11]));
    field.len = fieldLength(field.type, descriptor);
    const bool decimals = field.type == 'N' || field.type == 'F' || (field.type == 'B' && version == 0x30);
    field.dec = decimals ? descriptor[17] : 0;
    field.offset = offset;
    offset += field.len;
    if (!knownType(field.type)) {
      const unsigned char code = descriptor[11];
      const std::string shown = code > 32 && code < 127 ? "'" + std::string(1, static_cast<char>(code)) + "'"
                                                        : "code " + std::to_string(code);
      table.faults.push_back("field " + field.name + " has the type " + shown + ", which tables may not have");
    }
    table.fields.push_back(field);
  }
  if (pos >= area.size() || area[pos] != 0x0D) table.faults.push_back("the field descriptors have no 0x0D terminator");
  table.computedWidth = offset;
}

}  // namespace

int readTableFile(FILE4 &file, TableFile *out) {
  TableFile &table = *out;
  table = TableFile();
  table.fileLen = file4lenLow(&file);
  if (table.fileLen == static_cast<unsigned long>(-1)) return -1;
  if (table.fileLen < kHeaderSize) {
    table.faults.push_back("the file is " + std::to_string(table.fileLen) + " bytes long, shorter than a header");
    return 0;
  }
  unsigned char header[kHeaderSize];
  if (int rc = file4readAll(&file, 0, header, kHeaderSize)) return rc;
  table.version = header[0];
  table.year = 1900u + header[1];
  table.month = header[2];
  table.day = header[3];
  table.count = readI32(header + kCountOffset);
  table.headerLen = readU16(header + 8);
  table.recWidth = readU16(header + 10);
  table.flags = header[28];

  if (table.recWidth == 0) table.faults.push_back("the record width is 0");
  if (table.headerLen <= kHeaderSize) {
    table.faults.push_back("the header length " + std::to_string(table.headerLen) + " leaves no room for fields");
  } else if (table.fileLen < table.headerLen) {
    table.faults.push_back("the file is " + std::to_string(table.fileLen) + " bytes long, shorter than its header of " +
                           std::to_string(table.headerLen) + " bytes");
  } else {
    std::vector<unsigned char> area(table.headerLen - kHeaderSize);
    if (int rc = file4readAll(&file, kHeaderSize, area.data(), static_cast<unsigned>(area.size()))) return rc;
    readDescriptors(area, table.version, table);
    if (table.recWidth != 0 && table.computedWidth != table.recWidth) {
      table.faults.push_back("the fields add up to a record width of " + std::to_string(table.computedWidth) +
                             ", the header says " + std::to_string(table.recWidth));
    }
  }
  if (!table.faults.empty()) return 0;

  const unsigned long data = table.fileLen - table.headerLen;
  table.wholeRecords = data / table.recWidth;
  table.restBytes = data % table.recWidth;
  if (table.restBytes == 1) {
    char last = 0;
    if (int rc = file4readAll(&file, static_cast<long>(table.recordsEnd()), &last, 1)) return rc;
    table.endMarker = last == kEndOfFile;
  }
  return 0;
}

}  // namespace tktool
