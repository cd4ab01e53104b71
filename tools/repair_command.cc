// tablekit repair: a table whose header count disagrees with its length
// after a crash gets the count of the whole records present. The file is
// opened exclusively, a sound table is never written, and nothing is changed
// without --yes.
//
// Order of the writes: the end-of-file byte after the last whole record and
// the new length first, flushed; the count last. A repair cut short leaves
// the count as it was, so the table still shows as damaged and the repair
// can run again.
#include <algorithm>
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "engine_session.h"
#include "status.h"
#include "table_access.h"

namespace tktool {
namespace {

constexpr char kCommand[] = "repair";
constexpr char kHelp[] =
    "usage: tablekit repair TABLE|DIR... [--yes]\n"
    "\n"
    "Mends a table whose record count disagrees with the length of its file, as\n"
    "a crash during a load can leave it: the count becomes the number of whole\n"
    "records present, the bytes of an incomplete last record are cut off and the\n"
    "end-of-file byte is written after the last whole record. Records counted but\n"
    "never written are lost; records written but not yet counted come back.\n"
    "A table whose count agrees is left untouched. Each table is opened\n"
    "exclusively: no other program may have it open. Rebuild the table's\n"
    "indexes afterwards (a load by remitex does).\n"
    "\n"
    "  --yes  make the change; without it the tool only says what it would do\n"
    "\n"
    "Exit status: 0 every table sound or repaired, 1 bad arguments, 2 a table is\n"
    "missing or unreadable, 3 a table is damaged beyond its count (not changed),\n"
    "5 a repair is needed and --yes was not given, 6 writing failed,\n"
    "7 a table is open in another program.\n";

std::string range(unsigned long first, unsigned long last) {
  return first == last ? "Record " + std::to_string(first)
                       : "Records " + std::to_string(first) + " to " + std::to_string(last);
}

// What the repair will do to the table, as a warning on standard error.
void warn(const std::string &path, const TableFile &table) {
  std::fprintf(stderr, "tablekit repair: WARNING: %s: %s.\n", path.c_str(), countVerdict(table).c_str());
  std::fprintf(stderr, "  The repair sets the count to %lu", table.wholeRecords);
  if (table.restBytes > 0 && !table.endMarker)
    std::fprintf(stderr, ", cuts the %lu bytes of the incomplete record", table.restBytes);
  std::fprintf(stderr, " and writes the end-of-file byte after the last whole record.\n");
  const unsigned long counted = table.count < 0 ? 0 : static_cast<unsigned long>(table.count);
  if (counted > table.wholeRecords) {
    std::fprintf(stderr, "  %s, counted but never written in whole, will be gone.\n",
                 range(table.wholeRecords + 1, counted).c_str());
  } else if (counted < table.wholeRecords) {
    std::fprintf(stderr, "  %s, written but not counted, will be part of the table again.\n",
                 range(counted + 1, table.wholeRecords).c_str());
  }
  if (table.hasIndex()) std::fprintf(stderr, "  The table's index no longer matches it afterwards: rebuild it.\n");
}

// Writes the repair. 0, or the engine's negative code.
int mend(FILE4 &file, const TableFile &table) {
  const char marker = kEndOfFile;
  const long end = static_cast<long>(table.recordsEnd());
  if (int rc = file4write(&file, end, &marker, 1)) return rc;
  if (int rc = file4lenSetLow(&file, table.recordsEnd() + 1)) return rc;
  if (int rc = file4flush(&file)) return rc;
  const unsigned long count = table.wholeRecords;
  const unsigned char bytes[4] = {static_cast<unsigned char>(count), static_cast<unsigned char>(count >> 8),
                                  static_cast<unsigned char>(count >> 16), static_cast<unsigned char>(count >> 24)};
  if (int rc = file4write(&file, kCountOffset, bytes, sizeof bytes)) return rc;
  return file4flush(&file);
}

int repairTable(EngineSession &engine, const std::string &path, bool yes) {
  FILE4 file;
  TableFile table;
  if (int status = openTableFile(kCommand, engine, path, &file, &table)) return status;
  int status = kOk;
  if (!table.faults.empty()) {
    for (const std::string &fault : table.faults) std::fprintf(stderr, "  %s\n", fault.c_str());
    status = complain(kCommand, kDamaged, path + ": damaged beyond its record count; not changed");
  } else if (table.countAgrees()) {
    std::printf("%s: sound (%s); not changed\n", path.c_str(), countVerdict(table).c_str());
  } else if (!yes) {
    warn(path, table);
    status =
        complain(kCommand, kRefused, path + ": not changed; run 'tablekit repair --yes " + path + "' to repair it");
  } else if (file.isReadOnly) {
    status = complain(kCommand, kNotFound, path + ": the file may only be read; not changed");
  } else {
    warn(path, table);
    if (mend(file, table) != 0) {
      status = complain(kCommand, kFailed, path + ": the repair failed: " + engine.errorText());
      engine.clearError();
    } else {
      std::printf("%s: repaired: %lu records\n", path.c_str(), table.wholeRecords);
    }
  }
  file4close(&file);
  engine.clearError();
  return status;
}

}  // namespace

int repairCommand(const std::vector<std::string> &args) {
  static const OptionRule rules[] = {{"--yes", false}};
  ParsedArgs parsed;
  if (!parseArgs(kCommand, args, rules, 1, &parsed)) return kUsage;
  if (parsed.help) return std::fputs(kHelp, stdout), kOk;
  if (parsed.operands.empty()) {
    return complain(kCommand, kUsage, "expected a table or a directory (see 'tablekit repair --help')");
  }
  EngineSession engine(1, false);
  const bool yes = parsed.has("--yes");
  const int status = forEachTable(kCommand, parsed.operands,
                                  [&engine, yes](const std::string &path) { return repairTable(engine, path, yes); });
  std::fflush(stdout);
  return status;
}

}  // namespace tktool
