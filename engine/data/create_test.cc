// Tests of table creation: the files written byte for byte (a plain table,
// one with a memo file, a long character field), the descriptor bytes and
// widths of every type, the refusals (unknown type, sizes, a table open in
// the context, an existing file under safety, tags), and temporary tables.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/data_layer.h"
#include "file/test_support.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit {
namespace {

using file::testing::Context;
using file::testing::readWhole;
using file::testing::shownMessages;
using file::testing::TempDir;
using file::testing::writeWhole;

FIELD4INFO field(const char *name, char type, unsigned len = 0, unsigned dec = 0) {
  return FIELD4INFO{const_cast<char *>(name), static_cast<short>(type), static_cast<unsigned short>(len),
                    static_cast<unsigned short>(dec), 0};
}

const FIELD4INFO kEnd = {nullptr, 0, 0, 0, 0};

// Today, as the tests see it: 15 March 2026.
void fixedToday(platform::LocalTime *t) { *t = platform::LocalTime{2026, 3, 15, 9, 30, 0, 0}; }

// The 32 bytes of one field descriptor.
std::string descriptor(const char *name, char type, unsigned char low, unsigned char high) {
  std::string d(32, '\0');
  std::memcpy(&d[0], name, std::strlen(name));
  d[11] = type;
  d[16] = static_cast<char>(low);
  d[17] = static_cast<char>(high);
  return d;
}

// The header of an empty table created on fixedToday.
std::string header(unsigned char version, unsigned fields, unsigned width) {
  std::string h(32, '\0');
  h[0] = static_cast<char>(version);
  h[1] = 126;
  h[2] = 3;
  h[3] = 15;
  const unsigned headerLen = 32 * fields + 33;
  h[8] = static_cast<char>(headerLen & 0xFF);
  h[9] = static_cast<char>(headerLen >> 8);
  h[10] = static_cast<char>(width & 0xFF);
  h[11] = static_cast<char>(width >> 8);
  return h;
}

unsigned u16(const std::string &bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8);
}

class CreateTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::methods().localTime = fixedToday; }

  DATA4 *create(const std::string &name, const std::vector<FIELD4INFO> &fields) {
    std::vector<FIELD4INFO> rows = fields;
    rows.push_back(kEnd);
    return d4create(&ctx_.c4, (dir_ / name).c_str(), rows.data(), nullptr);
  }

  bool exists(const std::string &name) const { return std::filesystem::exists(dir_ / name); }

  TempDir dir_;
  Context ctx_;
};

TEST_F(CreateTest, WritesThePlainTableByteForByte) {
  DATA4 *data = create("people", {field("NAME", 'C', 20), field("AMOUNT", 'N', 10, 2), field("DATE", 'D')});
  ASSERT_NE(nullptr, data);
  const std::string expected = header(0x03, 3, 39) + descriptor("NAME", 'C', 20, 0) +
                               descriptor("AMOUNT", 'N', 10, 2) + descriptor("DATE", 'D', 8, 0) + "\x0D\x1A";
  const std::string bytes = readWhole(dir_ / "people.DBF");
  EXPECT_EQ(130u, bytes.size());
  EXPECT_EQ(expected, bytes);
  EXPECT_FALSE(exists("people.DBT"));

  EXPECT_EQ(0, d4recCountDo(data));
  EXPECT_EQ(3, d4numFields(data));
  EXPECT_EQ(39u, d4recWidthLow(data));
  EXPECT_EQ(0, d4close(data));
  EXPECT_EQ(expected, readWhole(dir_ / "people.DBF"));  // closing an unchanged table rewrites nothing
}

TEST_F(CreateTest, MemoFieldWritesVersion8BAndAMemoFileOfItsHeaderAlone) {
  DATA4 *data = create("remittance", {field("NAME", 'C', 20), field("AMOUNT", 'N', 10, 2), field("DATE", 'D'),
                                      field("NOTES", 'M')});
  ASSERT_NE(nullptr, data);
  const std::string expected = header(0x8B, 4, 49) + descriptor("NAME", 'C', 20, 0) +
                               descriptor("AMOUNT", 'N', 10, 2) + descriptor("DATE", 'D', 8, 0) +
                               descriptor("NOTES", 'M', 10, 0) + "\x0D\x1A";
  EXPECT_EQ(expected, readWhole(dir_ / "remittance.DBF"));
  // First free block 1, the base name cut to 8 characters, 0x0102, 512.
  const std::string memo("\x01\0\0\0\0\0\0\0REMITTAN\0\0\x02\x01\x00\x02\0\0", 24);
  EXPECT_EQ(memo, readWhole(dir_ / "remittance.DBT"));
  EXPECT_EQ(1, file4openTest(&data->dataFile->memoFile.file));
  EXPECT_EQ(512, data->dataFile->memoFile.blockSize);
  EXPECT_EQ(0, d4close(data));
}

TEST_F(CreateTest, LongCharacterFieldKeepsItsHighByte) {
  DATA4 *data = create("long", {field("TEXT", 'C', 300)});
  ASSERT_NE(nullptr, data);
  const std::string bytes = readWhole(dir_ / "long.DBF");
  EXPECT_EQ(0x2C, static_cast<unsigned char>(bytes[32 + 16]));
  EXPECT_EQ(0x01, static_cast<unsigned char>(bytes[32 + 17]));
  EXPECT_EQ(301u, u16(bytes, 10));
  EXPECT_EQ(300u, f4len(d4field(data, "TEXT")));
}

TEST_F(CreateTest, EachTypeWritesItsDescriptorBytesAndWidth) {
  struct Case {
    const char *name;
    char type;        // as given
    unsigned len, dec;
    char written;     // type byte written
    unsigned char low, high;
    unsigned width;   // record width added
  };
  const Case cases[] = {
      {"character", 'C', 12, 3, 'C', 12, 0, 12},
      {"character, lower case", 'c', 5, 0, 'C', 5, 0, 5},
      {"character 65000", 'C', 65000, 0, 'C', 0xE8, 0xFD, 65000},
      {"Z written as C", 'Z', 7, 0, 'C', 7, 0, 7},
      {"numeric", 'N', 12, 4, 'N', 12, 4, 12},
      {"float", 'F', 20, 6, 'F', 20, 6, 20},
      {"date ignores length", 'D', 3, 2, 'D', 8, 0, 8},
      {"logical", 'L', 9, 0, 'L', 1, 0, 1},
      {"memo", 'M', 4, 0, 'M', 10, 0, 10},
      {"general", 'G', 0, 0, 'G', 10, 0, 10},
      {"binary memo adds 10", 'B', 25, 0, 'B', 10, 0, 10},
      {"integer", 'I', 0, 0, 'I', 4, 0, 4},
      {"P", 'P', 0, 0, 'P', 4, 0, 4},
      {"Q", 'Q', 0, 0, 'Q', 2, 0, 2},
      {"R", 'R', 0, 0, 'R', 2, 0, 2},
      {"V", 'V', 0, 0, 'V', 16, 0, 16},
      {"5", '5', 0, 0, '5', 8, 0, 8},
      {"O, odd length", 'O', 7, 0, 'O', 10, 0, 10},
      {"O, even length", 'O', 300, 0, 'O', 0x2E, 0x01, 302},
      {"O, 253 carries into the high byte", 'O', 253, 0, 'O', 0x00, 0x01, 256},
      {"W, odd length", 'W', 9, 0, 'W', 10, 0, 10},
      {"W, 255 carries into the high byte", 'W', 255, 0, 'W', 0x00, 0x01, 256},
  };
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = "t" + std::to_string(n++);
    DATA4 *data = create(name, {field("ID", 'C', 2), field("X", c.type, c.len, c.dec)});
    ASSERT_NE(nullptr, data);
    const std::string bytes = readWhole(dir_ / (name + ".DBF"));
    const std::size_t d = 64;  // the second descriptor
    EXPECT_EQ(c.written, bytes[d + 11]);
    EXPECT_EQ(c.low, static_cast<unsigned char>(bytes[d + 16]));
    EXPECT_EQ(c.high, static_cast<unsigned char>(bytes[d + 17]));
    EXPECT_EQ(1u + 2u + c.width, u16(bytes, 10));
    EXPECT_EQ(98u, bytes.size());
    // The table opens, and the field has the width it was given.
    FIELD4 *x = d4field(data, "X");
    ASSERT_NE(nullptr, x);
    EXPECT_EQ(c.width, f4len(x));
    EXPECT_EQ(0, d4close(data));
  }
}

TEST_F(CreateTest, BinaryMemoNeedsNoMemoFileUnderTheSchemaSetting) {
  ctx_.c4.oledbSchemaCreate = 1;
  DATA4 *data = create("bin", {field("PIC", 'B')});
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(0x03, readWhole(dir_ / "bin.DBF")[0]);
  EXPECT_FALSE(exists("bin.DBT"));
}

TEST_F(CreateTest, NamesAreTrimmedCutAndUpperCased) {
  DATA4 *data = create("names", {field("amount  ", 'N', 5), field("averylongname", 'C', 1)});
  ASSERT_NE(nullptr, data);
  const std::string bytes = readWhole(dir_ / "names.DBF");
  EXPECT_EQ(std::string("AMOUNT\0\0\0\0\0", 11), bytes.substr(32, 11));
  EXPECT_EQ(std::string("AVERYLONGN\0", 11), bytes.substr(64, 11));
}

TEST_F(CreateTest, RefusesWhatCannotBeWrittenAndLeavesNoFile) {
  struct Case {
    const char *name;
    std::vector<FIELD4INFO> fields;
    int code;
  };
  const Case cases[] = {
      {"unknown type X", {field("A", 'C', 1), field("B", 'X', 4)}, err::kFieldType},
      {"date-time T", {field("A", 'T', 8)}, err::kFieldType},
      {"currency Y", {field("A", 'Y', 8)}, err::kFieldType},
      {"type 1", {field("A", '1', 8)}, err::kFieldType},
      {"numeric longer than a byte", {field("A", 'N', 300)}, err::kFieldType},
      {"record 65535 wide", {field("A", 'C', 40000), field("B", 'C', 25534)}, err::kRecordLen},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    shownMessages().clear();
    EXPECT_EQ(nullptr, create("bad", c.fields));
    EXPECT_EQ(c.code, ctx_.c4.errorCode);
    ASSERT_EQ(1u, shownMessages().size());
    if (c.code == err::kFieldType) {
      EXPECT_NE(std::string::npos, shownMessages()[0].find("illegal field data"));
    }
    EXPECT_FALSE(exists("bad.DBF"));
    ctx_.c4.errorCode = 0;
  }
}

TEST_F(CreateTest, RefusesTwoThousandFortySevenFields) {
  std::vector<std::string> names;
  for (int i = 0; i < 2047; ++i) names.push_back("F" + std::to_string(i));
  std::vector<FIELD4INFO> fields;
  for (const std::string &n : names) fields.push_back(field(n.c_str(), 'L'));
  EXPECT_EQ(nullptr, create("wide", fields));
  EXPECT_EQ(err::kRecordLen, ctx_.c4.errorCode);
  ctx_.c4.errorCode = 0;
  fields.pop_back();
  DATA4 *data = create("wide", fields);
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(2046, d4numFields(data));
}

TEST_F(CreateTest, ExistingFileIsReplacedOnlyWithoutSafety) {
  const std::string old = "old contents";
  writeWhole(dir_ / "kept.DBF", old);
  ctx_.c4.safety = 1;
  EXPECT_EQ(nullptr, create("kept", {field("A", 'C', 1)}));
  EXPECT_EQ(err::kCreate, ctx_.c4.errorCode);
  EXPECT_EQ(old, readWhole(dir_ / "kept.DBF"));

  // errCreate 0: the condition 60, no message.
  ctx_.c4.errorCode = 0;
  ctx_.c4.errCreate = 0;
  shownMessages().clear();
  EXPECT_EQ(nullptr, create("kept", {field("A", 'C', 1)}));
  EXPECT_EQ(r4noCreate, ctx_.c4.errorCode);
  EXPECT_TRUE(shownMessages().empty());
  EXPECT_EQ(old, readWhole(dir_ / "kept.DBF"));

  ctx_.c4.errorCode = 0;
  ctx_.c4.errCreate = 1;
  ctx_.c4.safety = 0;
  DATA4 *data = create("kept", {field("A", 'C', 1)});
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(66u, readWhole(dir_ / "kept.DBF").size());
}

TEST_F(CreateTest, ExistingMemoFileUnderSafetyRemovesTheNewDataFile) {
  writeWhole(dir_ / "notes.DBT", "old memo");
  EXPECT_EQ(nullptr, create("notes", {field("N", 'M')}));
  EXPECT_EQ(err::kCreate, ctx_.c4.errorCode);
  EXPECT_FALSE(exists("notes.DBF"));
  EXPECT_EQ("old memo", readWhole(dir_ / "notes.DBT"));
}

TEST_F(CreateTest, TableOpenInTheContextIsNotReplaced) {
  DATA4 *data = create("busy", {field("A", 'C', 1)});
  ASSERT_NE(nullptr, data);
  const std::string before = readWhole(dir_ / "busy.DBF");
  ctx_.c4.safety = 0;
  shownMessages().clear();
  EXPECT_EQ(nullptr, create("busy", {field("B", 'C', 5)}));
  EXPECT_EQ(err::kCreate, ctx_.c4.errorCode);
  ASSERT_EQ(1u, shownMessages().size());
  EXPECT_NE(std::string::npos, shownMessages()[0].find("attempt to create file which is opened by another client"));

  ctx_.c4.errorCode = 0;
  ctx_.c4.errCreate = 0;
  shownMessages().clear();
  EXPECT_EQ(nullptr, create("busy.dbf", {field("B", 'C', 5)}));
  EXPECT_EQ(r4noCreate, ctx_.c4.errorCode);
  EXPECT_TRUE(shownMessages().empty());
  EXPECT_EQ(before, readWhole(dir_ / "busy.DBF"));
}

TEST_F(CreateTest, TagsAreRefusedUntilIndexFilesExist) {
  const TAG4INFO tags[] = {{const_cast<char *>("BYNAME"), "NAME", nullptr, 0, 0}, {nullptr, nullptr, nullptr, 0, 0}};
  const FIELD4INFO fields[] = {field("NAME", 'C', 10), kEnd};
  shownMessages().clear();
  EXPECT_EQ(nullptr, d4create(&ctx_.c4, (dir_ / "tagged").c_str(), fields, tags));
  EXPECT_EQ(err::kNotSupported, ctx_.c4.errorCode);
  ASSERT_EQ(1u, shownMessages().size());
  EXPECT_NE(std::string::npos, shownMessages()[0].find("tag BYNAME"));
  EXPECT_FALSE(exists("tagged.DBF"));
}

TEST_F(CreateTest, MissingArgumentsAndAnEarlierErrorCreateNothing) {
  const FIELD4INFO fields[] = {field("A", 'C', 1), kEnd};
  EXPECT_EQ(nullptr, d4create(&ctx_.c4, nullptr, fields, nullptr));
  EXPECT_EQ(err::kParmNull, ctx_.c4.errorCode);
  ctx_.c4.errorCode = 0;
  EXPECT_EQ(nullptr, d4create(&ctx_.c4, (dir_ / "x").c_str(), nullptr, nullptr));
  EXPECT_EQ(err::kParmNull, ctx_.c4.errorCode);

  ctx_.c4.errorCode = -1;
  shownMessages().clear();
  EXPECT_EQ(nullptr, d4create(&ctx_.c4, (dir_ / "x").c_str(), fields, nullptr));
  EXPECT_TRUE(shownMessages().empty());
  EXPECT_FALSE(exists("x.DBF"));
}

TEST_F(CreateTest, TemporaryTableWithMemoIsDeletedAtClose) {
  static std::string tempDir;
  tempDir = dir_.path();
  platform::methods().getEnv = [](const char *name) -> const char * {
    return std::strcmp(name, "TEMP") == 0 ? tempDir.c_str() : nullptr;
  };
  const FIELD4INFO fields[] = {field("NAME", 'C', 10), field("NOTES", 'M'), kEnd};
  ctx_.c4.createTemp = 0;
  DATA4 *data = d4createTemp(&ctx_.c4, fields, nullptr);
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(0, ctx_.c4.createTemp);  // the setting is put back
  const std::string name = d4fileName(data);
  EXPECT_EQ(0u, name.rfind(tempDir, 0));
  std::string memo = name;
  memo.replace(memo.size() - 3, 3, "DBT");
  EXPECT_TRUE(std::filesystem::exists(name));
  EXPECT_TRUE(std::filesystem::exists(memo));
  EXPECT_EQ(1, data->dataFile->file.accessMode);  // stays open exclusively
  EXPECT_EQ(0, d4close(data));
  EXPECT_FALSE(std::filesystem::exists(name));
  EXPECT_FALSE(std::filesystem::exists(memo));
}

TEST_F(CreateTest, NamedTableOpensUnderTheContextAccessMode) {
  ctx_.c4.accessMode = 0;
  DATA4 *data = create("shared", {field("A", 'C', 1)});
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(0, data->dataFile->file.accessMode);
  EXPECT_EQ(1, ctx_.c4.autoOpen);  // off for the opens of creation only
}

}  // namespace
}  // namespace tablekit
