// Layout files: what a valid file gives, and the message every fault gets.
#include "layout.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tktool {
namespace {

bool parse(const std::string &text, Layout *layout, std::vector<std::string> *errors) {
  std::istringstream in(text);
  return parseLayout(in, "set.layout", layout, errors);
}

TEST(LayoutTest, ReadsTablesAndFieldsInOrder) {
  Layout layout;
  std::vector<std::string> errors;
  ASSERT_TRUE(
      parse("# the set\n"
            "[LEVEL_1]\n"
            "  l1_rec  n 9 0   # own number\n"
            "ISA09\tD\n"
            "\n"
            "[NOTES]\n"
            "AMOUNT N 12 2\n"
            "PAID L\n"
            "TEXT M\n"
            "NAME C 30\n",
            &layout, &errors))
      << (errors.empty() ? "" : errors.front());
  ASSERT_EQ(2u, layout.tables.size());
  EXPECT_EQ("LEVEL_1", layout.tables[0].name);
  ASSERT_EQ(2u, layout.tables[0].fields.size());
  EXPECT_EQ("L1_REC", layout.tables[0].fields[0].name);  // upper-cased
  EXPECT_EQ('N', layout.tables[0].fields[0].type);
  EXPECT_EQ(9u, layout.tables[0].fields[0].len);
  EXPECT_EQ(8u, layout.tables[0].fields[1].len);  // D without a length
  const LayoutTable &notes = layout.tables[1];
  ASSERT_EQ(4u, notes.fields.size());
  EXPECT_EQ(2u, notes.fields[0].dec);
  EXPECT_EQ(1u, notes.fields[1].len);
  EXPECT_EQ(10u, notes.fields[2].len);
  EXPECT_EQ(1u + 12 + 1 + 10 + 30, layoutRecordWidth(notes));
}

TEST(LayoutTest, EveryFaultIsReportedWithItsLine) {
  struct Case {
    const char *name;
    const char *text;
    const char *message;  // the whole first error
  };
  const Case cases[] = {
      {"field before any table", "A C 1\n[T]\nB C 1\n",
       "set.layout:1: field line before the first [NAME] table header"},
      {"unclosed header", "[T\nA C 1\n", "set.layout:1: a table header must look like [NAME]"},
      {"long table name", "[LEVEL_123]\nA C 1\n",
       "set.layout:1: table name 'LEVEL_123' must be 1 to 8 letters, digits or '_'"},
      {"table twice", "[T]\nA C 1\n[t]\nB C 1\n", "set.layout:3: table t appears twice (first at line 1)"},
      {"too few words", "[T]\nA\n", "set.layout:2: expected NAME TYPE [LENGTH [DECIMALS]], found 'A'"},
      {"too many words", "[T]\nA N 5 2 1\n", "set.layout:2: expected NAME TYPE [LENGTH [DECIMALS]], found 'A N 5 2 1'"},
      {"long field name", "[T]\nABCDEFGHIJK C 1\n",
       "set.layout:2: field name 'ABCDEFGHIJK' must be 1 to 10 letters, digits or '_', beginning with a letter"},
      {"digit first", "[T]\n1A C 1\n",
       "set.layout:2: field name '1A' must be 1 to 10 letters, digits or '_', beginning with a letter"},
      {"field twice", "[T]\nA C 1\na C 2\n", "set.layout:3: field A appears twice in table T"},
      {"unknown type", "[T]\nA X 1\n", "set.layout:2: field A: unknown type 'X' (use C, N, F, D, L or M)"},
      {"missing length", "[T]\nA C\n", "set.layout:2: field A (C) needs a length"},
      {"length not a number", "[T]\nA C ten\n", "set.layout:2: field A (C): length 'ten' is not a number"},
      {"character too long", "[T]\nA C 255\n", "set.layout:2: field A (C): length must be 1 to 254"},
      {"number too long", "[T]\nA N 21\n", "set.layout:2: field A (N): length must be 1 to 20"},
      {"zero length", "[T]\nA C 0\n", "set.layout:2: field A (C): length must be 1 to 254"},
      {"date of 6", "[T]\nA D 6\n", "set.layout:2: field A (D): length must be 8"},
      {"decimals on character", "[T]\nA C 5 1\n", "set.layout:2: field A (C): this type takes no decimals"},
      {"too many decimals", "[T]\nA N 4 3\n", "set.layout:2: field A (N): 3 decimals need a length of at least 5"},
      {"decimals not a number", "[T]\nA N 4 x\n", "set.layout:2: field A (N): decimals 'x' is not a number"},
      {"empty table", "[T]\n[U]\nA C 1\n", "set.layout:1: table T has no fields"},
      {"no table at all", "# nothing\n", "set.layout: no table: a layout needs at least one [NAME] section"},
      {"record too wide", nullptr, "set.layout:1: table T: record width 76201 exceeds 65534"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = c.text != nullptr ? c.text : "";
    if (c.text == nullptr) {
      text = "[T]\n";
      for (int i = 0; i < 300; ++i) text += "F" + std::to_string(i) + " C 254\n";
    }
    Layout layout;
    std::vector<std::string> errors;
    EXPECT_FALSE(parse(text, &layout, &errors));
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(c.message, errors.front());
  }
}

TEST(LayoutTest, AllFaultsOfAFileAreCollected) {
  Layout layout;
  std::vector<std::string> errors;
  EXPECT_FALSE(parse("[T]\nA Q 1\nB C 300\nC C 3\n", &layout, &errors));
  ASSERT_EQ(2u, errors.size());
  EXPECT_NE(std::string::npos, errors[0].find(":2:"));
  EXPECT_NE(std::string::npos, errors[1].find(":3:"));
}

}  // namespace
}  // namespace tktool
