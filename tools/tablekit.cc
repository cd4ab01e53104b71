// tablekit: the companion tool of remitex for the people who run and support
// it. Makes table sets from layout files, shows headers, dumps records and
// mends a record count that a crash left wrong. The commands live in
// *_command.cc; this file picks one and prints the tool's help.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "status.h"

namespace {

constexpr char kHelp[] =
    "usage: tablekit COMMAND [ARGUMENTS]\n"
    "\n"
    "The companion tool of remitex: makes, shows, dumps and mends its tables.\n"
    "\n"
    "commands:\n"
    "  create LAYOUT DIR         make the tables a layout file describes in DIR\n"
    "  info TABLE|DIR...         show headers and fields; check record counts\n"
    "  dump TABLE|DIR            print records as CSV or JSON (--json), or the\n"
    "                            level tables along their links (--follow)\n"
    "  repair TABLE|DIR... --yes set a record count to the whole records present\n"
    "\n"
    "'tablekit COMMAND --help' tells more of each.\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  bad command line\n"
    "  2  a file or directory is missing or cannot be read or made\n"
    "  3  a table is damaged, or its record count disagrees with its length\n"
    "  4  the layout file has errors\n"
    "  5  a change needs --yes (repair) or --force (create)\n"
    "  6  the engine failed while making or writing a table\n"
    "  7  a table is open in another program that excludes this use\n"
    "When several things go wrong, the highest status is returned.\n";

struct Command {
  const char *name;
  int (*run)(const std::vector<std::string> &args);
};

constexpr Command kCommands[] = {
    {"create", tktool::createCommand},
    {"info", tktool::infoCommand},
    {"dump", tktool::dumpCommand},
    {"repair", tktool::repairCommand},
};

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fputs(kHelp, stderr);
    return tktool::kUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    std::fputs(kHelp, stdout);
    return tktool::kOk;
  }
  for (const Command &command : kCommands) {
    if (name == command.name) return command.run(std::vector<std::string>(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "tablekit: unknown command '%s' (see 'tablekit --help')\n", name.c_str());
  return tktool::kUsage;
}
