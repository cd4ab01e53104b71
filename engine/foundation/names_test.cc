// File names: full names, normalising, extensions, freeUnits of names, the
// case-insensitive finding of existing files and the small utilities.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/foundation.h"
#include "platform/platform.h"
#include "testing/message_capture.h"

namespace tablekit {
namespace {

namespace fs = std::filesystem;

using test_support::MessageCapture;

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "names-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) != nullptr) path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string &path() const { return path_; }
  // Creates the directories of `relative` and, unless it ends with '/', an
  // empty file at its end.
  void make(const std::string &relative) const {
    fs::path p = fs::path(path_) / relative;
    if (relative.back() == '/') {
      fs::create_directories(p);
      return;
    }
    fs::create_directories(p.parent_path());
    std::ofstream(p.string()).put('x');
  }

 private:
  std::string path_;
};

// Makes `dir` the process's current directory until the end of the scope.
class ChangeDirectory {
 public:
  explicit ChangeDirectory(const std::string &dir) : saved_(fs::current_path()) { fs::current_path(dir); }
  ~ChangeDirectory() { fs::current_path(saved_); }

 private:
  fs::path saved_;
};

// Replaces the current directory the engine sees, until the end of the scope.
class FakeCurrentDirectory {
 public:
  explicit FakeCurrentDirectory(const std::string &dir) {
    fake() = dir;
    platform::methods().currentDirectory = [](char *buf, std::size_t size) {
      if (fake().size() >= size) return ERANGE;
      std::memcpy(buf, fake().c_str(), fake().size() + 1);
      return 0;
    };
  }
  ~FakeCurrentDirectory() { platform::methods().currentDirectory = platform::defaultMethods().currentDirectory; }

 private:
  static std::string &fake() {
    static std::string dir;
    return dir;
  }
};

std::string fullName(const std::string &name) {
  char buf[1024];
  EXPECT_EQ(0, u4nameCurrent(buf, sizeof buf, name.c_str())) << name;
  return buf;
}

// The name a table open arrives at: full, with "DBF" unless it has an extension.
std::string tableName(const std::string &name) {
  char buf[1024];
  std::strcpy(buf, fullName(name).c_str());
  EXPECT_EQ(0, u4nameExt(buf, sizeof buf, "DBF", 0)) << name;
  return buf;
}

// ---------------------------------------------------------------------------
// Full names

TEST(NameCurrent, RelativeAndAbsoluteNames) {
  TempDir tmp;
  tmp.make("WORK/");
  tmp.make("A/B/");
  const std::string t = tmp.path();
  struct Case {
    const char *name;
    const char *cwd;     // under the temp directory
    std::string given;   // the name passed
    std::string expect;  // under the temp directory
  };
  const Case cases[] = {
      {"backslashes separate", "WORK", "DATA\\LEVEL_1", "/WORK/DATA/LEVEL_1"},
      {"leading dot-dot", "A/B", "..\\X", "/A/X"},
      {"dot component goes", "WORK", t + "/A/./B", "/A/B"},
      {"repeated separators collapse", "WORK", "DATA//x\\\\y", "/WORK/DATA/x/y"},
      {"dot-dot inside", "WORK", "DATA/../OTHER/./f", "/WORK/OTHER/f"},
      {"dot-dot at the end", "A/B", "C/..", "/A/B"},
      {"final separator kept", "WORK", "DATA/", "/WORK/DATA/"},
      {"empty name is the current directory", "A/B", "", "/A/B"},
      {"a name may end with a dot", "WORK", "b./c", "/WORK/b./c"},
      {"network form is an absolute path", "WORK", "\\\\" + t.substr(1) + "\\A", "/A"},
      {"dot-dot at the root stays there", "WORK", "/.." + t + "/A", "/A"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ChangeDirectory cd(t + "/" + c.cwd);
    EXPECT_EQ(t + c.expect, fullName(c.given));
  }
}

TEST(NameCurrent, TableNameGetsItsExtension) {
  TempDir tmp;
  tmp.make("WORK/");
  ChangeDirectory cd(tmp.path() + "/WORK");
  EXPECT_EQ(tmp.path() + "/WORK/DATA/LEVEL_1.DBF", tableName("DATA\\LEVEL_1"));
}

TEST(NameCurrent, DotDotGluedToANameIsReported) {
  MessageCapture messages;
  char buf[256] = "untouched";
  for (const char *name : {"/a/x../b", "a/...\\b"}) {
    SCOPED_TRACE(name);
    MessageCapture::shown().clear();
    EXPECT_EQ(err::kNameNotFound, u4nameCurrent(buf, sizeof buf, name));
    EXPECT_TRUE(MessageCapture::reportedOnce(err::kNameNotFound));
    EXPECT_STREQ("untouched", buf);
  }
}

TEST(NameCurrent, ResultThatDoesNotFitIsReported) {
  MessageCapture messages;
  TempDir tmp;
  ChangeDirectory cd(tmp.path());
  const std::string full = tmp.path() + "/abc";
  std::vector<char> buf(full.size() + 1, 'x');
  EXPECT_EQ(err::kParm, u4nameCurrent(buf.data(), static_cast<int>(full.size()), "abc"));
  EXPECT_TRUE(MessageCapture::reportedOnce(err::kParm));
  EXPECT_EQ('x', buf[0]);
  EXPECT_EQ(0, u4nameCurrent(buf.data(), static_cast<int>(buf.size()), "abc"));
  EXPECT_EQ(full, buf.data());
}

TEST(NameCurrent, ExtendedTakesRelativeNamesFromTheBaseDirectory) {
  TempDir tmp;
  tmp.make("WORK/");
  const std::string t = tmp.path();
  ChangeDirectory cd(t + "/WORK");
  const std::string base = t + "/A/B/level_1.dbf";
  struct Case {
    const char *name;
    std::string given;
    std::string base;
    std::string expect;
  };
  const Case cases[] = {
      {"relative goes beside the base", "level_2.mdx", base, t + "/A/B/level_2.mdx"},
      {"dot-dot from the base", "..\\x", base, t + "/A/x"},
      {"empty name gives the base directory", "", base, t + "/A/B"},
      {"absolute name ignores the base", t + "/C/y", base, t + "/C/y"},
      {"base without directory means the current one", "y", "level_1.dbf", t + "/WORK/y"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    char buf[1024];
    ASSERT_EQ(0, u4nameCurrentExtended(buf, sizeof buf, c.given.c_str(), c.base.c_str()));
    EXPECT_EQ(c.expect, buf);
  }
}

// ---------------------------------------------------------------------------
// Finding existing files whatever the case of their letters

TEST(NameCase, EverySpellingOfAnExistingFileGivesOneName) {
  TempDir tmp;
  tmp.make("data/level_1.dbf");
  ChangeDirectory cd(tmp.path());
  const std::string expect = tmp.path() + "/data/level_1.dbf";
  for (const char *name : {"DATA\\LEVEL_1", "data/LEVEL_1.dbf", "./Data/../DATA/level_1.DBF", "data/level_1"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(expect, tableName(name));
  }
  EXPECT_EQ(expect, tableName(expect));
  std::string upper = tmp.path() + "/DATA/LEVEL_1.DBF";
  EXPECT_EQ(expect, tableName(upper));
}

TEST(NameCase, ExactSpellingWinsOverAnotherCase) {
  TempDir tmp;
  tmp.make("data/Case.dbf");
  tmp.make("data/case.dbf");
  ChangeDirectory cd(tmp.path());
  EXPECT_EQ(tmp.path() + "/data/case.dbf", tableName("DATA/case.dbf"));
  EXPECT_EQ(tmp.path() + "/data/Case.dbf", tableName("DATA/Case.dbf"));
}

TEST(NameCase, NewFileKeepsItsNameWithTheExtensionInUpperCase) {
  TempDir tmp;
  tmp.make("data/");
  ChangeDirectory cd(tmp.path());
  EXPECT_EQ(tmp.path() + "/data/New/Level_9.DBF", tableName("DATA/New/Level_9"));
}

TEST(NameCase, ReplacedExtensionFindsTheExistingCompanionFile) {
  TempDir tmp;
  tmp.make("data/level_2.dbf");
  tmp.make("data/level_2.mdx");
  ChangeDirectory cd(tmp.path());
  char buf[1024];
  std::strcpy(buf, tableName("DATA/LEVEL_2").c_str());
  ASSERT_EQ(0, u4nameExt(buf, sizeof buf, "MDX", 1));
  EXPECT_EQ(tmp.path() + "/data/level_2.mdx", std::string(buf));
  ASSERT_EQ(0, u4nameExt(buf, sizeof buf, "DBT", 1));
  EXPECT_EQ(tmp.path() + "/data/level_2.DBT", std::string(buf));
}

TEST(NameCase, CurrentDirectoryKeepsItsCase) {
  TempDir tmp;
  tmp.make("WORK/");
  tmp.make("work/data/f.dbf");
  {
    ChangeDirectory cd(tmp.path() + "/WORK");
    EXPECT_EQ(tmp.path() + "/WORK/DATA/F.DBF", tableName("DATA/F"));
  }
  // A current directory that is not on disk in its own spelling is kept too,
  // and nothing below it is looked for elsewhere.
  tmp.make("gone/data/f.dbf");
  FakeCurrentDirectory cwd(tmp.path() + "/GONE");
  EXPECT_EQ(tmp.path() + "/GONE/DATA/F", fullName("DATA/F"));
}

TEST(NameCase, NormalizeResolvesAbsoluteNames) {
  TempDir tmp;
  tmp.make("data/level_1.dbf");
  const std::string t = tmp.path();
  struct Case {
    const char *name;
    std::string given;
    std::string expect;
  };
  const Case cases[] = {
      {"absolute is resolved", t + "/DATA/./x/../LEVEL_1.DBF", t + "/data/level_1.dbf"},
      {"relative is only normalised", "a//./B/../C\\", "a/C/"},
      {"leading dot-dot of a relative name goes", "../X", "X"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    char buf[1024];
    std::strcpy(buf, c.given.c_str());
    ASSERT_EQ(0, u4nameNormalize(buf, sizeof buf));
    EXPECT_EQ(c.expect, buf);
  }
}

TEST(NameCase, RemoveAndRenameFindTheFile) {
  TempDir tmp;
  tmp.make("data/level_1.dbf");
  tmp.make("data/a.txt");
  ChangeDirectory cd(tmp.path());
  MessageCapture messages;
  EXPECT_EQ(0, u4remove("DATA\\LEVEL_1.DBF"));
  EXPECT_FALSE(fs::exists(tmp.path() + "/data/level_1.dbf"));
  EXPECT_EQ(-1, u4remove("DATA\\LEVEL_1.DBF"));
  EXPECT_EQ(0, u4rename("Data/A.TXT", "DATA/B.txt"));
  EXPECT_TRUE(fs::exists(tmp.path() + "/data/B.txt"));
  EXPECT_FALSE(fs::exists(tmp.path() + "/data/a.txt"));
  EXPECT_EQ(-1, u4rename("data/none", "data/other"));
  EXPECT_TRUE(MessageCapture::shown().empty());
}

// ---------------------------------------------------------------------------
// Extensions

TEST(NameExtension, AddsOrReplaces) {
  struct Case {
    const char *given;
    const char *ext;
    int replace;
    const char *expect;
  };
  const Case cases[] = {
      {"NAME.TXT", "DBF", 0, "NAME.TXT"},
      {"NAME.TXT", "DBF", 1, "NAME.DBF"},
      {"DIR.X\\NAME", "DBF", 0, "DIR.X/NAME.DBF"},
      {"name  ", ".dbf", 0, "name.DBF"},
      {"data/level_1", "mdx", 1, "data/level_1.MDX"},
      {"a.b.c", "x", 1, "a.b.X"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.given);
    char buf[64];
    std::strcpy(buf, c.given);
    EXPECT_EQ(0, u4nameExt(buf, sizeof buf, c.ext, c.replace));
    EXPECT_STREQ(c.expect, buf);
  }
}

TEST(NameExtension, ExtensionThatDoesNotFitIsReported) {
  MessageCapture messages;
  char buf[8] = "NAME";
  EXPECT_EQ(err::kParm, u4nameExt(buf, 8, "DBF", 0));  // "NAME.DBF" needs 9
  EXPECT_TRUE(MessageCapture::reportedOnce(err::kParm));
  EXPECT_STREQ("NAME", buf);
  EXPECT_EQ(0, u4nameExt(buf, 8, "DB", 0));
  EXPECT_STREQ("NAME.DB", buf);
}

TEST(NameExtension, RemovesOnlyTheGivenExtension) {
  struct Case {
    const char *given;
    const char *ext;
    const char *expect;
  };
  const Case cases[] = {
      {"NAME.DBF ", "DBF", "NAME"},      {"name.dbf", ".DBF", "name"},  {"NAME.MDX", "DBF", "NAME.MDX"},
      {"NAME.DBFX", "DBF", "NAME.DBFX"}, {"NAME.DB", "DBF", "NAME.DB"}, {"DIR.DBF/NAME", "DBF", "DIR.DBF/NAME"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.given);
    char buf[64];
    std::strcpy(buf, c.given);
    u4nameRemoveGivenExtension(buf, c.ext);
    EXPECT_STREQ(c.expect, buf);
  }
}

std::vector<unsigned short> wide(const char *text) {
  std::vector<unsigned short> out(text, text + std::strlen(text) + 1);
  out.resize(32, 0);
  return out;
}

// A 16-bit name of ASCII characters, up to its terminator, as 8-bit text.
std::string narrow(const std::vector<unsigned short> &name) {
  std::string out;
  for (std::size_t i = 0; i < name.size() && name[i] != 0; ++i) out += static_cast<char>(name[i]);
  return out;
}

TEST(NameExtension, WideNamesFollowTheSameRulesWithoutUpperCase) {
  auto name = wide("dir.x\\name  ");
  EXPECT_EQ(0, u4nameExtWide(name.data(), 32, wide("dbf").data(), 0));
  EXPECT_EQ("dir.x/name.dbf", narrow(name));
  EXPECT_EQ(0, u4nameExtWide(name.data(), 32, wide(".mdx").data(), 1));
  EXPECT_EQ("dir.x/name.mdx", narrow(name));
  u4nameWideRemoveGivenExtension(name.data(), wide("MDX").data());
  EXPECT_EQ("dir.x/name", narrow(name));

  MessageCapture messages;
  EXPECT_EQ(err::kParm, u4nameExtWide(name.data(), 14, wide("dbf").data(), 0));  // needs 15
  EXPECT_TRUE(MessageCapture::reportedOnce(err::kParm));
  EXPECT_EQ("dir.x/name", narrow(name));
}

// ---------------------------------------------------------------------------
// Pieces of names

TEST(NamePiece, CutsPathAndExtension) {
  struct Case {
    const char *given;
    int keepPath;
    int keepExtension;
    unsigned size;
    const char *expect;
  };
  const Case cases[] = {
      {"/A/B.DBF", 0, 0, 64, "B"},          {"/A/B.DBF", 0, 1, 64, "B.DBF"},   {"/A/B.DBF", 1, 0, 64, "/A/B"},
      {"\\a\\b.dbf", 1, 1, 64, "/a/b.dbf"}, {"DIR.X\\name", 0, 0, 64, "name"}, {"DIR.X\\name", 1, 0, 64, "DIR.X/name"},
      {"/A/LONGNAME.DBF", 0, 1, 5, "LONG"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.given);
    char buf[64];
    EXPECT_EQ(0, u4namePiece(buf, c.size, c.given, c.keepPath, c.keepExtension));
    EXPECT_STREQ(c.expect, buf);
  }
}

TEST(NamePiece, PathAndPathSpecial) {
  struct Case {
    const char *given;
    const char *path;
    const char *special;
  };
  const Case cases[] = {
      {"/A/B.DBF", "/A/", "/A"},
      {"B.DBF", "", ""},
      {"/B", "/", "/"},
      {"A\\B", "A/", "A"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.given);
    char buf[64];
    EXPECT_EQ(std::strlen(c.path), u4namePath(buf, sizeof buf, c.given));
    EXPECT_STREQ(c.path, buf);
    EXPECT_EQ(std::strlen(c.special), u4namePathSpecial(buf, sizeof buf, c.given));
    EXPECT_STREQ(c.special, buf);
  }
  char small[3];
  EXPECT_EQ(2u, u4namePath(small, sizeof small, "/abc/d"));
  EXPECT_STREQ("/a", small);
}

TEST(NamePiece, FindFileNameSkipsOneSeparator) {
  const char *name = "/a\\b";
  EXPECT_STREQ("a\\b", u4nameFindFileName(name, 0));
  EXPECT_STREQ("a\\b", u4nameFindFileName(name, 1));
  EXPECT_STREQ("b", u4nameFindFileName(name, 2));
  EXPECT_STREQ("", u4nameFindFileName(name, 40));
}

TEST(NamePiece, NameCharacters) {
  for (int ch : {'a', 'Z', '5', '&', '@', '_'}) EXPECT_EQ(1, u4nameChar(static_cast<unsigned char>(ch))) << ch;
  for (int ch : std::initializer_list<int>{' ', '.', '-', '/', '\\', '(', 0, 0xE9})
    EXPECT_EQ(0, u4nameChar(static_cast<unsigned char>(ch))) << ch;
}

// ---------------------------------------------------------------------------
// Combining names

TEST(NameCombine, MakeFindDrive) {
  struct Case {
    const char *dir;
    const char *name;
    const char *expect;
  };
  const Case cases[] = {
      {"/d", "x", "/d/x"},
      {"/d/", "x", "/d/x"},
      {"\\d\\e", "x\\y", "/d/e/x/y"},
      {"/d", "/y", "/y"},
      {"/d", "\\\\srv\\x", "//srv/x"},
      {"", "x", "x"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.dir) + " + " + c.name);
    char buf[64];
    EXPECT_EQ(0, u4nameMakeFindDrive(buf, sizeof buf, c.dir, c.name));
    EXPECT_STREQ(c.expect, buf);
  }
  char small[4] = "old";
  EXPECT_EQ(-1, u4nameMakeFindDrive(small, sizeof small, "/d", "x"));
  EXPECT_STREQ("old", small);
}

TEST(NameCombine, CreateMultiDirectories) {
  // Directories that exist nowhere, so that resolution keeps them as written.
  struct Case {
    const char *name;
    const char *first;
    const char *second;
    const char *expect;
  };
  const Case cases[] = {
      {"x.dbf", "/tk-none/b/t.dbf", "/tk-none/c/", "/tk-none/b/x.dbf"},
      {"x", "sub/t", "/tk-none/d/", "/tk-none/d/sub/x"},
      {"x", "../t", "/tk-none/d/e", "/tk-none/x"},
      {"/tk-none/y", "/tk-none/b/", "/tk-none/c/", "/tk-none/y"},
      {"x", "t", "u", "x"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    char buf[64];
    EXPECT_EQ(0, u4nameCreateMultiDirectories(buf, sizeof buf, c.name, c.first, c.second));
    EXPECT_STREQ(c.expect, buf);
  }
  char small[8];
  EXPECT_EQ(-1, u4nameCreateMultiDirectories(small, sizeof small, "x", "/tk-none/b/", nullptr));
}

// ---------------------------------------------------------------------------
// Small utilities

TEST(NameUtility, Ncpy) {
  struct Case {
    unsigned size;
    const char *expect;
  };
  const Case cases[] = {{1, ""}, {4, "abc"}, {7, "abcdef"}, {10, "abcdef"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.size);
    char buf[16];
    std::memset(buf, 'z', sizeof buf);
    EXPECT_EQ(std::strlen(c.expect), u4ncpy(buf, "abcdef", c.size));
    EXPECT_STREQ(c.expect, buf);
    EXPECT_EQ('z', buf[c.size]);
  }
  MessageCapture messages;
  char buf[4] = "old";
  EXPECT_EQ(0u, u4ncpy(buf, "abc", 0));
  EXPECT_TRUE(MessageCapture::reportedOnce(err::kParm));
  EXPECT_STREQ("old", buf);
}

TEST(NameUtility, Trim) {
  struct Case {
    const char *given;
    const char *expect;
  };
  const Case cases[] = {{"ab  ", "ab"}, {"   ", ""}, {" a b", " a b"}, {"", ""}};
  for (const Case &c : cases) {
    char buf[16];
    std::strcpy(buf, c.given);
    u4trim(buf);
    EXPECT_STREQ(c.expect, buf) << '"' << c.given << '"';
  }
}

class FakeTime {
 public:
  explicit FakeTime(int year) {
    fakeYear() = year;
    platform::methods().localTime = [](platform::LocalTime *out) {
      *out = platform::LocalTime{fakeYear(), 3, 9, 12, 0, 0, 0};
    };
  }
  ~FakeTime() { platform::methods().localTime = platform::defaultMethods().localTime; }

 private:
  static int &fakeYear() {
    static int year;
    return year;
  }
};

TEST(NameUtility, TodayAsHeaderBytes) {
  struct Case {
    int year;
    unsigned char first;
  };
  const Case cases[] = {{2026, 126}, {1999, 99}, {2156, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.year);
    FakeTime time(c.year);
    char ymd[3];
    u4yymmdd(ymd);
    EXPECT_EQ(c.first, static_cast<unsigned char>(ymd[0]));
    EXPECT_EQ(3, ymd[1]);
    EXPECT_EQ(9, ymd[2]);
  }
}

TEST(NameUtility, EnvironmentLookup) {
  ::setenv("TK_NAMES_TEST_VALUE", "abc", 1);
  EXPECT_STREQ("abc", u4environment(nullptr, "TK_NAMES_TEST_VALUE", 1));
  ::unsetenv("TK_NAMES_TEST_VALUE");
  MessageCapture messages;
  EXPECT_EQ(nullptr, u4environment(nullptr, "TK_NAMES_TEST_VALUE", 0));
  EXPECT_TRUE(MessageCapture::shown().empty());
}

TEST(NameUtilityDeathTest, MissingRequiredEnvironmentEndsTheProcess) {
  ::unsetenv("TK_NAMES_TEST_VALUE");
  EXPECT_EXIT(u4environment(nullptr, "TK_NAMES_TEST_VALUE", 1), ::testing::ExitedWithCode(kFatalExitStatus),
              "TK_NAMES_TEST_VALUE(.|\n)*EXITING APPLICATION");
}

TEST(NameUtility, CstringCopies) {
  char *copy = v4Cstring("level_1");
  ASSERT_NE(nullptr, copy);
  EXPECT_STREQ("level_1", copy);
  v4Cstringfree(copy);
  EXPECT_EQ(nullptr, v4Cstring(nullptr));
}

}  // namespace
}  // namespace tablekit
