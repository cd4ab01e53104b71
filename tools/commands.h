// The tablekit commands. Each takes the arguments after its name, prints its
// results on standard output and its faults on standard error, and returns
// an exit status of status.h.
#ifndef TABLEKIT_TOOLS_COMMANDS_H
#define TABLEKIT_TOOLS_COMMANDS_H

#include <string>
#include <vector>

namespace tktool {

int createCommand(const std::vector<std::string> &args);
int infoCommand(const std::vector<std::string> &args);
int dumpCommand(const std::vector<std::string> &args);
int repairCommand(const std::vector<std::string> &args);

}  // namespace tktool

#endif  // TABLEKIT_TOOLS_COMMANDS_H
