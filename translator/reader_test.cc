// Tests of the interchange reader: delimiter discovery, the token stream
// (numbering, cleaning, limits), the envelope checks and the DTM century
// look-ahead, driven from temporary files through a sink that records tokens.
#include "reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "run_status.h"

namespace remitex {
namespace {

// Records tokens as text: "ISA" for a segment identifier (with "<prev" when a
// test asks for the previous one), "e.c=value" for an element or component.
class RecordingSink : public TokenSink {
 public:
  bool withPrevious = false;
  bool withTerminator = false;
  std::vector<std::string> tokens;

  void segmentIdentifier(const char *current, const char *previous) override {
    tokens.push_back(withPrevious ? std::string(current) + "<" + previous : current);
  }
  void element(const char *token, int elementNo, int componentNo, char terminator) override {
    std::string text = std::to_string(elementNo) + "." + std::to_string(componentNo) + "=" + token;
    if (withTerminator) text += std::string(" ") + terminator;
    tokens.push_back(text);
  }
};

struct ReadResult {
  int discovery = -1;
  int status = -1;
  std::string log;
  Delimiters delims;
};

std::FILE *fileWith(const std::string &bytes) {
  std::FILE *file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  std::rewind(file);
  return file;
}

std::string contents(std::FILE *file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::getc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

ReadResult readAll(const std::string &input, RecordingSink &sink,
                   const char *versionList = "4010,3051", size_t blockSize = kReadBlockSize) {
  ReadResult result;
  std::FILE *in = fileWith(input);
  std::FILE *log = std::tmpfile();
  InterchangeReader reader(in, versionList, log, sink, blockSize);
  reader.clearSegmentIds();
  result.discovery = reader.discoverDelimiters();
  result.delims = reader.delimiters();
  if (result.discovery == 0) result.status = reader.readTokens();
  result.log = contents(log);
  std::fclose(in);
  std::fclose(log);
  return result;
}

std::vector<std::string> tokensOf(const std::string &input) {
  RecordingSink sink;
  ReadResult result = readAll(input, sink);
  EXPECT_EQ(result.discovery, 0);
  EXPECT_EQ(result.status, 0);
  return sink.tokens;
}

// An ISA segment with '*' ':' '~' and exactly sixteen elements.
const std::string kIsa =
    "ISA*00*          *00*          *ZZ*SENDER         *ZZ*RECEIVER       "
    "*991231*1200*U*00401*000000001*0*T*:~";

// A small interchange, one segment per entry, written with '*' ':' '~'.
const std::vector<std::string> kSegments = {
    kIsa,
    "GS*HP*SENDER*RECEIVER*19991231*1200*1*X*004010X091A1~",
    "ST*835*0001~",
    "BPR*I*100.00*C*CHK************19991231~",
    "CLP*CLAIM1*1*150*100**MC*123~",
    "SVC*HC:99213:25*150*100~",
    "SE*5*0001~",
    "GE*1*1~",
    "IEA*1*000000001~",
};

std::string joined(const std::string &lineEnd) {
  std::string text;
  for (const std::string &segment : kSegments) text += segment + lineEnd;
  return text;
}

// The interchange with its delimiters replaced.
std::string withDelimiters(const std::string &text, char element, char component, char segment) {
  std::string out = text;
  for (char &c : out) {
    if (c == '*') c = element;
    else if (c == ':') c = component;
    else if (c == '~') c = segment;
  }
  return out;
}

TEST(Reader, TokenStreamOfASmallInterchange) {
  std::vector<std::string> tokens = tokensOf(joined(""));
  // ISA01..ISA15, then ISA16 as two empty components.
  ASSERT_GE(tokens.size(), 19u);
  EXPECT_EQ(tokens[0], "ISA");
  EXPECT_EQ(tokens[1], "1.1=00");
  EXPECT_EQ(tokens[2], "2.1=");  // ten blanks cleaned away
  EXPECT_EQ(tokens[15], "15.1=T");
  EXPECT_EQ(tokens[16], "16.1=");
  EXPECT_EQ(tokens[17], "16.2=");
  EXPECT_EQ(tokens[18], "GS");
  const std::vector<std::string> tail(tokens.end() - 23, tokens.end());
  const std::vector<std::string> expected = {
      "CLP", "1.1=CLAIM1", "2.1=1", "3.1=150", "4.1=100", "5.1=", "6.1=MC", "7.1=123",
      "SVC", "1.1=HC", "1.2=99213", "1.3=25", "2.1=150", "3.1=100",
      "SE", "1.1=5", "2.1=0001", "GE", "1.1=1", "2.1=1", "IEA", "1.1=1", "2.1=000000001"};
  EXPECT_EQ(std::vector<std::string>(tail.begin(), tail.end()), expected);
}

TEST(Reader, LineBreaksBetweenSegmentsChangeNoToken) {
  const std::vector<std::string> single = tokensOf(joined(""));
  EXPECT_EQ(tokensOf(joined("\n")), single);
  EXPECT_EQ(tokensOf(joined("\r\n")), single);
  EXPECT_EQ(tokensOf(joined("\r\n   ")), single);  // indented segments
}

TEST(Reader, AnyDelimitersGiveTheSameTokens) {
  struct Case {
    const char *name;
    char element, component, segment;
    const char *lineEnd;
  };
  const Case cases[] = {
      {"star colon tilde", '*', ':', '~', ""},
      {"pipe caret tilde", '|', '^', '~', "\n"},
      {"pipe caret newline", '|', '^', '\n', ""},
      {"plus gt carriage return", '+', '>', '\r', "\n"},
      {"star pipe tilde", '*', '|', '~', "\r\n"},
  };
  const std::vector<std::string> expected = tokensOf(joined(""));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    ReadResult result =
        readAll(withDelimiters(joined(c.lineEnd), c.element, c.component, c.segment), sink);
    EXPECT_EQ(result.delims.element, c.element);
    EXPECT_EQ(result.delims.component, c.component);
    EXPECT_EQ(result.delims.segment, c.segment);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(sink.tokens, expected);
  }
}

TEST(Reader, Isa16GivesTwoEmptyTokensEndedByItsDelimiters) {
  RecordingSink sink;
  sink.withTerminator = true;
  readAll(kIsa + "IEA*1*1~", sink);
  ASSERT_EQ(sink.tokens.size(), 21u);
  EXPECT_EQ(sink.tokens[16], "16.1= :");
  EXPECT_EQ(sink.tokens[17], "16.2= ~");
  EXPECT_EQ(sink.tokens[18], "IEA");  // the sink gets no terminator with an identifier
}

TEST(Reader, SegmentIdentifiersKnowTheirPredecessor) {
  RecordingSink sink;
  sink.withPrevious = true;
  readAll(kIsa + "GS*HP*A*B*1*1*1*X*004010~ST*835*1~", sink);
  std::vector<std::string> ids;
  for (const std::string &token : sink.tokens) {
    if (token.find('<') != std::string::npos) ids.push_back(token);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"ISA<", "GS<ISA", "ST<GS"}));
}

TEST(Reader, EmptyElementsAreTokens) {
  RecordingSink sink;
  readAll(kIsa + "BPR*I**C*:*~", sink);
  const std::vector<std::string> tail(sink.tokens.end() - 7, sink.tokens.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"BPR", "1.1=I", "2.1=", "3.1=C", "4.1=", "4.2=",
                                            "5.1="}));
}

TEST(Reader, CleaningRules) {
  struct Case {
    const char *name;
    std::string raw;
    std::string clean;
  };
  const Case cases[] = {
      {"plain", "ABC", "ABC"},
      {"line break before a segment", "\r\nCLP", "CLP"},
      {"leading blanks and tabs", " \t  X Y", "X Y"},
      {"trailing blanks cut", "AB  ", "AB"},
      {"inner blanks kept", "A  B", "A  B"},
      {"high bytes at the start", "\xEF\xBB\xBFISA", "ISA"},
      {"high byte inside", "CAF\xC9 NOIR", "CAF NOIR"},
      {"control bytes inside", "A\tB\rC\x01", "ABC"},
      {"zero byte inside", std::string("A\0B", 3), "AB"},
      {"byte 127 is kept", "A\x7F", "A\x7F"},
      {"only blanks", "   ", ""},
      {"blank after a control byte at the end", "AB\r ", "AB"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    char buffer[kTokenSize] = {};
    c.raw.copy(buffer, c.raw.size());
    int len = cleanToken(buffer, static_cast<int>(c.raw.size()));
    EXPECT_EQ(std::string(buffer), c.clean);
    EXPECT_EQ(len, static_cast<int>(c.clean.size()));
  }
}

TEST(Reader, HighAndControlBytesNeverReachTheSink) {
  RecordingSink sink;
  readAll(kIsa + "NM1*QC*1*M\xDCLLER\x07*ANN~", sink);
  const std::vector<std::string> tail(sink.tokens.end() - 5, sink.tokens.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"NM1", "1.1=QC", "2.1=1", "3.1=MLLER", "4.1=ANN"}));
}

TEST(Reader, OverlongTokensAreCutAndReadingGoesOn) {
  RecordingSink sink;
  const std::string longValue(1000, 'A');
  readAll(kIsa + "NTE*" + longValue + "*NEXT~ABCDEFGHIJKLMN*1~IEA*1~", sink);
  const std::vector<std::string> tail(sink.tokens.end() - 7, sink.tokens.end());
  const std::vector<std::string> expected = {
      "NTE", "1.1=" + std::string(kTokenSize - 1, 'A'), "2.1=NEXT",
      "ABCDEFGHI", "1.1=1",  // a segment identifier keeps nine characters
      "IEA", "1.1=1"};
  EXPECT_EQ(tail, expected);
}

TEST(Reader, EndOfFileDropsTheUnfinishedToken) {
  struct Case {
    const char *name;
    std::string end;
    std::vector<std::string> last;
  };
  const Case cases[] = {
      {"no delimiter after the last value", "IEA*1*000000001", {"IEA", "1.1=1"}},
      {"line break after the last terminator", "IEA*1*000000001~\r\n",
       {"IEA", "1.1=1", "2.1=000000001"}},
      {"terminator is the last byte", "IEA*1*000000001~", {"IEA", "1.1=1", "2.1=000000001"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    ReadResult result = readAll(kIsa + c.end, sink);
    EXPECT_EQ(result.status, 0);
    const std::vector<std::string> tail(sink.tokens.end() - c.last.size(), sink.tokens.end());
    EXPECT_EQ(tail, c.last);
  }
}

TEST(Reader, DelimiterDiscovery) {
  struct Case {
    const char *name;
    std::string input;
    int status;
  };
  const Case cases[] = {
      {"complete ISA", kIsa, 0},
      {"only ISA", "ISA", kRunRejected},
      {"fifteen separators", "ISA*0*1*2*3*4*5*6*7*8*9*0*1*2*3*4", kRunRejected},
      {"sixteen separators, no ISA16", "ISA*0*1*2*3*4*5*6*7*8*9*0*1*2*3*4*", kRunRejected},
      {"ISA16 but no terminator", "ISA*0*1*2*3*4*5*6*7*8*9*0*1*2*3*4*:", kRunRejected},
      {"shortest complete", "ISA*0*1*2*3*4*5*6*7*8*9*0*1*2*3*4*:~", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    ReadResult result = readAll(c.input, sink);
    EXPECT_EQ(result.discovery, c.status);
    EXPECT_EQ(result.log, "");
    if (c.status == 0) {
      EXPECT_EQ(sink.tokens.front(), "ISA");  // rewound to the first byte
    }
  }
}

TEST(Reader, DtmCenturyLookAhead) {
  struct Case {
    const char *name;
    std::string segment;
    std::vector<std::string> tokens;  // the DTM tokens delivered
  };
  const Case cases[] = {
      {"century in DTM05", "DTM*036*991231***19~",
       {"DTM", "1.1=036", "2.1=19991231", "3.1=", "4.1=", "5.1=19"}},
      {"century 20 after a time", "DTM*036*101231*0800**20~",
       {"DTM", "1.1=036", "2.1=20101231", "3.1=0800", "4.1=", "5.1=20"}},
      {"century 18", "DTM*036*991231***18~",
       {"DTM", "1.1=036", "2.1=18991231", "3.1=", "4.1=", "5.1=18"}},
      {"sixth element", "DTM*036*991231***19*D8~",
       {"DTM", "1.1=036", "2.1=991231", "3.1=", "4.1=", "5.1=19", "6.1=D8"}},
      {"other DTM05", "DTM*036*991231***21~",
       {"DTM", "1.1=036", "2.1=991231", "3.1=", "4.1=", "5.1=21"}},
      {"DTM02 ends the segment", "DTM*036*991231~", {"DTM", "1.1=036", "2.1=991231"}},
      {"segment ends at DTM04", "DTM*036*991231**19~",
       {"DTM", "1.1=036", "2.1=991231", "3.1=", "4.1=19"}},
      {"DTM05 with a blank is not a century", "DTM*036*991231***19 ~",
       {"DTM", "1.1=036", "2.1=991231", "3.1=", "4.1=", "5.1=19"}},
      // DTM05 is compared as text up to a zero byte; cleaning then drops it.
      {"DTM05 ends at a zero byte", "DTM*036*991231***19" + std::string(1, '\0') + "X~",
       {"DTM", "1.1=036", "2.1=19991231", "3.1=", "4.1=", "5.1=19X"}},
      {"century on a segment across lines", "DTM*036*991231***19~\r\n",
       {"DTM", "1.1=036", "2.1=19991231", "3.1=", "4.1=", "5.1=19"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    readAll(kIsa + c.segment + "SE*1*1~", sink);
    // The tokens read ahead are read again: the segment and SE follow whole.
    std::vector<std::string> expected = c.tokens;
    expected.insert(expected.end(), {"SE", "1.1=1", "2.1=1"});
    const std::vector<std::string> tail(sink.tokens.end() - expected.size(), sink.tokens.end());
    EXPECT_EQ(tail, expected);
  }
}

TEST(Reader, DtmLookAheadAtEndOfFile) {
  RecordingSink sink;
  ReadResult result = readAll(kIsa + "DTM*036*991231***19", sink);
  EXPECT_EQ(result.status, 0);
  const std::vector<std::string> tail(sink.tokens.end() - 5, sink.tokens.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"DTM", "1.1=036", "2.1=991231", "3.1=", "4.1="}));
}

// The reader reads in blocks of its own; the tokens must not show it. Block
// sizes from 1 up put every token, delimiter and DTM look-ahead across a
// block boundary somewhere; blocks smaller than a look-ahead make it read on
// from the stream and return; blocks that divide the file exactly make the
// last read come back full.
TEST(Reader, TokensDoNotDependOnTheBlockSize) {
  struct Case {
    const char *name;
    std::string body;                // after the ISA segment
    std::vector<std::string> last;   // the last tokens delivered
  };
  const std::string longTime(1000, 'T');
  const Case cases[] = {
      {"DTM look-ahead", "DTM*036*991231*0800**19~SE*1*1~",
       {"DTM", "1.1=036", "2.1=19991231", "3.1=0800", "4.1=", "5.1=19", "SE", "1.1=1", "2.1=1"}},
      {"look-ahead over a DTM03 longer than a block", "DTM*036*991231*" + longTime + "**20~SE*1*1~",
       {"DTM", "1.1=036", "2.1=20991231", "3.1=" + std::string(kTokenSize - 1, 'T'), "4.1=",
        "5.1=20", "SE", "1.1=1", "2.1=1"}},
      {"DTM05 longer than a block is no century",
       "DTM*036*991231***19" + std::string(1000, '9') + "~SE*1*1~",
       {"DTM", "1.1=036", "2.1=991231", "3.1=", "4.1=", "5.1=19" + std::string(kTokenSize - 3, '9'),
        "SE", "1.1=1", "2.1=1"}},
      // Dropped leading bytes count towards the bytes kept: the 399th raw
      // byte is the blank, which cleaning then cuts.
      {"token longer than a block, cut and cleaned",
       "NTE*\r\n" + std::string(kTokenSize - 4, 'A') + " B" + std::string(600, 'C') + "*NEXT~",
       {"NTE", "1.1=" + std::string(kTokenSize - 4, 'A'), "2.1=NEXT"}},
      {"end of file inside the look-ahead", "DTM*036*991231*0800**1",
       {"DTM", "1.1=036", "2.1=991231", "3.1=0800", "4.1="}},
      {"end of file inside a long look-ahead", "DTM*036*991231*" + longTime,
       {"DTM", "1.1=036", "2.1=991231"}},
      {"file ends with a terminator", "IEA*1*000000001~", {"IEA", "1.1=1", "2.1=000000001"}},
  };
  for (const Case &c : cases) {
    const std::string input = kIsa + c.body;
    std::vector<size_t> blockSizes = {input.size() - 1, input.size(), input.size() + 1,
                                      kReadBlockSize};
    for (size_t size = 1; size <= 64; ++size) blockSizes.push_back(size);
    for (size_t parts = 2; parts <= 5; ++parts) {
      if (input.size() % parts == 0) blockSizes.push_back(input.size() / parts);
    }
    RecordingSink whole;
    readAll(input, whole);
    for (size_t blockSize : blockSizes) {
      SCOPED_TRACE(std::string(c.name) + ", blocks of " + std::to_string(blockSize));
      RecordingSink sink;
      ReadResult result = readAll(input, sink, "4010,3051", blockSize);
      EXPECT_EQ(result.status, 0);
      ASSERT_GE(sink.tokens.size(), c.last.size());
      const std::vector<std::string> tail(sink.tokens.end() - c.last.size(), sink.tokens.end());
      EXPECT_EQ(tail, c.last);
      EXPECT_EQ(sink.tokens, whole.tokens);
    }
  }
}

TEST(Reader, EnvelopeChecks) {
  const char *kGs01Text =
      "REMITEX.DAT rejected - not an REMITEX file, Functional Identifier (GS01) not = HP";
  struct Case {
    const char *name;
    std::string body;  // after the ISA segment
    const char *versionList;
    int status;
    std::string log;
  };
  const std::string gs = "GS*HP*A*B*19991231*1200*1*X*004010X091A1~";
  const Case cases[] = {
      {"accepted", gs + "ST*835*1~SE*1*1~GE*1*1~", "4010,3051", 0, ""},
      {"GS01 HPX passes", "GS*HPX*A*B*1*1*1*X*004010X091A1~", "4010,3051", 0, ""},
      {"GS01 not HP", "GS*HC*A*B*1*1*1*X*004010X098A1~", "4010,3051", kRunRejected, kGs01Text},
      {"GS01 empty", "GS**A~", "4010,3051", kRunRejected, kGs01Text},
      {"second group not HP", gs + "ST*835*1~SE*1*1~GE*1*1~GS*HI*A~", "4010,3051", kRunRejected,
       kGs01Text},
      {"3051 listed", "GS*HP*A*B*1*1*1*X*003051~", "4010,3051", 0, ""},
      {"version anywhere in the list", gs, "5010\n4010\n", 0, ""},
      {"version not listed", gs, "5010", kRunVersion, ""},
      {"only part of the version listed", gs, "40", kRunVersion, ""},
      {"GS08 of five characters", "GS*HP*A*B*1*1*1*X*00401~", "4010,3051,401", kRunVersion, ""},
      {"GS08 empty", "GS*HP*A*B*1*1*1*X*~", "4010,3051", kRunVersion, ""},
      {"second group of another version", gs + "GE*1*1~GS*HP*A*B*1*1*1*X*005010X221A1~",
       "4010,3051", kRunVersion, ""},
      {"ST01 8350", gs + "ST*8350*1~", "4010,3051", kRunRejected, ""},
      {"ST01 83", gs + "ST*83*1~", "4010,3051", kRunRejected, ""},
      {"second set not 835", gs + "ST*835*1~SE*1*1~ST*837*2~", "4010,3051", kRunRejected, ""},
      {"STX begins with ST", gs + "STX*1~", "4010,3051", kRunRejected, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    ReadResult result = readAll(kIsa + c.body, sink, c.versionList);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.log, c.log);
    // The rejected GS01, GS08 or ST01 never reaches the sink.
    if (c.status != 0) {
      const std::string &last = sink.tokens.back();
      EXPECT_TRUE(last.rfind("1.1=", 0) != 0 && last.rfind("8.1=", 0) != 0) << last;
    }
  }
}

}  // namespace
}  // namespace remitex
