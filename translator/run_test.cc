// Tests of whole translator runs: the remitex program runs as a child process
// in a fresh working directory per case, over the default table set; the exit
// status, the run log (byte for byte, time stamp aside), the marker file and
// the tables are checked for every way a run ends, and over the public 835
// interchanges of the interop corpus.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tablekit.h"
#include "test_tables.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;
using remitex::testing::DbfTable;
using remitex::testing::readDbf;

std::string envOr(const char *name, const std::string &fallback) {
  const char *value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

std::string remitexPath() { return REMITEX_PATH; }
std::string sourceDir() { return TK_TEST_SOURCE_DIR; }
std::string interopDir() { return sourceDir() + "/../shared/interop/835"; }

std::string readBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The log's second line starts with the run's start time, "%Y%m%d %H:%M"
// (14 characters). It is checked for its shape and replaced by a fixed text.
constexpr char kTitle[] = "REMITEX Translator Report - REMITEX.LOG\n";
constexpr char kStampShape[] = "99999999 99:99";
std::string withoutTimeStamp(std::string log) {
  const size_t at = sizeof kTitle - 1;
  if (log.compare(0, at, kTitle) != 0 || log.size() < at + 14) return log;
  for (size_t i = 0; i < 14; ++i) {
    const char shape = kStampShape[i], c = log[at + i];
    if (shape == '9' ? !std::isdigit(static_cast<unsigned char>(c)) : c != shape) return log;
  }
  return log.replace(at, 14, "CCYYMMDD HH:MM");
}

const std::string kHeader = std::string(kTitle) + "CCYYMMDD HH:MM \nTranslate/Import REMITEX\n\n";
const std::string kTablesReady = kHeader + "    Opening Data Files\n    Removing Old Data\n";
const std::string kTranslating = kTablesReady + "    Translate %: ";
const std::string kComplete = kTranslating + " 100\n    Indexing LEVEL_2 - ";
const std::string kIsaRejected = kHeader + "REMITEX.DAT rejected - file does not begin with \"ISA\" ";
const std::string kGs01Rejected =
    kTranslating + "REMITEX.DAT rejected - not an REMITEX file, Functional Identifier (GS01) not = HP";

// A small accepted interchange with the given GS01, GS08 and ST01.
std::string interchange(const std::string &gs01 = "HP", const std::string &gs08 = "004010X091A1",
                        const std::string &st01 = "835") {
  return "ISA*00*          *00*          *ZZ*PAYER          *ZZ*CLINIC         "
         "*991231*1200*U*00401*000000001*0*T*:~\n"
         "GS*" + gs01 + "*PAYER*CLINIC*19991231*1200*1*X*" + gs08 + "~\n"
         "ST*" + st01 + "*0001~\nBPR*I*10*C*CHK************19991231~\n"
         "CLP*A1*1*10*10**MC*1~\nDTM*232*991201***19~\nSE*5*0001~\nGE*1*1~\nIEA*1*000000001~\n";
}

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "remitex_run_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ASSERT_EQ(remitex::testing::makeTables(dir_ / "DATA", remitex::testing::defaultLayout(sourceDir())), "");
    fileSizeLimit_ = 0;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    fs::remove(errorPath(), ignored);
  }

  void write(const std::string &name, const std::string &bytes) {
    std::ofstream out(dir_ / name, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good());
  }
  std::string read(const std::string &name) { return readBytes(dir_ / name); }
  bool exists(const std::string &name) {
    return fs::symlink_status(dir_ / name).type() != fs::file_type::not_found;
  }

  // Entries of the working directory whose names match without regard to case.
  std::vector<std::string> entriesLike(const std::string &name) {
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(dir_)) {
      const std::string entryName = entry.path().filename().string();
      if (strcasecmp(entryName.c_str(), name.c_str()) == 0) found.push_back(entryName);
    }
    return found;
  }

  // Runs remitex in the working directory with `extraEnv` added to the
  // environment; returns its exit status, or -1 when it did not exit. Its
  // standard error goes to errorPath().
  int run(const std::vector<std::string> &extraEnv = {}) {
    const std::string program = remitexPath();
    // The added variables replace those of the same name.
    auto nameOf = [](const std::string &entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> env = extraEnv;
    for (char **e = environ; *e != nullptr; ++e) {
      bool replaced = false;
      for (const std::string &extra : extraEnv) replaced |= nameOf(extra) == nameOf(*e);
      if (!replaced) env.emplace_back(*e);
    }
    std::vector<char *> envp;
    for (std::string &e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char *argv[] = {const_cast<char *>(program.c_str()), nullptr};
    const std::string errors = errorPath().string();
    const pid_t child = fork();
    if (child == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(126);
      const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err < 0 || dup2(err, 2) < 0) _exit(126);
      if (fileSizeLimit_ > 0) {
        // A file may not grow beyond the limit: writes past it fail (EFBIG)
        // instead of ending the process.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {fileSizeLimit_, fileSizeLimit_};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
      }
      execve(program.c_str(), argv, envp.data());
      _exit(127);
    }
    int wstatus = 0;
    if (child < 0 || waitpid(child, &wstatus, 0) != child) return -1;
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  }

  // What the last run wrote to standard error.
  std::string errorOutput() { return readBytes(errorPath()); }
  fs::path errorPath() const { return dir_.string() + ".stderr"; }

  DbfTable level(int n) { return readDbf(dir_ / "DATA" / ("LEVEL_" + std::to_string(n) + ".DBF")); }
  // Record counts of LEVEL_1 to LEVEL_6 as their headers give them; a table
  // whose header disagrees with the records present counts -1.
  std::vector<long> levelCounts() {
    std::vector<long> counts;
    for (int n = 1; n <= 6; ++n) {
      const DbfTable table = level(n);
      counts.push_back(table.valid && table.headerCount == table.recordsPresent ? static_cast<long>(table.headerCount)
                                                                               : -1);
    }
    return counts;
  }

  fs::path dir_;
  rlim_t fileSizeLimit_ = 0;  // the children's file size limit; 0: none
};

// Every exit status of a run, from the working directory it starts in.
TEST_F(RunTest, ExitStatusesAndTheirLogs) {
  struct Case {
    const char *name;
    std::map<std::string, std::string> files;
    int status;
    const std::string *log;  // null: no log is created
  };
  const std::string shortIsa = "ISA*00*          *00*          *ZZ*PAYER*ZZ*CLINIC*991231";
  const Case cases[] = {
      {"accepted", {{"REMITEX.DAT", interchange()}}, 0, &kComplete},
      {"lower-case input name", {{"remitex.dat", interchange()}}, 0, &kComplete},
      {"3051 in the default list", {{"REMITEX.DAT", interchange("HP", "003051")}}, 0, &kComplete},
      {"no input", {{"REMITEX.OK", "OK"}}, 1, nullptr},
      {"not ISA", {{"REMITEX.DAT", "GS*HP*X~"}}, 4, &kIsaRejected},
      {"two bytes", {{"REMITEX.DAT", "IS"}}, 4, &kIsaRejected},
      {"empty input", {{"REMITEX.DAT", ""}}, 4, &kIsaRejected},
      {"byte order mark before ISA", {{"REMITEX.DAT", "\xEF\xBB\xBF" + interchange()}}, 4,
       &kIsaRejected},
      {"ISA shorter than sixteen elements", {{"REMITEX.DAT", shortIsa}}, 4, &kTablesReady},
      {"GS01 not HP", {{"REMITEX.DAT", interchange("HC")}}, 4, &kGs01Rejected},
      {"ST01 not 835", {{"REMITEX.DAT", interchange("HP", "004010X091A1", "8350")}}, 4,
       &kTranslating},
      {"version not listed", {{"REMITEX.DAT", interchange()}, {"REMITEX.VER", "5010"}}, 6,
       &kTranslating},
      {"version list of another case", {{"REMITEX.DAT", interchange()}, {"remitex.ver", "5010"}}, 6,
       &kTranslating},
      {"version listed", {{"REMITEX.DAT", interchange("HP", "005010X221A1")}, {"REMITEX.VER", "5010\n"}},
       0, &kComplete},
      {"short GS08", {{"REMITEX.DAT", interchange("HP", "00401")}, {"REMITEX.VER", "4010,401"}}, 6,
       &kTranslating},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    write("REMITEX.OK", "OK from an earlier run");
    for (const auto &[name, bytes] : c.files) write(name, bytes);

    EXPECT_EQ(run(), c.status);
    const std::vector<std::string> logs = entriesLike("REMITEX.LOG");
    if (c.log == nullptr) {
      EXPECT_TRUE(logs.empty());
    } else {
      ASSERT_EQ(logs, std::vector<std::string>{"REMITEX.LOG"});
      EXPECT_EQ(withoutTimeStamp(read("REMITEX.LOG")), *c.log);
    }
    if (c.status == 0) {
      EXPECT_EQ(entriesLike("REMITEX.OK"), std::vector<std::string>{"REMITEX.OK"});
      EXPECT_EQ(read("REMITEX.OK"), "OK");
    } else {
      EXPECT_TRUE(entriesLike("REMITEX.OK").empty());
    }
  }
}

TEST_F(RunTest, LogThatCannotBeCreated) {
  write("REMITEX.OK", "OK");
  write("REMITEX.DAT", interchange());
  ASSERT_TRUE(fs::create_directory(dir_ / "REMITEX.LOG"));
  EXPECT_EQ(run(), 2);
  EXPECT_TRUE(fs::is_empty(dir_ / "REMITEX.LOG"));
  EXPECT_FALSE(exists("REMITEX.OK"));
}

// The access test passes on "remitex.dat" while "REMITEX.DAT", found by its
// exact name first, is a link to nothing and cannot be opened.
TEST_F(RunTest, InputThatCannotBeOpened) {
  write("REMITEX.OK", "OK");
  write("remitex.dat", interchange());
  fs::create_symlink(dir_ / "missing", dir_ / "REMITEX.DAT");
  EXPECT_EQ(run(), 3);
  EXPECT_EQ(withoutTimeStamp(read("REMITEX.LOG")), kHeader);
  EXPECT_FALSE(exists("REMITEX.OK"));
}

TEST_F(RunTest, StreamBufferThatCannotBeSet) {
  write("REMITEX.DAT", interchange());
  const std::string asan = envOr("ASAN_OPTIONS", "");
  EXPECT_EQ(run({"LD_PRELOAD=" SETVBUF_FAIL_PATH, "REMITEX_FAIL_SETVBUF=1",
                 "ASAN_OPTIONS=" + asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0"}),
            5);
  EXPECT_EQ(withoutTimeStamp(read("REMITEX.LOG")), kTablesReady);
  EXPECT_FALSE(exists("REMITEX.OK"));
}

// Files of the run are found whatever the case of their names; an old log
// under another case is written over, not joined by a second one.
TEST_F(RunTest, FilesOfAnyCase) {
  write("Remitex.Dat", interchange());
  write("remitex.log", "old log");
  write("remitex.ok", "OK");
  write("ReMiTeX.oK", "OK");
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(entriesLike("REMITEX.LOG"), std::vector<std::string>{"remitex.log"});
  EXPECT_EQ(withoutTimeStamp(read("remitex.log")), kComplete);
  EXPECT_EQ(entriesLike("REMITEX.OK"), std::vector<std::string>{"REMITEX.OK"});
}

// The sample: one interchange, one transaction set, one header number,
// three claims, five service lines and 19 details (9 REF, 8 CAS, 1 LQ and
// one PLB pair). A second run replaces the records of the first.
TEST_F(RunTest, ShippedSample) {
  write("REMITEX.DAT", readBytes(sourceDir() + "/sample/REMITEX.DAT"));
  const std::vector<long> counts = {1, 1, 1, 3, 5, 19};
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE(pass);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(withoutTimeStamp(read("REMITEX.LOG")), kComplete);
    EXPECT_EQ(levelCounts(), counts);
  }
  const DbfTable claims = level(4), lines = level(5), details = level(6);
  ASSERT_EQ(claims.records.size(), 3u);
  EXPECT_EQ(claims.records[1].at("CLP01"), "MSC10022");
  EXPECT_EQ(claims.records[1].at("CLP04"), "226.35");
  EXPECT_EQ(claims.records[1].at("NM103_QC"), "TEALWOOD");
  EXPECT_EQ(claims.records[1].at("DTM02_232"), "20240305");
  ASSERT_EQ(lines.records.size(), 5u);
  EXPECT_EQ(lines.records[4].at("SVC01_2"), "97110");
  EXPECT_EQ(lines.records[4].at("SVC01_3"), "GP");
  EXPECT_EQ(lines.records[4].at("L4_PTR"), "3");
  EXPECT_EQ(lines.records[0].at("DTM02_472"), "20240301");
  const auto &plb = details.records.back();
  EXPECT_EQ(plb.at("RECORD"), "PLB");
  EXPECT_EQ(plb.at("LEVEL"), "2");
  EXPECT_EQ(plb.at("GROUP"), "L6");
  EXPECT_EQ(plb.at("CODE"), "INTEREST");
  EXPECT_EQ(plb.at("AMOUNT"), "-2.15");
  EXPECT_EQ(plb.at("PLBDATE"), "20241231");
}

// The 5010 sample loads once the version list admits 5010; the default list
// rejects it at its group header.
TEST_F(RunTest, ShippedSample5010) {
  write("REMITEX.DAT", readBytes(sourceDir() + "/sample/REMITEX-5010.DAT"));
  EXPECT_EQ(run(), 6);
  EXPECT_EQ(withoutTimeStamp(read("REMITEX.LOG")), kTranslating);
  write("REMITEX.VER", "4010,3051,5010\n");
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(withoutTimeStamp(read("REMITEX.LOG")), kComplete);
  EXPECT_EQ(levelCounts(), (std::vector<long>{1, 1, 1, 3, 5, 26}));
  const DbfTable groups = level(2), claims = level(4);
  EXPECT_EQ(groups.records.at(0).at("ST03"), "005010X221A1");
  EXPECT_EQ(groups.records.at(0).at("PER04_BL"), "8005550143");
  EXPECT_EQ(groups.records.at(0).at("PER04_IC"), "WWW.NORTHWIND.EXAMPLE/PROVIDERS");
  EXPECT_EQ(groups.records.at(0).at("RDM01"), "EM");
  EXPECT_EQ(claims.records.at(1).at("NM103_TT"), "STATE MEDICAID AGENCY");
  EXPECT_EQ(claims.records.at(1).at("MIA04"), "820.00");
  EXPECT_EQ(claims.records.at(2).at("CLP03"), "-160.00");
}

// An interchange with `claims` claims of one service line and `adjustments`
// CAS segments each.
std::string manyClaims(int claims, int adjustments) {
  std::string text = interchange();
  const size_t end = text.find("SE*");
  std::string body = "LX*1~\n";
  for (int c = 1; c <= claims; ++c) {
    body += "CLP*C" + std::to_string(c) + "*1*10*5**MC*1~\nSVC*HC:99213*10*5~\n";
    for (int a = 0; a < adjustments; ++a) body += "CAS*CO*45*1~\n";
  }
  return text.insert(end, body);
}

// An engine error during the load (here: the disk refuses to let a table
// grow) means records are missing: the log names the error, no marker is
// written, the status is 7, and the tables are closed with headers that count
// the records they hold.
TEST_F(RunTest, EngineErrorDuringTheLoad) {
  write("REMITEX.DAT", manyClaims(50, 20));
  fileSizeLimit_ = 64 * 1024;
  EXPECT_EQ(run(), 7);
  const std::string log = withoutTimeStamp(read("REMITEX.LOG"));
  ASSERT_EQ(log.compare(0, kTranslating.size(), kTranslating), 0) << log;
  const std::string failure = log.substr(kTranslating.size());
  EXPECT_EQ(failure.rfind("\n    Load failed - error -", 0), 0u) << failure;
  EXPECT_EQ(failure.back(), '\n');
  EXPECT_FALSE(exists("REMITEX.OK"));
  EXPECT_NE(errorOutput().find("TABLEKIT ERROR"), std::string::npos);
  // Whatever reached the disk, no header counts a record that is not there.
  for (int n = 1; n <= 6; ++n) {
    SCOPED_TRACE(n);
    const DbfTable table = level(n);
    ASSERT_TRUE(table.valid);
    EXPECT_LE(table.headerCount, table.recordsPresent);
  }
  EXPECT_LT(level(6).recordsPresent, 1000u);
}

// Early exits after the tables are open close them: their headers count the
// records appended before the exit (the first group of two; the second
// group's version is not listed).
TEST_F(RunTest, EarlyExitClosesTheTables) {
  std::string text = manyClaims(2, 1);
  const size_t end = text.find("IEA*");
  text.insert(end, "GS*HP*PAYER*CLINIC*19991231*1200*2*X*005010X221A1~\nST*835*0002~\nSE*2*0002~\nGE*1*2~\n");
  write("REMITEX.DAT", text);
  EXPECT_EQ(run(), 6);
  EXPECT_EQ(withoutTimeStamp(read("REMITEX.LOG")), kTranslating);
  EXPECT_EQ(levelCounts(), (std::vector<long>{0, 1, 1, 3, 2, 2}));
}

// A level table open in another process cannot be opened exclusively: the
// run ends through the engine's fatal exit before anything is emptied.
TEST_F(RunTest, TableOpenElsewhere) {
  write("REMITEX.DAT", readBytes(sourceDir() + "/sample/REMITEX.DAT"));
  ASSERT_EQ(run(), 0);
  CODE4 cb;
  code4initLow(&cb, 0, TK_HEADER_VERSION, sizeof(CODE4), 1);
  c4setAccessMode(&cb, 0);
  c4setAutoOpen(&cb, 0);
  DATA4 *held = d4open(&cb, (dir_ / "DATA" / "LEVEL_3").c_str());
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(run(), 9);
  d4close(held);
  code4initUndo(&cb);
  EXPECT_EQ(withoutTimeStamp(read("REMITEX.LOG")), kHeader + "    Opening Data Files\n");
  EXPECT_NE(errorOutput().find("EXITING APPLICATION"), std::string::npos);
  EXPECT_FALSE(exists("REMITEX.OK"));
  EXPECT_EQ(levelCounts(), (std::vector<long>{1, 1, 1, 3, 5, 19}));
}

// The other tables of the installation are known by name but never touched.
TEST_F(RunTest, OtherTablesUntouched) {
  write("REMITEX.DAT", readBytes(sourceDir() + "/sample/REMITEX.DAT"));
  ASSERT_EQ(run(), 0);
  std::map<std::string, std::string> before;
  for (const char *name : {"INTERMED", "PROVIDER", "EXPORT"}) {
    fs::copy_file(dir_ / "DATA" / "LEVEL_4.DBF", dir_ / "DATA" / (std::string(name) + ".DBF"));
    before[name] = readBytes(dir_ / "DATA" / (std::string(name) + ".DBF"));
  }
  const auto stamp = fs::last_write_time(dir_ / "DATA" / "EXPORT.DBF");
  write("REMITEX.DAT", interchange());
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(levelCounts(), (std::vector<long>{1, 1, 0, 1, 0, 0}));
  for (const auto &[name, bytes] : before) {
    EXPECT_EQ(readBytes(dir_ / "DATA" / (name + ".DBF")), bytes) << name;
  }
  EXPECT_EQ(fs::last_write_time(dir_ / "DATA" / "EXPORT.DBF"), stamp);
}

// Every interchange of the interop corpus, with a version list that admits
// 4010, 3051 and 5010. The outcomes other than a complete run follow from the
// envelope rules: a byte order mark hides "ISA"; a group whose GS01 is not HP
// is rejected; a GS08 masked to 999999X999X9 names version 9999.
TEST_F(RunTest, InteropCorpus) {
  const std::map<std::string, std::pair<int, const std::string *>> notComplete = {
      {"4010-ashtabula-nine-claims-plb-lq.835", {4, &kIsaRejected}},
      {"5010a1-three-isa-deidentified-bom-crlf.835", {4, &kIsaRejected}},
      {"4010-caret-segment-terminator-malformed.835", {4, &kGs01Rejected}},
      {"4010-mixed-groups-multi-gs-multi-isa.835", {4, &kGs01Rejected}},
      {"4010-deidentified-single-st-96-claims.835", {6, &kTranslating}},
      {"4010-deidentified-six-st-large.835", {6, &kTranslating}},
  };
  ASSERT_TRUE(fs::is_directory(interopDir())) << interopDir();
  for (const auto &[name, outcome] : notComplete) {
    EXPECT_TRUE(fs::exists(fs::path(interopDir()) / name)) << name;
  }
  int files = 0;
  for (const auto &entry : fs::directory_iterator(interopDir())) {
    if (entry.path().extension() != ".835") continue;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ++files;
    TearDown();
    SetUp();
    write("REMITEX.DAT", readBytes(entry.path()));
    write("REMITEX.VER", "4010,3051,5010");
    const auto found = notComplete.find(name);
    const int status = found == notComplete.end() ? 0 : found->second.first;
    const std::string &log = found == notComplete.end() ? kComplete : *found->second.second;
    EXPECT_EQ(run(), status);
    EXPECT_EQ(withoutTimeStamp(read("REMITEX.LOG")), log);
    EXPECT_EQ(exists("REMITEX.OK"), status == 0);
  }
  EXPECT_GT(files, 0);
}

}  // namespace
