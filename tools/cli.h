// What the tablekit commands share: their option parsing, their messages on
// standard error, and the finding of the tables a path names.
#ifndef TABLEKIT_TOOLS_CLI_H
#define TABLEKIT_TOOLS_CLI_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace tktool {

struct OptionRule {
  const char *name;  // "--json"
  bool takesValue;   // "--table NAME"
};

struct ParsedArgs {
  std::vector<std::string> operands;
  std::vector<std::pair<std::string, std::string>> options;  // name and value ("" for a flag)
  bool help = false;

  bool has(const char *name) const;
  std::vector<std::string> values(const char *name) const;
};

// Splits a command's arguments into options and operands. "--" ends the
// options; "-h" and "--help" set help. On an unknown option or a missing
// value, prints the fault and returns false.
bool parseArgs(const char *command, const std::vector<std::string> &args, const OptionRule *rules, size_t nRules,
               ParsedArgs *out);

// "tablekit COMMAND: message" on standard error; returns status.
int complain(const char *command, int status, const std::string &message);

// The tables a path names: the path itself when it is a file, else the file
// of that name (with ".DBF" added when it has no such extension) whatever the
// case of its letters; every .DBF file of it (any case, sorted by name) when
// it is a directory. Returns 0, or complains and returns the status.
int findTables(const char *command, const std::string &path, std::vector<std::string> *tables);

// Runs action on every table the operands name (findTables) and returns the
// highest status of the finding and of the actions.
int forEachTable(const char *command, const std::vector<std::string> &operands,
                 const std::function<int(const std::string &path)> &action);

// Whether two names are equal, ignoring the case of ASCII letters.
bool sameName(const std::string &a, const std::string &b);

// The file name of a path without its directory ("DATA/LEVEL_1.DBF" gives
// "LEVEL_1.DBF").
std::string baseName(const std::string &path);

}  // namespace tktool

#endif  // TABLEKIT_TOOLS_CLI_H
