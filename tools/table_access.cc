// Opening a table file for its raw header, and wording what it holds.
#include "table_access.h"

#include <cstring>

#include "cli.h"
#include "status.h"

namespace tktool {
namespace {

std::string records(unsigned long n) { return std::to_string(n) + (n == 1 ? " record" : " records"); }

}  // namespace

int openTableFile(const char *command, EngineSession &engine, const std::string &path, FILE4 *file, TableFile *table) {
  std::memset(file, 0, sizeof *file);
  if (file4open(file, engine.c4(), path.c_str(), 1) != 0) {
    const int status = engine.errorStatus(path);
    const std::string why =
        status == kInUse ? "it is open in another program (" + engine.errorText() + ")" : engine.errorText();
    engine.clearError();
    return complain(command, status, path + ": cannot open: " + why);
  }
  if (readTableFile(*file, table) != 0) {
    const std::string why = engine.errorText();
    engine.clearError();
    file4close(file);
    engine.clearError();
    return complain(command, kNotFound, path + ": cannot read: " + why);
  }
  return kOk;
}

std::string countVerdict(const TableFile &table) {
  std::string text = "the header counts " + (table.count < 0 ? std::to_string(table.count) + " records"
                                                             : records(static_cast<unsigned long>(table.count)));
  text += "; the file holds " + std::to_string(table.wholeRecords) + " whole";
  text += table.wholeRecords == 1 ? " record" : " records";
  if (table.restBytes > 0 && !table.endMarker) {
    text += " and " + std::to_string(table.restBytes) + " bytes of an incomplete one";
  }
  return text;
}

}  // namespace tktool
