// The engine's one error reporter: the texts of the error codes, the message
// a report shows, the optional error-log file and the exported error4*
// operations. Every other unit reports through report() (error4describeExecute)
// and passes the code it returns up unchanged.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "foundation/foundation.h"
#include "platform/platform.h"

// The open error-log file of a context. Each record goes to the end of the
// file as it stands at the report, after what others may have added.
struct tk_errorlog {
  std::FILE *file;
};

namespace tablekit {
namespace {

struct CodeEntry {
  int code;
  const char *text;
};

// Searched from the start; the first match wins.
constexpr CodeEntry kCodeTable[] = {
    // Files
    {-10, "Closing File"},
    {-20, "Creating File"},
    {-30, "Determining File Length"},
    {-40, "Setting File Length"},
    {-50, "Locking File"},
    {-60, "Opening File"},
    {-61, "Permission Error Opening File"},
    {-62, "Access Error Opening File"},
    {-63, "File Handle Count Overflow Error Opening File"},
    {-64, "File Find Error Opening File"},
    {-69, "Duplicate Instance Found Error Opening File"},
    {-70, "Reading File"},
    {-80, "Removing File"},
    {-90, "Renaming File"},
    {-110, "Unlocking File"},
    {-120, "Writing to File"},
    // Tables
    {-200, "File is not a Data File"},
    {-210, "Unrecognized Field Name"},
    {-220, "Unrecognized Field Type"},
    {-230, "Record Length is too Large"},
    {-240, "Record Append Attempt Past End of File"},
    {-250, "Attempt to perform a d4seekDouble() on non-numeric tag"},
    // Indexes
    {-300, "Tag Entry Missing"},
    {-310, "Not a Correct Index File"},
    {-330, "Tag Name not Found"},
    {-340, "Unique Key Error"},
    {-350, "Tag Information Invalid"},
    {-360, "Candidate Key Error"},
    // Expressions
    {-400, "Comma or Bracket Expected"},
    {-410, "Expression not Complete"},
    {-420, "Data File Name not Located"},
    {-422, "IIF() Needs Parameters of Same Length"},
    {-425, "SUBSTR() and STR() need Constant Parameters"},
    {-430, "Number of Parameters is Wrong"},
    {-440, "Overflow while Evaluating Expression"},
    {-450, "Right Bracket Missing"},
    {-460, "Sub-expression Type is Wrong"},
    {-470, "Unrecognized Function"},
    {-480, "Unrecognized Operator"},
    {-490, "Unrecognized Value"},
    {-500, "Unterminated String"},
    {-510, "Expression Invalid for Tag"},
    // Cache
    {-610, "Optimization Error"},
    {-620, "Optimization Removal Failure"},
    {-630, "Optimization File Flushing Failure"},
    // Relations
    {-710, "Relation Error"},
    {-720, "Matching Slave Record Not Located"},
    {-730, "Relation Referred to Does Not Exist or is Not Initialized"},
    // Reports
    {-810, "Report Error"},
    {-811, "Error Creating Style"},
    {-812, "Error Selecting Style"},
    {-813, "Error Finding Style"},
    {-814, "Error Creating Area"},
    {-815, "Error Creating Group"},
    {-816, "Error Setting Group Reset-Expression"},
    {-817, "Error Creating Total"},
    {-818, "Error Creating Object"},
    {-819, "Error In Windows Output"},
    {-820, "Error In Report Output"},
    {-821, "Error Saving Report"},
    {-822, "Error Retrieving Report"},
    {-823, "Error In Sending Report to Data File"},
    // Critical
    {-910, "Unexpected Information"},
    {-920, "Out of Memory"},
    {-930, "Unexpected Parameter"},
    {-935, "Null Input Parameter unexpected"},
    {-950, "Unexpected Result"},
    {-960, "Structure Verification Failure"},
    {-970, "Data Structure Corrupt or not Initialized"},
    // Not supported
    {-1010, "Function unsupported: library compiled with S4OFF_INDEX"},
    {-1020, "Function unsupported: library compiled with S4OFF_MEMO"},
    {-1030, "Function unsupported: library compiled with S4NO_RENAME"},
    {-1040, "Function unsupported: library compiled with S4OFF_WRITE"},
    {-1050, "Function unsupported: library not compiled with S4CLIPPER"},
    {-1060, "Function unsupported: library not compiled with S4LOCK_HOOK"},
    {-1090, "Function unsupported"},
    {-1095, "Application/Library version mismatch"},
    // Memo
    {-1110, "Memo File Corrupt"},
    {-1120, "Error Creating Memo File"},
    // Transactions
    {-1200, "Transaction Violation Error"},
    {-1210, "Transaction Error"},
    {-1220, "Transaction Rollback Failure"},
    {-1230, "Transaction Commit Failure"},
    {-1240, "Error Appending Information to Log File"},
    {-1250, "Transaction state confliction"},
    // Client and server
    {-1300, "Communication Information Corrupt"},
    {-1310, "Connection Failure"},
    {-1320, "Socket Failure"},
    {-1330, "Network Failure"},
    {-1340, "Failure Loading Communication DLL"},
    {-1350, "Network Timed Out"},
    {-1360, "Communication Message Corrupt"},
    {-1370, "Communication Packet Length Mismatch"},
    {-1380, "Communication Packet Corrupt"},
    {-1390, "system-level communication failure"},
    {-1400, "TABLEKIT Capabilities Exceeded (system maxed out)"},
    {-1420, "Name not Found error"},
    {-1430, "Authorization Error (access denied)"},
    {-1440, "Invalid User ID Authorization Error (access denied)"},
    {-1450, "Invalid Password Authorization Error (access denied)"},
    {-1460, "Invalid TCP Address access Authorization Error (access denied)"},
    {-1470, "Server is not accepting any new connections at this time - contact System Administrator for details"},
    {-2100, "Server Failure"},
    {-2110, "Server Configuration Failure"},
};

constexpr const char *kUnknownText = "Invalid or Unknown Error Code";
constexpr const char *kLineEnd = "\r\n";

// The message is built in an area of this many bytes; it bounds only the
// description lines, the four header lines are always written whole.
constexpr std::size_t kMessageArea = 256;

// "Error" and " #: " open both number lines of a message.
constexpr char kNumberLabel[] = "Error #: ";
constexpr std::size_t kNumberLabelLen = sizeof kNumberLabel - 1;
constexpr std::size_t kCodeLineLen = 31;                       // label, code in 5, blanks
constexpr std::size_t kLocationLineLen = kNumberLabelLen + 7;  // label, number in 6, one blank

long locationNumber(long location) {
  const LocationEntry *entry = locationEntry(location);
  return entry != nullptr ? entry->number : 0;
}

const char *locationText(long location) {
  const LocationEntry *entry = locationEntry(location);
  return entry != nullptr ? entry->text : kUnknownText;
}

// A line of the given length, blank-filled, starting with the label and
// holding value right-aligned in width columns after it.
std::string numberLine(std::size_t len, long value, int width) {
  std::string line(len, ' ');
  line.replace(0, kNumberLabelLen, kNumberLabel);
  rightAlignLong(&line[kNumberLabelLen], value, width);
  return line + kLineEnd;
}

// One field of an error-log record: value right-aligned in 10 columns.
std::string logNumber(long value) {
  char buf[10];
  rightAlignLong(buf, value, static_cast<int>(sizeof buf));
  return std::string(buf, sizeof buf) + kLineEnd;
}

// The record appended to the error log for one report.
std::string logRecord(int code, long location, const char *const (&descriptions)[3]) {
  const platform::LocalTime now = platform::localTime();
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d  %02d:%02d:%02d", now.year, now.month, now.day, now.hour,
                now.minute, now.second);
  std::string record = std::string(stamp) + kLineEnd;
  record += logNumber(code);
  record += std::string(codeText(code)) + kLineEnd;
  record += logNumber(locationNumber(location));
  record += std::string(locationText(location)) + kLineEnd;
  for (const char *d : descriptions) {
    if (d != nullptr) record += std::string(d) + kLineEnd;
  }
  record += kLineEnd;
  record += kLineEnd;
  return record;
}

// Appends a report to the context's error log. The log is detached while it
// is written, so that a failure inside the writing is not logged again;
// failures of the log itself are ignored.
void appendToLog(CODE4 &c4, int code, long location, const char *const (&descriptions)[3]) {
  tk_errorlog *log = c4.errorLog;
  c4.errorLog = nullptr;
  const std::string record = logRecord(code, location, descriptions);
  if (std::fseek(log->file, 0, SEEK_END) == 0) {
    (void)std::fwrite(record.data(), 1, record.size(), log->file);
    (void)std::fflush(log->file);
  }
  c4.errorLog = log;
}

// Opens the error-log file as error4file asks. Returns 0, or the condition a
// file open or create returns with its errors switched off: 70 for a file
// that exists but cannot be opened, 60 for one that cannot be created (the
// condition is also left in the context's error code).
int openLogFile(CODE4 &c4, tk_errorlog &log, const char *name, bool overwrite) {
  if (!overwrite) {
    errno = 0;
    log.file = std::fopen(name, "r+b");
    if (log.file != nullptr) return 0;
    if (errno != ENOENT) return c4.errorCode = r4noOpen;
  }
  // A new log replaces an existing file only when asked to ("x": refuse).
  log.file = std::fopen(name, overwrite ? "wb" : "wbx");
  if (log.file == nullptr) return c4.errorCode = r4noCreate;
  return 0;
}

}  // namespace

void rightAlignLong(char *out, long value, int width) {
  const bool zeroPad = width < 0;
  const int len = zeroPad ? -width : width;
  if (len == 0) return;
  // The magnitude as unsigned, so that the most negative long has one too.
  unsigned long magnitude = value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  // The digits from the right, at least one; i ends before the first.
  int i = len - 1;
  do {
    out[i--] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0 && i >= 0);
  if (magnitude != 0) {
    std::memset(out, '*', static_cast<std::size_t>(len));
    return;
  }
  std::memset(out, zeroPad ? '0' : ' ', static_cast<std::size_t>(i + 1));
  if (value < 0) {
    // The sign needs a blank before the digits.
    if (out[0] != ' ') {
      std::memset(out, '*', static_cast<std::size_t>(len));
      return;
    }
    out[i] = '-';
  }
}

const char *codeText(int code) {
  for (const CodeEntry &entry : kCodeTable) {
    if (entry.code == code) return entry.text;
  }
  return kUnknownText;
}

std::string messageText(int code, long location, const char *d1, const char *d2, const char *d3) {
  std::string text;
  if (code != 0) {
    text += numberLine(kCodeLineLen, code, 5);
    text += numberLine(kLocationLineLen, locationNumber(location), 6);
    text += std::string(codeText(code)) + kLineEnd;
    text += std::string(locationText(location)) + kLineEnd;
  }
  for (const char *d : {d1, d2, d3}) {
    if (d == nullptr) continue;
    const std::size_t len = std::strlen(d);
    if (text.size() + len + 3 > kMessageArea) break;
    text.append(d, len);
    text += kLineEnd;
  }
  return text;
}

int reportReturning(CODE4 *c4, int code, long location, const char *d1, const char *d2, const char *d3) {
  if (c4 != nullptr && c4->errorLog != nullptr) appendToLog(*c4, code, location, {d1, d2, d3});
  error4out(c4, code, location, d1, d2, d3);
  if (c4 != nullptr) {
    c4->errorCode = code;
    c4->errorCode2 = location;
  }
  return code;
}

int report(CODE4 *c4, int code, long location, const char *d1, const char *d2, const char *d3) {
  reportReturning(c4, code, location, d1, d2, d3);
  if (err::isFatal(code)) code4exit(c4);  // does not return
  return code;
}

void closeErrorLog(CODE4 &c4) {
  if (c4.errorLog == nullptr) return;
  (void)std::fclose(c4.errorLog->file);
  delete c4.errorLog;
  c4.errorLog = nullptr;
}

}  // namespace tablekit

using namespace tablekit;

TK_EXPORT int error4describeExecute(CODE4 *c4, int errCode, long location, const char *s1, const char *s2,
                                    const char *s3) {
  return report(c4, errCode, location, s1, s2, s3);
}

TK_EXPORT int error4describeDefault(CODE4 *c4, int errCode, long location, const char *s1, const char *s2,
                                    const char *s3) {
  return error4describeExecute(c4, errCode, location, s1, s2, s3);
}

TK_EXPORT int error4default(CODE4 *c4, int errCode, long location) {
  return error4describeExecute(c4, errCode, location, nullptr, nullptr, nullptr);
}

TK_EXPORT void error4out(CODE4 *c4, int errCode, long location, const char *s1, const char *s2, const char *s3) {
  if (c4 != nullptr) {
    c4->errorCode = errCode;
    if (c4->errOff != 0) return;
  }
  // Messages are shown in the character set they are built in: the console
  // and the message output share one here, so there is nothing to convert.
  const std::string text = messageText(errCode, location, s1, s2, s3);
  // Standard error is the message output; when it is closed the message is
  // lost, but the report still stands in the context and the error log.
  (void)platform::showMessage(kMessageTitle, text.c_str());
}

TK_EXPORT int error4set(CODE4 *c4, int value) {
  if (c4 == nullptr) return report(nullptr, err::kParmNull, loc::error4set);
  const int previous = c4->errorCode;
  c4->errorCode = value;
  return previous;
}

TK_EXPORT long error4set2(CODE4 *c4, long value) {
  if (c4 == nullptr) return report(nullptr, err::kParmNull, loc::error4set);
  const long previous = c4->errorCode2;
  c4->errorCode2 = value;
  return previous;
}

TK_EXPORT void error4exitTest(CODE4 *c4) {
  if (c4 != nullptr && c4->errorCode < 0) code4exit(c4);
}

TK_EXPORT const char *error4text(CODE4 *, long code) {
  if (code < 0) return code >= INT_MIN ? codeText(static_cast<int>(code)) : kUnknownText;
  return locationText(code);
}

TK_EXPORT long error4number2(long location) { return locationNumber(location); }

TK_EXPORT int error4file(CODE4 *c4, const char *fileName, int overwrite) {
  if (c4 == nullptr || fileName == nullptr) return report(c4, err::kParmNull, loc::method::Code4_errorLog);
  if (c4->errorLog != nullptr) return -1;
  auto *log = new (std::nothrow) tk_errorlog{nullptr};
  if (log == nullptr) return report(c4, err::kMemory, loc::method::Code4_errorLog);
  const int rc = openLogFile(*c4, *log, fileName, overwrite != 0);
  if (rc != 0) {
    delete log;
    return rc;
  }
  c4->errorLog = log;
  return 0;
}

TK_EXPORT int error4hook(CODE4 *c4, int, long location, const char *, const char *, const char *) {
  return report(c4, err::kNotSupported, location);
}
