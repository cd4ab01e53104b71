// Exit statuses of tablekit, one meaning each (listed by `tablekit --help`
// and in tools/README.md). A command that meets several faults ends with the
// highest status among them.
#ifndef TABLEKIT_TOOLS_STATUS_H
#define TABLEKIT_TOOLS_STATUS_H

namespace tktool {

constexpr int kOk = 0;
constexpr int kUsage = 1;      // unknown command or option, missing or extra argument
constexpr int kNotFound = 2;   // a file or directory is missing or cannot be read or made
constexpr int kDamaged = 3;    // a table's header is damaged or disagrees with the file's length
constexpr int kBadLayout = 4;  // the layout file has errors; nothing was created
constexpr int kRefused = 5;    // a change that needs --yes or --force was not made
constexpr int kFailed = 6;     // the engine failed while creating or writing
constexpr int kInUse = 7;      // a table is open elsewhere with a mode that excludes this use

}  // namespace tktool

#endif  // TABLEKIT_TOOLS_STATUS_H
