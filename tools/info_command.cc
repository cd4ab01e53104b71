// tablekit info: a table's header as it lies on disk, its fields, and
// whether its record count agrees with the file's length.
#include <algorithm>
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "engine_session.h"
#include "status.h"
#include "table_access.h"

namespace tktool {
namespace {

constexpr char kCommand[] = "info";
constexpr char kHelp[] =
    "usage: tablekit info TABLE|DIR...\n"
    "\n"
    "Shows the header of each table (every .DBF file of a directory): version,\n"
    "date of last update, record count, header length, record width, table flags,\n"
    "and every field with its type, length, decimals and offset in the record.\n"
    "Says whether the record count agrees with the length of the file. Nothing\n"
    "is changed; tables open elsewhere for reading may be looked at.\n"
    "\n"
    "Exit status: 0 every table is sound, 1 bad arguments, 2 a table is missing\n"
    "or unreadable, 3 a table is damaged or its count disagrees with its length\n"
    "('tablekit repair' mends the count), 7 a table is open exclusively elsewhere.\n";

void printFields(const TableFile &table) {
  std::printf("  fields         %zu\n", table.fields.size());
  std::printf("       #  name        type  length  decimals  offset\n");
  int number = 0;
  for (const FieldInfo &field : table.fields) {
    std::printf("    %4d  %-10s  %-4c  %6u  %8u  %6lu\n", ++number, field.name.c_str(), field.type, field.len,
                field.dec, field.offset);
  }
}

int showTable(EngineSession &engine, const std::string &path) {
  FILE4 file;
  TableFile table;
  if (int status = openTableFile(kCommand, engine, path, &file, &table)) return status;
  file4close(&file);
  engine.clearError();

  std::printf("%s\n", path.c_str());
  std::printf("  version        0x%02X (%s)\n", table.version, table.hasMemo() ? "with a memo file" : "no memo file");
  std::printf("  last update    %04u-%02u-%02u\n", table.year, table.month, table.day);
  std::printf("  record count   %ld\n", table.count);
  std::printf("  header length  %u bytes\n", table.headerLen);
  std::printf("  record width   %u bytes\n", table.recWidth);
  std::printf("  table flags    0x%02X%s\n", table.flags, table.hasIndex() ? " (production index)" : "");
  std::printf("  file length    %lu bytes\n", table.fileLen);
  if (!table.fields.empty()) printFields(table);

  int status = kOk;
  if (!table.faults.empty()) {
    std::printf("  state          DAMAGED\n");
    for (const std::string &fault : table.faults) std::printf("    %s\n", fault.c_str());
    status = complain(kCommand, kDamaged, path + ": damaged: " + table.faults.front());
  } else if (!table.countAgrees()) {
    std::printf("  state          COUNT DISAGREES: %s\n", countVerdict(table).c_str());
    status = complain(kCommand, kDamaged,
                      path + ": " + countVerdict(table) + " ('tablekit repair --yes " + path + "' mends the count)");
  } else {
    std::printf("  state          sound: %s\n", countVerdict(table).c_str());
    if (table.restBytes > 0 && !table.endMarker) {
      std::printf("    %lu bytes after the last record are not a whole record; the next append overwrites them\n",
                  table.restBytes);
    } else if (table.restBytes == 0) {
      std::printf("    no end-of-file byte after the last record\n");
    }
  }
  std::printf("\n");
  return status;
}

}  // namespace

int infoCommand(const std::vector<std::string> &args) {
  ParsedArgs parsed;
  if (!parseArgs(kCommand, args, nullptr, 0, &parsed)) return kUsage;
  if (parsed.help) return std::fputs(kHelp, stdout), kOk;
  if (parsed.operands.empty()) {
    return complain(kCommand, kUsage, "expected a table or a directory (see 'tablekit info --help')");
  }

  EngineSession engine(0, true);
  const int status =
      forEachTable(kCommand, parsed.operands, [&engine](const std::string &path) { return showTable(engine, path); });
  std::fflush(stdout);
  return status;
}

}  // namespace tktool
