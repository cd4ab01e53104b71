// Tables this engine writes, read back by two independent readers from the
// system's packages: Python's dbfread (python3-dbfread) and Perl's XBase
// (libdbd-xbase-perl), memo contents included. The table has N, F, C, D, L
// and M fields, deleted records, memos of one and of several blocks, and a
// range zapped out of its middle. A reader that is not installed skips the
// test with a message (scripts/install-deps.sh installs both).
//
// Both readers print every record as one JSON array, the live records first
// and then the deleted ones, each group in file order:
//   [deleted, ID, AMOUNT as "%.2f", NAME, BORN as CCYYMMDD or "", OK as
//    "T", "F" or "?", NOTE]
// with an empty number as null. The test builds the same lines from what it
// wrote.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "file/test_support.h"
#include "foundation/foundation.h"

namespace tablekit {
namespace {

using file::testing::Context;
using file::testing::TempDir;

// dbfread takes the length stored before a memo's contents, which counts
// the 8 bytes of the memo's own header, for the length of the contents, and
// so returns 8 bytes more than the contents: those that follow them in the
// memo file. The script drops them.
const char *const kPythonReader = R"PY(
import json, sys
from dbfread import DBF
table = DBF(sys.argv[1], encoding='ascii', char_decode_errors='strict')
def row(deleted, r):
    note = r['NOTE']
    if note is not None:
        note = note[:-8]
    return [deleted,
            r['ID'],
            None if r['AMOUNT'] is None else '%.2f' % r['AMOUNT'],
            r['NAME'],
            '' if r['BORN'] is None else r['BORN'].strftime('%Y%m%d'),
            {True: 'T', False: 'F', None: '?'}[r['OK']],
            note or '']
for r in table:
    print(json.dumps(row(0, r), separators=(',', ':')))
for r in table.deleted:
    print(json.dumps(row(1, r), separators=(',', ':')))
)PY";

const char *const kPerlReader = R"PL(
use strict;
use XBase;
use JSON::PP;
my $table = XBase->new($ARGV[0]) or die XBase->errstr;
my $json = JSON::PP->new->ascii;
my (@live, @deleted);
for my $n (0 .. $table->last_record) {
  my ($deleted, $id, $amount, $name, $born, $ok, $note) =
      $table->get_record($n, qw(ID AMOUNT NAME BORN OK NOTE));
  die $table->errstr unless defined $deleted;
  $name =~ s/\s+$//;
  $born = '' unless defined $born;
  $born =~ s/\s+$//;
  my $line = $json->encode([
      $deleted ? 1 : 0,
      defined $id ? 0 + $id : undef,
      defined $amount ? sprintf('%.2f', $amount) : undef,
      $name,
      "$born",
      !defined $ok ? '?' : ($ok ? 'T' : 'F'),
      defined $note ? $note : '']);
  push @{$deleted ? \@deleted : \@live}, $line;
}
print "$_\n" for @live, @deleted;
)PL";

// What one record holds.
struct Row {
  long id;
  bool hasAmount;
  double amount;
  std::string name;
  std::string born;  // CCYYMMDD or ""
  char ok;           // 'T', 'F' or ' '
  std::string note;
  bool deleted;
};

std::string jsonString(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

std::string jsonLine(const Row &r) {
  char amount[40];
  std::snprintf(amount, sizeof amount, "\"%.2f\"", r.amount);
  return "[" + std::to_string(r.deleted ? 1 : 0) + "," + std::to_string(r.id) + "," +
         (r.hasAmount ? std::string(amount) : std::string("null")) + "," + jsonString(r.name) + "," +
         jsonString(r.born) + "," + jsonString(std::string(1, r.ok == ' ' ? '?' : r.ok)) + "," + jsonString(r.note) +
         "]";
}

// Memo text of n bytes: numbered lines.
std::string memoText(unsigned n, int seed) {
  std::string text;
  for (int line = 0; text.size() < n; ++line)
    text += "memo " + std::to_string(seed) + " line " + std::to_string(line) + ": the quick brown fox\n";
  text.resize(n);
  return text;
}

// Runs a reader program and returns its lines, or fails.
bool runReader(const std::string &command, std::vector<std::string> *lines, std::string *failure) {
  FILE *pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    *failure = "cannot run: " + command;
    return false;
  }
  std::string line;
  int c;
  while ((c = std::fgetc(pipe)) != EOF) {
    if (c == '\n') {
      lines->push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(c);
    }
  }
  if (!line.empty()) lines->push_back(line);
  const int status = ::pclose(pipe);
  if (status != 0) {
    *failure = command + " ended with status " + std::to_string(status);
    return false;
  }
  return true;
}

std::string quoted(const std::string &text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Debian's interpreter, whatever else comes first on the path.
std::string python() { return ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

bool available(const std::string &check) { return std::system((check + " >/dev/null 2>&1").c_str()) == 0; }

class TablesInteropTest : public ::testing::Test {
 protected:
  // Writes the table through the engine and returns the rows it holds, in
  // file order.
  std::vector<Row> writeTable(const std::string &name) {
    FIELD4INFO fields[] = {{const_cast<char *>("ID"), 'N', 6, 0, 0},   {const_cast<char *>("AMOUNT"), 'F', 10, 2, 0},
                           {const_cast<char *>("NAME"), 'C', 20, 0, 0}, {const_cast<char *>("BORN"), 'D', 8, 0, 0},
                           {const_cast<char *>("OK"), 'L', 1, 0, 0},    {const_cast<char *>("NOTE"), 'M', 10, 0, 0},
                           {nullptr, 0, 0, 0, 0}};
    CODE4 &c4 = ctx.c4;
    c4.accessMode = 1;
    DATA4 *data = d4create(&c4, name.c_str(), fields, nullptr);
    EXPECT_NE(nullptr, data) << Context::lastMessage();
    if (data == nullptr) return {};

    // Memo lengths of one block (20, 480 bytes), two (600) and several (1500,
    // 3000); none ends within 8 bytes of its last block's end (see the
    // Python reader).
    const unsigned noteLengths[] = {20, 0, 600, 1500, 0, 3000, 480, 20, 0, 1500};
    std::vector<Row> rows;
    for (int i = 0; i < 10; ++i) {
      Row r;
      r.id = i + 1;
      r.hasAmount = i != 8;
      r.amount = (i + 1) * 12.25 - 30;
      r.name = i == 6 ? "" : "name " + std::to_string(i + 1);
      r.born = i % 3 == 1 ? "" : "2024" + std::string(i < 9 ? "0" : "") + std::to_string(i + 1) + "15";
      r.ok = "TF "[i % 3];
      r.note = memoText(noteLengths[i], i + 1);
      r.deleted = i == 1 || i == 7 || i == 9;
      rows.push_back(r);

      EXPECT_EQ(0, d4appendStart(data, 0));
      d4blank(data);
      f4assignLong(d4field(data, "ID"), r.id);
      if (r.hasAmount) f4assignDouble(d4field(data, "AMOUNT"), r.amount);
      f4assign(d4field(data, "NAME"), r.name.c_str());
      f4assign(d4field(data, "BORN"), r.born.c_str());
      f4assignChar(d4field(data, "OK"), r.ok);
      if (!r.note.empty()) {
        EXPECT_EQ(0, f4memoAssignN(d4field(data, "NOTE"), r.note.data(), static_cast<unsigned>(r.note.size())));
      }
      if (r.deleted) d4delete(data);
      EXPECT_EQ(0, d4append(data)) << Context::lastMessage();
    }
    // Record 10 is recalled in place; records 4 to 6 go.
    EXPECT_EQ(0, d4go(data, 10));
    d4recall(data);
    rows[9].deleted = false;
    EXPECT_EQ(0, d4zap(data, 4, 6)) << Context::lastMessage();
    rows.erase(rows.begin() + 3, rows.begin() + 6);
    EXPECT_EQ(0, d4close(data));
    EXPECT_EQ(0, c4.errorCode) << Context::lastMessage();
    return rows;
  }

  static std::vector<std::string> expectedLines(const std::vector<Row> &rows) {
    std::vector<std::string> lines;
    for (bool deleted : {false, true}) {
      for (const Row &r : rows) {
        if (r.deleted == deleted) lines.push_back(jsonLine(r));
      }
    }
    return lines;
  }

  TempDir dir;
  Context ctx;
};

TEST_F(TablesInteropTest, PythonDbfreadReadsWhatTheEngineWrote) {
  if (!available(python() + " -c 'import dbfread'"))
    GTEST_SKIP() << "python3-dbfread is not installed (scripts/install-deps.sh installs it)";
  const std::string path = dir / "interop";
  const std::vector<Row> rows = writeTable(path);
  ASSERT_EQ(7u, rows.size());
  std::vector<std::string> lines;
  std::string failure;
  ASSERT_TRUE(runReader(python() + " -c " + quoted(kPythonReader) + " " + quoted(path + ".DBF"), &lines, &failure))
      << failure << "\n" << (lines.empty() ? "" : lines.back());
  EXPECT_EQ(expectedLines(rows), lines);
}

TEST_F(TablesInteropTest, PerlXBaseReadsWhatTheEngineWrote) {
  if (!available("perl -MXBase -MJSON::PP -e 1"))
    GTEST_SKIP() << "Perl XBase (libdbd-xbase-perl) is not installed (scripts/install-deps.sh installs it)";
  const std::string path = dir / "interop";
  const std::vector<Row> rows = writeTable(path);
  ASSERT_EQ(7u, rows.size());
  std::vector<std::string> lines;
  std::string failure;
  ASSERT_TRUE(runReader("perl -e " + quoted(kPerlReader) + " " + quoted(path + ".DBF"), &lines, &failure))
      << failure << "\n" << (lines.empty() ? "" : lines.back());
  EXPECT_EQ(expectedLines(rows), lines);
}

}  // namespace
}  // namespace tablekit
