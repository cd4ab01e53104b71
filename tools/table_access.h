// Opening a table file for reading its raw header (info, repair) and
// judging what it holds, shared by the commands that look at damaged tables.
#ifndef TABLEKIT_TOOLS_TABLE_ACCESS_H
#define TABLEKIT_TOOLS_TABLE_ACCESS_H

#include <string>

#include "engine_session.h"
#include "table_file.h"

namespace tktool {

// Opens path with the session's access mode and reads its header into
// *table. Returns 0 with *file open (the caller closes it), or complains
// and returns the exit status with *file closed.
int openTableFile(const char *command, EngineSession &engine, const std::string &path, FILE4 *file, TableFile *table);

// One sentence on how the record count compares with the file's length:
// "the header counts 10 records; the file holds 8 whole records and 17
// bytes of an incomplete one".
std::string countVerdict(const TableFile &table);

}  // namespace tktool

#endif  // TABLEKIT_TOOLS_TABLE_ACCESS_H
