// tablekit as its users run it: the built program in a temporary directory,
// with its output and exit status checked. Tables are filled through the
// engine, and damaged by writing their bytes directly.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tablekit.h"

namespace {
namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string out, err;
};

std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

class TablekitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tablekit_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the built tablekit with args in the temporary directory.
  Result run(const std::vector<std::string> &args) {
    const fs::path out = dir_ / ".out", err = dir_ / ".err";
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(127);
      if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(127);
      std::vector<char *> argv;
      std::string program = TK_TEST_BIN_DIR "/tablekit";
      argv.push_back(program.data());
      std::vector<std::string> copies(args);
      for (std::string &arg : copies) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    Result result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = readFile(out);
    result.err = readFile(err);
    fs::remove(out);
    fs::remove(err);
    return result;
  }

  // Makes the tables of a layout text in dir_/DATA.
  void create(const std::string &layout) {
    writeFile(dir_ / "set.layout", layout);
    const Result made = run({"create", "set.layout", "DATA"});
    ASSERT_EQ(0, made.status) << made.err;
  }

  // Appends one record to a table: values by field name (numbers for N
  // fields, memo contents for M fields); deleted marks the record deleted.
  void append(const std::string &table, const std::map<std::string, std::string> &values, bool deleted = false) {
    CODE4 c4;
    code4initLow(&c4, 0, TK_HEADER_VERSION, sizeof c4, 1);
    c4setAutoOpen(&c4, 0);
    DATA4 *data = d4open(&c4, (dir_ / "DATA" / table).c_str());
    ASSERT_NE(nullptr, data);
    ASSERT_EQ(0, d4appendStart(data, 0));
    d4blank(data);
    for (const auto &value : values) {
      FIELD4 *field = d4field(data, value.first.c_str());
      ASSERT_NE(nullptr, field) << value.first;
      switch (f4type(field)) {
        case 'N': ASSERT_EQ(0, f4assignDouble(field, std::atof(value.second.c_str()))); break;
        case 'M': ASSERT_EQ(0, f4memoAssign(field, value.second.c_str())); break;
        default: ASSERT_EQ(0, f4assign(field, value.second.c_str())); break;
      }
    }
    if (deleted) d4delete(data);
    ASSERT_EQ(0, d4append(data));
    ASSERT_EQ(0, d4close(data));
    code4initUndo(&c4);
  }

  fs::path dir_;
};

// -------------------------------------------------------------- create, info

TEST_F(TablekitTest, CreateMakesEmptyTablesThatInfoDescribes) {
  create("[PEOPLE]\nNAME C 20\nAMOUNT N 10 2\nPAID_ON D\nPAID L\nNOTE M\n[CODES]\ncode c 5   # lower case\n");
  ASSERT_TRUE(fs::exists(dir_ / "DATA/PEOPLE.DBF"));
  EXPECT_TRUE(fs::exists(dir_ / "DATA/PEOPLE.DBT"));
  EXPECT_FALSE(fs::exists(dir_ / "DATA/CODES.DBT"));

  const std::string bytes = readFile(dir_ / "DATA/PEOPLE.DBF");
  ASSERT_EQ(32u * 5 + 33 + 1, bytes.size());
  EXPECT_EQ('\x8B', bytes[0]);

  const Result info = run({"info", "DATA/PEOPLE.DBF"});
  EXPECT_EQ(0, info.status) << info.err;
  EXPECT_EQ("", info.err);
  EXPECT_NE(std::string::npos, info.out.find("  version        0x8B (with a memo file)\n"));
  EXPECT_NE(std::string::npos, info.out.find("  record count   0\n"));
  EXPECT_NE(std::string::npos, info.out.find("  header length  193 bytes\n"));
  EXPECT_NE(std::string::npos, info.out.find("  record width   50 bytes\n"));
  EXPECT_NE(std::string::npos, info.out.find("       1  NAME        C         20         0       1\n"));
  EXPECT_NE(std::string::npos, info.out.find("       2  AMOUNT      N         10         2      21\n"));
  EXPECT_NE(std::string::npos, info.out.find("       3  PAID_ON     D          8         0      31\n"));
  EXPECT_NE(std::string::npos, info.out.find("       4  PAID        L          1         0      39\n"));
  EXPECT_NE(std::string::npos, info.out.find("       5  NOTE        M         10         0      40\n"));
  EXPECT_NE(std::string::npos,
            info.out.find("  state          sound: the header counts 0 records; the file holds 0 whole records\n"));

  // The file name in any case, with or without its extension.
  for (const char *name : {"DATA/people", "DATA/People.dbf"}) {
    const Result found = run({"info", name});
    EXPECT_EQ(0, found.status) << name << ": " << found.err;
    EXPECT_EQ(0u, found.out.find("DATA/PEOPLE.DBF\n")) << name;
  }

  // A directory: every table in it, by name.
  const Result all = run({"info", "DATA"});
  EXPECT_EQ(0, all.status) << all.err;
  const size_t codes = all.out.find("DATA/CODES.DBF\n"), people = all.out.find("DATA/PEOPLE.DBF\n");
  ASSERT_NE(std::string::npos, codes);
  ASSERT_NE(std::string::npos, people);
  EXPECT_LT(codes, people);
  EXPECT_NE(std::string::npos, all.out.find("       1  CODE        C          5"));
}

TEST_F(TablekitTest, CreateReplacesTablesOnlyWithForce) {
  create("[T]\nA C 1\n");
  append("T", {{"A", "x"}});
  const std::string before = readFile(dir_ / "DATA/T.DBF");

  const Result refused = run({"create", "set.layout", "DATA"});
  EXPECT_EQ(5, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find("DATA/T.DBF exists"));
  EXPECT_NE(std::string::npos, refused.err.find("tables exist already; nothing was made (--force replaces them)"));
  EXPECT_EQ(before, readFile(dir_ / "DATA/T.DBF"));

  const Result forced = run({"create", "set.layout", "DATA", "--force"});
  EXPECT_EQ(0, forced.status) << forced.err;
  EXPECT_EQ(32u + 33 + 1, readFile(dir_ / "DATA/T.DBF").size());  // empty again
}

TEST_F(TablekitTest, CreateOfOneTableLeavesTheOthers) {
  writeFile(dir_ / "set.layout", "[A]\nX C 1\n[B]\nY C 1\n");
  const Result made = run({"create", "set.layout", "DATA", "--table", "b"});
  EXPECT_EQ(0, made.status) << made.err;
  EXPECT_TRUE(fs::exists(dir_ / "DATA/B.DBF"));
  EXPECT_FALSE(fs::exists(dir_ / "DATA/A.DBF"));
  const Result unknown = run({"create", "set.layout", "DATA", "--table", "C"});
  EXPECT_EQ(1, unknown.status);
  EXPECT_EQ("tablekit create: the layout has no table C\n", unknown.err);
}

TEST_F(TablekitTest, BadLayoutsMakeNothing) {
  struct Case {
    const char *name;
    const char *layout;
    const char *error;  // the first line on standard error
  };
  const Case cases[] = {
      {"unknown type", "[T]\nA C 1\nB X 3\n", "set.layout:3: field B: unknown type 'X' (use C, N, F, D, L or M)"},
      {"missing length", "[T]\nNAME C\n", "set.layout:2: field NAME (C) needs a length"},
      {"field outside a table", "NAME C 5\n", "set.layout:1: field line before the first [NAME] table header"},
      {"decimals too many", "[T]\nAMT N 5 4\n", "set.layout:2: field AMT (N): 4 decimals need a length of at least 6"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(dir_ / "set.layout", c.layout);
    const Result result = run({"create", "set.layout", "DATA"});
    EXPECT_EQ(4, result.status);
    EXPECT_EQ(std::string(c.error) + "\ntablekit create: the layout has errors; nothing was made\n", result.err);
    EXPECT_FALSE(fs::exists(dir_ / "DATA"));
  }
}

TEST_F(TablekitTest, BadArgumentsAreRefusedWithTheirStatus) {
  writeFile(dir_ / "set.layout", "[T]\nA C 1\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char *error;  // all of standard error, or a part of it when it ends in "..."
  };
  const Case cases[] = {
      {{}, 1, "usage: tablekit COMMAND [ARGUMENTS]\n..."},
      {{"frobnicate"}, 1, "tablekit: unknown command 'frobnicate' (see 'tablekit --help')\n"},
      {{"info"}, 1, "tablekit info: expected a table or a directory (see 'tablekit info --help')\n"},
      {{"info", "--verbose", "X"}, 1, "tablekit info: unknown option '--verbose' (see 'tablekit info --help')\n"},
      {{"create", "set.layout"},
       1,
       "tablekit create: expected a layout file and a directory (see 'tablekit create --help')\n"},
      {{"create", "set.layout", "D", "--table"}, 1, "tablekit create: option --table needs a value\n"},
      {{"dump", "A", "B"}, 1, "tablekit dump: expected one table or directory (see 'tablekit dump --help')\n"},
      {{"repair"}, 1, "tablekit repair: expected a table or a directory (see 'tablekit repair --help')\n"},
      {{"create", "missing.layout", "D"}, 2, "tablekit create: missing.layout: cannot read the layout file\n"},
      {{"info", "NOPE.DBF"}, 2, "tablekit info: NOPE.DBF: no such table or directory\n"},
      {{"dump", "NOPE"}, 2, "tablekit dump: NOPE: no such table or directory\n"},
      {{"repair", "--yes", "NOPE"}, 2, "tablekit repair: NOPE: no such table or directory\n"},
      {{"info", "."}, 2, "tablekit info: .: no table (.DBF file) in this directory\n"},
  };
  for (const Case &c : cases) {
    std::string name;
    for (const std::string &arg : c.args) name += arg + " ";
    SCOPED_TRACE(name);
    const Result result = run(c.args);
    EXPECT_EQ(c.status, result.status);
    const std::string expected(c.error);
    if (expected.size() > 3 && expected.compare(expected.size() - 3, 3, "...") == 0) {
      EXPECT_EQ(0u, result.err.find(expected.substr(0, expected.size() - 3))) << result.err;
    } else {
      EXPECT_EQ(expected, result.err);
    }
  }
}

TEST_F(TablekitTest, EveryCommandHasHelp) {
  for (const char *command : {"create", "info", "dump", "repair"}) {
    SCOPED_TRACE(command);
    const Result help = run({command, "--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find(std::string("usage: tablekit ") + command));
    EXPECT_NE(std::string::npos, help.out.find("Exit status:"));
  }
  const Result help = run({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_NE(std::string::npos, help.out.find("  7  a table is open in another program"));
}

// ---------------------------------------------------------------------- dump

class DumpTest : public TablekitTest {
 protected:
  void SetUp() override {
    TablekitTest::SetUp();
    create("[PEOPLE]\nNAME C 20\nAMOUNT N 10 2\nPAID_ON D\nPAID L\nNOTE M\n");
    append("PEOPLE", {{"NAME", "Smith, J"},
                      {"AMOUNT", "12.5"},
                      {"PAID_ON", "20240131"},
                      {"PAID", "T"},
                      {"NOTE", "first\nline \"two\""}});
    append("PEOPLE", {{"NAME", "Gone"}, {"AMOUNT", "-3"}, {"PAID", "F"}}, true);
    append("PEOPLE", {});
  }
};

TEST_F(DumpTest, CsvShowsEveryRecordWithItsDeletedFlagAndMemo) {
  const Result dump = run({"dump", "DATA/PEOPLE.DBF"});
  EXPECT_EQ(0, dump.status) << dump.err;
  EXPECT_EQ("", dump.err);
  EXPECT_EQ(
      "# PEOPLE DATA/PEOPLE.DBF\n"
      "_recno,_deleted,NAME,AMOUNT,PAID_ON,PAID,NOTE\n"
      "1,0,\"Smith, J\",12.50,20240131,T,\"first\nline \"\"two\"\"\"\n"
      "2,1,Gone,-3.00,,F,\n"
      "3,0,,,,,\n"
      "\n",
      dump.out);
}

TEST_F(DumpTest, JsonTypesEveryValue) {
  const Result dump = run({"dump", "--json", "DATA/PEOPLE"});
  EXPECT_EQ(0, dump.status) << dump.err;
  EXPECT_EQ(
      "{\"table\": \"PEOPLE\", \"file\": \"DATA/PEOPLE.DBF\", \"count\": 3,\n"
      " \"fields\": [{\"name\": \"NAME\", \"type\": \"C\", \"length\": 20, \"decimals\": 0}, "
      "{\"name\": \"AMOUNT\", \"type\": \"N\", \"length\": 10, \"decimals\": 2}, "
      "{\"name\": \"PAID_ON\", \"type\": \"D\", \"length\": 8, \"decimals\": 0}, "
      "{\"name\": \"PAID\", \"type\": \"L\", \"length\": 1, \"decimals\": 0}, "
      "{\"name\": \"NOTE\", \"type\": \"M\", \"length\": 10, \"decimals\": 0}],\n"
      " \"records\": [\n"
      "  {\"_recno\": 1, \"_deleted\": false, \"NAME\": \"Smith, J\", \"AMOUNT\": 12.50, "
      "\"PAID_ON\": \"20240131\", \"PAID\": true, \"NOTE\": \"first\\nline \\\"two\\\"\"},\n"
      "  {\"_recno\": 2, \"_deleted\": true, \"NAME\": \"Gone\", \"AMOUNT\": -3.00, \"PAID_ON\": null, "
      "\"PAID\": false, \"NOTE\": \"\"},\n"
      "  {\"_recno\": 3, \"_deleted\": false, \"NAME\": \"\", \"AMOUNT\": null, \"PAID_ON\": null, "
      "\"PAID\": null, \"NOTE\": \"\"}\n"
      " ]}\n",
      dump.out);
}

TEST_F(DumpTest, ADirectoryDumpsEveryTable) {
  writeFile(dir_ / "more.layout", "[CODES]\nCODE C 3\n");
  ASSERT_EQ(0, run({"create", "more.layout", "DATA"}).status);
  append("CODES", {{"CODE", "A1"}});
  const Result csv = run({"dump", "DATA"});
  EXPECT_EQ(0, csv.status) << csv.err;
  EXPECT_EQ(0u, csv.out.find("# CODES DATA/CODES.DBF\n_recno,_deleted,CODE\n1,0,A1\n\n# PEOPLE DATA/PEOPLE.DBF\n"));
  const Result json = run({"dump", "DATA", "--json"});
  EXPECT_EQ(0, json.status) << json.err;
  EXPECT_EQ(0u, json.out.find("{\"tables\": [\n  {\"table\": \"CODES\""));
  EXPECT_NE(std::string::npos, json.out.find("]},\n  {\"table\": \"PEOPLE\""));
  EXPECT_EQ("\n]}\n", json.out.substr(json.out.size() - 4));
}

// A level set: two claims under one header number, a service line under the
// second, details at levels 2, 4 and 5, and one detail whose claim is gone.
class FollowTest : public TablekitTest {
 protected:
  void SetUp() override {
    TablekitTest::SetUp();
    create(
        "[LEVEL_1]\nL1_REC N 9 0\nISA06 C 15\n"
        "[LEVEL_2]\nL2_REC N 9 0\nL1_PTR N 9 0\n"
        "[LEVEL_3]\nL3_REC N 9 0\nL2_PTR N 9 0\n"
        "[LEVEL_4]\nL4_REC N 9 0\nL3_PTR N 9 0\nCLP01 C 20\n"
        "[LEVEL_5]\nL5_REC N 9 0\nL4_PTR N 9 0\nSVC01 C 20\n"
        "[LEVEL_6]\nLEVEL N 1 0\nREC_PTR N 9 0\nRECORD C 3\nCODE C 5\n");
    append("LEVEL_1", {{"L1_REC", "1"}, {"ISA06", "SENDER"}});
    append("LEVEL_2", {{"L2_REC", "1"}, {"L1_PTR", "1"}});
    append("LEVEL_3", {{"L3_REC", "1"}, {"L2_PTR", "1"}});
    append("LEVEL_4", {{"L4_REC", "1"}, {"L3_PTR", "1"}, {"CLP01", "CLAIM1"}});
    append("LEVEL_4", {{"L4_REC", "2"}, {"L3_PTR", "1"}, {"CLP01", "CLAIM 2"}});
    append("LEVEL_5", {{"L5_REC", "1"}, {"L4_PTR", "2"}, {"SVC01", "HC:99213"}});
    append("LEVEL_6", {{"LEVEL", "4"}, {"REC_PTR", "1"}, {"RECORD", "CAS"}, {"CODE", "45"}});
    append("LEVEL_6", {{"LEVEL", "2"}, {"REC_PTR", "1"}, {"RECORD", "PLB"}, {"CODE", "WO"}});
    append("LEVEL_6", {{"LEVEL", "5"}, {"REC_PTR", "1"}, {"RECORD", "REF"}, {"CODE", "6R"}});
    append("LEVEL_6", {{"LEVEL", "4"}, {"REC_PTR", "9"}, {"RECORD", "CAS"}, {"CODE", "97"}});
  }
};

TEST_F(FollowTest, OutlineNestsChildrenUnderTheirParents) {
  const Result dump = run({"dump", "DATA", "--follow"});
  EXPECT_EQ(0, dump.status) << dump.err;
  EXPECT_EQ(
      "LEVEL_1 #1: L1_REC=1 ISA06=SENDER\n"
      "  LEVEL_2 #1: L2_REC=1 L1_PTR=1\n"
      "    LEVEL_6 #2: LEVEL=2 REC_PTR=1 RECORD=PLB CODE=WO\n"
      "    LEVEL_3 #1: L3_REC=1 L2_PTR=1\n"
      "      LEVEL_4 #1: L4_REC=1 L3_PTR=1 CLP01=CLAIM1\n"
      "        LEVEL_6 #1: LEVEL=4 REC_PTR=1 RECORD=CAS CODE=45\n"
      "      LEVEL_4 #2: L4_REC=2 L3_PTR=1 CLP01=\"CLAIM 2\"\n"
      "        LEVEL_5 #1: L5_REC=1 L4_PTR=2 SVC01=HC:99213\n"
      "          LEVEL_6 #3: LEVEL=5 REC_PTR=1 RECORD=REF CODE=6R\n"
      "unlinked records (their parent is not in the set):\n"
      "  LEVEL_6 #4: LEVEL=4 REC_PTR=9 RECORD=CAS CODE=97\n",
      dump.out);
}

TEST_F(FollowTest, JsonNestsChildrenUnderTheirParents) {
  const Result dump = run({"dump", "DATA", "--follow", "--json"});
  EXPECT_EQ(0, dump.status) << dump.err;
  const std::string l5 =
      "{\"_table\": \"LEVEL_5\", \"_recno\": 1, \"_deleted\": false, \"L5_REC\": 1, \"L4_PTR\": 2, "
      "\"SVC01\": \"HC:99213\", \"_children\": [\n"
      "            {\"_table\": \"LEVEL_6\", \"_recno\": 3, \"_deleted\": false, \"LEVEL\": 5, \"REC_PTR\": 1, "
      "\"RECORD\": \"REF\", \"CODE\": \"6R\"}\n"
      "          ]}";
  EXPECT_NE(std::string::npos, dump.out.find(l5)) << dump.out;
  EXPECT_EQ(0u, dump.out.find("{\"records\": [\n  {\"_table\": \"LEVEL_1\", \"_recno\": 1,"));
  EXPECT_NE(
      std::string::npos,
      dump.out.find("\"unlinked\": [\n  {\"_table\": \"LEVEL_6\", \"_recno\": 4, \"_deleted\": false, \"LEVEL\": 4, "
                    "\"REC_PTR\": 9, \"RECORD\": \"CAS\", \"CODE\": \"97\"}\n]}\n"));
}

TEST_F(FollowTest, AMissingLinkFieldIsNamed) {
  writeFile(dir_ / "l3.layout", "[LEVEL_3]\nL3_REC N 9 0\n");
  ASSERT_EQ(0, run({"create", "l3.layout", "DATA", "--force"}).status);
  const Result dump = run({"dump", "DATA", "--follow"});
  EXPECT_EQ(3, dump.status);
  EXPECT_EQ("tablekit dump: DATA/LEVEL_3.DBF has no field L2_PTR: its links cannot be followed\n", dump.err);
}

// -------------------------------------------------------------------- repair

class RepairTest : public TablekitTest {
 protected:
  static constexpr size_t kHeaderLen = 65, kWidth = 11;
  void SetUp() override {
    TablekitTest::SetUp();
    create("[T]\nNAME C 10\n");
    for (const char *name : {"one", "two", "three"}) append("T", {{"NAME", name}});
    table_ = dir_ / "DATA/T.DBF";
    ASSERT_EQ(kHeaderLen + 3 * kWidth + 1, readFile(table_).size());
  }
  static long count(const std::string &bytes) {
    return static_cast<unsigned char>(bytes[4]) | static_cast<unsigned char>(bytes[5]) << 8 |
           static_cast<unsigned char>(bytes[6]) << 16 | static_cast<unsigned char>(bytes[7]) << 24;
  }
  void setCount(std::string &bytes, long n) {
    for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  }
  fs::path table_;
};

TEST_F(RepairTest, MendsCountsTooHighAndTooLow) {
  struct Case {
    const char *name;
    long headerCount;
    size_t length;  // the damaged file's length
    long repairedCount;
    const char *warning;  // a line of the warning
  };
  const Case cases[] = {
      {"count too high", 5, kHeaderLen + 3 * kWidth + 1, 3,
       "  Records 4 to 5, counted but never written in whole, will be gone.\n"},
      {"count too low, cut mid-record", 1, kHeaderLen + 2 * kWidth + 4, 2,
       "  Record 2, written but not counted, will be part of the table again.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = readFile(table_);
    setCount(bytes, c.headerCount);
    bytes.resize(c.length);
    writeFile(table_, bytes);

    const Result info = run({"info", "DATA/T.DBF"});
    EXPECT_EQ(3, info.status);
    EXPECT_NE(std::string::npos, info.err.find("('tablekit repair --yes DATA/T.DBF' mends the count)"));

    const Result refused = run({"repair", "DATA/T.DBF"});
    EXPECT_EQ(5, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find("WARNING"));
    EXPECT_NE(std::string::npos, refused.err.find(c.warning)) << refused.err;
    EXPECT_EQ(bytes, readFile(table_));

    const Result repaired = run({"repair", "--yes", "DATA/T.DBF"});
    EXPECT_EQ(0, repaired.status) << repaired.err;
    EXPECT_EQ("DATA/T.DBF: repaired: " + std::to_string(c.repairedCount) + " records\n", repaired.out);
    const std::string mended = readFile(table_);
    ASSERT_EQ(kHeaderLen + c.repairedCount * kWidth + 1, mended.size());
    EXPECT_EQ(c.repairedCount, count(mended));
    EXPECT_EQ('\x1A', mended.back());
    EXPECT_EQ(bytes.substr(0, 4), mended.substr(0, 4));  // version and date kept
    EXPECT_EQ(bytes.substr(8, kHeaderLen + c.repairedCount * kWidth - 8),
              mended.substr(8, kHeaderLen + c.repairedCount * kWidth - 8));  // records kept
    EXPECT_EQ(0, run({"info", "DATA/T.DBF"}).status);
    const Result dump = run({"dump", "DATA/T.DBF"});
    EXPECT_EQ(0, dump.status) << dump.err;
    EXPECT_NE(std::string::npos, dump.out.find(c.repairedCount == 3 ? "3,0,three\n" : "2,0,two\n"));

    ASSERT_EQ(0, run({"create", "set.layout", "DATA", "--force"}).status);
    for (const char *name : {"one", "two", "three"}) append("T", {{"NAME", name}});
  }
}

TEST_F(RepairTest, LeavesASoundTableUntouched) {
  const std::string before = readFile(table_);
  struct stat was;
  ASSERT_EQ(0, stat(table_.c_str(), &was));
  const Result result = run({"repair", "--yes", "DATA"});
  EXPECT_EQ(0, result.status) << result.err;
  EXPECT_EQ("DATA/T.DBF: sound (the header counts 3 records; the file holds 3 whole records); not changed\n",
            result.out);
  struct stat now;
  ASSERT_EQ(0, stat(table_.c_str(), &now));
  EXPECT_EQ(before, readFile(table_));
  EXPECT_EQ(was.st_mtim.tv_sec, now.st_mtim.tv_sec);
  EXPECT_EQ(was.st_mtim.tv_nsec, now.st_mtim.tv_nsec);
}

TEST_F(RepairTest, RefusesDamageBeyondTheCount) {
  std::string bytes = readFile(table_);
  bytes[10] = bytes[11] = 0;  // record width 0
  writeFile(table_, bytes);
  const Result result = run({"repair", "--yes", "DATA/T.DBF"});
  EXPECT_EQ(3, result.status);
  EXPECT_EQ("  the record width is 0\ntablekit repair: DATA/T.DBF: damaged beyond its record count; not changed\n",
            result.err);
  EXPECT_EQ(bytes, readFile(table_));
  EXPECT_EQ(3, run({"dump", "DATA/T.DBF"}).status);
}

TEST_F(RepairTest, RefusesATableOpenElsewhere) {
  std::string bytes = readFile(table_);
  setCount(bytes, 7);
  writeFile(table_, bytes);
  CODE4 c4;
  code4initLow(&c4, 0, TK_HEADER_VERSION, sizeof c4, 1);
  c4setErrOff(&c4, 1);
  FILE4 held;
  c4setAccessMode(&c4, 0);
  ASSERT_EQ(0, file4open(&held, &c4, table_.c_str(), 1));
  const Result result = run({"repair", "--yes", "DATA/T.DBF"});
  EXPECT_EQ(7, result.status);
  EXPECT_NE(std::string::npos, result.err.find("DATA/T.DBF: cannot open: it is open in another program")) << result.err;
  EXPECT_EQ(bytes, readFile(table_));
  file4close(&held);
  code4initUndo(&c4);
}

}  // namespace
