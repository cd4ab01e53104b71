// Every public 835 interchange of ../shared/interop/835 loaded by remitex into
// the default table set, and checked against independent readers: Debian's
// X12::Parser (libx12-parser-perl) says how many records each table should
// hold and what the amounts add up to (tests/x12_counts.pl); python3-dbfread
// reads the tables back (tests/dbf_summary.py) and Perl XBase reads every
// record of them (tests/xbase_summary.pl). The files are read where they lie.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_tables.h"

namespace {

namespace fs = std::filesystem;

std::string sourceDir() { return TK_TEST_SOURCE_DIR; }
std::string interopDir() { return sourceDir() + "/../shared/interop/835"; }
std::string python() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }
std::string quoted(const std::string &text) { return "'" + text + "'"; }

// Runs a shell command; its standard output goes to *out. The exit status,
// or -1 when it did not exit.
int capture(const std::string &command, std::string *out) {
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  out->clear();
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out->append(buffer, got);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// "KEY VALUE" lines as a map; VERSION lines are gathered into a set.
struct Summary {
  std::map<std::string, long long> values;
  std::set<std::string> versions;
};
Summary parseSummary(const std::string &text) {
  Summary summary;
  std::istringstream lines(text);
  std::string key, value;
  while (lines >> key >> value) {
    if (key == "VERSION") {
      summary.versions.insert(value);
    } else {
      summary.values[key] = std::stoll(value);
    }
  }
  return summary;
}

std::string readBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class InteropLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string &probe :
         std::vector<std::string>{"perl -MX12::Parser -e 1", python() + " -c 'import dbfread'", "perl -MXBase -e 1"}) {
      std::string ignored;
      ASSERT_EQ(capture(probe + " 2>&1", &ignored), 0) << probe << ": run scripts/install-deps.sh";
    }
  }

  // A fresh working directory with the default table set, the interchange
  // and, unless empty, a version list; returns remitex's exit status.
  int load(const fs::path &dir, const std::string &interchange, const std::string &versions) {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    fs::create_directories(dir);
    EXPECT_EQ(remitex::testing::makeTables(dir / "DATA", remitex::testing::defaultLayout(sourceDir())), "");
    std::ofstream(dir / "REMITEX.DAT", std::ios::binary) << interchange;
    if (!versions.empty()) std::ofstream(dir / "REMITEX.VER") << versions;
    const std::string command =
        "cd " + quoted(dir.string()) + " && " + quoted(REMITEX_PATH) + " 2>" + quoted(dir.string() + ".stderr");
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(InteropLoadTest, EveryInterchangeLoadsAsAnIndependentParserReadsIt) {
  // Interchanges whose first functional group is not a payment/advice (GS01
  // not HP) are rejected by the envelope check and cannot load.
  const std::set<std::string> rejected = {"4010-caret-segment-terminator-malformed.835",
                                          "4010-mixed-groups-multi-gs-multi-isa.835"};
  const std::vector<std::string> compared = {"LEVEL_1", "LEVEL_2", "LEVEL_3", "LEVEL_4",    "LEVEL_5",   "LEVEL_6",
                                             "CAS",     "PLB",     "REF",     "LQ",         "CLP03",     "CLP04",
                                             "SVC02",   "CAS_AMOUNT", "PLB_AMOUNT"};
  std::string pattern = (fs::temp_directory_path() / "remitex_interop_XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path root = pattern;
  int loaded = 0;
  for (const auto &entry : fs::directory_iterator(interopDir())) {
    if (entry.path().extension() != ".835") continue;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    // A byte order mark before "ISA" is not part of the interchange.
    std::string interchange = readBytes(entry.path());
    if (interchange.rfind("\xEF\xBB\xBF", 0) == 0) interchange.erase(0, 3);
    const fs::path dir = root / entry.path().stem();
    if (rejected.count(name) != 0) {
      EXPECT_EQ(load(dir, interchange, "4010,3051,5010"), 4);
      continue;
    }

    std::string text;
    ASSERT_EQ(capture("perl " + quoted(sourceDir() + "/tests/x12_counts.pl") + " " + quoted(entry.path().string()),
                      &text),
              0);
    const Summary expected = parseSummary(text);

    // The default version list admits 4010 and 3051 only.
    bool defaultListed = true;
    for (const std::string &version : expected.versions) defaultListed &= version == "4010" || version == "3051";
    EXPECT_EQ(load(dir, interchange, ""), defaultListed ? 0 : 6);

    // A list that admits every version of the corpus (9999 is a masked one).
    ASSERT_EQ(load(dir, interchange, "4010,3051,5010,9999"), 0) << readBytes(dir.string() + ".stderr");
    ++loaded;
    ASSERT_EQ(capture(python() + " " + quoted(sourceDir() + "/tests/dbf_summary.py") + " " +
                          quoted((dir / "DATA").string()),
                      &text),
              0);
    const Summary read = parseSummary(text);
    for (const std::string &key : compared) {
      EXPECT_EQ(read.values.at(key), expected.values.at(key)) << key;
    }
    EXPECT_EQ(read.values.at("ORPHANS"), 0);

    ASSERT_EQ(capture("perl " + quoted(sourceDir() + "/tests/xbase_summary.pl") + " " +
                          quoted((dir / "DATA").string()),
                      &text),
              0);
    const Summary xbase = parseSummary(text);
    for (int n = 1; n <= 6; ++n) {
      const std::string table = "LEVEL_" + std::to_string(n);
      EXPECT_EQ(xbase.values.at(table), read.values.at(table)) << table;
    }
  }
  EXPECT_GE(loaded, 20);
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

}  // namespace
