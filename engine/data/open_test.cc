// Tests of opening and closing tables: name resolution, header and
// descriptor checks on damaged files, DFILE4 sharing under singleOpen and
// the access modes, aliases, the production-index flag, memo files, record
// counts, clones, code4close, a table written by an independent program,
// and an exclusive open seen from another process.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/data_layer.h"
#include "data/records_test_support.h"
#include "file/test_support.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit {
namespace {

using file::testing::Child;
using file::testing::Context;
using file::testing::readWhole;
using file::testing::shownMessages;
using file::testing::TempDir;
using file::testing::writeWhole;

// ---------------------------------------------------------------------------
// Table images written byte by byte, so that any byte can be damaged.

using records_testing::FieldDef;
using records_testing::rowBytes;
using records_testing::widthOf;

struct TableImage {
  std::vector<FieldDef> fields;
  std::vector<std::vector<std::string>> rows;
  unsigned char version = 0x03;
  unsigned char flags = 0;
};

void put16(std::string &bytes, std::size_t at, unsigned value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string &bytes, std::size_t at, long value) {
  const auto u = static_cast<unsigned long>(value);
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

std::string dbfBytes(const TableImage &t) {
  const unsigned n = static_cast<unsigned>(t.fields.size());
  std::string bytes(32, '\0');
  bytes[0] = static_cast<char>(t.version);
  bytes[1] = 124;
  bytes[2] = 3;
  bytes[3] = 15;
  put32(bytes, 4, static_cast<long>(t.rows.size()));
  put16(bytes, 8, 32 * n + 33);
  put16(bytes, 10, widthOf(t.fields));
  bytes[28] = static_cast<char>(t.flags);
  for (const FieldDef &f : t.fields) {
    std::string d(32, '\0');
    std::memcpy(&d[0], f.name, std::strlen(f.name));
    d[11] = f.type;
    d[16] = static_cast<char>(f.len & 0xFF);
    const bool hasDecimals = std::strchr("NFB", std::toupper(f.type)) != nullptr;
    d[17] = static_cast<char>(hasDecimals ? f.dec : (f.len >> 8));
    bytes += d;
  }
  bytes += '\x0D';
  for (const auto &row : t.rows) bytes += rowBytes(t.fields, row);
  bytes += '\x1A';
  return bytes;
}

// A memo file header with the given block size.
std::string dbtBytes(unsigned blockSize) {
  std::string bytes(24, '\0');
  bytes[0] = 1;
  bytes[18] = 2;
  bytes[19] = 1;
  put16(bytes, 20, blockSize);
  return bytes;
}

const std::vector<FieldDef> kPeople = {{"NAME", 'C', 10, 0}, {"AMOUNT", 'N', 8, 2}, {"BORN", 'D', 8, 0}, {"OK", 'L', 1, 0}};

TableImage people(std::size_t rows) {
  TableImage t;
  t.fields = kPeople;
  const std::vector<std::vector<std::string>> all = {
      {"Smith", "12.50", "19991231", "T"}, {"Jones", "-3.25", "20000229", "F"}, {"Brown", "0.00", "", "Y"}};
  for (std::size_t i = 0; i < rows; ++i) t.rows.push_back(all[i % all.size()]);
  return t;
}

std::string rtrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Reads record recNo into the record buffer the way the navigation
// operations will (they are not part of the engine yet).
int readRecord(DATA4 *data, long recNo) {
  return file4readAll(&data->dataFile->file, static_cast<long>(dfile4recordPosition(data->dataFile, recNo)),
                      d4recordLow(data), static_cast<unsigned>(d4recWidthLow(data)));
}

// The current directory the names code sees, for relative table names.
std::string &fakeCurrentDirectory() {
  static std::string dir;
  return dir;
}

class OpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeCurrentDirectory() = dir.path();
    platform::methods().currentDirectory = [](char *buf, std::size_t size) {
      const std::string &d = fakeCurrentDirectory();
      if (d.size() + 1 > size) return ERANGE;
      std::memcpy(buf, d.c_str(), d.size() + 1);
      return 0;
    };
  }

  std::string write(const std::string &name, const std::string &bytes) {
    const std::string path = dir / name;
    writeWhole(path, bytes);
    return path;
  }

  // Nothing of a failed or closed open is left in the context.
  void expectNothingOpen() {
    EXPECT_EQ(0u, c4.dataList.count);
    EXPECT_EQ(0u, c4.dataFileList.count);
  }

  // The file can be opened exclusively again: no handle of ours holds it.
  void expectReleased(const std::string &path) {
    const int savedError = error4set(&c4, 0);
    const char savedMode = c4.accessMode;
    c4.accessMode = 1;
    FILE4 probe;
    EXPECT_EQ(0, file4open(&probe, &c4, path.c_str(), 0)) << path;
    EXPECT_EQ(0, file4close(&probe));
    c4.accessMode = savedMode;
    error4set(&c4, savedError);
  }

  static std::string lastMessage() { return Context::lastMessage(); }

  TempDir dir;
  Context ctx;
  CODE4 &c4 = ctx.c4;
};

// ---------------------------------------------------------------------------
// Opening a good table

TEST_F(OpenTest, EmptyTableOpensWithBlankRecordAndNoCurrentRecord) {
  const std::string path = write("people.dbf", dbfBytes(people(0)));
  DATA4 *data = d4open(&c4, path.c_str());
  ASSERT_NE(nullptr, data) << lastMessage();

  EXPECT_EQ(0, c4.errorCode);
  EXPECT_EQ(4, d4numFields(data));
  EXPECT_EQ(28ul, d4recWidthLow(data));
  EXPECT_EQ(0, d4recCountDo(data));
  EXPECT_EQ(-1, data->recNum);
  EXPECT_EQ(-1, data->oldRecNo);
  EXPECT_EQ(std::string(28, ' '), std::string(d4recordLow(data), 28));
  EXPECT_EQ('\0', d4recordLow(data)[28]);
  EXPECT_EQ(std::string(data->blankRecord, 29), std::string(data->oldRecord, 29));
  EXPECT_EQ(0, data->recordChanged);
  EXPECT_EQ(1, data->buffersOneBlock);
  EXPECT_STREQ(path.c_str(), d4fileName(data));
  EXPECT_STREQ("PEOPLE", d4alias(data));
  EXPECT_GT(data->handleId, 0);
  EXPECT_EQ(0, data->readOnly);
  EXPECT_EQ(1, data->dataFile->valid);
  EXPECT_EQ(1, data->dataFile->userCount);
  EXPECT_EQ(-1, data->dataFile->inMemoryCount);
  EXPECT_EQ(0u, data->dataFile->nMemoFields);
  EXPECT_EQ(nullptr, data->memos);
  EXPECT_EQ(1u, c4.dataList.count);
  EXPECT_EQ(1u, c4.dataFileList.count);
  EXPECT_TRUE(shownMessages().empty());

  EXPECT_EQ(0, d4close(data));
  expectNothingOpen();
  expectReleased(path);
}

TEST_F(OpenTest, FieldsTakeLengthDecimalsAndOffsetsByType) {
  TableImage t;
  t.fields = std::vector<FieldDef>{{"Name", 'c', 300, 0}, {"PRICE", 'N', 10, 2}, {"RATE", 'F', 8, 3}, {"DAY", 'D', 8, 0},
              {"FLAG", 'L', 1, 0},   {"COUNT", 'I', 4, 0},  {"SHORTNUM", 'Q', 2, 0}, {"TENCHARSXY", 'C', 3, 0}};
  t.rows.push_back({});
  const std::string path = write("shapes.dbf", dbfBytes(t));
  DATA4 *data = d4open(&c4, path.c_str());
  ASSERT_NE(nullptr, data) << lastMessage();

  struct Case {
    const char *name;
    int type;
    unsigned long len;
    int dec;
    unsigned long offset;
  };
  const Case cases[] = {{"Name", 'C', 300, 0, 1},   {"PRICE", 'N', 10, 2, 301},   {"RATE", 'F', 8, 3, 311},
                        {"DAY", 'D', 8, 0, 319},    {"FLAG", 'L', 1, 0, 327},     {"COUNT", 'I', 4, 0, 328},
                        {"SHORTNUM", 'Q', 2, 0, 332}, {"TENCHARSXY", 'C', 3, 0, 334}};
  ASSERT_EQ(8, d4numFields(data));
  for (int j = 1; j <= 8; ++j) {
    const Case &c = cases[j - 1];
    SCOPED_TRACE(c.name);
    FIELD4 *f = d4fieldJ(data, j);
    ASSERT_NE(nullptr, f);
    EXPECT_STREQ(c.name, f4name(f));
    EXPECT_EQ(c.type, f4type(f));
    EXPECT_EQ(c.len, f4len(f));
    EXPECT_EQ(c.dec, f4decimals(f));
    EXPECT_EQ(c.offset, f->offset);
    EXPECT_EQ(data, f4data(f));
    EXPECT_EQ(nullptr, f->memo);
    const char fill = (c.type == 'I' || c.type == 'Q') ? '\0' : ' ';
    EXPECT_EQ(std::string(c.len, fill), std::string(f4ptr(f), c.len)) << "blank value";
  }
  EXPECT_EQ(337ul, d4recWidthLow(data));
  EXPECT_EQ(0, d4close(data));
}

TEST_F(OpenTest, NameVariantsReachTheSameFile) {
  ASSERT_TRUE(std::filesystem::create_directory(dir / "data"));
  const std::string path = write("data/level_1.dbf", dbfBytes(people(1)));
  const char *names[] = {"data/level_1.dbf", "data/level_1", "DATA\\LEVEL_1", "Data/Level_1.DBF", path.c_str()};
  for (const char *name : names) {
    SCOPED_TRACE(name);
    DATA4 *data = d4open(&c4, name);
    ASSERT_NE(nullptr, data) << lastMessage();
    EXPECT_STREQ(path.c_str(), d4fileName(data));
    EXPECT_STREQ("LEVEL_1", d4alias(data));
    EXPECT_EQ(0, d4close(data));
  }

  // With singleOpen on, another spelling of an open table is a duplicate.
  DATA4 *first = d4open(&c4, "data/level_1");
  ASSERT_NE(nullptr, first);
  c4.errOff = 1;
  EXPECT_EQ(nullptr, d4open(&c4, "DATA\\LEVEL_1.dbf"));
  EXPECT_EQ(err::kInstance, c4.errorCode);
  error4set(&c4, 0);
  EXPECT_EQ(1u, c4.dataList.count);
  EXPECT_EQ(0, d4close(first));
  expectNothingOpen();
}

TEST_F(OpenTest, MissingFileFailsAsTheFileLayerSays) {
  const std::string path = dir / "absent.dbf";
  EXPECT_EQ(nullptr, d4open(&c4, path.c_str()));
  EXPECT_EQ(err::kFileFind, c4.errorCode);
  ASSERT_EQ(1u, shownMessages().size());
  EXPECT_NE(std::string::npos, lastMessage().find(path));
  expectNothingOpen();

  error4set(&c4, 0);
  c4.errOpen = 0;
  EXPECT_EQ(nullptr, d4open(&c4, path.c_str()));
  EXPECT_EQ(r4noOpen, c4.errorCode);
  EXPECT_EQ(1u, shownMessages().size()) << "errOpen 0 shows nothing";
  expectNothingOpen();
}

TEST_F(OpenTest, ErrorStateAndMissingArguments) {
  const std::string path = write("people.dbf", dbfBytes(people(1)));
  c4.errorCode = err::kData;
  EXPECT_EQ(nullptr, d4open(&c4, path.c_str()));
  EXPECT_EQ(err::kData, c4.errorCode);
  EXPECT_TRUE(shownMessages().empty());
  expectNothingOpen();

  error4set(&c4, 0);
  EXPECT_EQ(nullptr, d4open(&c4, nullptr));
  EXPECT_EQ(err::kParmNull, c4.errorCode);
  EXPECT_EQ(nullptr, d4open(nullptr, path.c_str()));
  EXPECT_EQ(err::kParmNull, d4close(nullptr));
  EXPECT_EQ(nullptr, d4openClone(nullptr));
  expectNothingOpen();
}

// ---------------------------------------------------------------------------
// Damaged headers

TEST_F(OpenTest, DamagedHeadersAreReportedAndLeaveNothingOpen) {
  using Damage = std::function<void(std::string &)>;
  struct Case {
    const char *name;
    Damage damage;
    char accessMode;
    int code;
    long location;
  };
  const long kCorrupt = loc::detail::database_corruption_detected;
  const long kShort = loc::detail::data_file_shorter_than_required_header_length;
  const Case cases[] = {
      {"record width 0", [](std::string &b) { put16(b, 10, 0); }, 0, err::kData, kCorrupt},
      {"header length 32", [](std::string &b) { put16(b, 8, 32); }, 0, err::kData, kCorrupt},
      {"header length 5", [](std::string &b) { put16(b, 8, 5); }, 0, err::kData, kCorrupt},
      {"record count -1", [](std::string &b) { put32(b, 4, -1); }, 0, err::kData, kCorrupt},
      {"record count -7", [](std::string &b) { put32(b, 4, -7); }, 0, err::kData, kCorrupt},
      {"descriptor area cut short", [](std::string &b) { b.resize(32 + 40); }, 0, err::kData, kShort},
      {"header length beyond the file", [](std::string &b) { put16(b, 8, 60000); }, 0, err::kData, kShort},
      {"unknown type T", [](std::string &b) { b[32 + 32 + 11] = 'T'; }, 0, err::kFieldType,
       loc::detail::invalid_field_type},
      {"unknown type 1", [](std::string &b) { b[32 + 11] = '1'; }, 0, err::kFieldType, loc::detail::invalid_field_type},
      {"unknown type NUL", [](std::string &b) { b[32 + 11] = '\0'; }, 0, err::kFieldType,
       loc::detail::invalid_field_type},
      {"width one more than the fields", [](std::string &b) { put16(b, 10, 29); }, 0, err::kData, kCorrupt},
      {"width one less than the fields", [](std::string &b) { put16(b, 10, 27); }, 0, err::kData, kCorrupt},
      {"field longer than the record", [](std::string &b) { b[32 + 16] = static_cast<char>(200); }, 0, err::kData,
       kCorrupt},
      {"count beyond the file, exclusive", [](std::string &b) { put32(b, 4, 5); }, 1, err::kData, kCorrupt},
      {"count beyond the file, deny write", [](std::string &b) { put32(b, 4, 5); }, 2, err::kData, kCorrupt},
      {"count short of the file, exclusive", [](std::string &b) { put32(b, 4, 1); }, 1, err::kData, kCorrupt},
      {"header length past the file, exclusive", [](std::string &b) { put16(b, 8, 60000); }, 1, err::kData,
       kCorrupt},
      {"shorter than a header", [](std::string &b) { b.resize(20); }, 0, err::kRead, loc::file4readError},
      {"empty file", [](std::string &b) { b.clear(); }, 0, err::kRead, loc::file4readError},
  };
  const std::string good = dbfBytes(people(2));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = good;
    c.damage(bytes);
    const std::string path = write("damaged.dbf", bytes);
    shownMessages().clear();
    error4set(&c4, 0);
    c4.accessMode = c.accessMode;

    EXPECT_EQ(nullptr, d4open(&c4, path.c_str()));
    EXPECT_EQ(c.code, c4.errorCode);
    EXPECT_EQ(c.location, c4.errorCode2);
    ASSERT_EQ(1u, shownMessages().size());
    EXPECT_NE(std::string::npos, lastMessage().find(codeText(c.code)));
    EXPECT_NE(std::string::npos, lastMessage().find(path));
    expectNothingOpen();
    expectReleased(path);
  }
  c4.accessMode = 0;
}

TEST_F(OpenTest, DescriptorAreaWithoutTerminator) {
  const std::string good = dbfBytes(people(2));
  const std::size_t terminator = 32 + 32 * kPeople.size();
  struct Case {
    const char *name;
    std::function<std::string()> bytes;
    int code;  // 0: opens
    int fields;
  };
  const Case cases[] = {
      {"area ends where the terminator would be",
       [&] {
         std::string b = good;
         b.erase(terminator, 1);
         put16(b, 8, static_cast<unsigned>(terminator));
         return b;
       },
       0, 4},
      {"terminator overwritten",
       [&] {
         std::string b = good;
         b[terminator] = 'X';
         return b;
       },
       0, 4},
      {"area runs on into bytes of an unknown type",
       [&] {
         std::string b = good;
         b[terminator] = 'X';
         b.insert(terminator + 1, std::string(64, 'A'));
         put16(b, 8, static_cast<unsigned>(terminator + 65));
         return b;
       },
       err::kFieldType, 0},
      {"area runs on into a descriptor the width does not count",
       [&] {
         std::string b = good;
         std::string extra(32, '\0');
         std::memcpy(&extra[0], "EXTRA", 5);
         extra[11] = 'C';
         extra[16] = 5;
         b.erase(terminator, 1);
         b.insert(terminator, extra);
         put16(b, 8, static_cast<unsigned>(terminator + 32));
         return b;
       },
       err::kData, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    error4set(&c4, 0);
    const std::string path = write("noterm.dbf", c.bytes());
    DATA4 *data = d4open(&c4, path.c_str());
    if (c.code != 0) {
      EXPECT_EQ(nullptr, data);
      EXPECT_EQ(c.code, c4.errorCode);
      expectNothingOpen();
      continue;
    }
    ASSERT_NE(nullptr, data) << lastMessage();
    EXPECT_EQ(c.fields, d4numFields(data));
    EXPECT_EQ(2, d4recCountDo(data));
    ASSERT_EQ(0, readRecord(data, 2));
    EXPECT_EQ("Jones", rtrim(f4str(d4field(data, "NAME"))));
    EXPECT_EQ(0, d4close(data));
  }
}

// ---------------------------------------------------------------------------
// One file, several handles

TEST_F(OpenTest, SecondOpenSharesTheFileOnlyWhenSingleOpenIsOff) {
  const std::string path = write("people.dbf", dbfBytes(people(2)));
  DATA4 *first = d4open(&c4, path.c_str());
  ASSERT_NE(nullptr, first);

  EXPECT_EQ(nullptr, d4open(&c4, path.c_str()));
  EXPECT_EQ(err::kInstance, c4.errorCode);
  EXPECT_EQ(loc::d4open, c4.errorCode2);
  EXPECT_EQ(messageText(err::kInstance, loc::d4open, path.c_str(), nullptr, nullptr), lastMessage());
  EXPECT_EQ(1u, c4.dataList.count);
  EXPECT_EQ(1, first->dataFile->userCount);

  error4set(&c4, 0);
  c4.singleOpen = 0;
  DATA4 *second = d4open(&c4, path.c_str());
  ASSERT_NE(nullptr, second) << lastMessage();
  EXPECT_EQ(first->dataFile, second->dataFile);
  EXPECT_EQ(2, first->dataFile->userCount);
  EXPECT_EQ(1u, c4.dataFileList.count);
  EXPECT_NE(first->record, second->record);
  EXPECT_NE(first->fields, second->fields);
  EXPECT_NE(first->handleId, second->handleId);
  EXPECT_EQ(0, d4aliasSet(second, "other"));
  EXPECT_STREQ("PEOPLE", d4alias(first));
  EXPECT_STREQ("OTHER", d4alias(second));

  ASSERT_EQ(0, f4assign(d4field(second, "NAME"), "Changed"));
  EXPECT_EQ(std::string(10, ' '), std::string(f4ptr(d4field(first, "NAME")), 10));

  EXPECT_EQ(0, d4close(first));
  EXPECT_EQ(1, second->dataFile->userCount);
  EXPECT_EQ(1, file4openTest(&second->dataFile->file));
  EXPECT_EQ(2, d4recCountDo(second));
  EXPECT_EQ(0, d4close(second));
  expectNothingOpen();
  expectReleased(path);
}

TEST_F(OpenTest, AdditionalHandleFollowsTheAccessModeOfTheOpenFile) {
  const long kRestrictive = loc::detail::attempt_to_get_an_additional_handle_on_an_open;
  struct Case {
    const char *name;
    char firstMode;
    int firstReadOnly;
    char secondMode;
    int secondReadOnly;
    long location;  // 0: the second handle is made
  };
  const Case cases[] = {
      {"shared, shared", 0, 0, 0, 0, 0},
      {"shared, exclusive", 0, 0, 1, 0, kRestrictive},
      {"shared, deny write", 0, 0, 2, 0, kRestrictive},
      {"exclusive, shared", 1, 0, 0, 0, 0},
      {"exclusive, exclusive", 1, 0, 1, 0, 0},
      {"exclusive, deny write", 1, 0, 2, 0, 0},
      {"deny write, shared", 2, 0, 0, 0, 0},
      {"deny write, exclusive", 2, 0, 1, 0, kRestrictive},
      {"deny write, deny write", 2, 0, 2, 0, 0},
      {"shared, invalid mode", 0, 0, 7, 0, loc::detail::invalid_mode},
      {"read-only, writable", 0, 1, 0, 0, kRestrictive},
      {"read-only, read-only", 0, 1, 0, 1, 0},
  };
  const std::string path = write("people.dbf", dbfBytes(people(2)));
  c4.singleOpen = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    error4set(&c4, 0);
    shownMessages().clear();
    c4.accessMode = c.firstMode;
    c4.readOnly = c.firstReadOnly;
    DATA4 *first = d4open(&c4, path.c_str());
    ASSERT_NE(nullptr, first) << lastMessage();
    EXPECT_EQ(c.firstReadOnly, first->readOnly);

    c4.accessMode = c.secondMode;
    c4.readOnly = c.secondReadOnly;
    DATA4 *second = d4open(&c4, path.c_str());
    if (c.location == 0) {
      ASSERT_NE(nullptr, second) << lastMessage();
      EXPECT_EQ(first->dataFile, second->dataFile);
      EXPECT_EQ(c.firstMode, second->dataFile->file.accessMode);
    } else {
      EXPECT_EQ(nullptr, second);
      EXPECT_EQ(err::kInstance, c4.errorCode);
      EXPECT_EQ(c.location, c4.errorCode2);
      EXPECT_EQ(1, first->dataFile->userCount);
      EXPECT_EQ(1u, c4.dataList.count);
    }
    error4set(&c4, 0);
    EXPECT_EQ(0, code4close(&c4));
    expectNothingOpen();
  }
  c4.accessMode = 0;
  c4.readOnly = 0;
}

TEST_F(OpenTest, CloneSharesTheFileWhateverSingleOpenSays) {
  const std::string path = write("people.dbf", dbfBytes(people(2)));
  DATA4 *data = d4open(&c4, path.c_str());
  ASSERT_NE(nullptr, data);
  DATA4 *clone = d4openClone(data);
  ASSERT_NE(nullptr, clone) << lastMessage();
  EXPECT_EQ(1, c4.singleOpen);
  EXPECT_EQ(data->dataFile, clone->dataFile);
  EXPECT_EQ(2, data->dataFile->userCount);
  EXPECT_NE(data->record, clone->record);
  EXPECT_NE(data->handleId, clone->handleId);
  EXPECT_STREQ("PEOPLE", d4alias(clone));
  EXPECT_EQ(0, d4close(data));
  EXPECT_EQ(2, d4recCountDo(clone));
  EXPECT_EQ(0, d4close(clone));
  expectNothingOpen();
}

TEST_F(OpenTest, Code4closeClosesEveryTable) {
  const std::string a = write("a.dbf", dbfBytes(people(1)));
  const std::string b = write("b.dbf", dbfBytes(people(2)));
  c4.singleOpen = 0;
  ASSERT_NE(nullptr, d4open(&c4, a.c_str()));
  ASSERT_NE(nullptr, d4open(&c4, a.c_str()));
  ASSERT_NE(nullptr, d4open(&c4, b.c_str()));
  EXPECT_EQ(3u, c4.dataList.count);
  EXPECT_EQ(2u, c4.dataFileList.count);
  EXPECT_EQ(0, code4close(&c4));
  expectNothingOpen();
  expectReleased(a);
  expectReleased(b);

  // A table left open is closed by the context's release.
  ASSERT_NE(nullptr, d4open(&c4, b.c_str()));
}

// ---------------------------------------------------------------------------
// Aliases

TEST_F(OpenTest, AliasComesFromTheNameAndCode4dataFindsIt) {
  ASSERT_TRUE(std::filesystem::create_directory(dir / "data"));
  write("data/level 1.dbf", dbfBytes(people(1)));
  DATA4 *data = d4open(&c4, "data\\level 1.dbf");
  ASSERT_NE(nullptr, data) << lastMessage();
  EXPECT_STREQ("LEVEL_1", d4alias(data));
  EXPECT_EQ(data, code4data(&c4, "level_1"));
  EXPECT_EQ(data, code4data(&c4, "LEVEL_1"));
  EXPECT_EQ(nullptr, code4data(&c4, "level 1"));
  EXPECT_EQ(nullptr, code4data(&c4, "level_"));

  struct Case {
    const char *text;
    const char *alias;
  };
  const Case cases[] = {
      {"Second name", "SECOND_NAME"},
      {"second_NAME", "SECOND_NAME"},
      {"abcdefghijklmnopqrstuvwxyz0123456789", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
      {"x", "X"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(0, d4aliasSet(data, c.text));
    EXPECT_STREQ(c.alias, d4alias(data));
  }
  EXPECT_EQ(data, code4data(&c4, "x"));
  EXPECT_EQ(nullptr, code4data(&c4, "level_1"));

  EXPECT_TRUE(shownMessages().empty());
  c4.errOff = 1;
  EXPECT_EQ(err::kParmNull, d4aliasSet(data, nullptr));
  error4set(&c4, 0);
  EXPECT_EQ(nullptr, code4data(&c4, nullptr));
  EXPECT_EQ(err::kParmNull, c4.errorCode);
  error4set(&c4, 0);
  EXPECT_EQ(0, d4close(data));
}

TEST_F(OpenTest, Code4dataReturnsTheFirstOfEqualAliases) {
  const std::string path = write("people.dbf", dbfBytes(people(1)));
  c4.singleOpen = 0;
  DATA4 *first = d4open(&c4, path.c_str());
  DATA4 *second = d4open(&c4, path.c_str());
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(first, code4data(&c4, "people"));
  EXPECT_EQ(0, d4close(first));
  EXPECT_EQ(second, code4data(&c4, "people"));
  EXPECT_EQ(0, d4close(second));
}

// ---------------------------------------------------------------------------
// Record counts

TEST_F(OpenTest, CountOneBeyondTheRecordsOpensOnlyWhenShared) {
  std::string bytes = dbfBytes(people(2));
  put32(bytes, 4, 3);
  const std::string path = write("people.dbf", bytes);
  for (char mode : {0, 1, 2}) {
    SCOPED_TRACE(static_cast<int>(mode));
    error4set(&c4, 0);
    c4.accessMode = mode;
    DATA4 *data = d4open(&c4, path.c_str());
    if (mode == 0) {
      ASSERT_NE(nullptr, data) << lastMessage();
      EXPECT_EQ(3, d4recCountDo(data));
      EXPECT_EQ(0, d4close(data));
    } else {
      EXPECT_EQ(nullptr, data);
      EXPECT_EQ(err::kData, c4.errorCode);
      EXPECT_EQ(loc::detail::database_corruption_detected, c4.errorCode2);
    }
    expectNothingOpen();
  }
  c4.accessMode = 0;
}

// Writes a new record count into the header, as another program would.
void setHeaderCount(const std::string &path, long count) {
  std::string bytes = readWhole(path);
  put32(bytes, 4, count);
  std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
  out.seekp(4);
  out.write(&bytes[4], 4);
}

TEST_F(OpenTest, SharedCountIsReadAfreshExclusiveCountIsKept) {
  const std::string path = write("people.dbf", dbfBytes(people(2)));
  DATA4 *data = d4open(&c4, path.c_str());
  ASSERT_NE(nullptr, data);
  DFILE4 *file = data->dataFile;
  EXPECT_EQ(2, d4recCountDo(data));
  setHeaderCount(path, 3);
  EXPECT_EQ(3, d4recCountDo(data));
  EXPECT_EQ(3, dfile4recCount(file, data->handleId));
  EXPECT_EQ(-1, file->inMemoryCount);
  EXPECT_EQ(3, file->lastKnownCount);

  // d4recCountGreater reads only when what it knows cannot answer.
  EXPECT_EQ(1, d4recCountGreater(data, 4));
  EXPECT_EQ(3, data->count);
  EXPECT_EQ(0, d4recCountGreater(data, 3));
  setHeaderCount(path, 1);
  EXPECT_EQ(0, d4recCountGreater(data, 2)) << "answered from the counts it knows";
  EXPECT_EQ(1, d4recCountDo(data));
  EXPECT_EQ(1, d4recCountGreater(data, 2));

  EXPECT_EQ(file->headerLen, dfile4recordPosition(file, 1));
  EXPECT_EQ(file->headerLen + 2ul * 28, dfile4recordPosition(file, 3));
  EXPECT_EQ(0, d4close(data));

  setHeaderCount(path, 2);
  c4.accessMode = 1;
  data = d4open(&c4, path.c_str());
  ASSERT_NE(nullptr, data) << lastMessage();
  EXPECT_EQ(2, d4recCountDo(data));
  EXPECT_EQ(2, data->dataFile->inMemoryCount) << "an exclusive open keeps the count";
  setHeaderCount(path, 5);
  EXPECT_EQ(2, d4recCountDo(data));
  EXPECT_EQ(2, dfile4recCount(data->dataFile, -2));
  EXPECT_EQ(0, d4close(data));
  c4.accessMode = 0;
}

TEST_F(OpenTest, UnreadableCountIsAnError) {
  const std::string path = write("people.dbf", dbfBytes(people(2)));
  DATA4 *data = d4open(&c4, path.c_str());
  ASSERT_NE(nullptr, data);
  setHeaderCount(path, -4);
  EXPECT_EQ(-1, d4recCountDo(data));
  EXPECT_EQ(-1, d4recCountGreater(data, 5));
  EXPECT_EQ(-1, c4.errorCode);
  EXPECT_EQ(1u, shownMessages().size());
  EXPECT_EQ(-1, d4close(data)) << "the close returns the error it found";
  expectNothingOpen();
}

// ---------------------------------------------------------------------------
// Companion files

TEST_F(OpenTest, ProductionIndexFlagNeedsAnIndexWhileAutoOpenIsOn) {
  struct Case {
    const char *name;
    int autoOpen;
    int errOpen;
    bool indexFilePresent;
    int code;  // 0: opens
    long location;
  };
  const Case cases[] = {
      {"autoOpen off", 0, 1, false, 0, 0},
      {"index file missing", 1, 1, false, err::kFileFind, loc::file4open},
      {"index file missing, errOpen off", 1, 0, false, r4noOpen, 0},
      {"index file not readable as an index", 1, 1, true, err::kOpen, loc::d4open},
      {"index file not readable as an index, errOpen off", 1, 0, true, r4noOpen, 0},
  };
  TableImage t = people(2);
  t.flags = 0x01;
  const std::string path = write("indexed.dbf", dbfBytes(t));
  const std::string index = dir / "indexed.MDX";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    error4set(&c4, 0);
    shownMessages().clear();
    std::remove(index.c_str());
    if (c.indexFilePresent) writeWhole(index, std::string(512, '\0'));
    c4.autoOpen = c.autoOpen;
    c4.errOpen = c.errOpen;
    DATA4 *data = d4open(&c4, path.c_str());
    if (c.code == 0) {
      ASSERT_NE(nullptr, data) << lastMessage();
      EXPECT_EQ(0, data->dataFile->productionOpen);
      EXPECT_EQ(0, d4close(data));
    } else {
      EXPECT_EQ(nullptr, data);
      EXPECT_EQ(c.code, c4.errorCode);
      if (c.location != 0) {
        EXPECT_EQ(c.location, c4.errorCode2);
        ASSERT_EQ(1u, shownMessages().size());
        EXPECT_NE(std::string::npos, lastMessage().find(index));
      } else {
        EXPECT_TRUE(shownMessages().empty());
      }
    }
    expectNothingOpen();
    expectReleased(path);
  }
  c4.autoOpen = 1;
  c4.errOpen = 1;
}

TEST_F(OpenTest, MemoFileIsOpenedWhenTheHeaderSaysSo) {
  struct Case {
    const char *name;
    unsigned char version;
    unsigned char flags;
    const char *memoBytes;  // null: no memo file
    unsigned blockSize;
    int errOpen;
    int code;  // 0: opens
    bool memoOpen;
  };
  const Case cases[] = {
      {"memo bit, block size 512", 0x83, 0, "512", 512, 1, 0, true},
      {"memo bit, block size 1024", 0x8B, 0, "1024", 1024, 1, 0, true},
      {"memo bit, memo file missing", 0x83, 0, nullptr, 0, 1, err::kFileFind, false},
      {"memo bit, memo file missing, errOpen off", 0x83, 0, nullptr, 0, 0, r4noOpen, false},
      {"memo bit, memo header cut short", 0x83, 0, "short", 0, 1, err::kRead, false},
      {"version 0x30 with memo flag", 0x30, 0x02, "512", 512, 1, 0, true},
      {"version 0x30 with memo flag, file missing", 0x30, 0x02, nullptr, 0, 1, err::kFileFind, false},
      {"version 0x30 without memo flag", 0x30, 0, nullptr, 0, 1, 0, false},
      {"no memo bit", 0x03, 0x02, nullptr, 0, 1, 0, false},
  };
  TableImage t;
  t.fields = std::vector<FieldDef>{{"NAME", 'C', 10, 0}, {"NOTE", 'M', 10, 0}, {"PICTURE", 'G', 10, 0}};
  t.rows.push_back({"Smith", "1"});
  const std::string memo = dir / "notes.DBT";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    error4set(&c4, 0);
    shownMessages().clear();
    t.version = c.version;
    t.flags = c.flags;
    const std::string path = write("notes.dbf", dbfBytes(t));
    std::remove(memo.c_str());
    if (c.memoBytes != nullptr)
      writeWhole(memo, c.blockSize != 0 ? dbtBytes(c.blockSize) : std::string(10, '\0'));
    c4.errOpen = c.errOpen;
    DATA4 *data = d4open(&c4, path.c_str());
    if (c.code != 0) {
      EXPECT_EQ(nullptr, data);
      EXPECT_EQ(c.code, c4.errorCode);
      expectNothingOpen();
      expectReleased(path);
      if (c.memoBytes != nullptr) expectReleased(memo);
      continue;
    }
    ASSERT_NE(nullptr, data) << lastMessage();
    DFILE4 *file = data->dataFile;
    EXPECT_EQ(c.memoOpen ? 1 : 0, file4openTest(&file->memoFile.file));
    if (c.memoOpen) {
      EXPECT_EQ(static_cast<short>(c.blockSize), file->memoFile.blockSize);
      EXPECT_STREQ(memo.c_str(), file->memoFile.file.name);
    }
    EXPECT_EQ(file, file->memoFile.data);
    ASSERT_EQ(2u, file->nMemoFields);
    FIELD4 *note = d4field(data, "NOTE");
    FIELD4 *picture = d4field(data, "PICTURE");
    ASSERT_NE(nullptr, note->memo);
    ASSERT_NE(nullptr, picture->memo);
    EXPECT_EQ(&data->memos[0], note->memo);
    EXPECT_EQ(&data->memos[1], picture->memo);
    EXPECT_EQ(note, note->memo->field);
    EXPECT_EQ(1, note->memo->status);
    EXPECT_EQ(0u, note->memo->len);
    EXPECT_STREQ("", note->memo->contents);
    EXPECT_EQ(nullptr, d4field(data, "NAME")->memo);
    EXPECT_EQ(0, d4close(data));
    expectNothingOpen();
    expectReleased(path);
    if (c.memoOpen) expectReleased(memo);
  }
  c4.errOpen = 1;
}

// ---------------------------------------------------------------------------
// A table written by an independent program

bool perlXBaseAvailable() { return std::system("perl -MXBase -e 1 >/dev/null 2>&1") == 0; }

TEST_F(OpenTest, TableWrittenByAnIndependentProgramReadsBack) {
  if (!perlXBaseAvailable())
    GTEST_SKIP() << "Perl's XBase module is missing (Debian package libdbd-xbase-perl; scripts/install-deps.sh)";
  const std::string script =
      "use XBase; "
      "my $t = XBase->create(name => '" + (dir / "written.dbf") + "', "
      "field_names => ['NAME','AMOUNT','BORN','OK','NOTE'], field_types => ['C','N','D','L','M'], "
      "field_lengths => [20,10,8,1,10], field_decimals => [0,2,0,0,0]) or die XBase->errstr; "
      "$t->set_record(0, 'Smith', 12.5, '19991231', 1, 'first memo') or die $t->errstr; "
      "$t->set_record(1, 'Jones', -3.25, '20000229', 0, '') or die $t->errstr; "
      "$t->set_record(2, 'Brown', 1234567.89, '18991201', 1, 'third') or die $t->errstr; "
      "$t->close;";
  const std::string scriptPath = dir / "make.pl";
  writeWhole(scriptPath, script);
  ASSERT_EQ(0, std::system(("perl " + scriptPath).c_str()));

  DATA4 *data = d4open(&c4, (dir / "written").c_str());
  ASSERT_NE(nullptr, data) << lastMessage();
  EXPECT_EQ(5, d4numFields(data));
  EXPECT_EQ(3, d4recCountDo(data));
  EXPECT_EQ(1, file4openTest(&data->dataFile->memoFile.file));
  EXPECT_EQ(512, data->dataFile->memoFile.blockSize);

  struct Shape {
    const char *name;
    int type;
    unsigned long len;
    int dec;
  };
  const Shape shapes[] = {{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}, {"BORN", 'D', 8, 0}, {"OK", 'L', 1, 0},
                          {"NOTE", 'M', 10, 0}};
  for (const Shape &s : shapes) {
    SCOPED_TRACE(s.name);
    FIELD4 *f = d4field(data, s.name);
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(s.type, f4type(f));
    EXPECT_EQ(s.len, f4len(f));
    EXPECT_EQ(s.dec, f4decimals(f));
  }

  struct Row {
    const char *name;
    double amount;
    const char *born;
    int ok;
  };
  const Row rows[] = {{"Smith", 12.5, "19991231", 1}, {"Jones", -3.25, "20000229", 0},
                      {"Brown", 1234567.89, "18991201", 1}};
  for (long r = 1; r <= 3; ++r) {
    const Row &row = rows[r - 1];
    SCOPED_TRACE(row.name);
    ASSERT_EQ(0, readRecord(data, r));
    EXPECT_EQ(row.name, rtrim(f4str(d4field(data, "NAME"))));
    EXPECT_DOUBLE_EQ(row.amount, f4double(d4field(data, "AMOUNT")));
    EXPECT_STREQ(row.born, f4str(d4field(data, "BORN")));
    EXPECT_EQ(row.ok, f4true(d4field(data, "OK")));
  }
  EXPECT_EQ(0, d4close(data));
  expectNothingOpen();
}

// ---------------------------------------------------------------------------
// Another process

TEST_F(OpenTest, ExclusiveOpenExcludesAnotherProcess) {
  const std::string path = write("people.dbf", dbfBytes(people(2)));
  // The child starts before the table is opened, so it holds no inherited
  // handle of it.
  Child child([&path](const Child::Channel &channel) {
    CODE4 other;
    if (code4initLow(&other, 0, TK_HEADER_VERSION, sizeof(CODE4), 1) != 0) return 10;
    other.errOff = 1;
    other.accessMode = 0;
    if (channel.receive() != 'a') return 14;
    // While the parent holds the table exclusively, a shared open fails.
    DATA4 *refused = d4open(&other, path.c_str());
    channel.send(refused == nullptr && other.errorCode == err::kPermission ? 'r' : 'x');
    if (channel.receive() != 'c') return 11;
    error4set(&other, 0);
    // Now the child holds it shared, and the parent's exclusive open fails.
    DATA4 *shared = d4open(&other, path.c_str());
    channel.send(shared != nullptr ? 'o' : 'x');
    if (channel.receive() != 'd') return 12;
    const int rc = shared != nullptr ? d4close(shared) : -1;
    code4initUndo(&other);
    return rc == 0 ? 0 : 13;
  });

  c4.accessMode = 1;
  DATA4 *data = d4open(&c4, path.c_str());
  ASSERT_NE(nullptr, data);
  child.send('a');
  EXPECT_EQ('r', child.receive());
  EXPECT_EQ(0, d4close(data));
  child.send('c');
  EXPECT_EQ('o', child.receive());
  c4.errOff = 1;
  EXPECT_EQ(nullptr, d4open(&c4, path.c_str()));
  EXPECT_EQ(err::kPermission, c4.errorCode);
  expectNothingOpen();
  child.send('d');
  EXPECT_EQ(0, child.wait());
  c4.accessMode = 0;
}

}  // namespace
}  // namespace tablekit
