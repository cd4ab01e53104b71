// Table creation: d4create writes a new, empty table (.DBF) from an array of
// field descriptions, creates its memo file when a field needs one, and
// returns the table opened; d4createTemp does the same for a temporary
// table that is deleted when it is closed. The translator opens existing
// tables; creation serves other programs and the tests.
//
// What each field type writes in bytes 16 and 17 of its descriptor, and
// the width it adds to the record (exactly what opening reads back):
//
//   type          byte 16              byte 17               width
//   C (Z as C)    length, low byte     length, high byte     length
//   N, F          length               decimals              length
//   D             8                    0                     8
//   L             1                    0                     1
//   M, G, B       10                   0                     10
//   I, P          4                    0                     4
//   Q, R          2                    0                     2
//   V             16                   0                     16
//   5             8                    0                     8
//   O             v = length rounded up to even, + 2: v low, v high   v
//   W             v = length rounded up to even:      v low, v high   v
//
// Tag descriptions would build the table's production index; index files
// are not part of this engine, so a tag array is refused (-1090) and
// nothing is created.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "data/data_layer.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit::data {
namespace {

constexpr int kNameSize = 258;
constexpr unsigned long kWidthLimit = 65535;
constexpr unsigned kFieldLimit = 2047;
constexpr unsigned kWriteBuffer = 2048;
constexpr unsigned kFieldNameLength = 10;
constexpr unsigned char kVersionPlain = 0x03;
constexpr unsigned char kVersionMemo = 0x8B;

// What one FIELD4INFO row writes.
struct FieldShape {
  bool known = true;
  unsigned char type = 0;
  unsigned char low = 0;   // byte 16
  unsigned char high = 0;  // byte 17
  unsigned long width = 0;
  bool memo = false;       // needs the memo file
};

void sixteenBits(FieldShape &shape, unsigned long value) {
  shape.low = static_cast<unsigned char>(value & 0xFF);
  shape.high = static_cast<unsigned char>((value >> 8) & 0xFF);
  shape.width = value;
}

void fixed(FieldShape &shape, unsigned char width) {
  shape.low = width;
  shape.width = width;
}

// N and F keep their length in byte 16 alone: a longer one could not be
// read back, and is refused like an unknown type. Types T, Y and 1 to 4
// have no layout in these tables (opening refuses them) and are refused
// here already, before any file exists.
FieldShape shapeOf(const CODE4 &c4, const FIELD4INFO &info) {
  FieldShape shape;
  const int type = info.type >= 0 && info.type <= 0xFF ? std::toupper(info.type) : 0;
  shape.type = static_cast<unsigned char>(type == 'Z' ? 'C' : type);
  const unsigned long len = info.len;
  switch (shape.type) {
    case 'C':
      sixteenBits(shape, len);
      break;
    case 'N': case 'F':
      shape.known = len <= 0xFF && info.dec <= 0xFF;
      shape.low = static_cast<unsigned char>(len & 0xFF);
      shape.high = static_cast<unsigned char>(info.dec & 0xFF);
      shape.width = len;
      break;
    case 'D': fixed(shape, 8); break;
    case 'L': fixed(shape, 1); break;
    case 'M': case 'G':
      fixed(shape, 10);
      shape.memo = true;
      break;
    case 'B':
      fixed(shape, 10);
      shape.memo = c4.oledbSchemaCreate != 1;
      break;
    case 'I': case 'P': fixed(shape, 4); break;
    case 'Q': case 'R': fixed(shape, 2); break;
    case 'V': fixed(shape, 16); break;
    case '5': fixed(shape, 8); break;
    case 'O': sixteenBits(shape, (len + 1) / 2 * 2 + 2); break;
    case 'W': sixteenBits(shape, (len + 1) / 2 * 2); break;
    default:
      shape.known = false;
      break;
  }
  return shape;
}

// The table as a whole: field count, record width, memo file or not.
struct TableShape {
  unsigned fields = 0;
  unsigned long width = 1;
  bool memo = false;
};

// Step 3 of creation: -220 for a field that cannot be written, -230 for a
// record or a field count too large.
int measure(CODE4 &c4, const FIELD4INFO *fields, TableShape *table) {
  for (const FIELD4INFO *row = fields; row->name != nullptr; ++row) {
    const FieldShape shape = shapeOf(c4, *row);
    if (!shape.known) return report(&c4, err::kFieldType, loc::detail::illegal_field_data, row->name);
    table->width += shape.width;
    table->memo = table->memo || shape.memo;
    ++table->fields;
  }
  char text[64];
  if (table->width >= kWidthLimit) {
    std::snprintf(text, sizeof text, "record width %lu", table->width);
    return report(&c4, err::kRecordLen, loc::d4create, text);
  }
  if (table->fields >= kFieldLimit) {
    std::snprintf(text, sizeof text, "%u fields", table->fields);
    return report(&c4, err::kRecordLen, loc::d4create, text);
  }
  return 0;
}

// Step 2: a table of this name open in the context is not replaced: -20, or
// the condition 60 without a report while errCreate is 0.
int refuseOpenTable(CODE4 &c4, const char *fullName) {
  for (auto *file = static_cast<DFILE4 *>(l4first(&c4.dataFileList)); file != nullptr;
       file = static_cast<DFILE4 *>(l4next(&c4.dataFileList, file))) {
    if (file->file.name == nullptr || std::strcmp(file->file.name, fullName) != 0) continue;
    if (c4.errCreate == 0) return c4.errorCode = r4noCreate;
    return report(&c4, err::kCreate, loc::detail::attempt_to_create_file_which_is_opened, fullName);
  }
  return 0;
}

// The name as a table open resolves it: full, with the extension DBF when it
// has none.
int resolveName(CODE4 &c4, const char *name, char *full) {
  int rc = u4nameCurrent(full, kNameSize, name);
  if (rc == 0) rc = u4nameExt(full, kNameSize, "DBF", 0);
  // The names code reports without a context; the context takes the code.
  if (rc < 0 && c4.errorCode >= 0) c4.errorCode = rc;
  return rc;
}

void headerBytes(const TableShape &table, unsigned char *header) {
  std::memset(header, 0, dbf::kHeaderSize);
  header[dbf::kVersion] = table.memo ? kVersionMemo : kVersionPlain;
  const platform::LocalTime today = platform::localTime();
  header[dbf::kDate] = static_cast<unsigned char>(today.year - 1900);
  header[dbf::kDate + 1] = static_cast<unsigned char>(today.month);
  header[dbf::kDate + 2] = static_cast<unsigned char>(today.day);
  dbf::writeI32(header + dbf::kRecordCount, 0);
  dbf::writeU16(header + dbf::kHeaderLength, dbf::kHeaderSize * table.fields + dbf::kHeaderSize + 1);
  dbf::writeU16(header + dbf::kRecordWidth, static_cast<unsigned>(table.width));
}

// The name cut to 10 characters, trailing blanks removed, upper case.
void descriptorBytes(const CODE4 &c4, const FIELD4INFO &info, unsigned char *descriptor) {
  std::memset(descriptor, 0, dbf::kDescriptorSize);
  unsigned len = 0;
  while (len < kFieldNameLength && info.name[len] != '\0') ++len;
  while (len > 0 && info.name[len - 1] == ' ') --len;
  for (unsigned i = 0; i < len; ++i)
    descriptor[dbf::kFieldName + i] = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(info.name[i])));
  const FieldShape shape = shapeOf(c4, info);
  descriptor[dbf::kFieldType] = shape.type;
  descriptor[dbf::kFieldLength] = shape.low;
  descriptor[dbf::kFieldDecimals] = shape.high;
}

// Step 5: header, descriptors, 0x0D 0x1A, through the sequential writer.
int writeTable(FILE4 &file, const FIELD4INFO *fields, const TableShape &table) {
  CODE4 &c4 = *file.context;
  // Without the buffer the writer writes each piece directly.
  auto *buffer = static_cast<char *>(u4allocFreeDefault(&c4, kWriteBuffer));
  FILE4SEQ_WRITE writer;
  int rc = file4seqWriteInit(&writer, &file, 0, buffer, buffer != nullptr ? kWriteBuffer : 0);
  unsigned char bytes[dbf::kHeaderSize];
  if (rc == 0) {
    headerBytes(table, bytes);
    rc = file4seqWrite(&writer, bytes, sizeof bytes);
  }
  for (const FIELD4INFO *row = fields; rc == 0 && row->name != nullptr; ++row) {
    descriptorBytes(c4, *row, bytes);
    rc = file4seqWrite(&writer, bytes, dbf::kDescriptorSize);
  }
  const unsigned char tail[2] = {dbf::kTerminator, dbf::kEndOfFile};
  if (rc == 0) rc = file4seqWrite(&writer, tail, sizeof tail);
  const int flushed = file4seqWriteFlush(&writer);
  u4freeDefault(buffer);
  return rc < 0 ? rc : flushed;
}

// Steps 4 and 5: the data file, written and closed. *dataName receives its
// name. On failure no file remains.
int createDataFile(CODE4 &c4, const char *fullName, const FIELD4INFO *fields, const TableShape &table,
                   char *dataName) {
  FILE4 file;
  const int created = fullName != nullptr ? file4create(&file, &c4, fullName, 1)
                                          : file4tempLow(&file, &c4, 0, 1, "DBF");
  if (created != 0) return created;
  std::strncpy(dataName, file.name, kNameSize - 1);
  dataName[kNameSize - 1] = '\0';
  const int rc = writeTable(file, fields, table);
  // A failed file is deleted by the close; a temporary table's file stays
  // until the table it becomes is closed.
  file.isTemp = rc < 0 ? 1 : 0;
  const int closed = file4close(&file);
  if (rc < 0) return rc;
  if (closed < 0) (void)u4remove(dataName);
  return closed;
}

// Step 6: the memo file, created and closed. *memoName receives its name.
int createMemoFile(CODE4 &c4, const char *dataName, char *memoName) {
  MEMO4FILE memo{};
  const int rc = memoFileCreate(c4, dataName, memo);
  if (file4openTest(&memo.file) != 1) return rc;
  std::strncpy(memoName, memo.file.name, kNameSize - 1);
  memoName[kNameSize - 1] = '\0';
  // A temporary table's memo file goes when the table closes, not now.
  memo.file.isTemp = rc < 0 ? 1 : 0;
  const int closed = file4close(&memo.file);
  if (rc != 0) return rc;
  if (closed < 0) (void)u4remove(memoName);
  return closed;
}

// Steps 7 and 8: the new table opened exclusively (where the production
// index would be built), then a named table is closed and opened again under
// the context's own settings. A temporary table stays open exclusively and
// is deleted, memo file included, when it is closed.
DATA4 *openCreated(CODE4 &c4, const char *dataName, bool temporary) {
  const char accessMode = c4.accessMode;
  const int autoOpen = c4.autoOpen;
  c4.accessMode = 1;
  c4.autoOpen = 0;
  DATA4 *data = d4open(&c4, dataName);
  c4.accessMode = accessMode;
  if (data != nullptr && temporary) {
    data->dataFile->file.isTemp = 1;
    data->dataFile->memoFile.file.isTemp = 1;
  } else if (data != nullptr) {
    data = d4close(data) < 0 ? nullptr : d4open(&c4, dataName);
  }
  c4.autoOpen = autoOpen;
  return data;
}

// A tag array asks for the production index, which cannot be built.
int refuseTags(CODE4 &c4, const TAG4INFO *tags) {
  char tag[64];
  if (tags[0].name != nullptr) {
    std::snprintf(tag, sizeof tag, "tag %s", tags[0].name);
  } else {
    std::snprintf(tag, sizeof tag, "an empty tag list");
  }
  return report(&c4, err::kNotSupported, loc::d4create, tag, "index files are not supported: no table was created");
}

DATA4 *createTable(CODE4 &c4, const char *name, const FIELD4INFO *fields, const TAG4INFO *tags) {
  // The table open below makes the attempt on the transaction log.
  if (inError(&c4)) return nullptr;
  if (tags != nullptr) {
    refuseTags(c4, tags);
    return nullptr;
  }
  const bool temporary = c4.createTemp == 1;
  char fullName[kNameSize];
  if (!temporary) {
    if (resolveName(c4, name, fullName) != 0) return nullptr;
    if (refuseOpenTable(c4, fullName) != 0) return nullptr;
  }
  TableShape table;
  if (measure(c4, fields, &table) != 0) return nullptr;

  char dataName[kNameSize];
  if (createDataFile(c4, temporary ? nullptr : fullName, fields, table, dataName) != 0) return nullptr;
  char memoName[kNameSize] = "";
  if (table.memo && createMemoFile(c4, dataName, memoName) != 0) {
    (void)u4remove(dataName);
    return nullptr;
  }
  DATA4 *data = openCreated(c4, dataName, temporary);
  if (data == nullptr) {
    (void)u4remove(dataName);
    if (memoName[0] != '\0') (void)u4remove(memoName);
  }
  return data;
}

}  // namespace
}  // namespace tablekit::data

using namespace tablekit;

extern "C" {

TK_EXPORT DATA4 *d4create(CODE4 *c4, const char *name, const FIELD4INFO *fields, const TAG4INFO *tags) {
  if (c4 == nullptr || fields == nullptr || (name == nullptr && c4->createTemp != 1)) {
    report(c4, err::kParmNull, loc::d4create);
    return nullptr;
  }
  return data::createTable(*c4, name, fields, tags);
}

TK_EXPORT DATA4 *d4createTemp(CODE4 *c4, const FIELD4INFO *fields, const TAG4INFO *tags) {
  if (c4 == nullptr) {
    report(nullptr, err::kParmNull, loc::d4createTemp);
    return nullptr;
  }
  const int createTemp = c4->createTemp;
  c4->createTemp = 1;
  DATA4 *data = d4create(c4, nullptr, fields, tags);
  c4->createTemp = createTemp;
  return data;
}

}  // extern "C"
