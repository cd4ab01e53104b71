// tablekit create: a table set from a layout file, made with the engine's
// own d4create. The layout is read and checked whole before anything is
// made, and existing tables are replaced only with --force.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "cli.h"
#include "commands.h"
#include "engine_session.h"
#include "layout.h"
#include "status.h"

namespace tktool {
namespace {
namespace fs = std::filesystem;

constexpr char kCommand[] = "create";
constexpr char kHelp[] =
    "usage: tablekit create LAYOUT DIR [--force] [--table NAME]...\n"
    "\n"
    "Makes the tables that the layout file LAYOUT describes in the directory DIR\n"
    "(made when missing): DIR/NAME.DBF for every [NAME] section, with NAME.DBT\n"
    "beside it when the table has a memo field. The tables are empty.\n"
    "\n"
    "  --table NAME  make only this table of the layout (may be repeated)\n"
    "  --force       replace tables that already exist (their .DBT and .MDX files\n"
    "                are removed too); without it nothing is made over them\n"
    "\n"
    "Layout files: one field a line, 'NAME TYPE [LENGTH [DECIMALS]]', under\n"
    "'[TABLE]' headers; '#' starts a comment. Types C (1-254), N and F (1-20,\n"
    "decimals up to length-2), D, L and M. See tools/README.md.\n"
    "\n"
    "Exit status: 0 made, 1 bad arguments, 2 LAYOUT unreadable or DIR not made,\n"
    "4 errors in the layout, 5 tables exist and --force was not given,\n"
    "6 the engine failed to make a table.\n";

// The files of table NAME in dir, whatever the case of their names: its data
// file and the memo and index files that go with it.
std::vector<fs::path> existingFiles(const fs::path &dir, const std::string &table) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    for (const char *ext : {".DBF", ".DBT", ".MDX"}) {
      if (sameName(name, table + ext)) found.push_back(it->path());
    }
  }
  return found;
}

// The layout's tables, or those named by --table.
int chooseTables(const Layout &layout, const std::vector<std::string> &wanted, std::vector<const LayoutTable *> *out) {
  for (const LayoutTable &table : layout.tables) {
    bool take = wanted.empty();
    for (const std::string &name : wanted) take = take || sameName(name, table.name);
    if (take) out->push_back(&table);
  }
  for (const std::string &name : wanted) {
    bool known = false;
    for (const LayoutTable &table : layout.tables) known = known || sameName(name, table.name);
    if (!known) return complain(kCommand, kUsage, "the layout has no table " + name);
  }
  return kOk;
}

int makeTable(EngineSession &engine, const fs::path &dir, const LayoutTable &table) {
  std::vector<FIELD4INFO> info;
  for (const LayoutField &field : table.fields) {
    info.push_back(FIELD4INFO{const_cast<char *>(field.name.c_str()), static_cast<short>(field.type),
                              static_cast<unsigned short>(field.len), static_cast<unsigned short>(field.dec), 0});
  }
  info.push_back(FIELD4INFO{nullptr, 0, 0, 0, 0});
  const std::string path = (dir / table.name).string();
  DATA4 *data = d4create(engine.c4(), path.c_str(), info.data(), nullptr);
  if (data == nullptr) {
    const int status = complain(kCommand, kFailed, path + ".DBF: not made: " + engine.errorText());
    engine.clearError();
    return status;
  }
  if (d4close(data) < 0) {
    const int status = complain(kCommand, kFailed, path + ".DBF: not closed properly: " + engine.errorText());
    engine.clearError();
    return status;
  }
  std::printf("made %s.DBF: %zu fields, record width %lu\n", path.c_str(), table.fields.size(),
              layoutRecordWidth(table));
  return kOk;
}

}  // namespace

int createCommand(const std::vector<std::string> &args) {
  static const OptionRule rules[] = {{"--force", false}, {"--table", true}};
  ParsedArgs parsed;
  if (!parseArgs(kCommand, args, rules, sizeof rules / sizeof rules[0], &parsed)) return kUsage;
  if (parsed.help) return std::fputs(kHelp, stdout), kOk;
  if (parsed.operands.size() != 2) {
    return complain(kCommand, kUsage, "expected a layout file and a directory (see 'tablekit create --help')");
  }
  const std::string &layoutPath = parsed.operands[0];
  const fs::path dir(parsed.operands[1]);

  // 1. Read and check the whole layout.
  std::ifstream in(layoutPath);
  if (!in) return complain(kCommand, kNotFound, layoutPath + ": cannot read the layout file");
  Layout layout;
  std::vector<std::string> errors;
  if (!parseLayout(in, layoutPath, &layout, &errors)) {
    for (const std::string &error : errors) std::fprintf(stderr, "%s\n", error.c_str());
    return complain(kCommand, kBadLayout, "the layout has errors; nothing was made");
  }
  std::vector<const LayoutTable *> tables;
  if (int status = chooseTables(layout, parsed.values("--table"), &tables)) return status;

  // 2. The directory, and what already lies in it.
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir)) {
    return complain(kCommand, kNotFound,
                    dir.string() + ": cannot make the directory" + (ec ? ": " + ec.message() : ""));
  }
  std::vector<fs::path> existing;
  for (const LayoutTable *table : tables) {
    const std::vector<fs::path> files = existingFiles(dir, table->name);
    existing.insert(existing.end(), files.begin(), files.end());
  }
  if (!existing.empty() && !parsed.has("--force")) {
    for (const fs::path &file : existing) std::fprintf(stderr, "  %s exists\n", file.string().c_str());
    return complain(kCommand, kRefused, "tables exist already; nothing was made (--force replaces them)");
  }
  for (const fs::path &file : existing) {
    if (!fs::remove(file, ec)) return complain(kCommand, kFailed, file.string() + ": cannot remove: " + ec.message());
  }

  // 3. Make every table; go on after a failure so that each is reported.
  EngineSession engine(1, false);
  int status = kOk;
  for (const LayoutTable *table : tables) status = std::max(status, makeTable(engine, dir, *table));
  return status;
}

}  // namespace tktool
