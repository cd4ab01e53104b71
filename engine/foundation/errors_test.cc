// Tests of the error reporter: the exact message and error-log bytes, the
// error state it leaves in the context, the fatal exits, and the location
// tables behind the location numbers and texts.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit {
namespace {

// What the reporter showed, captured through the platform table.
struct Shown {
  std::string title;
  std::string text;
};
std::vector<Shown> gShown;

int captureMessage(const char *title, const char *text) {
  gShown.push_back({title, text});
  return 0;
}

// Writes each message to standard error as "[text]", so that a death test can
// match exactly what was shown.
int bracketMessage(const char *, const char *text) {
  std::fprintf(stderr, "[%s]", text);
  std::fflush(stderr);
  return 0;
}

int failMessage(const char *, const char *) { return EBADF; }

void fixedTime(platform::LocalTime *out) { *out = {2026, 3, 5, 14, 7, 9, 120}; }

std::string header(const std::string &codeCols, const std::string &numberCols) {
  // "Error #: " + code in 5 columns, padded to 31; "Error #: " + number in 6 + blank.
  std::string line1 = "Error #: " + codeCols;
  line1.resize(31, ' ');
  return line1 + "\r\n" + "Error #: " + numberCols + " \r\n";
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ReporterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gShown.clear();
    platform::methods().showMessage = captureMessage;
    platform::methods().localTime = fixedTime;
    ASSERT_EQ(0, code4initLow(&c4_, 0, TK_HEADER_VERSION, sizeof(CODE4), 1));
  }
  void TearDown() override {
    code4initUndo(&c4_);
    platform::methods() = platform::defaultMethods();
  }

  ~ReporterTest() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // A fresh directory for the test's files, removed after the test.
  std::string tempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tk_errors_XXXXXX").string();
    const char *dir = mkdtemp(&pattern[0]);
    EXPECT_NE(nullptr, dir);
    dir_ = dir != nullptr ? dir : "";
    return dir_;
  }

  CODE4 c4_{};
  std::string dir_;
};

// ---------------------------------------------------------------------------
// Fixed-width numbers

TEST(RightAlignLong, FollowsTheFixedWidthRule) {
  struct Case {
    long value;
    int width;
    const char *expected;
  };
  const Case cases[] = {
      {42, 5, "   42"},
      {0, 5, "    0"},
      {-42, 5, "  -42"},
      {-42, 3, "-42"},
      {-42, 2, "**"},
      {12345, 5, "12345"},
      {123456, 5, "*****"},
      {-12345, 5, "*****"},
      {-1470, 5, "-1470"},
      {7, -2, "07"},
      {-7, -2, "**"},
      {2026, -4, "2026"},
      {5, 1, "5"},
      {-5, 1, "*"},
      {LONG_MIN, 20, "-9223372036854775808"},
      {LONG_MAX, 18, "******************"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " in " + std::to_string(c.width));
    std::string out(static_cast<std::size_t>(c.width < 0 ? -c.width : c.width), '?');
    rightAlignLong(&out[0], c.value, c.width);
    EXPECT_EQ(c.expected, out);
  }
}

// ---------------------------------------------------------------------------
// Message layout

TEST(MessageText, FieldNameErrorShowsFiveLines) {
  EXPECT_EQ(90298, loc::d4fieldNumber);
  const std::string expected = header(" -210", " 94003") +
                               "Unrecognized Field Name\r\n"
                               "d4fieldNumber\r\n"
                               "XYZ\r\n";
  EXPECT_EQ(expected, messageText(err::kFieldName, 90298, "XYZ", nullptr, nullptr));
  EXPECT_EQ("Error #:  -210                 \r\n", expected.substr(0, 33));
}

TEST(MessageText, UnknownCodesAndLocations) {
  struct Case {
    const char *name;
    int code;
    long location;
    std::string expected;
  };
  const Case cases[] = {
      {"code not in the table", -1, 90111,
       header("   -1", " 91001") + "Invalid or Unknown Error Code\r\ncode4init\r\n"},
      {"location 0", -935, 0, header(" -935", "     0") + "Null Input Parameter unexpected\r\n"
                                                           "Invalid or Unknown Error Code\r\n"},
      {"location of class 7", -60, 70001, header("  -60", "     0") + "Opening File\r\n"
                                                                      "Invalid or Unknown Error Code\r\n"},
      {"code too wide for five columns", -12345, 80059,
       header("*****", " 81507") + "Invalid or Unknown Error Code\r\nstructure size mismatch\r\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, messageText(c.code, c.location, nullptr, nullptr, nullptr));
  }
}

TEST(MessageText, CodeZeroHoldsOnlyTheDescriptions) {
  EXPECT_EQ("", messageText(0, 90111, nullptr, nullptr, nullptr));
  EXPECT_EQ("a\r\nb\r\n", messageText(0, 90111, "a", nullptr, "b"));
}

TEST(MessageText, DescriptionsStopAtTheFirstThatDoesNotFit) {
  const std::string head = messageText(err::kFieldName, loc::d4fieldNumber, nullptr, nullptr, nullptr);
  const std::size_t room = 256 - head.size() - 3;  // the longest description that fits
  const std::string fits(room, 'f');
  const std::string tooLong(room + 1, 'x');
  struct Case {
    const char *name;
    const char *d1, *d2, *d3;
    std::string expected;
  };
  const Case cases[] = {
      {"exactly fits", fits.c_str(), nullptr, nullptr, head + fits + "\r\n"},
      {"later ones no longer fit", fits.c_str(), "", "y", head + fits + "\r\n"},
      {"first too long ends the list", tooLong.c_str(), "a", "b", head},
      {"absent ones are skipped", nullptr, "a", "b", head + "a\r\nb\r\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, messageText(err::kFieldName, loc::d4fieldNumber, c.d1, c.d2, c.d3));
  }
}

// ---------------------------------------------------------------------------
// The reporter and error4out

TEST_F(ReporterTest, ReportShowsTheMessageAndStoresBothCodes) {
  EXPECT_EQ(err::kFieldName, error4describeExecute(&c4_, err::kFieldName, loc::d4fieldNumber, "XYZ", nullptr, nullptr));
  EXPECT_EQ(err::kFieldName, c4_.errorCode);
  EXPECT_EQ(90298, c4_.errorCode2);
  ASSERT_EQ(1u, gShown.size());
  EXPECT_EQ("TABLEKIT ERROR", gShown[0].title);
  EXPECT_EQ(messageText(err::kFieldName, 90298, "XYZ", nullptr, nullptr), gShown[0].text);
}

TEST_F(ReporterTest, ErrOffKeepsTheCodesButShowsNothing) {
  c4_.errOff = 1;
  EXPECT_EQ(err::kTagName, error4default(&c4_, err::kTagName, loc::d4tag));
  EXPECT_EQ(err::kTagName, c4_.errorCode);
  EXPECT_EQ(loc::d4tag, c4_.errorCode2);
  EXPECT_TRUE(gShown.empty());
}

TEST_F(ReporterTest, ReportWithoutContextIsAlwaysShown) {
  c4_.errOff = 1;
  EXPECT_EQ(err::kParmNull, error4describeDefault(nullptr, err::kParmNull, loc::d4open, nullptr, nullptr, nullptr));
  ASSERT_EQ(1u, gShown.size());
  EXPECT_EQ(header(" -935", " 94301") + "Null Input Parameter unexpected\r\nd4open\r\n", gShown[0].text);
  EXPECT_EQ(0, c4_.errorCode);
}

TEST_F(ReporterTest, ErrorOutSetsOnlyTheErrorCode) {
  c4_.errorCode2 = 12345;
  error4out(&c4_, err::kRead, loc::file4read, "A.DBF", nullptr, nullptr);
  EXPECT_EQ(err::kRead, c4_.errorCode);
  EXPECT_EQ(12345, c4_.errorCode2);
  ASSERT_EQ(1u, gShown.size());
  EXPECT_EQ(header("  -70", " 90607") + "Reading File\r\nfile4read\r\nA.DBF\r\n", gShown[0].text);
}

TEST_F(ReporterTest, MessageThatCannotBeShownIsNotFatal) {
  platform::methods().showMessage = failMessage;
  EXPECT_EQ(err::kOpen, error4default(&c4_, err::kOpen, loc::file4open));
  EXPECT_EQ(err::kOpen, c4_.errorCode);
}

TEST_F(ReporterTest, HookReportsUnsupported) {
  EXPECT_EQ(err::kNotSupported, error4hook(&c4_, err::kRead, loc::file4read, "x", nullptr, nullptr));
  EXPECT_EQ(err::kNotSupported, c4_.errorCode);
  ASSERT_EQ(1u, gShown.size());
  EXPECT_EQ(header("-1090", " 90607") + "Function unsupported\r\nfile4read\r\n", gShown[0].text);
}

TEST_F(ReporterTest, SetAndSet2ReturnThePreviousValues) {
  error4default(&c4_, err::kWrite, loc::file4write);
  EXPECT_EQ(err::kWrite, error4set(&c4_, 0));
  EXPECT_EQ(0, c4_.errorCode);
  EXPECT_EQ(loc::file4write, error4set2(&c4_, 7));
  EXPECT_EQ(7, c4_.errorCode2);
}

TEST_F(ReporterTest, ExitTestReturnsWhenTheErrorWasCleared) {
  error4exitTest(&c4_);
  c4_.errOff = 1;
  error4default(&c4_, err::kFieldName, loc::d4field);
  error4set(&c4_, 0);
  error4exitTest(&c4_);
  c4_.errorCode = r4noOpen;  // a condition is not an error
  error4exitTest(&c4_);
  error4exitTest(nullptr);
  SUCCEED();
}

// ---------------------------------------------------------------------------
// Fatal ends

using ReporterDeathTest = ReporterTest;

TEST_F(ReporterDeathTest, FatalCodesEndTheProcessEvenWithErrOff) {
  const int fatal[] = {err::kInfo, err::kMemory, err::kResult, err::kStruct};
  for (int code : fatal) {
    SCOPED_TRACE(code);
    c4_.errOff = 1;
    platform::methods().showMessage = bracketMessage;
    EXPECT_EXIT(error4default(&c4_, code, loc::d4append), ::testing::ExitedWithCode(kFatalExitStatus),
                "^\\[EXITING APPLICATION\\]$");
  }
}

TEST_F(ReporterDeathTest, FatalCodeWithoutContextShowsBothMessages) {
  platform::methods() = platform::defaultMethods();
  EXPECT_EXIT(error4default(nullptr, err::kMemory, loc::code4init), ::testing::ExitedWithCode(kFatalExitStatus),
              "Out of Memory(.|\n)*EXITING APPLICATION");
}

TEST_F(ReporterDeathTest, ExitTestEndsTheProcessAfterAnError) {
  c4_.errOff = 1;
  error4default(&c4_, err::kFieldName, loc::d4field);
  platform::methods().showMessage = bracketMessage;
  EXPECT_EXIT(error4exitTest(&c4_), ::testing::ExitedWithCode(kFatalExitStatus), "^\\[EXITING APPLICATION\\]$");
}

// ---------------------------------------------------------------------------
// The error log

const std::string kLoggedFieldNameError =
    "2026/03/05  14:07:09\r\n"
    "      -210\r\n"
    "Unrecognized Field Name\r\n"
    "     94003\r\n"
    "d4fieldNumber\r\n"
    "XYZ\r\n"
    "\r\n\r\n";

TEST_F(ReporterTest, ErrorLogRecordsEachReport) {
  const std::string path = tempDir() + "/ERRORS.LOG";
  ASSERT_EQ(0, error4file(&c4_, path.c_str(), 0));
  c4_.errOff = 1;
  error4describeExecute(&c4_, err::kFieldName, loc::d4fieldNumber, nullptr, "XYZ", nullptr);
  error4describeExecute(&c4_, -1, 0, nullptr, nullptr, nullptr);
  EXPECT_EQ(kLoggedFieldNameError +
                "2026/03/05  14:07:09\r\n"
                "        -1\r\n"
                "Invalid or Unknown Error Code\r\n"
                "         0\r\n"
                "Invalid or Unknown Error Code\r\n"
                "\r\n\r\n",
            readFile(path));
}

TEST_F(ReporterTest, ErrorOutDoesNotWriteTheLog) {
  const std::string path = tempDir() + "/ERRORS.LOG";
  ASSERT_EQ(0, error4file(&c4_, path.c_str(), 0));
  error4out(&c4_, err::kFieldName, loc::d4field, nullptr, nullptr, nullptr);
  EXPECT_EQ("", readFile(path));
}

TEST_F(ReporterTest, ErrorLogAppendsOrReplaces) {
  const std::string path = tempDir() + "/ERRORS.LOG";
  {
    std::ofstream(path, std::ios::binary) << "old\r\n";
  }
  c4_.errOff = 1;
  ASSERT_EQ(0, error4file(&c4_, path.c_str(), 0));
  EXPECT_EQ(-1, error4file(&c4_, path.c_str(), 1));  // one log per context
  error4describeExecute(&c4_, err::kFieldName, loc::d4fieldNumber, "XYZ", nullptr, nullptr);
  EXPECT_EQ("old\r\n" + kLoggedFieldNameError, readFile(path));

  closeErrorLog(c4_);
  EXPECT_EQ(nullptr, c4_.errorLog);
  ASSERT_EQ(0, error4file(&c4_, path.c_str(), 1));
  EXPECT_EQ("", readFile(path));
  error4describeExecute(&c4_, err::kFieldName, loc::d4fieldNumber, "XYZ", nullptr, nullptr);
  EXPECT_EQ(kLoggedFieldNameError, readFile(path));
  // Left open: releasing the context closes it.
}

TEST_F(ReporterTest, ErrorLogThatCannotBeOpenedLeavesNoLog) {
  const std::string dir = tempDir();
  struct Case {
    const char *name;
    std::string path;
    int overwrite;
    int expected;
  };
  const Case cases[] = {
      {"directory cannot be opened", dir, 0, r4noOpen},
      {"missing directory: cannot be created", dir + "/missing/ERRORS.LOG", 0, r4noCreate},
      {"directory cannot be replaced", dir, 1, r4noCreate},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    c4_.errorCode = 0;
    EXPECT_EQ(c.expected, error4file(&c4_, c.path.c_str(), c.overwrite));
    EXPECT_EQ(c.expected, c4_.errorCode);
    EXPECT_EQ(nullptr, c4_.errorLog);
  }
  EXPECT_TRUE(gShown.empty());
  c4_.errorCode = 0;
  EXPECT_EQ(0, error4file(&c4_, (dir + "/ERRORS.LOG").c_str(), 0));
}

// ---------------------------------------------------------------------------
// Location tables and texts

TEST(Locations, CodesSelectTheirEntries) {
  struct Case {
    long location;
    long number;
    const char *text;
  };
  const Case cases[] = {
      {90111, 91001, "code4init"},
      {90296, 94001, "d4field"},
      {90298, 94003, "d4fieldNumber"},
      {90046, 90533, "f4assign"},
      {90017, 90504, "f4assignDouble"},
      {90029, 90516, "f4assignLong"},
      {80059, 81507, "structure size mismatch"},
      {80053, 81409, "field function not supported for given field type"},
      {90000, 90122, "d4socket"},
      {60000, 60101, "Code4::Code4"},
      // Entries out of numeric order keep their place in the table.
      {60080, 61093, "Str4ptr::Str4ptr"},
      {60081, 61091, "Str4ptr::ptr"},
      {60119, 60523, "Field4memo::changed"},
      {80098, 81715, "unexpected  null file name found"},
      {80067, 81515, "relation set-up failed*/"},
      // The last entry of each table.
      {60236, 60994, "Tag4iterator::operator="},
      {80291, 89004, "unable to locate host"},
      {90523, 99999, "Testing Only"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.location);
    EXPECT_EQ(c.number, error4number2(c.location));
    EXPECT_STREQ(c.text, error4text(nullptr, c.location));
  }
}

TEST(Locations, TablesHoldTheirEntryCounts) {
  // Entries counted with entry 0, which no code selects.
  struct Case {
    int locationClass;
    long entries;
  };
  const Case cases[] = {{6, 238}, {8, 293}, {9, 525}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.locationClass);
    const long first = c.locationClass * 10000L;
    EXPECT_NE(nullptr, locationEntry(first + c.entries - 2));
    EXPECT_EQ(nullptr, locationEntry(first + c.entries - 1));
  }
}

TEST(Locations, CodesWithoutAnEntry) {
  const long codes[] = {0, 1, 50, 9999, -90111, 10000, 50000, 70000, 69999, 80292, 90524, 99999, 100000, 190111};
  for (long code : codes) {
    SCOPED_TRACE(code);
    EXPECT_EQ(nullptr, locationEntry(code));
    EXPECT_EQ(0, error4number2(code));
    EXPECT_STREQ("Invalid or Unknown Error Code", error4text(nullptr, code));
  }
}

TEST(Locations, NamedCodesSelectTheirOwnText) {
  struct Case {
    long location;
    const char *text;
  };
  const Case cases[] = {
      {loc::code4init, "code4init"},
      {loc::d4open, "d4open"},
      {loc::f4assignDouble, "f4assignDouble"},
      {loc::dfile4_family, "dfile4...()"},
      {loc::error4set, "error4set()"},
      {loc::d4lock_group, "d4lock_group"},
      {loc::detail::structure_size_mismatch, "structure size mismatch"},
      {loc::detail::invalid_lock_type, "invalid lock type"},
      {loc::detail::corrupt_index_block, "corrupt index block"},
      {loc::method::Code4_Code4, "Code4::Code4"},
      {loc::method::Date4_month, "Date4::month"},
      {loc::method::Field4info_operator_index, "Field4info::operator[]"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_STREQ(c.text, error4text(nullptr, c.location));
  }
  // A name that occurs twice belongs to its first entry.
  EXPECT_EQ(90233, loc::d4lock_group);
  EXPECT_EQ(80057, loc::detail::invalid_lock_type);
  EXPECT_EQ(90111, loc::code4init);
  EXPECT_EQ(80059, loc::detail::structure_size_mismatch);
}

// ---------------------------------------------------------------------------
// Code texts

TEST(CodeText, FirstMatchOrUnknown) {
  struct Case {
    long code;
    const char *text;
  };
  const Case cases[] = {
      {-10, "Closing File"},
      {-210, "Unrecognized Field Name"},
      {-250, "Attempt to perform a d4seekDouble() on non-numeric tag"},
      {-920, "Out of Memory"},
      {-1095, "Application/Library version mismatch"},
      {-1470, "Server is not accepting any new connections at this time - contact System Administrator for details"},
      {-2110, "Server Configuration Failure"},
      {-1, "Invalid or Unknown Error Code"},
      {-211, "Invalid or Unknown Error Code"},
      {-3000, "Invalid or Unknown Error Code"},
      {LONG_MIN, "Invalid or Unknown Error Code"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_STREQ(c.text, error4text(nullptr, c.code));
  }
  EXPECT_STREQ("Unrecognized Field Name", codeText(-210));
  EXPECT_STREQ("Invalid or Unknown Error Code", codeText(0));
}

}  // namespace
}  // namespace tablekit
