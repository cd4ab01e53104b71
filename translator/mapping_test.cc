// Tests of the segment mapping and the table set: small interchanges of our
// own are read by the interchange reader into a table set made for each test,
// as a run reads them (open, templates, empty, load, close), and the tables
// are read back byte by byte. The order in which records reach the files is
// seen through the platform's write entry.
#include "mapping.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "reader.h"
#include "table_set.h"
#include "tablekit.h"
#include "test_tables.h"
#include "testing/message_capture.h"

namespace remitex {
namespace {

namespace fs = std::filesystem;
namespace platform = tablekit::platform;
using testing::DbfTable;
using testing::makeTables;
using testing::readDbf;

// What happened, in order: segment identifiers as the reader hands them on,
// and "+LEVEL_n" for every record written at or after a table's header.
std::vector<std::string> gEvents;
std::map<int, std::string> gTableOfHandle;  // open handles of the level tables
std::map<std::string, size_t> gHeaderLen;   // header length of each level table

// Records the segment identifiers, then hands every token to the mapping.
class RecordingSink : public TokenSink {
 public:
  explicit RecordingSink(SegmentMapping &mapping) : mapping_(mapping) {}
  void segmentIdentifier(const char *current, const char *previous) override {
    gEvents.push_back(current);
    mapping_.segmentIdentifier(current, previous);
  }
  void element(const char *token, int elementNo, int componentNo, char terminator) override {
    mapping_.element(token, elementNo, componentNo, terminator);
  }

 private:
  SegmentMapping &mapping_;
};

// Puts a watch on the platform's open, close and write entries while it lives.
class WriteWatch {
 public:
  WriteWatch() {
    platform::methods().file.open = [](const char *path, platform::FileAccess access,
                                       platform::FileDisposition disposition, platform::FileShare share,
                                       int *fd) {
      const int rc = platform::defaultMethods().file.open(path, access, disposition, share, fd);
      const std::string stem = fs::path(path).stem().string();
      if (rc == 0 && stem.rfind("LEVEL_", 0) == 0 && fs::path(path).extension() == ".DBF") {
        gTableOfHandle[*fd] = stem;
      }
      return rc;
    };
    platform::methods().file.close = [](int fd) {
      gTableOfHandle.erase(fd);
      return platform::defaultMethods().file.close(fd);
    };
    platform::methods().file.writeAt = [](int fd, std::uint64_t pos, const void *data, std::size_t len,
                                          std::size_t *done) {
      auto table = gTableOfHandle.find(fd);
      if (table != gTableOfHandle.end() && len > 1 && pos >= gHeaderLen[table->second]) {
        gEvents.push_back("+" + table->second);
      }
      return platform::defaultMethods().file.writeAt(fd, pos, data, len, done);
    };
  }
  ~WriteWatch() {
    platform::methods().file = platform::defaultMethods().file;
    gTableOfHandle.clear();
  }
};

// Fields of a table set for the tests, in the layout file format. LEVEL_5
// keeps SVC01 as one field or by component.
std::string testLayout(bool svc01Whole = false) {
  return "[LEVEL_1]\n L1_REC N 10 0\n ISA06 C 15\n ISA09 D\n IEA01 N 5 0\n IEA02 C 9\n"
         "[LEVEL_2]\n L2_REC N 10 0\n L1_PTR N 10 0\n GS02 C 15\n GS04 D\n GS06 C 9\n"
         " ST02 C 9\n BPR02 N 15 2\n BPR16 D\n DTM02_405 D\n N101_PE C 3\n N102_PR C 30\n N102_PE C 30\n"
         " N301_PE C 30\n N401_PE C 20\n N402_PE C 2\n N403_PE C 10\n N301_ C 30\n"
         " SE01 N 6 0\n SE02 C 9\n GE01 N 6 0\n GE02 C 9\n"
         "[LEVEL_3]\n L3_REC N 10 0\n L2_PTR N 10 0\n LX01 N 6 0\n"
         "[LEVEL_4]\n L4_REC N 10 0\n L3_PTR N 10 0\n CLP01 C 20\n CLP03 N 15 2\n CLP04 N 15 2\n"
         " NM103_QC C 30\n DTM02_232 D\n DTM02_233 D\n DTM02_050 D\n AMT01_AU C 2\n AMT02_AU N 15 2\n"
         " AMT01_AU_2 C 2\n AMT02_AU_2 N 15 2\n AMT02_AU_3 N 15 2\n REF03 C 20\n QTY02_CA N 10 4\n" +
         std::string(svc01Whole ? "[LEVEL_5]\n L5_REC N 10 0\n L4_PTR N 10 0\n SVC01 C 10\n"
                                : "[LEVEL_5]\n L5_REC N 10 0\n L4_PTR N 10 0\n SVC01_1 C 2\n SVC01_2 C 10\n"
                                  " SVC01_3 C 2\n") +
         " SVC02 N 15 2\n DTM02_472 D\n"
         "[LEVEL_6]\n LEVEL N 1 0\n REC_PTR N 10 0\n RECORD C 3\n GROUP C 3\n CODE C 50\n"
         " AMOUNT N 15 2\n QUANTITY N 15 2\n PLBID C 50\n PLBDATE D\n";
}

// An interchange of the given segments between a fixed ISA and nothing:
// elements separated by '*', components by ':', segments ended by "~\n".
std::string interchange(const std::vector<std::string> &segments) {
  std::string text =
      "ISA*00*          *00*          *ZZ*PAYER          *ZZ*CLINIC         "
      "*991231*1200*U*00401*000000001*0*T*:~\n";
  for (const std::string &segment : segments) text += segment + "~\n";
  return text;
}

const std::vector<std::string> kGroupHead = {"GS*HP*PAYER*CLINIC*19991231*1200*7*X*004010X091A1",
                                             "ST*835*0001"};

class MappingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "remitex_mapping_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    oldDir_ = fs::current_path();
    fs::current_path(dir_);
    gEvents.clear();
  }
  void TearDown() override {
    fs::current_path(oldDir_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void makeSet(const std::string &layout) {
    ASSERT_EQ(makeTables(dir_ / "DATA", layout), "");
    for (int n = 1; n <= kLevelTables; ++n) {
      const std::string name = "LEVEL_" + std::to_string(n);
      std::ifstream in(dir_ / "DATA" / (name + ".DBF"), std::ios::binary);
      unsigned char header[12] = {};
      in.read(reinterpret_cast<char *>(header), sizeof header);
      gHeaderLen[name] = header[8] | header[9] << 8;
    }
  }

  // Loads the interchange as a run does and returns the context's error code
  // at the end of the input.
  int load(const std::string &text) {
    {
      std::ofstream out(dir_ / "REMITEX.DAT", std::ios::binary);
      out << text;
    }
    FILE *input = fopen("REMITEX.DAT", "rb");
    if (input == nullptr) return -999;
    WriteWatch watch;
    CODE4 cb;
    code4initLow(&cb, 0, TK_HEADER_VERSION, sizeof(CODE4), 1);
    TableSet tables(cb);
    SegmentMapping mapping(tables);
    RecordingSink sink(mapping);
    InterchangeReader reader(input, "4010,3051,5010", nullptr, sink);
    tables.openLevelTables();
    EXPECT_EQ(tables.buildTemplates(), 0);
    tables.emptyLevelTables();
    EXPECT_EQ(reader.discoverDelimiters(), 0);
    mapping.reset();
    c4setErrFieldName(&cb, 0);
    EXPECT_EQ(reader.readTokens(), 0);
    mapping.finish();
    c4setErrFieldName(&cb, 1);
    const int code = c4getErrorCode(&cb);
    tables.releaseTemplates();
    tables.closeLevelTables();
    code4initUndo(&cb);
    fclose(input);
    return code;
  }

  DbfTable level(int n) { return readDbf(dir_ / "DATA" / ("LEVEL_" + std::to_string(n) + ".DBF")); }

  fs::path dir_;
  fs::path oldDir_;
};

// The twelve segments of one claim, end to end: one record in each table,
// children appended before their parents, at the moments the segments decide.
TEST_F(MappingTest, OneClaimEndToEnd) {
  makeSet(testLayout());
  ASSERT_EQ(load(interchange({"GS*HP*PAYER*CLINIC*19991231*1200*7*X*004010X091A1", "ST*835*0001",
                              "BPR*I*20*C*CHK************19991231", "N1*PR*ACME HEALTH", "LX*1",
                              "CLP*A1*1*45*25**MC*99", "CAS*CO*45*20", "SVC*HC:99213*45*25", "SE*10*0001",
                              "GE*1*7", "IEA*1*000000001"})),
            0);
  const std::vector<std::string> expected = {
      "ISA", "GS",       "ST",       "BPR",      "N1", "LX",  "CLP",      "CAS",     "SVC",
      "+LEVEL_6", "SE", "+LEVEL_5", "+LEVEL_4", "+LEVEL_3", "GE", "IEA", "+LEVEL_2", "+LEVEL_1"};
  EXPECT_EQ(gEvents, expected);

  const DbfTable l1 = level(1), l2 = level(2), l3 = level(3), l4 = level(4), l5 = level(5), l6 = level(6);
  for (const DbfTable *t : {&l1, &l2, &l3, &l4, &l5, &l6}) {
    ASSERT_TRUE(t->valid);
    ASSERT_EQ(t->headerCount, 1u);
    EXPECT_EQ(t->recordsPresent, 1u);
  }
  EXPECT_EQ(l1.records[0].at("L1_REC"), "1");
  EXPECT_EQ(l1.records[0].at("ISA06"), "PAYER");
  EXPECT_EQ(l1.records[0].at("ISA09"), "19991231");
  EXPECT_EQ(l1.records[0].at("IEA01"), "1");
  EXPECT_EQ(l1.records[0].at("IEA02"), "000000001");
  const std::map<std::string, std::string> group = {
      {"L2_REC", "1"},     {"L1_PTR", "1"},     {"GS02", "PAYER"}, {"GS04", "19991231"},
      {"GS06", "7"},       {"ST02", "0001"},    {"BPR02", "20.00"}, {"BPR16", "19991231"},
      {"N102_PR", "ACME HEALTH"}, {"SE01", "10"}, {"SE02", "0001"}, {"GE01", "1"}, {"GE02", "7"}};
  for (const auto &[name, value] : group) EXPECT_EQ(l2.records[0].at(name), value) << name;
  EXPECT_EQ(l3.records[0].at("L3_REC"), "1");
  EXPECT_EQ(l3.records[0].at("L2_PTR"), "1");
  EXPECT_EQ(l3.records[0].at("LX01"), "1");
  EXPECT_EQ(l4.records[0].at("L4_REC"), "1");
  EXPECT_EQ(l4.records[0].at("L3_PTR"), "1");
  EXPECT_EQ(l4.records[0].at("CLP01"), "A1");
  EXPECT_EQ(l4.records[0].at("CLP03"), "45.00");
  EXPECT_EQ(l5.records[0].at("L5_REC"), "1");
  EXPECT_EQ(l5.records[0].at("L4_PTR"), "1");
  EXPECT_EQ(l5.records[0].at("SVC01_1"), "HC");
  EXPECT_EQ(l5.records[0].at("SVC01_2"), "99213");
  const std::map<std::string, std::string> detail = {
      {"LEVEL", "4"},   {"REC_PTR", "1"},    {"RECORD", "CAS"}, {"GROUP", "CO"},
      {"CODE", "45"},   {"AMOUNT", "20.00"}, {"QUANTITY", "0.00"}, {"PLBID", ""}, {"PLBDATE", ""}};
  for (const auto &[name, value] : detail) EXPECT_EQ(l6.records[0].at(name), value) << name;
}

// A CAS segment gives one detail record per reason-code triple; the first is
// appended at its quantity (CAS04), the last at the next segment identifier.
TEST_F(MappingTest, CasTriplesBecomeDetailRecords) {
  makeSet(testLayout());
  std::vector<std::string> segments = kGroupHead;
  for (const char *s : {"LX*1", "CLP*A1*1*45*25", "CAS*CO*45*12.50**97*3", "NM1*QC*1*DOE", "SE*6*0001", "GE*1*7",
                        "IEA*1*000000001"}) {
    segments.push_back(s);
  }
  ASSERT_EQ(load(interchange(segments)), 0);
  // Two appends to LEVEL_6 while CAS is the current segment, the first before
  // the second triple started (its quantity ended it).
  const std::vector<std::string> expected = {"ISA", "GS", "ST", "LX", "CLP", "CAS", "+LEVEL_6", "NM1", "+LEVEL_6"};
  EXPECT_EQ(std::vector<std::string>(gEvents.begin(), gEvents.begin() + expected.size()), expected);

  const DbfTable details = level(6);
  ASSERT_EQ(details.records.size(), 2u);
  const std::map<std::string, std::string> first = {{"RECORD", "CAS"}, {"GROUP", "CO"},     {"CODE", "45"},
                                                    {"AMOUNT", "12.50"}, {"QUANTITY", "0.00"}, {"LEVEL", "4"},
                                                    {"REC_PTR", "1"}};
  const std::map<std::string, std::string> second = {{"RECORD", "CAS"}, {"GROUP", "CO"},     {"CODE", "97"},
                                                     {"AMOUNT", "3.00"}, {"QUANTITY", "0.00"}, {"LEVEL", "4"},
                                                     {"REC_PTR", "1"}};
  for (const auto &[name, value] : first) EXPECT_EQ(details.records[0].at(name), value) << name;
  for (const auto &[name, value] : second) EXPECT_EQ(details.records[1].at(name), value) << name;
  EXPECT_EQ(level(4).records.at(0).at("NM103_QC"), "DOE");
}

// A PLB closes the levels below the transaction set: its detail records carry
// level 2 and the set's number, one per adjustment pair, appended at each
// amount.
TEST_F(MappingTest, PlbPairsBecomeDetailRecords) {
  makeSet(testLayout());
  std::vector<std::string> segments = kGroupHead;
  for (const char *s : {"LX*1", "CLP*A1*1*45*25", "PLB*1234567890*19991231*WO:ABC*-10.00*L6*2.5", "SE*5*0001",
                        "GE*1*7", "IEA*1*000000001"}) {
    segments.push_back(s);
  }
  ASSERT_EQ(load(interchange(segments)), 0);
  const std::vector<std::string> expected = {"ISA", "GS",       "ST",       "LX",       "CLP",
                                             "PLB", "+LEVEL_4", "+LEVEL_3", "+LEVEL_6", "+LEVEL_6"};
  EXPECT_EQ(std::vector<std::string>(gEvents.begin(), gEvents.begin() + expected.size()), expected);
  const DbfTable details = level(6);
  ASSERT_EQ(details.records.size(), 2u);
  const std::map<std::string, std::string> first = {
      {"RECORD", "PLB"}, {"PLBID", "1234567890"}, {"PLBDATE", "19991231"}, {"GROUP", "WO"},
      {"CODE", "ABC"},   {"AMOUNT", "-10.00"},    {"LEVEL", "2"},          {"REC_PTR", "1"}};
  for (const auto &[name, value] : first) EXPECT_EQ(details.records[0].at(name), value) << name;
  EXPECT_EQ(details.records[1].at("GROUP"), "L6");
  EXPECT_EQ(details.records[1].at("CODE"), "");
  EXPECT_EQ(details.records[1].at("AMOUNT"), "2.50");
  EXPECT_EQ(details.records[1].at("PLBID"), "1234567890");
}

// REF and LQ give one detail record each, under the level open where they
// occur; REF03 still goes to the level record.
TEST_F(MappingTest, RefAndLqBecomeDetailRecords) {
  makeSet(testLayout());
  std::vector<std::string> segments = {kGroupHead[0], kGroupHead[1], "REF*EV*CLINIC01", "LX*1",
                                        "CLP*A1*1*45*25", "REF*1K*XYZ*NOTE", "SVC*HC:99213*45", "LQ*HE*N115",
                                        "SE*7*0001", "GE*1*7", "IEA*1*000000001"};
  ASSERT_EQ(load(interchange(segments)), 0);
  const DbfTable details = level(6);
  ASSERT_EQ(details.records.size(), 3u);
  const std::vector<std::vector<std::string>> expected = {
      {"REF", "EV", "CLINIC01", "2"}, {"REF", "1K", "XYZ", "4"}, {"LQ", "HE", "N115", "5"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(details.records[i].at("RECORD"), expected[i][0]);
    EXPECT_EQ(details.records[i].at("GROUP"), expected[i][1]);
    EXPECT_EQ(details.records[i].at("CODE"), expected[i][2]);
    EXPECT_EQ(details.records[i].at("LEVEL"), expected[i][3]);
    EXPECT_EQ(details.records[i].at("REC_PTR"), "1");
  }
  EXPECT_EQ(level(4).records.at(0).at("REF03"), "NOTE");
}

// Consecutive segments with the same qualifier are counted; any other segment
// between them starts the count again.
TEST_F(MappingTest, AmtQualifierCounting) {
  makeSet(testLayout());
  std::vector<std::string> segments = {kGroupHead[0], kGroupHead[1], "LX*1",
                                        "CLP*A1*1*45*25", "AMT*AU*10", "AMT*AU*20", "AMT*AU*30",
                                        "CLP*A2*1*45*25", "AMT*AU*40", "NM1*QC*1*DOE", "AMT*AU*50",
                                        "SE*9*0001", "GE*1*7", "IEA*1*000000001"};
  ASSERT_EQ(load(interchange(segments)), 0);
  const DbfTable claims = level(4);
  ASSERT_EQ(claims.records.size(), 2u);
  EXPECT_EQ(claims.records[0].at("AMT01_AU"), "AU");
  EXPECT_EQ(claims.records[0].at("AMT02_AU"), "10.00");
  EXPECT_EQ(claims.records[0].at("AMT01_AU_2"), "AU");
  EXPECT_EQ(claims.records[0].at("AMT02_AU_2"), "20.00");
  EXPECT_EQ(claims.records[0].at("AMT02_AU_3"), "30.00");
  // The CLP between the claims is not an AMT: the next AMT*AU counts 1.
  EXPECT_EQ(claims.records[1].at("AMT02_AU"), "50.00");
  EXPECT_EQ(claims.records[1].at("AMT02_AU_2"), "0.00");
}

// N3 and N4 take the qualifier of the last N1; an N3 before any N1 takes an
// empty one.
TEST_F(MappingTest, AddressesTakeTheQualifierOfTheirN1) {
  makeSet(testLayout());
  std::vector<std::string> segments = {kGroupHead[0], kGroupHead[1], "N3*NOWHERE ROAD", "N1*PR*ACME HEALTH",
                                        "N1*PE*MAPLE CLINIC*XX*1999999984", "N3*42 MAPLE STREET",
                                        "N4*FERNDALE*OR*97001", "SE*6*0001", "GE*1*7", "IEA*1*000000001"};
  ASSERT_EQ(load(interchange(segments)), 0);
  const DbfTable groups = level(2);
  ASSERT_EQ(groups.records.size(), 1u);
  const std::map<std::string, std::string> expected = {
      {"N301_", "NOWHERE ROAD"},        {"N102_PR", "ACME HEALTH"}, {"N101_PE", "PE"},
      {"N102_PE", "MAPLE CLINIC"},      {"N301_PE", "42 MAPLE STREET"},
      {"N401_PE", "FERNDALE"},          {"N402_PE", "OR"},          {"N403_PE", "97001"}};
  for (const auto &[name, value] : expected) EXPECT_EQ(groups.records[0].at(name), value) << name;
}

// Dates: a six-digit date gets 19 when its year is above 50, else 20; a DTM
// whose fifth element is a century gets that century; what is no calendar
// date is stored as the blank date.
TEST_F(MappingTest, DatesGetTheirCentury) {
  struct Case {
    const char *name;
    const char *dtm;
    const char *field;
    const char *stored;
  };
  const Case cases[] = {
      {"six digits, year above 50", "DTM*050*991231", "DTM02_050", "19991231"},
      {"six digits, year 51", "DTM*050*510101", "DTM02_050", "19510101"},
      {"six digits, year 50", "DTM*050*501231", "DTM02_050", "20501231"},
      {"six digits, year 00", "DTM*050*000101", "DTM02_050", "20000101"},
      {"six digits, year 10", "DTM*050*101231", "DTM02_050", "20101231"},
      {"eight digits", "DTM*050*20240301", "DTM02_050", "20240301"},
      {"century 19 from DTM05", "DTM*232*991231***19", "DTM02_232", "19991231"},
      {"century 20 from DTM05 over a year above 50", "DTM*232*991231***20", "DTM02_232", "20991231"},
      {"a sixth element keeps DTM02", "DTM*233*991231***19*D8", "DTM02_233", "19991231"},
      {"empty", "DTM*050*", "DTM02_050", ""},
      {"no calendar date", "DTM*050*20002316", "DTM02_050", ""},
      {"six digits, no calendar date", "DTM*050*990229", "DTM02_050", ""},
      {"six digits, a leap day", "DTM*050*000229", "DTM02_050", "20000229"},
      {"text", "DTM*050*SOON", "DTM02_050", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    makeSet(testLayout());
    ASSERT_EQ(load(interchange({kGroupHead[0], kGroupHead[1], "LX*1", "CLP*A1*1*45*25", c.dtm, "SE*5*0001",
                                "GE*1*7", "IEA*1*000000001"})),
              0);
    EXPECT_EQ(level(4).records.at(0).at(c.field), c.stored);
  }
}

// SVC01 is a composite: a table with the field SVC01 gets each component in
// turn (the last one stays); a table with SVC01_1, SVC01_2 ... gets each
// component in its own field.
TEST_F(MappingTest, ServiceCompositeUnderBothLayouts) {
  struct Case {
    const char *name;
    bool whole;
    std::map<std::string, std::string> stored;
  };
  const Case cases[] = {
      {"one field", true, {{"SVC01", "99213"}, {"SVC02", "45.00"}}},
      {"a field per component", false, {{"SVC01_1", "HC"}, {"SVC01_2", "99213"}, {"SVC01_3", "25"}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    makeSet(testLayout(c.whole));
    ASSERT_EQ(load(interchange({kGroupHead[0], kGroupHead[1], "LX*1", "CLP*A1*1*45*25",
                                c.whole ? "SVC*HC:99213*45" : "SVC*HC:99213:25*45", "SE*5*0001", "GE*1*7",
                                "IEA*1*000000001"})),
              0);
    const DbfTable lines = level(5);
    ASSERT_EQ(lines.records.size(), 1u);
    for (const auto &[name, value] : c.stored) EXPECT_EQ(lines.records[0].at(name), value) << name;
  }
}

// A second ST in one functional group opens a new LEVEL_2 record that starts
// with the group's GS values, whether or not the first set had an LX.
TEST_F(MappingTest, SecondTransactionSetStartsWithItsGroupValues) {
  struct Case {
    const char *name;
    bool withLx;
  };
  for (const Case &c : {Case{"first set with an LX", true}, Case{"first set without an LX", false}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    makeSet(testLayout());
    std::vector<std::string> segments = {"GS*HP*FIRSTPAYER*CLINIC*20010101*1200*1*X*004010X091A1", "ST*835*0001",
                                         "SE*2*0001", "GE*1*1",
                                         "GS*HP*SECONDPAYER*CLINIC*20020202*1200*2*X*004010X091A1", "ST*835*0002"};
    if (c.withLx) segments.push_back("LX*1");
    for (const char *s : {"SE*3*0002", "ST*835*0003", "BPR*I*5", "SE*3*0003", "GE*2*2", "IEA*2*000000001"}) {
      segments.push_back(s);
    }
    ASSERT_EQ(load(interchange(segments)), 0);
    const DbfTable groups = level(2);
    ASSERT_EQ(groups.records.size(), 3u);
    EXPECT_EQ(groups.records[0].at("GS02"), "FIRSTPAYER");
    EXPECT_EQ(groups.records[1].at("GS02"), "SECONDPAYER");
    EXPECT_EQ(groups.records[1].at("ST02"), "0002");
    // The third record is the second group's second set.
    EXPECT_EQ(groups.records[2].at("L2_REC"), "3");
    EXPECT_EQ(groups.records[2].at("L1_PTR"), "1");
    EXPECT_EQ(groups.records[2].at("GS02"), "SECONDPAYER");
    EXPECT_EQ(groups.records[2].at("GS04"), "20020202");
    EXPECT_EQ(groups.records[2].at("GS06"), "2");
    EXPECT_EQ(groups.records[2].at("ST02"), "0003");
    EXPECT_EQ(groups.records[2].at("BPR02"), "5.00");
    // Fields after the GS fields start empty: the first set's SE is not carried.
    EXPECT_EQ(groups.records[2].at("SE02"), "0003");
    EXPECT_EQ(groups.records[2].at("GE01"), "2");
    EXPECT_EQ(groups.records[1].at("BPR02"), "0.00");
  }
}

// Fields a segment does not set: numbers hold 0, text and dates are blank.
TEST_F(MappingTest, NewRecordsStartFromTheTemplate) {
  makeSet(testLayout());
  ASSERT_EQ(load(interchange({kGroupHead[0], kGroupHead[1], "LX*1", "CLP*A1", "SE*4*0001", "GE*1*7",
                              "IEA*1*000000001"})),
            0);
  const DbfTable claims = level(4);
  ASSERT_EQ(claims.records.size(), 1u);
  EXPECT_EQ(claims.records[0].at("CLP03"), "0.00");
  EXPECT_EQ(claims.records[0].at("QTY02_CA"), "0.0000");
  EXPECT_EQ(claims.records[0].at("NM103_QC"), "");
  EXPECT_EQ(claims.records[0].at("DTM02_232"), "");
}

// A detail record still pending when the input ends is appended; so is every
// open level, children first.
TEST_F(MappingTest, DetailPendingAtEndOfInputIsAppended) {
  makeSet(testLayout());
  // No IEA: the interchange ends right after the REF.
  ASSERT_EQ(load(interchange({kGroupHead[0], kGroupHead[1], "LX*1", "CLP*A1*1", "REF*EA*12345"})), 0);
  const std::vector<std::string> expected = {"ISA", "GS", "ST", "LX", "CLP", "REF", "+LEVEL_6",
                                             "+LEVEL_4", "+LEVEL_3", "+LEVEL_2", "+LEVEL_1"};
  EXPECT_EQ(gEvents, expected);
  ASSERT_EQ(level(6).records.size(), 1u);
  EXPECT_EQ(level(6).records[0].at("CODE"), "12345");
}

// A level that opens while the level above it is not open: the numbers and
// links are those of the counters; each record is appended once, and later
// segments land in the nearest level above that is still open.
TEST_F(MappingTest, LevelOpenedWithoutItsParent) {
  makeSet(testLayout());
  ASSERT_EQ(load(interchange({kGroupHead[0], kGroupHead[1], "LX*1", "CLP*A1", "SE*4*0001", "ST*835*0002",
                              "CLP*B1", "SVC*HC:1*10", "SE*4*0002", "ST*835*0003", "SVC*HC:2*20", "SE*3*0003",
                              "GE*3*7", "IEA*1*000000001"})),
            0);
  const DbfTable groups = level(2), headers = level(3), claims = level(4), lines = level(5);
  ASSERT_EQ(groups.records.size(), 3u);
  ASSERT_EQ(headers.records.size(), 1u);
  ASSERT_EQ(claims.records.size(), 2u);
  ASSERT_EQ(lines.records.size(), 2u);
  // CLP B1 without an LX points at the last header number.
  EXPECT_EQ(claims.records[1].at("L4_REC"), "2");
  EXPECT_EQ(claims.records[1].at("L3_PTR"), "1");
  // SVC HC:2 without a CLP points at the last claim.
  EXPECT_EQ(lines.records[1].at("L5_REC"), "2");
  EXPECT_EQ(lines.records[1].at("L4_PTR"), "2");
  // Each SE landed in its own transaction set's record.
  EXPECT_EQ(groups.records[0].at("SE02"), "0001");
  EXPECT_EQ(groups.records[1].at("SE02"), "0002");
  EXPECT_EQ(groups.records[2].at("SE02"), "0003");
  EXPECT_EQ(groups.records[2].at("GE01"), "3");
}

// Values and names longer than the buffers are cut, never overrun: a long
// qualifier, a long segment identifier and very long values.
TEST_F(MappingTest, LongValuesAndNamesAreCut) {
  makeSet(testLayout());
  const std::string longValue(600, 'X');
  ASSERT_EQ(load(interchange({kGroupHead[0], kGroupHead[1], "N1*" + longValue + "*NAME", "N3*" + longValue,
                              "AMT*" + longValue + "*1", "AMT*" + longValue + "*2", "ABCDEFGHIJKLMNOP*1*2",
                              "PLB*" + longValue + "*" + longValue + "*" + longValue + ":" + longValue + "*1",
                              "LX*1", "CLP*" + longValue + "*" + longValue, "SE*4*0001", "GE*1*7",
                              "IEA*1*000000001"})),
            0);
  const DbfTable claims = level(4), details = level(6);
  ASSERT_EQ(claims.records.size(), 1u);
  EXPECT_EQ(claims.records[0].at("CLP01"), std::string(20, 'X'));
  EXPECT_EQ(claims.records[0].at("CLP03"), "0.00");
  ASSERT_EQ(details.records.size(), 1u);
  EXPECT_EQ(details.records[0].at("GROUP"), "XXX");
  EXPECT_EQ(details.records[0].at("PLBID"), std::string(50, 'X'));
  EXPECT_EQ(details.records[0].at("PLBDATE"), "");
}

// Field lookups are kept per segment, table and qualifier, for element and
// component numbers up to a limit, and dropped when too many are kept: in
// each situation a token must land where naming it afresh puts it.
TEST_F(MappingTest, KeptLookupsGiveTheFieldOfEachToken) {
  struct Stored {
    int level;
    const char *field;
    const char *value;
  };
  struct Case {
    const char *name;
    std::vector<std::string> segments;  // after ISA, GS and ST
    std::vector<Stored> stored;         // in the first record of the level
  };
  // More distinct DTM qualifiers than lookups are kept for.
  std::vector<std::string> flood = {"LX*1", "CLP*A1", "DTM*232*19990101"};
  for (int i = 0; i < 2 * kPlanLimit; ++i) flood.push_back("DTM*Q" + std::to_string(i) + "*19990101");
  for (const char *s : {"DTM*233*19990202", "DTM*232*19990303"}) flood.push_back(s);

  const Case cases[] = {
      {"a qualifier that changes between segments of one identifier",
       {"LX*1", "CLP*A1", "DTM*232*19990101", "DTM*233*19990202", "AMT*AU*10", "AMT*B6*20", "AMT*AU*30"},
       {{4, "DTM02_232", "19990101"}, {4, "DTM02_233", "19990202"}, {4, "AMT02_AU", "30.00"},
        {4, "AMT02_AU_2", "0.00"}}},
      {"a qualifier that changes inside a segment",
       {"LX*1", "CLP*A1", "AMT*B6:AU*10"},
       {{4, "AMT01_AU", "AU"}, {4, "AMT02_AU", "10.00"}}},
      {"one identifier in two tables",
       {"DTM*405*19990101", "LX*1", "CLP*A1", "DTM*405*20000202"},
       {{2, "DTM02_405", "19990101"}}},
      {"element and component numbers beyond the kept ones",
       {"LX*1", "CLP*A1" + std::string(28, '*') + "*Z", "AMT*AU" + std::string(23, '*') + "*Q",
        "MIA*a:b:c:d:e:f:g:h:i:J"},
       {{4, "CLP01", "A1"}, {4, "CLP30", "Z"}, {4, "AMT25_AU", "Q"}, {4, "MIA01_2", "b"}, {4, "MIA01_10", "J"}}},
      {"more qualifiers than lookups kept", flood, {{4, "DTM02_232", "19990303"}, {4, "DTM02_233", "19990202"}}},
  };
  std::string layout = testLayout();
  const std::string claimFields = " CLP30 C 5\n AMT25_AU C 5\n MIA01_2 C 5\n MIA01_10 C 5\n";
  layout.insert(layout.find("[LEVEL_5]"), claimFields);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    makeSet(layout);
    std::vector<std::string> segments = kGroupHead;
    segments.insert(segments.end(), c.segments.begin(), c.segments.end());
    for (const char *s : {"SE*9*0001", "GE*1*7", "IEA*1*000000001"}) segments.push_back(s);
    ASSERT_EQ(load(interchange(segments)), 0);
    for (const Stored &s : c.stored) {
      const DbfTable table = level(s.level);
      ASSERT_FALSE(table.records.empty()) << s.field;
      EXPECT_EQ(table.records[0].at(s.field), s.value) << s.field;
    }
  }
}

// A table without one of the required fields: every assignment to it is a
// null-handle report (with no context to keep the code); the load goes on.
TEST_F(MappingTest, MissingRequiredFieldIsReportedAndTheLoadGoesOn) {
  std::string layout = testLayout();
  const std::string link = " L2_PTR N 10 0\n";
  layout.erase(layout.find(link), link.size());
  makeSet(layout);
  tablekit::test_support::MessageCapture capture;
  EXPECT_EQ(load(interchange({kGroupHead[0], kGroupHead[1], "LX*1", "CLP*A1", "LX*2", "SE*4*0001", "GE*1*7",
                              "IEA*1*000000001"})),
            0);
  EXPECT_EQ(capture.shown().size(), 2u);
  EXPECT_EQ(level(3).records.size(), 2u);
  EXPECT_EQ(level(4).records.size(), 1u);
}

TEST(LeadingNumber, PlainDecimalReadingOnly) {
  struct Case {
    const char *token;
    double value;
  };
  const Case cases[] = {
      {"12.50", 12.5}, {"-10.00", -10}, {"+3", 3},     {".5", 0.5},     {"5.", 5},       {"-.25", -0.25},
      {"  7", 7},      {"1e3", 1000},   {"1E-2", 0.01}, {"2e", 2},      {"2e+", 2},      {"12AB", 12},
      {"", 0},         {"ABC", 0},      {"-", 0},      {".", 0},        {"0x10", 0},     {"inf", 0},
      {"INFINITY", 0}, {"nan", 0},      {"1e999", 0},  {"-1e999", 0},   {"3.14.15", 3.14}, {"1,234", 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.token);
    EXPECT_DOUBLE_EQ(leadingNumber(c.token), c.value);
  }
}

// A number short enough to be read without strtod must come out bit for bit
// as strtod reads it: at and past the 15 digits that allows, with many
// decimals, long runs of zeros and the sign of zero.
TEST(LeadingNumber, SameBitsAsStrtod) {
  const char *const tokens[] = {
      "0.1",           "0.3",          "-0.7",          "123456789012345",  "1234567890123456", "0.123456789012345",
      "0.1234567890123456", "99999999999999.9", "999999999999999.9", "000000000000001", "0000000000000001",
      "1.000000000000005", "4503599627370497", "9007199254740993", "-0",  "0.000", "8.675309", "2.675",
  };
  for (const char *token : tokens) {
    SCOPED_TRACE(token);
    const double expected = strtod(token, nullptr);
    const double got = leadingNumber(token);
    EXPECT_EQ(memcmp(&got, &expected, sizeof got), 0) << got << " vs " << expected;
  }
}

TEST(FieldName, PiecesNumbersAndTheCut) {
  EXPECT_STREQ(FieldName().add("BPR").addNumber(2, 2).text(), "BPR02");
  EXPECT_STREQ(FieldName().add("PLB").addNumber(13, 2).add("_").addNumber(2).text(), "PLB13_2");
  EXPECT_STREQ(FieldName().add("X").addNumber(123, 2).text(), "X123");
  EXPECT_STREQ(FieldName().add("L").addNumber(0).add("_REC").text(), "L0_REC");
  EXPECT_STREQ(FieldName().addNumber(-7, 3).text(), "-007");
  EXPECT_STREQ(FieldName().add("AMT").addNumber(2, 2).add("_").add("ABCDEFGHI").add("_").addNumber(12).text(),
               "AMT02_ABCDEFGHI_12");
  EXPECT_STREQ(FieldName().add("ABCDEFGHI").addNumber(99, 2).add("_").add("ABCDEFGHI").add("_").addNumber(12345).text(),
               "ABCDEFGHI99_ABCDEFG");
  EXPECT_TRUE(FieldName().empty());
}

}  // namespace
}  // namespace remitex
