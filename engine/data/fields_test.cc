// Tests of the field operations on a table built in memory: lookup, the
// stored forms of each type, reading, the errors of each operation, lock
// enforcement, the error state and copying between fields.
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/data_layer.h"
#include "foundation/foundation.h"
#include "platform/platform.h"
#include "testing/message_capture.h"

namespace tablekit {
namespace {

struct FieldShape {
  const char *name;
  char type;
  unsigned short len;
  unsigned short dec;
};

// One open table as the opener leaves it: a DATA4 on a DFILE4, its fields
// laid out after the deletion flag, the record buffer holding the blank
// record followed by a NUL.
class MemoryTable {
 public:
  MemoryTable(CODE4 &c4, std::initializer_list<FieldShape> shapes) : fields_(shapes.size()) {
    unsigned long offset = 1;
    std::size_t i = 0;
    for (const FieldShape &shape : shapes) {
      FIELD4 &field = fields_[i++];
      std::strncpy(field.name, shape.name, sizeof field.name - 1);
      field.type = shape.type;
      field.len = shape.len;
      field.dec = shape.dec;
      field.offset = offset;
      field.data = &data_;
      offset += shape.len;
    }
    record_.assign(offset + 1, '\0');
    record_[0] = ' ';
    for (const FIELD4 &field : fields_) data::fieldBlank(field, record_.data());

    file_.recWidth = offset;
    file_.nFields = static_cast<unsigned short>(fields_.size());
    file_.c4 = &c4;
    file_.file.accessMode = 0;
    data_.context = &c4;
    data_.dataFile = &file_;
    data_.fields = fields_.data();
    data_.record = record_.data();
    data_.recNum = -1;
    data_.oldRecNo = -1;
  }
  MemoryTable(const MemoryTable &) = delete;
  MemoryTable &operator=(const MemoryTable &) = delete;

  DATA4 *data() { return &data_; }
  FIELD4 *field(const char *name) { return d4field(&data_, name); }
  std::string bytes(const char *name) {
    FIELD4 *f = field(name);
    return std::string(f4ptr(f), f->len);
  }
  std::string record() const { return std::string(record_.data(), record_.size()); }

 private:
  DATA4 data_{};
  DFILE4 file_{};
  std::vector<FIELD4> fields_;
  std::vector<char> record_;
};


class FieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, code4initLow(&c4_, 0, TK_HEADER_VERSION, sizeof(CODE4), 1));
  }
  void TearDown() override {
    code4initUndo(&c4_);
    platform::methods() = platform::defaultMethods();
  }

  void expectReported(int code, long location) {
    EXPECT_EQ(code, c4_.errorCode);
    EXPECT_EQ(location, c4_.errorCode2);
    EXPECT_EQ(1u, test_support::MessageCapture::shown().size());
    c4_.errorCode = 0;
    c4_.errorCode2 = 0;
    test_support::MessageCapture::shown().clear();
  }
  void expectNothingReported() {
    EXPECT_EQ(0, c4_.errorCode);
    EXPECT_TRUE(test_support::MessageCapture::shown().empty());
  }

  test_support::MessageCapture capture_;
  CODE4 c4_;
};

// ---------------------------------------------------------------------------
// Lookup

TEST_F(FieldTest, LookupByName) {
  MemoryTable t(c4_, {{"NAME", 'C', 10, 0}, {"AMOUNT", 'N', 8, 2}, {"Mixed", 'C', 3, 0}});
  EXPECT_EQ(1, d4fieldNumber(t.data(), "NAME"));
  EXPECT_EQ(1, d4fieldNumber(t.data(), "name  "));  // trailing blanks, any case
  EXPECT_EQ(2, d4fieldNumber(t.data(), "Amount"));
  EXPECT_EQ(&t.data()->fields[1], d4field(t.data(), "amount"));
  expectNothingReported();
}

TEST_F(FieldTest, UnknownNameIsReportedUnlessSilenced) {
  MemoryTable t(c4_, {{"NAME", 'C', 10, 0}, {"Mixed", 'C', 3, 0}});
  EXPECT_EQ(err::kFieldName, d4fieldNumber(t.data(), " NAME"));  // a leading blank is part of the name
  expectReported(err::kFieldName, loc::d4fieldNumber);
  EXPECT_EQ(nullptr, d4field(t.data(), "Mixed"));  // stored lower case cannot be found
  expectReported(err::kFieldName, loc::d4field);
  EXPECT_EQ(err::kFieldName, d4fieldNumber(t.data(), nullptr));
  expectReported(err::kFieldName, loc::d4fieldNumber);

  c4_.errFieldName = 0;
  EXPECT_EQ(err::kFieldName, d4fieldNumber(t.data(), "NOPE"));
  EXPECT_EQ(nullptr, d4field(t.data(), "NOPE"));
  expectNothingReported();
}

TEST_F(FieldTest, UnknownNameMessageNamesIt) {
  MemoryTable t(c4_, {{"NAME", 'C', 10, 0}});
  d4field(t.data(), "CLP99");
  ASSERT_EQ(1u, test_support::MessageCapture::shown().size());
  EXPECT_NE(std::string::npos, test_support::MessageCapture::shown()[0].find("CLP99"));
  EXPECT_NE(std::string::npos, test_support::MessageCapture::shown()[0].find("Unrecognized Field Name"));
}

TEST_F(FieldTest, LookupByNumber) {
  MemoryTable t(c4_, {{"A", 'C', 1, 0}, {"B", 'N', 4, 0}});
  EXPECT_EQ(&t.data()->fields[1], d4fieldJ(t.data(), 2));
  EXPECT_EQ(2, f4number(d4fieldJ(t.data(), 2)));
  expectNothingReported();
  for (int j : {0, 3, -1}) {
    SCOPED_TRACE(j);
    EXPECT_EQ(nullptr, d4fieldJ(t.data(), j));
    expectReported(err::kParm, loc::d4fieldJ);
  }
}

TEST_F(FieldTest, Properties) {
  MemoryTable t(c4_, {{"A", 'C', 300, 0}, {"AMT", 'N', 10, 2}});
  FIELD4 *a = t.field("A");
  FIELD4 *amt = t.field("AMT");
  EXPECT_STREQ("AMT", f4name(amt));
  EXPECT_EQ('N', f4type(amt));
  EXPECT_EQ(300u, f4len(a));
  EXPECT_EQ(300u, f4len_v(a));
  EXPECT_EQ(2, f4decimals(amt));
  EXPECT_EQ(t.data(), f4data(amt));
  EXPECT_EQ(t.data()->record + 301, f4ptr(amt));
  EXPECT_EQ(0, f4null(amt));
  EXPECT_EQ(0, d4fieldNull(t.data()));
}

TEST_F(FieldTest, FieldInfoRows) {
  MemoryTable t(c4_, {{"A", 'C', 5, 0}, {"N", 'N', 9, 3}, {"O", 'O', 12, 0}});
  FIELD4INFO *info = d4fieldInfo(t.data());
  ASSERT_NE(nullptr, info);
  EXPECT_EQ(t.data()->fields[0].name, info[0].name);
  EXPECT_EQ('C', info[0].type);
  EXPECT_EQ(5, info[0].len);
  EXPECT_EQ(9, info[1].len);
  EXPECT_EQ(3, info[1].dec);
  EXPECT_EQ(10, info[2].len);  // O rows give the length less 2
  EXPECT_EQ(0, info[2].nulls);
  EXPECT_EQ(nullptr, info[3].name);
  EXPECT_EQ(0, info[3].type);
  EXPECT_EQ(0, info[3].len);
  u4freeDefault(info);
}

TEST_F(FieldTest, MissingArgumentsAreReported) {
  EXPECT_EQ(err::kParmNull, d4fieldNumber(nullptr, "A"));
  EXPECT_EQ(nullptr, d4field(nullptr, "A"));
  EXPECT_EQ(nullptr, d4fieldJ(nullptr, 1));
  EXPECT_EQ(nullptr, d4fieldInfo(nullptr));
  EXPECT_EQ(err::kParmNull, f4assign(nullptr, "x"));
  EXPECT_EQ(err::kParmNull, f4assignField(nullptr, nullptr));
  EXPECT_EQ(nullptr, f4str(nullptr));
  EXPECT_EQ(0.0, f4double(nullptr));
  EXPECT_EQ(8u, test_support::MessageCapture::shown().size());  // shown even without a context

  MemoryTable t(c4_, {{"A", 'C', 3, 0}});
  test_support::MessageCapture::shown().clear();
  EXPECT_EQ(err::kParmNull, f4assign(t.field("A"), nullptr));
  expectReported(err::kParmNull, loc::f4assign);
  EXPECT_EQ(err::kParmNull, f4assignN(t.field("A"), nullptr, 2));
  expectReported(err::kParmNull, loc::f4assignN);
  EXPECT_EQ(0, f4assignN(t.field("A"), nullptr, 0));
  EXPECT_EQ("   ", t.bytes("A"));
  EXPECT_EQ(0u, f4ncpy(t.field("A"), nullptr, 0));
  EXPECT_EQ(0u, f4ncpy(t.field("A"), nullptr, 4));
  expectReported(err::kParmNull, loc::f4ncpy);
}

// ---------------------------------------------------------------------------
// Blank values

TEST_F(FieldTest, BlankValueOfEveryType) {
  struct Case {
    char type;
    char blank;
  } cases[] = {{'C', ' '}, {'N', ' '}, {'F', ' '}, {'D', ' '}, {'L', ' '}, {'M', ' '}, {'G', ' '},
               {'5', ' '}, {'B', '\0'}, {'I', '\0'}, {'P', '\0'}, {'Q', '\0'}, {'R', '\0'},
               {'V', '\0'}, {'O', '\0'}, {'W', '\0'}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(1, c.type));
    MemoryTable t(c4_, {{"X", 'C', 2, 0}, {"F", c.type, 4, 0}});
    EXPECT_EQ(std::string(4, c.blank), t.bytes("F"));  // as the opener builds it
    std::memset(f4assignPtr(t.field("F")), 'z', 4);
    f4blank(t.field("F"));
    EXPECT_EQ(std::string(4, c.blank), t.bytes("F"));
    EXPECT_EQ("  ", t.bytes("X"));
  }
  expectNothingReported();
}

// ---------------------------------------------------------------------------
// Text assignment and reading

struct TextCase {
  const char *name;
  char type;
  unsigned short len;
  const char *text;
  const char *expected;
};

TEST_F(FieldTest, TextAssignment) {
  const TextCase cases[] = {
      {"numeric text is right-aligned", 'N', 6, "12.5", "  12.5"},
      {"numeric text too long is cut", 'N', 3, "12345", "123"},
      {"character text is blank-padded", 'C', 5, "ABC", "ABC  "},
      {"character text too long is cut", 'C', 5, "ABCDEFG", "ABCDE"},
      {"date text", 'D', 8, "20240315", "20240315"},
      {"empty text blanks", 'C', 3, "", "   "},
      {"float text is right-aligned", 'F', 5, "-1", "   -1"},
  };
  for (const TextCase &c : cases) {
    SCOPED_TRACE(c.name);
    MemoryTable t(c4_, {{"F", c.type, c.len, 0}});
    EXPECT_EQ(0, f4assign(t.field("F"), c.text));
    EXPECT_EQ(c.expected, t.bytes("F"));
    EXPECT_EQ(1, t.data()->recordChanged);
  }
  expectNothingReported();
}

TEST_F(FieldTest, BytesAssignmentPadsWithTheBlankValue) {
  MemoryTable t(c4_, {{"V", 'V', 6, 0}, {"C", 'C', 4, 0}});
  EXPECT_EQ(0, f4assignN(t.field("V"), "ab", 2));
  EXPECT_EQ(std::string("ab\0\0\0\0", 6), t.bytes("V"));
  EXPECT_EQ(0, f4assignN(t.field("C"), "a\0b", 3));
  EXPECT_EQ(std::string("a\0b ", 4), t.bytes("C"));
  EXPECT_EQ(0, f4assignN(t.field("C"), "123456", 6));
  EXPECT_EQ("1234", t.bytes("C"));
}

TEST_F(FieldTest, CharAssignment) {
  MemoryTable t(c4_, {{"L", 'L', 1, 0}, {"C", 'C', 3, 0}});
  EXPECT_EQ(0, f4assignChar(t.field("L"), 'T'));
  EXPECT_EQ("T", t.bytes("L"));
  EXPECT_EQ(0, f4assignChar(t.field("C"), 'x'));
  EXPECT_EQ("x  ", t.bytes("C"));
  EXPECT_EQ('x', f4char(t.field("C")));
}

TEST_F(FieldTest, StrAndNcpyCopyTheBytes) {
  MemoryTable t(c4_, {{"A", 'C', 5, 0}, {"B", 'C', 2, 0}});
  f4assign(t.field("A"), "hello");
  f4assign(t.field("B"), "xy");
  char *a = f4str(t.field("A"));
  EXPECT_STREQ("hello", a);
  EXPECT_GE(c4_.fieldBufferLen, 7u);
  char *b = f4str(t.field("B"));
  EXPECT_EQ(a, b);  // one scratch buffer, reused
  EXPECT_STREQ("xy", b);

  char out[8];
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(3u, f4ncpy(t.field("A"), out, 4));
  EXPECT_STREQ("hel", out);
  EXPECT_EQ(5u, f4ncpy(t.field("A"), out, sizeof out));
  EXPECT_STREQ("hello", out);
}

// ---------------------------------------------------------------------------
// Numbers

struct NumberCase {
  const char *name;
  char type;
  unsigned short len;
  unsigned short dec;
  int (*assign)(FIELD4 *);
  const char *expected;
  int rc;
};

TEST_F(FieldTest, NumberAssignment) {
  const NumberCase cases[] = {
      {"double does not fit", 'N', 6, 2, [](FIELD4 *f) { return f4assignDouble(f, 999.999); }, "******",
       err::kOverflow},
      {"double zero", 'N', 5, 2, [](FIELD4 *f) { return f4assignDouble(f, 0); }, " 0.00", 0},
      {"double rounded", 'N', 8, 2, [](FIELD4 *f) { return f4assignDouble(f, -3.14159); }, "   -3.14", 0},
      {"long zero", 'N', 3, 0, [](FIELD4 *f) { return f4assignLong(f, 0); }, "  0", 0},
      {"long with decimals goes through double", 'N', 8, 2, [](FIELD4 *f) { return f4assignLong(f, 42); },
       "   42.00", 0},
      {"long too wide", 'N', 2, 0, [](FIELD4 *f) { return f4assignLong(f, -42); }, "**", 0},
      {"int in a character field", 'C', 5, 0, [](FIELD4 *f) { return f4assignInt(f, -7); }, "   -7", 0},
      {"int with decimals", 'F', 6, 1, [](FIELD4 *f) { return f4assignInt(f, 12); }, "  12.0", 0},
      {"long into a date", 'D', 8, 0, [](FIELD4 *f) { return f4assignLong(f, 2451545); }, "20000101", 0},
      {"double into a date is truncated", 'D', 8, 0, [](FIELD4 *f) { return f4assignDouble(f, 2451545.9); },
       "20000101", 0},
      {"day number 0 is no date", 'D', 8, 0, [](FIELD4 *f) { return f4assignDouble(f, 0); }, "        ", 0},
      {"negative day number is no date", 'D', 8, 0, [](FIELD4 *f) { return f4assignLong(f, -3); }, "        ",
       0},
      {"long into a memo field", 'M', 10, 0, [](FIELD4 *f) { return f4assignLong(f, 17); }, "        17", 0},
  };
  for (const NumberCase &c : cases) {
    SCOPED_TRACE(c.name);
    MemoryTable t(c4_, {{"F", c.type, c.len, c.dec}});
    EXPECT_EQ(c.rc, c.assign(t.field("F")));
    EXPECT_EQ(c.expected, t.bytes("F"));
    EXPECT_EQ(1, t.data()->recordChanged);
  }
  expectNothingReported();
}

TEST_F(FieldTest, BinaryIntegers) {
  MemoryTable t(c4_, {{"I", 'I', 4, 0}, {"P", 'P', 4, 0}, {"Q", 'Q', 2, 0}, {"R", 'R', 2, 0}});
  EXPECT_EQ(0, f4assignInt(t.field("I"), -2));
  EXPECT_EQ(std::string("\xFE\xFF\xFF\xFF", 4), t.bytes("I"));
  EXPECT_EQ(-2, f4long(t.field("I")));
  EXPECT_EQ(-2, f4int(t.field("I")));
  EXPECT_EQ(0, f4assignLong(t.field("P"), 123456));
  EXPECT_EQ(std::string("\x40\xE2\x01\x00", 4), t.bytes("P"));
  EXPECT_EQ(123456, f4long(t.field("P")));
  EXPECT_EQ(0, f4assignInt(t.field("Q"), 70000));  // the low 16 bits
  EXPECT_EQ(std::string("\x70\x11", 2), t.bytes("Q"));
  EXPECT_EQ(4464, f4long(t.field("Q")));
  EXPECT_EQ(0, f4assignLong(t.field("R"), -1));
  EXPECT_EQ(-1, f4int(t.field("R")));
  expectNothingReported();
}

TEST_F(FieldTest, NumberReading) {
  MemoryTable t(c4_, {{"N", 'N', 7, 2}, {"D", 'D', 8, 0}, {"C", 'C', 6, 0}});
  EXPECT_EQ(0.0, f4double(t.field("N")));  // all blanks
  EXPECT_EQ(0, f4long(t.field("N")));
  f4assign(t.field("N"), "-3.25");
  EXPECT_EQ("  -3.25", t.bytes("N"));
  EXPECT_DOUBLE_EQ(-3.25, f4double(t.field("N")));
  EXPECT_EQ(-3, f4long(t.field("N")));
  EXPECT_EQ(-3, f4int(t.field("N")));
  f4assign(t.field("D"), "20000102");
  EXPECT_DOUBLE_EQ(2451546.0, f4double(t.field("D")));
  EXPECT_EQ(2451546, f4long(t.field("D")));
  f4assign(t.field("C"), "**** ");
  EXPECT_EQ(0.0, f4double(t.field("C")));
  expectNothingReported();
}

TEST_F(FieldTest, ShortDateFieldIsReadWithinItsBytes) {
  MemoryTable t(c4_, {{"D", 'D', 6, 0}});
  f4assign(t.field("D"), "200001");
  EXPECT_EQ(-1, f4long(t.field("D")));  // "200001  " is no date
  EXPECT_EQ(0, f4assignLong(t.field("D"), 2451545));
  EXPECT_EQ("200001", t.bytes("D"));
  EXPECT_EQ('\0', t.data()->record[7]);
}

TEST_F(FieldTest, Logicals) {
  MemoryTable t(c4_, {{"L", 'L', 1, 0}, {"C", 'C', 1, 0}});
  struct Case {
    char stored;
    int expected;
  } cases[] = {{'y', 1}, {'Y', 1}, {'t', 1}, {'T', 1}, {'F', 0}, {'N', 0}, {' ', 0}, {'?', 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(1, c.stored));
    f4assignChar(t.field("L"), c.stored);
    EXPECT_EQ(c.expected, f4true(t.field("L")));
  }
  expectNothingReported();
  f4assignChar(t.field("C"), 'T');
  EXPECT_EQ(1, f4true(t.field("C")));  // reported, and still tested
  expectReported(err::kParm, loc::detail::field_function_not_supported_for_given_field);
}

// Every operation a type does not have: reported with the detail, nothing
// written, the read results as documented.
TEST_F(FieldTest, OperationsTheTypeDoesNotHave) {
  struct Case {
    const char *name;
    const char *types;
    int (*call)(FIELD4 *);
    int rc;
  } cases[] = {
      {"f4assignChar", "DFGMN", [](FIELD4 *f) { return f4assignChar(f, 'x'); }, err::kParm},
      {"f4assignDouble", "LOPQRW", [](FIELD4 *f) { return f4assignDouble(f, 1.5); }, err::kParm},
      {"f4assignLong", "L", [](FIELD4 *f) { return f4assignLong(f, 1); }, err::kParm},
      {"f4assignInt", "DGLM", [](FIELD4 *f) { return f4assignInt(f, 1); }, err::kParm},
      {"f4double", "L", [](FIELD4 *f) { return static_cast<int>(f4double(f)); }, 0},
      {"f4long", "L", [](FIELD4 *f) { return static_cast<int>(f4long(f)); }, -1},
      {"f4int", "DGLM", [](FIELD4 *f) { return f4int(f); }, -1},
  };
  for (const Case &c : cases) {
    for (const char *type = c.types; *type != '\0'; ++type) {
      SCOPED_TRACE(std::string(c.name) + " on " + *type);
      MemoryTable t(c4_, {{"F", *type, 4, 0}});
      std::memcpy(f4assignPtr(t.field("F")), "abcd", 4);
      t.data()->recordChanged = 0;
      EXPECT_EQ(c.rc, c.call(t.field("F")));
      EXPECT_EQ("abcd", t.bytes("F"));
      EXPECT_EQ(0, t.data()->recordChanged);
      expectReported(err::kParm, loc::detail::field_function_not_supported_for_given_field);
    }
  }
}

// ---------------------------------------------------------------------------
// Lock enforcement and the error state

TEST_F(FieldTest, LockEnforcementNeedsTheRecordLock) {
  MemoryTable t(c4_, {{"A", 'C', 3, 0}});
  c4_.lockEnforce = 1;
  t.data()->recNum = 3;
  const struct {
    const char *name;
    int (*call)(FIELD4 *);
    long location;
  } writes[] = {
      {"f4assign", [](FIELD4 *f) { return f4assign(f, "x"); }, loc::f4assign},
      {"f4assignN", [](FIELD4 *f) { return f4assignN(f, "x", 1); }, loc::f4assignN},
      {"f4assignChar", [](FIELD4 *f) { return f4assignChar(f, 'x'); }, loc::f4assignChar},
      {"f4assignDouble", [](FIELD4 *f) { return f4assignDouble(f, 1); }, loc::f4assignDouble},
      {"f4assignLong", [](FIELD4 *f) { return f4assignLong(f, 1); }, loc::f4assignLong},
      {"f4assignInt", [](FIELD4 *f) { return f4assignInt(f, 1); }, loc::f4assignInt},
      {"f4assignField", [](FIELD4 *f) { return f4assignField(f, f); }, loc::f4assignField},
      {"f4blank", [](FIELD4 *f) { f4blank(f); return static_cast<int>(err::kLock); }, loc::f4blank},
  };
  for (const auto &w : writes) {
    SCOPED_TRACE(w.name);
    std::memcpy(f4assignPtr(t.field("A")), "abc", 3);
    t.data()->recordChanged = 0;
    EXPECT_EQ(err::kLock, w.call(t.field("A")));
    EXPECT_EQ("abc", t.bytes("A"));
    EXPECT_EQ(0, t.data()->recordChanged);
    expectReported(err::kLock, w.location);
  }
}

TEST_F(FieldTest, LockEnforcementPassesWhereTheRecordCountsAsLocked) {
  MemoryTable t(c4_, {{"A", 'C', 3, 0}});
  c4_.lockEnforce = 1;
  t.data()->recNum = 0;  // no current record: nothing to check
  EXPECT_EQ(0, f4assign(t.field("A"), "new"));
  t.data()->recNum = 5;
  for (int mode : {1, 2}) {
    t.data()->dataFile->file.accessMode = mode;
    EXPECT_EQ(1, data::recordLockedByHandle(*t.data(), 5));
    EXPECT_EQ(0, f4assign(t.field("A"), mode == 1 ? "one" : "two"));
  }
  EXPECT_EQ("two", t.bytes("A"));
  t.data()->dataFile->file.accessMode = 0;
  EXPECT_EQ(0, data::recordLockedByHandle(*t.data(), 5));
  c4_.lockEnforce = 0;
  EXPECT_EQ(0, f4assign(t.field("A"), "off"));
  expectNothingReported();
}

TEST_F(FieldTest, ErrorStateRefusesEveryWrite) {
  MemoryTable t(c4_, {{"A", 'C', 3, 0}, {"N", 'N', 4, 0}});
  f4assign(t.field("A"), "abc");
  t.data()->recordChanged = 0;
  c4_.errorCode = err::kOpen;
  EXPECT_EQ(-1, f4assign(t.field("A"), "x"));
  EXPECT_EQ(-1, f4assignN(t.field("A"), "x", 1));
  EXPECT_EQ(-1, f4assignChar(t.field("A"), 'x'));
  EXPECT_EQ(-1, f4assignDouble(t.field("N"), 1));
  EXPECT_EQ(-1, f4assignLong(t.field("N"), 1));
  EXPECT_EQ(-1, f4assignInt(t.field("N"), 1));
  EXPECT_EQ(-1, f4assignField(t.field("A"), t.field("N")));
  f4blank(t.field("A"));
  EXPECT_EQ("abc", t.bytes("A"));
  EXPECT_EQ("    ", t.bytes("N"));
  EXPECT_EQ(0, t.data()->recordChanged);
  EXPECT_EQ(err::kOpen, c4_.errorCode);
  EXPECT_TRUE(test_support::MessageCapture::shown().empty());
  // Reading still works.
  EXPECT_STREQ("abc", f4str(t.field("A")));
}

// ---------------------------------------------------------------------------
// Copying between fields

struct CopyCase {
  const char *name;
  FieldShape to;
  FieldShape from;
  const char *fromText;
  const char *expected;
  int rc;
};

TEST_F(FieldTest, CopyByDestinationType) {
  const CopyCase cases[] = {
      {"character from numeric bytes", {"T", 'C', 6, 0}, {"S", 'N', 4, 0}, "  12", "  12  ", 0},
      {"character from longer text", {"T", 'C', 2, 0}, {"S", 'C', 4, 0}, "abcd", "ab", 0},
      {"date from date", {"T", 'D', 8, 0}, {"S", 'D', 8, 0}, "20240315", "20240315", 0},
      {"date from text does nothing", {"T", 'D', 8, 0}, {"S", 'C', 8, 0}, "20240315", "        ", 0},
      {"numeric of equal shape: bytes", {"T", 'N', 6, 2}, {"S", 'F', 6, 2}, "  1.50", "  1.50", 0},
      {"numeric of other shape: value", {"T", 'N', 7, 1}, {"S", 'N', 6, 2}, "  1.25", "    1.3", 0},
      {"numeric from text: value", {"T", 'N', 4, 0}, {"S", 'C', 5, 0}, " 42.4", "  42", 0},
      {"numeric that does not fit", {"T", 'N', 2, 0}, {"S", 'N', 4, 0}, " 123", "**", err::kOverflow},
      {"logical from logical", {"T", 'L', 1, 0}, {"S", 'L', 1, 0}, "T", "T", 0},
      {"logical from text does nothing", {"T", 'L', 1, 0}, {"S", 'C', 1, 0}, "T", " ", 0},
      {"binary of the same type", {"T", 'V', 3, 0}, {"S", 'V', 3, 0}, "xyz", "xyz", 0},
      {"variable binary of the same length", {"T", 'O', 3, 0}, {"S", 'O', 3, 0}, "xyz", "xyz", 0},
      {"variable character", {"T", 'W', 4, 0}, {"S", 'C', 2, 0}, "hi", "hi\0\0", 0},
  };
  for (const CopyCase &c : cases) {
    SCOPED_TRACE(c.name);
    MemoryTable t(c4_, {c.to, c.from});
    f4assignN(t.field("S"), c.fromText, static_cast<unsigned>(std::strlen(c.fromText)));
    t.data()->recordChanged = 0;
    EXPECT_EQ(c.rc, f4assignField(t.field("T"), t.field("S")));
    EXPECT_EQ(std::string(c.expected, c.to.len), t.bytes("T"));
  }
  expectNothingReported();
}

TEST_F(FieldTest, IncompatibleCopiesAreRefused) {
  struct Case {
    const char *name;
    FieldShape to;
    FieldShape from;
    int rc;
    long location;
  } cases[] = {
      {"variable binary of another length", {"T", 'O', 3, 0}, {"S", 'O', 4, 0}, err::kNotSupported,
       loc::f4assignField},
      {"variable binary from text", {"T", 'O', 3, 0}, {"S", 'C', 3, 0}, err::kNotSupported, loc::f4assignField},
      {"binary of another type", {"T", 'P', 4, 0}, {"S", 'Q', 4, 0}, err::kNotSupported, loc::f4assignField},
      {"numeric from logical", {"T", 'N', 4, 0}, {"S", 'L', 1, 0}, -1,
       loc::detail::field_function_not_supported_for_given_field},
      {"memo destination", {"T", 'M', 10, 0}, {"S", 'M', 10, 0}, err::kInfo, loc::detail::invalid_field_type},
      {"integer destination", {"T", 'I', 4, 0}, {"S", 'I', 4, 0}, err::kInfo, loc::detail::invalid_field_type},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    MemoryTable t(c4_, {c.to, c.from});
    const std::string before = t.record();
    // -910 comes back to the caller: the process goes on.
    EXPECT_EQ(c.rc, f4assignField(t.field("T"), t.field("S")));
    EXPECT_EQ(before, t.record());
    EXPECT_EQ(0, t.data()->recordChanged);
    EXPECT_EQ(c.rc == -1 ? err::kParm : c.rc, c4_.errorCode);
    EXPECT_EQ(c.location, c4_.errorCode2);
    c4_.errorCode = 0;
    test_support::MessageCapture::shown().clear();
  }
}

TEST_F(FieldTest, CopyOntoItself) {
  MemoryTable t(c4_, {{"C", 'C', 5, 0}, {"N", 'N', 5, 1}});
  f4assign(t.field("C"), "abc");
  f4assign(t.field("N"), "2.5");
  EXPECT_EQ(0, f4assignField(t.field("C"), t.field("C")));
  EXPECT_EQ(0, f4assignField(t.field("N"), t.field("N")));
  EXPECT_EQ("abc  ", t.bytes("C"));
  EXPECT_EQ("  2.5", t.bytes("N"));
}

// Text taken from the record itself may overlap the field it goes to: the
// field gets the bytes the text held before the assignment.
TEST_F(FieldTest, TextFromTheRecordItselfOverlappingTheField) {
  MemoryTable t(c4_, {{"A", 'C', 5, 0}, {"B", 'C', 5, 0}});
  f4assign(t.field("A"), "abcde");
  f4assign(t.field("B"), "vwxyz");
  EXPECT_EQ(0, f4assign(t.field("B"), f4ptr(t.field("A")) + 2));  // "cdevwxyz": starts before B
  EXPECT_EQ("cdevw", t.bytes("B"));
  EXPECT_EQ(0, f4assign(t.field("A"), f4ptr(t.field("A")) + 3));  // "decdevw": starts inside A
  EXPECT_EQ("decde", t.bytes("A"));
}

TEST_F(FieldTest, AssignPtrMarksTheRecordChanged) {
  MemoryTable t(c4_, {{"A", 'C', 3, 0}});
  EXPECT_EQ(0, t.data()->recordChanged);
  f4str(t.field("A"));
  f4double(t.field("A"));
  EXPECT_EQ(0, t.data()->recordChanged);
  EXPECT_EQ(t.data()->record + 1, f4assignPtr(t.field("A")));
  EXPECT_EQ(1, t.data()->recordChanged);
}

}  // namespace
}  // namespace tablekit
