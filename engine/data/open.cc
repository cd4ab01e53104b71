// Opening tables: d4open resolves the name, reads and checks the header and
// the field descriptors of the .DBF file, shares one DFILE4 per physical file
// among the handles of a context and builds each DATA4 with its buffers,
// fields, memo entries and blank record. Also the clone, aliases and
// code4data. Used by the translator's table set and every table operation.
//
// Names: a table's name is made full (u4nameCurrent) and given the extension
// DBF when it has none. Full names keep their case and spell existing files
// as the directory does, so two spellings of one file reach one DFILE4 by
// byte comparison; paths are never upper-cased (names are case-sensitive on
// this system). The alias is upper case.
#include <cctype>
#include <cstdint>
#include <cstring>

#include "data/data_layer.h"
#include "foundation/foundation.h"

namespace tablekit::data {
namespace {

constexpr int kNameSize = 258;
constexpr unsigned kAliasLength = 32;
constexpr unsigned kFieldNameLength = 10;

// ---------------------------------------------------------------------------
// Hooks of subsystems this engine does not have yet.

// The attempt of a table open to open the context's transaction log "C4.LOG"
// (while logOpen is on and no log is open). Transactions are not part of
// this engine and no log format exists to read one with, so the attempt
// finds no log, as for an absent file: 0. A negative result would fail the
// open.
int openTransactionLog(CODE4 &) { return 0; }

// The production index of a table is opened with i4open(data, null) once
// index files exist in this engine. Until then no index can be opened: the
// attempt only looks for the file, so that a missing one gives what the
// index open gives (-64 reported, or the condition 70 while errOpen is 0);
// a file that is there cannot be read as an index and counts as not opened.
// Returns whether the production index was opened (never yet); the reason
// it was not, if any, is in the context's error code.
bool openProductionIndex(DATA4 &data, const char *indexName) {
  FILE4 index;
  if (file4open(&index, data.context, indexName, 0) == 0) (void)file4close(&index);
  return false;
}

// ---------------------------------------------------------------------------
// Names and aliases

// The names code reports without a context; the context's error state
// takes the code as well, so the failure stays visible to the caller.
int nameFailure(CODE4 &c4, int rc) {
  if (rc < 0 && c4.errorCode >= 0) c4.errorCode = rc;
  return rc;
}

// name made full, with the extension DBF when it has none.
int resolveTableName(CODE4 &c4, const char *name, char *full) {
  int rc = u4nameCurrent(full, kNameSize, name);
  if (rc == 0) rc = u4nameExt(full, kNameSize, "DBF", 0);
  return nameFailure(c4, rc);
}

// The table's file name with the extension replaced (index files).
int companionName(CODE4 &c4, const DFILE4 &file, const char *extension, char *name) {
  std::strncpy(name, file.file.name, kNameSize - 1);
  name[kNameSize - 1] = '\0';
  return nameFailure(c4, u4nameExt(name, kNameSize, extension, 1));
}

bool equalIgnoringCase(const char *a, const char *b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b))) return false;
  }
  return *a == *b;
}

// An alias from text: its first 32 characters, blanks replaced by '_',
// upper-cased.
void storeAlias(DATA4 &data, const char *text) {
  unsigned i = 0;
  for (; i < kAliasLength && text[i] != '\0'; ++i) {
    const char ch = text[i] == ' ' ? '_' : text[i];
    data.alias[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  data.alias[i] = '\0';
}

// The alias at open: the file-name piece of the name as given, without its
// extension.
void aliasFromName(DATA4 &data, const char *name) {
  char piece[kAliasLength + 1];
  if (u4namePiece(piece, sizeof piece, name, 0, 0) != 0) piece[0] = '\0';
  storeAlias(data, piece);
}

// ---------------------------------------------------------------------------
// Header and field descriptors

// What a descriptor says about its field. Length and decimals as the type
// takes them: the 16-bit length (bytes 16-17) for C, I, O, P, Q, R, V, W
// and 5, byte 16 alone for the others.
//
// The record width is checked against these same lengths. Summing byte 16
// alone for I, P, Q, R, V and 5 (whose byte 17 is the high byte of their
// length) could accept a record too short for its fields; with one length
// for both, every field lies inside the record. Files whose byte 17 is 0 for
// those types (all that are written so) read the same either way.
struct FieldShape {
  int type = 0;  // upper-cased type code
  unsigned len = 0;
  unsigned dec = 0;
  bool known = true;
  bool memo = false;  // M, G or B
};

FieldShape fieldShape(const unsigned char *descriptor, unsigned char version) {
  FieldShape shape;
  shape.type = std::toupper(descriptor[dbf::kFieldType]);
  const unsigned low = descriptor[dbf::kFieldLength];
  const unsigned high = descriptor[dbf::kFieldDecimals];
  switch (shape.type) {
    case 'C': case 'I': case 'P': case 'Q': case 'R': case 'V': case '5': case 'O': case 'W':
      shape.len = low | (high << 8);
      break;
    case 'N': case 'F':
      shape.len = low;
      shape.dec = high;
      break;
    case 'D': case 'L':
      shape.len = low;
      break;
    case 'M': case 'G':
      shape.len = low;
      shape.memo = true;
      break;
    case 'B':
      shape.len = low;
      shape.dec = version == dbf::kVersionFlagsDecideMemo ? high : 0;
      shape.memo = true;
      break;
    default:
      shape.known = false;
      break;
  }
  return shape;
}

const unsigned char *descriptorOf(const DFILE4 &file, unsigned i) {
  return reinterpret_cast<const unsigned char *>(file.info) + i * dbf::kDescriptorSize;
}

int reportNotData(DFILE4 &file, long detail) { return report(file.c4, err::kData, detail, file.file.name); }

bool hasMemoFile(const DFILE4 &file) {
  if (file.version == dbf::kVersionFlagsDecideMemo) return (file.tableFlags & dbf::kFlagMemo) != 0;
  return (file.version & dbf::kVersionMemoBit) != 0;
}

// Reads the header and the descriptor area and opens the memo file, in the
// order of the checks. 0, or a nonzero code (negative, already reported, or
// 70 from a file that was not opened).
int readHeader(DFILE4 &file) {
  CODE4 &c4 = *file.c4;
  unsigned char header[dbf::kHeaderSize];
  if (int rc = file4readAll(&file.file, 0, header, sizeof header)) return rc;

  file.recWidth = dbf::readU16(header + dbf::kRecordWidth);
  if (file.recWidth == 0) return reportNotData(file, loc::detail::database_corruption_detected);
  file.tableFlags = static_cast<char>(header[dbf::kFlags]);
  file.version = header[dbf::kVersion];
  file.yy = header[dbf::kDate];
  file.mm = header[dbf::kDate + 1];
  file.dd = header[dbf::kDate + 2];
  file.inMemoryCount = dbf::readI32(header + dbf::kRecordCount);
  file.headerLen = static_cast<unsigned short>(dbf::readU16(header + dbf::kHeaderLength));

  // Every negative count is refused, not only -1: the format has none.
  if (file.inMemoryCount < 0) return reportNotData(file, loc::detail::database_corruption_detected);
  if (c4.accessMode == 1 || c4.accessMode == 2) {
    // Nobody else can append meanwhile, so the file must hold exactly the
    // records counted (the end-of-file byte rounds away).
    const unsigned long len = file4lenLow(&file.file);
    if (len == static_cast<unsigned long>(-1)) return -1;
    const std::uint32_t present = (static_cast<std::uint32_t>(len) - file.headerLen) / file.recWidth;
    if (present != static_cast<std::uint32_t>(file.inMemoryCount))
      return reportNotData(file, loc::detail::database_corruption_detected);
  }
  if (file.headerLen <= dbf::kHeaderSize) return reportNotData(file, loc::detail::database_corruption_detected);

  file.descriptorLen = static_cast<unsigned short>(file.headerLen - dbf::kHeaderSize);
  file.info = static_cast<char *>(u4allocErDefault(&c4, file.descriptorLen));
  if (file.info == nullptr) return err::kMemory;
  if (file4read(&file.file, dbf::kHeaderSize, file.info, file.descriptorLen) != file.descriptorLen)
    return reportNotData(file, loc::detail::data_file_shorter_than_required_header_length);

  if (hasMemoFile(file)) return memoFileOpen(file, file.file.name);
  return 0;
}

// Counts the descriptors before the terminator and checks their types and
// the record width they add up to.
//
// A descriptor area without a terminator: counting stops at its end, and a
// last piece shorter than a descriptor is not one. The descriptors counted
// then face the same checks as any others, so such a header opens when they
// describe the record exactly (some writers leave no room for the
// terminator) and otherwise fails on a type (-220) or on the width (-200).
int countFields(DFILE4 &file) {
  unsigned n = 0;
  for (unsigned pos = 0; pos < file.descriptorLen; pos += dbf::kDescriptorSize) {
    if (static_cast<unsigned char>(file.info[pos]) == dbf::kTerminator) break;
    if (file.descriptorLen - pos < dbf::kDescriptorSize) break;
    ++n;
  }
  file.nFields = static_cast<unsigned short>(n);
  file.lastKnownCount = file.inMemoryCount;
  file.inMemoryCount = -1;

  unsigned long width = 1;
  unsigned memoFields = 0;
  for (unsigned i = 0; i < n; ++i) {
    const FieldShape shape = fieldShape(descriptorOf(file, i), file.version);
    if (!shape.known) return report(file.c4, err::kFieldType, loc::detail::invalid_field_type, file.file.name);
    width += shape.len;
    if (shape.memo) ++memoFields;
  }
  if (width != file.recWidth) return reportNotData(file, loc::detail::database_corruption_detected);
  file.nMemoFields = static_cast<unsigned short>(memoFields);
  // The block cache, once the engine has one, takes the data file here
  // (file type 1, the record width as its unit).
  return 0;
}

// ---------------------------------------------------------------------------
// DFILE4: finding, reusing, opening

DFILE4 *findDataFile(CODE4 &c4, const char *fullName) {
  for (auto *file = static_cast<DFILE4 *>(l4first(&c4.dataFileList)); file != nullptr;
       file = static_cast<DFILE4 *>(l4next(&c4.dataFileList, file))) {
    if (file->file.name != nullptr && std::strcmp(file->file.name, fullName) == 0) return file;
  }
  return nullptr;
}

int reportRestrictive(CODE4 &c4, const DFILE4 &file) {
  return report(&c4, err::kInstance, loc::detail::attempt_to_get_an_additional_handle_on_an_open, file.file.name);
}

// The rules for a file this context has open already. *reused tells whether
// the handle takes this DFILE4 (its user count then counts the handle) or
// must open the file anew (it was kept without users and has been closed).
// 0 or a negative code.
int reuseDataFile(CODE4 &c4, DFILE4 &file, bool *reused) {
  *reused = false;
  if (file.userCount == 0) {
    if (c4.accessMode == file.file.accessMode) {
      file.userCount = 1;
      *reused = true;
      return 0;
    }
    (void)dfile4release(file);
    return 0;
  }
  // Inside a transaction a file whose handle was closed there would pass on
  // to the checks below; this engine has no transactions.
  if (c4.singleOpen != 0) return report(&c4, err::kInstance, loc::d4open, file.file.name);
  if (file.file.isReadOnly && c4.readOnly != 1) return reportRestrictive(c4, file);
  switch (c4.accessMode) {
    case 0:
      break;
    case 1:
      if (file.file.accessMode != 1) return reportRestrictive(c4, file);
      break;
    case 2:
      if (file.file.accessMode == 0) return reportRestrictive(c4, file);
      break;
    default:
      return report(&c4, err::kInstance, loc::detail::invalid_mode, file.file.name);
  }
  ++file.userCount;
  *reused = true;
  return 0;
}

// Opens the data file as a new DFILE4 with one user, reads and checks its
// header and descriptors. On failure nothing of it remains. 0 or a nonzero
// code (negative, or 70 when a file was not opened under errOpen 0).
int openDataFile(CODE4 &c4, const char *fullName, DFILE4 **out) {
  auto *file = static_cast<DFILE4 *>(mem4createAllocDefault(&c4, &c4.dataFileMemory, c4.dataFilePoolStart,
                                                            sizeof(DFILE4), c4.dataFilePoolGrow, 0, 1));
  if (file == nullptr) return report(&c4, err::kMemory, loc::d4open);
  file->userCount = 1;
  file->c4 = &c4;
  file->inMemoryCount = -1;
  file->memoFile.file.handle = -1;
  file->memoFile.data = file;
  if (int rc = file4open(&file->file, &c4, fullName, 1)) {
    mem4freeDefault(c4.dataFileMemory, file);
    return rc;
  }
  l4add(&c4.dataFileList, file);
  int rc = readHeader(*file);
  if (rc == 0) rc = countFields(*file);
  if (rc != 0) {
    (void)dfile4release(*file);
    return rc;
  }
  *out = file;
  return 0;
}

// ---------------------------------------------------------------------------
// DATA4: buffers, fields, blank record

// The three record buffers and the field array, as one block when it can be
// had (fields first, then record, old record, blank record), else one by
// one. 0 or -920.
int allocateBuffers(DATA4 &data) {
  CODE4 &c4 = *data.context;
  const DFILE4 &file = *data.dataFile;
  const long recordSize = static_cast<long>(file.recWidth) + 1;
  const long fieldsSize = static_cast<long>(file.nFields * sizeof(FIELD4));
  if (auto *block = static_cast<char *>(u4allocFreeDefault(&c4, fieldsSize + 3 * recordSize))) {
    data.buffersOneBlock = 1;
    data.fields = reinterpret_cast<FIELD4 *>(block);
    data.record = block + fieldsSize;
    data.oldRecord = data.record + recordSize;
    data.blankRecord = data.oldRecord + recordSize;
    return 0;
  }
  data.buffersOneBlock = 0;
  data.record = static_cast<char *>(u4allocErDefault(&c4, recordSize));
  data.oldRecord = static_cast<char *>(u4allocErDefault(&c4, recordSize));
  data.blankRecord = static_cast<char *>(u4allocErDefault(&c4, recordSize));
  if (file.nFields > 0) data.fields = static_cast<FIELD4 *>(u4allocErDefault(&c4, fieldsSize));
  if (data.record == nullptr || data.oldRecord == nullptr || data.blankRecord == nullptr ||
      (file.nFields > 0 && data.fields == nullptr))
    return err::kMemory;
  return 0;
}

// Fills each FIELD4 from its descriptor and links the memo entries.
void fillFields(DATA4 &data) {
  const DFILE4 &file = *data.dataFile;
  unsigned long offset = 1;
  unsigned memoIndex = 0;
  for (unsigned i = 0; i < file.nFields; ++i) {
    const unsigned char *descriptor = descriptorOf(file, i);
    const FieldShape shape = fieldShape(descriptor, file.version);
    FIELD4 &field = data.fields[i];
    std::memset(&field, 0, sizeof field);
    for (unsigned k = 0; k < kFieldNameLength && descriptor[dbf::kFieldName + k] != '\0'; ++k)
      field.name[k] = static_cast<char>(descriptor[dbf::kFieldName + k]);
    field.type = static_cast<short>(shape.type);
    field.len = static_cast<unsigned short>(shape.len);
    field.dec = static_cast<unsigned short>(shape.dec);
    field.offset = offset;
    field.data = &data;
    offset += shape.len;
    if (shape.memo) {
      F4MEMO &memo = data.memos[memoIndex++];
      memo.status = 1;
      memo.contents = emptyMemoContents();
      memo.field = &field;
      field.memo = &memo;
    }
  }
}

void buildBlankRecord(DATA4 &data) {
  const unsigned long width = data.dataFile->recWidth;
  data.blankRecord[0] = ' ';
  for (unsigned i = 0; i < data.dataFile->nFields; ++i) fieldBlank(data.fields[i], data.blankRecord);
  data.blankRecord[width] = '\0';
  std::memcpy(data.record, data.blankRecord, width + 1);
  std::memcpy(data.oldRecord, data.blankRecord, width + 1);
  data.recordChanged = 0;
}

// Steps from linking the handle to its DFILE4 on: alias, buffers, fields,
// memo entries, blank record, production index, handle id, read-only.
// 0 or a nonzero code; the caller closes the handle on failure.
int initHandle(DATA4 &data, DFILE4 &file, const char *name) {
  CODE4 &c4 = *data.context;
  c4.errorCode = 0;
  data.dataFile = &file;
  l4add(&file.handles, &data.dataFileLink);
  aliasFromName(data, name);
  if (int rc = allocateBuffers(data)) return rc;
  if (file.nMemoFields > 0) {
    data.memos = static_cast<F4MEMO *>(u4allocErDefault(&c4, static_cast<long>(file.nMemoFields * sizeof(F4MEMO))));
    if (data.memos == nullptr) return err::kMemory;
  }
  fillFields(data);
  data.recNum = -1;
  data.oldRecNo = -1;
  buildBlankRecord(data);

  file.productionOpen = 0;
  if ((file.tableFlags & dbf::kFlagProductionIndex) != 0 && c4.autoOpen != 0) {
    char indexName[kNameSize];
    if (int rc = companionName(c4, file, code4indexExtension(&c4), indexName)) return rc;
    if (openProductionIndex(data, indexName)) {
      file.productionOpen = 1;
    } else if (c4.errOpen == 0) {
      c4.errorCode = r4noOpen;
    } else if (c4.errorCode == 0) {
      report(&c4, err::kOpen, loc::d4open, indexName);
    }
  }
  if (c4.errorCode != 0) return c4.errorCode;

  data.handleId = ++c4.nextHandleId;
  data.readOnly = file.file.isReadOnly ? 1 : c4.readOnly;
  file.valid = 1;
  return 0;
}

// Finds or opens the DFILE4 of name and builds the handle on it.
int attach(DATA4 &data, const char *name) {
  CODE4 &c4 = *data.context;
  char fullName[kNameSize];
  if (int rc = resolveTableName(c4, name, fullName)) return rc;
  DFILE4 *file = findDataFile(c4, fullName);
  if (file != nullptr) {
    bool reused = false;
    if (int rc = reuseDataFile(c4, *file, &reused)) return rc;
    if (!reused) file = nullptr;
  }
  if (file == nullptr) {
    if (int rc = openDataFile(c4, fullName, &file)) return rc;
  }
  return initHandle(data, *file, name);
}

DATA4 *openTable(CODE4 &c4, const char *name) {
  if (c4.logOpen != 0 && c4.trans.transFile == nullptr) {
    if (openTransactionLog(c4) < 0) return nullptr;
    c4.errorCode = 0;
  }
  auto *data = static_cast<DATA4 *>(
      mem4createAllocDefault(&c4, &c4.dataMemory, c4.dataPoolStart, sizeof(DATA4), c4.dataPoolGrow, 0, 1));
  if (data == nullptr) {
    report(&c4, err::kMemory, loc::d4open);
    return nullptr;
  }
  data->context = &c4;
  data->recNum = -1;
  data->oldRecNo = -1;
  l4add(&c4.dataList, data);
  if (attach(*data, name) != 0) {
    (void)d4close(data);
    return nullptr;
  }
  return data;
}

}  // namespace

char *emptyMemoContents() {
  // Two NULs: no contents, and the terminator pair every memo buffer ends in.
  static char none[2] = {'\0', '\0'};
  return none;
}

void freeHandleParts(DATA4 &data) {
  if (data.memos != nullptr) memoFreeEntries(data);
  if (data.buffersOneBlock) {
    u4freeDefault(data.fields);
  } else {
    u4freeDefault(data.fields);
    u4freeDefault(data.record);
    u4freeDefault(data.oldRecord);
    u4freeDefault(data.blankRecord);
  }
  data.fields = nullptr;
  data.record = data.oldRecord = data.blankRecord = nullptr;
  data.buffersOneBlock = 0;
}

}  // namespace tablekit::data

using namespace tablekit;
using namespace tablekit::data;

extern "C" {

TK_EXPORT DATA4 *d4open(CODE4 *c4, const char *name) {
  if (c4 == nullptr || name == nullptr) {
    report(c4, err::kParmNull, loc::d4open);
    return nullptr;
  }
  if (inError(c4)) return nullptr;
  return openTable(*c4, name);
}

// The clone gets a handle of its own on the source's DFILE4 by the reuse
// rules, whatever singleOpen says. Index handles are not part of the engine
// yet, so there are no index files or tags to carry over to the clone.
TK_EXPORT DATA4 *d4openClone(DATA4 *data) {
  if (data == nullptr || data->dataFile == nullptr) {
    report(data != nullptr ? data->context : nullptr, err::kParmNull, loc::d4open);
    return nullptr;
  }
  CODE4 &c4 = *data->context;
  if (inError(&c4)) return nullptr;
  char name[kNameSize];
  std::strncpy(name, data->dataFile->file.name, sizeof name - 1);
  name[sizeof name - 1] = '\0';
  const short singleOpen = c4.singleOpen;
  c4.singleOpen = 0;
  DATA4 *clone = openTable(c4, name);
  c4.singleOpen = singleOpen;
  return clone;
}

TK_EXPORT const char *d4alias(DATA4 *data) {
  if (data == nullptr) {
    report(nullptr, err::kParmNull, loc::d4alias);
    return nullptr;
  }
  return data->alias;
}

TK_EXPORT int d4aliasSet(DATA4 *data, const char *alias) {
  if (data == nullptr || alias == nullptr)
    return report(data != nullptr ? data->context : nullptr, err::kParmNull, loc::d4aliasSet);
  if (!equalIgnoringCase(data->alias, alias)) storeAlias(*data, alias);
  return 0;
}

TK_EXPORT DATA4 *code4data(CODE4 *c4, const char *alias) {
  if (c4 == nullptr || alias == nullptr) {
    report(c4, err::kParmNull, loc::method::Code4_data);
    return nullptr;
  }
  // The argument cut to 33 characters: one more than an alias holds, so a
  // longer argument never matches a shorter alias.
  char wanted[kAliasLength + 2];
  unsigned i = 0;
  for (; i < kAliasLength + 1 && alias[i] != '\0'; ++i)
    wanted[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(alias[i])));
  wanted[i] = '\0';
  for (auto *data = static_cast<DATA4 *>(l4first(&c4->dataList)); data != nullptr;
       data = static_cast<DATA4 *>(l4next(&c4->dataList, data))) {
    if (std::strcmp(data->alias, wanted) == 0) return data;
  }
  return nullptr;
}

}  // extern "C"
