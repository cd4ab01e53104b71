// Case-insensitive resolution of names against what is on disk.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tablekit::platform {
namespace {

namespace fs = std::filesystem;

// A fresh directory holding the given entries (a final '/' makes a
// directory, anything else an empty file), removed at the end of the test.
class Tree {
 public:
  explicit Tree(std::initializer_list<const char *> entries) {
    std::string pattern = (fs::temp_directory_path() / "paths-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) != nullptr) root_ = buf.data();
    for (std::string e : entries) {
      fs::path p = fs::path(root_) / e;
      if (e.back() == '/') {
        fs::create_directories(p);
      } else {
        fs::create_directories(p.parent_path());
        std::ofstream(p.string()).put('x');
      }
    }
  }
  ~Tree() {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }
  const std::string &root() const { return root_; }

 private:
  std::string root_;
};

TEST(ResolveCase, FindsEntriesWhateverTheirCase) {
  Tree tree({"data/level_1.dbf", "data/Case.dbf", "data/case.dbf", "Mixed/Sub/"});
  const std::string r = tree.root();
  struct Case {
    const char *name;
    const char *given;   // under the tree
    const char *expect;  // under the tree
  };
  const Case cases[] = {
      {"every component resolved", "\\DATA\\LEVEL_1.DBF", "/data/level_1.dbf"},
      {"exact spelling kept", "/data/level_1.dbf", "/data/level_1.dbf"},
      {"exact wins over a variant", "/data/case.dbf", "/data/case.dbf"},
      {"first variant in byte order", "/DATA/CASE.DBF", "/data/Case.dbf"},
      {"missing tail kept as given", "/DATA/New/x.DBF", "/data/New/x.DBF"},
      {"final separator kept", "/mixed/SUB/", "/Mixed/Sub/"},
      {"repeated separator kept", "/DATA//LEVEL_1.DBF", "/data//level_1.dbf"},
      {"nothing below a file", "/DATA/LEVEL_1.DBF/more", "/data/level_1.dbf/more"},
      {"dot components pass through", "/DATA/../Data/./LEVEL_1.DBF", "/data/../data/./level_1.dbf"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(r + c.expect, resolveCase(r + c.given));
  }
}

TEST(ResolveCase, RelativeNameOnlyGetsSlashes) {
  EXPECT_EQ("DATA/LEVEL_1", resolveCase("DATA\\LEVEL_1"));
  EXPECT_EQ("", resolveCase(""));
  EXPECT_EQ("/", resolveCase("\\"));
}

// A directory that cannot be listed (search permission only) is replaced by
// one whose listing fails, whoever runs the test.
class UnlistableDirectory {
 public:
  explicit UnlistableDirectory(const std::string &dir) {
    locked() = dir;
    methods().listDirectory = [](const char *d, int (*visit)(const char *, void *), void *ctx) {
      if (locked() == d) return EACCES;
      return defaultMethods().listDirectory(d, visit, ctx);
    };
  }
  ~UnlistableDirectory() { methods().listDirectory = defaultMethods().listDirectory; }

 private:
  static std::string &locked() {
    static std::string dir;
    return dir;
  }
};

TEST(ResolveCase, UnlistableDirectoryStillFindsExactSpelling) {
  Tree tree({"locked/inner/f.dbf"});
  const std::string r = tree.root();
  UnlistableDirectory guard(r + "/locked");
  EXPECT_EQ(r + "/locked/inner/f.dbf", resolveCase(r + "/LOCKED/inner/F.DBF"));
  EXPECT_EQ(r + "/locked/INNER/F.DBF", resolveCase(r + "/LOCKED/INNER/F.DBF"));
}

}  // namespace
}  // namespace tablekit::platform
