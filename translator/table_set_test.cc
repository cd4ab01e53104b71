// Tests of the table set: the opener's settings and names, template records,
// emptying and closing, on tables made for each test in a temporary
// working directory.
#include "table_set.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "run_status.h"
#include "tablekit.h"
#include "test_tables.h"

namespace remitex {
namespace {

namespace fs = std::filesystem;

std::string fileBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

constexpr char kLayout[] =
    "[LEVEL_1]\n L1_REC N 10 0\n NAME C 5\n WHEN D\n RATE N 8 3\n"
    "[LEVEL_2]\n L2_REC N 10 0\n L1_PTR N 10 0\n"
    "[LEVEL_3]\n L3_REC N 10 0\n L2_PTR N 10 0\n"
    "[LEVEL_4]\n L4_REC N 10 0\n L3_PTR N 10 0\n"
    "[LEVEL_5]\n L5_REC N 10 0\n L4_PTR N 10 0\n"
    "[LEVEL_6]\n LEVEL N 1 0\n REC_PTR N 10 0\n CODE C 3\n";

class TableSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "remitex_tables_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    oldDir_ = fs::current_path();
    fs::current_path(dir_);
    ASSERT_EQ(testing::makeTables(dir_ / "DATA", kLayout), "");
    code4initLow(&cb_, 0, TK_HEADER_VERSION, sizeof(CODE4), 1);
  }
  void TearDown() override {
    code4initUndo(&cb_);
    fs::current_path(oldDir_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  CODE4 cb_;
  fs::path dir_;
  fs::path oldDir_;
};

TEST_F(TableSetTest, OpenerTakesAnyCaseAndSetsTheOpenSettings) {
  TableSet tables(cb_);
  char name[] = "level_2";
  c4setAutoOpen(&cb_, 1);
  EXPECT_EQ(tables.open(name, true), 0);
  EXPECT_STREQ(name, "LEVEL_2");
  EXPECT_NE(tables.level(2), nullptr);
  EXPECT_EQ(tables.table("Level_2"), tables.level(2));
  EXPECT_EQ(c4getAutoOpen(&cb_), 0);
  EXPECT_EQ(c4getAccessMode(&cb_), 1);

  char shared[] = "LEVEL_3";
  c4setAutoOpen(&cb_, 1);
  EXPECT_EQ(tables.open(shared, false), 0);
  EXPECT_NE(tables.level(3), nullptr);
  EXPECT_EQ(c4getAutoOpen(&cb_), 0);
  EXPECT_EQ(c4getAccessMode(&cb_), 0);
  EXPECT_EQ(tables.closeLevelTables(), 0);
  EXPECT_EQ(tables.level(2), nullptr);
}

// A name the set does not know opens nothing; the installation's other
// tables are found where they lie (RRDICT in the working directory itself).
TEST_F(TableSetTest, KnownAndUnknownNames) {
  ASSERT_EQ(testing::makeTables(dir_, "[RRDICT]\n NAME C 5\n"), "");
  ASSERT_EQ(testing::makeTables(dir_ / "DATA", "[EXPORT]\n NAME C 5\n"), "");
  TableSet tables(cb_);
  char unknown[] = "LEVEL_7";
  EXPECT_EQ(tables.open(unknown, true), 0);
  EXPECT_EQ(c4getErrorCode(&cb_), 0);
  EXPECT_EQ(tables.table("LEVEL_7"), nullptr);
  char dictionary[] = "rrdict";
  char exported[] = "export";
  tables.open(dictionary, true);
  tables.open(exported, true);
  EXPECT_NE(tables.table("RRDICT"), nullptr);
  EXPECT_NE(tables.table("EXPORT"), nullptr);
  EXPECT_EQ(c4getErrorCode(&cb_), 0);
}

// A template is a blank record with 0 in every numeric field and a blank
// deletion flag; making it writes nothing to the table.
TEST_F(TableSetTest, TemplatesAreBlankRecordsWithZeroNumbers) {
  const std::string before = fileBytes(dir_ / "DATA" / "LEVEL_1.DBF");
  TableSet tables(cb_);
  tables.openLevelTables();
  ASSERT_EQ(tables.buildTemplates(), 0);
  const char *copy = tables.levelTemplate(1);
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(d4recWidthLow(tables.level(1)), 1u + 10 + 5 + 8 + 8);
  EXPECT_EQ(std::string(copy, 32), " " + std::string(9, ' ') + "0" + std::string(5 + 8, ' ') + "   0.000");
  EXPECT_EQ(d4changed(tables.level(1), -1), 0);
  tables.releaseTemplates();
  EXPECT_EQ(tables.levelTemplate(1), nullptr);
  EXPECT_EQ(tables.closeLevelTables(), 0);
  EXPECT_EQ(fileBytes(dir_ / "DATA" / "LEVEL_1.DBF"), before);
}

// Emptying removes every record of every level table.
TEST_F(TableSetTest, EmptyingRemovesEveryRecord) {
  {
    TableSet tables(cb_);
    tables.openLevelTables();
    for (int n = 1; n <= kLevelTables; ++n) {
      for (int r = 0; r < n; ++r) {
        ASSERT_EQ(d4appendStart(tables.level(n), 0), 0);
        d4blank(tables.level(n));
        ASSERT_EQ(d4append(tables.level(n)), 0);
      }
    }
    EXPECT_EQ(tables.closeLevelTables(), 0);
  }
  for (int n = 1; n <= kLevelTables; ++n) {
    EXPECT_EQ(testing::readDbf(dir_ / "DATA" / ("LEVEL_" + std::to_string(n) + ".DBF")).headerCount,
              static_cast<uint32_t>(n));
  }
  TableSet tables(cb_);
  tables.openLevelTables();
  tables.emptyLevelTables();
  EXPECT_EQ(tables.closeLevelTables(), 0);
  EXPECT_EQ(c4getErrorCode(&cb_), 0);
  for (int n = 1; n <= kLevelTables; ++n) {
    const testing::DbfTable table = testing::readDbf(dir_ / "DATA" / ("LEVEL_" + std::to_string(n) + ".DBF"));
    EXPECT_EQ(table.headerCount, 0u);
    EXPECT_EQ(table.recordsPresent, 0u);
  }
}

}  // namespace
}  // namespace remitex
