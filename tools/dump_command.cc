// tablekit dump: the records of one table or of a whole set as CSV or JSON,
// or, with --follow, the level tables as a tree along their parent links.
//
// Links of the level tables: a LEVEL_n record (n from 1 to 5) is numbered by
// its field L<n>_REC and, from level 2 on, names its parent by L<n-1>_PTR;
// a LEVEL_6 detail names its parent by LEVEL (the parent's level) and
// REC_PTR (the parent's number). Under each record come first its details,
// then its children of the next level, each in record order. Records whose
// parent is not there follow the tree as "unlinked" records.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "cli.h"
#include "commands.h"
#include "dump_format.h"
#include "engine_session.h"
#include "status.h"
#include "table_access.h"

namespace tktool {
namespace {

constexpr char kCommand[] = "dump";
constexpr char kHelp[] =
    "usage: tablekit dump TABLE|DIR [--json] [--follow]\n"
    "\n"
    "Prints the records of a table, or of every table (.DBF file) of a directory.\n"
    "\n"
    "CSV (the default): per table a line '# TABLE FILE', a header line\n"
    "'_recno,_deleted,FIELD,...', one line per record and an empty line. Deleted\n"
    "records are printed too, with _deleted 1. Character fields lose their\n"
    "trailing blanks; numbers and dates are shown as stored, logicals as T or F,\n"
    "memo fields with their contents.\n"
    "\n"
    "  --json    one JSON document: for a table {\"table\", \"file\", \"count\",\n"
    "            \"fields\", \"records\"}, for a directory {\"tables\": [...]}; each\n"
    "            record an object with \"_recno\", \"_deleted\" and its fields (blank\n"
    "            numbers, dates and logicals are null)\n"
    "  --follow  DIR must hold LEVEL_1 to LEVEL_6: prints every LEVEL_1 record with\n"
    "            its children nested, following L<n>_REC and L<n-1>_PTR, and the\n"
    "            LEVEL_6 details under their parents (LEVEL and REC_PTR); details\n"
    "            first, then the next level. As an indented outline (blank fields\n"
    "            and zero numbers left out), or with --json as {\"records\": [...],\n"
    "            \"unlinked\": [...]}, children in \"_children\"\n"
    "\n"
    "Exit status: 0 printed, 1 bad arguments, 2 a table is missing or unreadable,\n"
    "3 a table is damaged, its count disagrees with its length, or (--follow) it\n"
    "lacks a link field, 7 a table is open exclusively in another program.\n";

constexpr int kLevels = 6;

// One table opened through the engine, read record by record.
class Table {
 public:
  ~Table() {
    if (data_ != nullptr) d4close(data_);
  }
  int open(EngineSession &engine, const std::string &path);

  const std::string &path() const { return path_; }
  std::string name() const { return d4alias(data_); }
  long count() const { return count_; }
  const std::vector<FIELD4 *> &fields() const { return fields_; }
  FIELD4 *field(const char *name) { return d4field(data_, name); }
  bool deleted() { return d4deleted(data_) != 0; }
  int go(long recNo) { return d4go(data_, recNo); }

 private:
  std::string path_;
  DATA4 *data_ = nullptr;
  long count_ = 0;
  std::vector<FIELD4 *> fields_;
};

int Table::open(EngineSession &engine, const std::string &path) {
  path_ = path;
  // The header first: a damaged table is refused with the reason, not with
  // the engine's bare refusal.
  FILE4 file;
  TableFile header;
  if (int status = openTableFile(kCommand, engine, path, &file, &header)) return status;
  file4close(&file);
  engine.clearError();
  if (!header.faults.empty()) return complain(kCommand, kDamaged, path + ": damaged: " + header.faults.front());
  if (!header.countAgrees()) {
    return complain(kCommand, kDamaged,
                    path + ": " + countVerdict(header) + " ('tablekit repair' mends the count); not dumped");
  }
  data_ = d4open(engine.c4(), path.c_str());
  if (data_ == nullptr) {
    const int status = engine.errorStatus(path);
    const std::string why = engine.errorText();
    engine.clearError();
    return complain(kCommand, status, path + ": cannot open: " + why);
  }
  count_ = d4recCountDo(data_);
  for (int j = 1; j <= d4numFields(data_); ++j) fields_.push_back(d4fieldJ(data_, j));
  return kOk;
}

// Loads record recNo or complains.
int load(EngineSession &engine, Table &table, long recNo) {
  if (table.go(recNo) == 0) return kOk;
  const std::string why = engine.errorText();
  engine.clearError();
  return complain(kCommand, kDamaged, table.path() + ": record " + std::to_string(recNo) + " cannot be read: " + why);
}

// ---------------------------------------------------------------- flat dumps

int dumpCsv(EngineSession &engine, Table &table) {
  std::printf("# %s %s\n_recno,_deleted", table.name().c_str(), table.path().c_str());
  for (FIELD4 *field : table.fields()) std::printf(",%s", csvText(f4name(field)).c_str());
  std::printf("\n");
  for (long r = 1; r <= table.count(); ++r) {
    if (int status = load(engine, table, r)) return status;
    std::string line = std::to_string(r) + (table.deleted() ? ",1" : ",0");
    for (FIELD4 *field : table.fields()) line += "," + csvValue(readValue(field));
    line += "\n";
    std::fputs(line.c_str(), stdout);
  }
  std::printf("\n");
  return kOk;
}

// The record in the buffer as the members of a JSON object, without braces.
std::string jsonMembers(Table &table, long recNo) {
  std::string out = "\"_recno\": " + std::to_string(recNo) + ", \"_deleted\": " + (table.deleted() ? "true" : "false");
  for (FIELD4 *field : table.fields()) out += ", " + jsonString(f4name(field)) + ": " + jsonValue(readValue(field));
  return out;
}

int dumpJson(EngineSession &engine, Table &table, const char *indent) {
  std::printf("%s{\"table\": %s, \"file\": %s, \"count\": %ld,\n%s \"fields\": [", indent,
              jsonString(table.name()).c_str(), jsonString(table.path()).c_str(), table.count(), indent);
  const char *separator = "";
  for (FIELD4 *field : table.fields()) {
    std::printf("%s{\"name\": %s, \"type\": \"%c\", \"length\": %lu, \"decimals\": %d}", separator,
                jsonString(f4name(field)).c_str(), static_cast<char>(f4type(field)), f4len(field), f4decimals(field));
    separator = ", ";
  }
  std::printf("],\n%s \"records\": [", indent);
  for (long r = 1; r <= table.count(); ++r) {
    if (int status = load(engine, table, r)) return status;
    const std::string line = std::string(r == 1 ? "\n" : ",\n") + indent + "  {" + jsonMembers(table, r) + "}";
    std::fputs(line.c_str(), stdout);
  }
  std::printf("%s]}", table.count() > 0 ? "\n " : "");
  return kOk;
}

int dumpFlat(EngineSession &engine, const std::vector<std::string> &paths, bool json, bool set) {
  if (json && set) std::printf("{\"tables\": [\n");
  int status = kOk;
  bool first = true;
  for (const std::string &path : paths) {
    Table table;
    if (int opened = table.open(engine, path)) {
      status = std::max(status, opened);
      continue;
    }
    if (json && set && !first) std::printf(",\n");
    first = false;
    const int done = json ? dumpJson(engine, table, set ? "  " : "") : dumpCsv(engine, table);
    status = std::max(status, done);
  }
  if (json) std::printf(set ? "\n]}\n" : "\n");
  return status;
}

// ---------------------------------------------------------------- --follow

// A child's link: the key of its parent and its own record number.
struct Link {
  long long key;
  long recNo;
  bool operator<(const Link &other) const { return key != other.key ? key < other.key : recNo < other.recNo; }
};

long long detailKey(long level, long number) { return (static_cast<long long>(level) << 40) + number; }

class Tree {
 public:
  Tree(EngineSession &engine, bool json) : engine_(engine), json_(json) {}
  int open(const std::string &dir);
  int print();

 private:
  int index();
  int visit(int level, long recNo, int depth, const char *separator);
  int visitLinked(const std::vector<Link> &links, long long key, int level, int depth, bool *first);
  void printRecord(int level, long recNo, int depth);

  EngineSession &engine_;
  bool json_;
  Table tables_[kLevels];
  FIELD4 *own_[kLevels] = {};            // L<n>_REC of levels 1 to 5
  FIELD4 *parent_[kLevels] = {};         // L<n-1>_PTR of levels 2 to 5; LEVEL of LEVEL_6
  FIELD4 *recPtr_ = nullptr;             // REC_PTR of LEVEL_6
  std::vector<Link> children_[kLevels];  // per level 2 to 6, sorted
  std::vector<char> printed_[kLevels];
};

int Tree::open(const std::string &dir) {
  for (int n = 1; n <= kLevels; ++n) {
    std::vector<std::string> found;
    const std::string name = "LEVEL_" + std::to_string(n);
    if (int status = findTables(kCommand, dir + "/" + name, &found)) return status;
    Table &table = tables_[n - 1];
    if (int status = table.open(engine_, found.front())) return status;
    const std::string ownName = "L" + std::to_string(n) + "_REC";
    const std::string parentName = n == kLevels ? "LEVEL" : "L" + std::to_string(n - 1) + "_PTR";
    if (n < kLevels) own_[n - 1] = table.field(ownName.c_str());
    if (n > 1) parent_[n - 1] = table.field(parentName.c_str());
    if (n == kLevels) recPtr_ = table.field("REC_PTR");
    const char *missing = n < kLevels && own_[n - 1] == nullptr ? ownName.c_str()
                          : n > 1 && parent_[n - 1] == nullptr  ? parentName.c_str()
                          : n == kLevels && recPtr_ == nullptr  ? "REC_PTR"
                                                                : nullptr;
    engine_.clearError();  // a missing field is a finding here, not an error
    if (missing != nullptr) {
      return complain(kCommand, kDamaged, table.path() + " has no field " + missing + ": its links cannot be followed");
    }
  }
  return index();
}

// Reads every link of levels 2 to 6 once, so that children are found by a
// binary search.
int Tree::index() {
  for (int n = 2; n <= kLevels; ++n) {
    Table &table = tables_[n - 1];
    std::vector<Link> &links = children_[n - 1];
    links.reserve(static_cast<size_t>(table.count()));
    for (long r = 1; r <= table.count(); ++r) {
      if (int status = load(engine_, table, r)) return status;
      const long parent = f4long(parent_[n - 1]);
      links.push_back(Link{n == kLevels ? detailKey(parent, f4long(recPtr_)) : parent, r});
    }
    std::sort(links.begin(), links.end());
  }
  for (int n = 1; n <= kLevels; ++n) printed_[n - 1].assign(static_cast<size_t>(tables_[n - 1].count()) + 1, 0);
  return kOk;
}

void Tree::printRecord(int level, long recNo, int depth) {
  Table &table = tables_[level - 1];
  if (json_) {
    std::printf("%*s{\"_table\": %s, %s", depth * 2, "", jsonString(table.name()).c_str(),
                jsonMembers(table, recNo).c_str());
    return;
  }
  std::string line = std::string(static_cast<size_t>(depth) * 2, ' ') + table.name() + " #" + std::to_string(recNo);
  if (table.deleted()) line += " (deleted)";
  line += ":";
  for (FIELD4 *field : table.fields()) {
    const std::string item = outlineItem(f4name(field), readValue(field));
    if (!item.empty()) line += " " + item;
  }
  line += "\n";
  std::fputs(line.c_str(), stdout);
}

int Tree::visitLinked(const std::vector<Link> &links, long long key, int level, int depth, bool *first) {
  for (auto it = std::lower_bound(links.begin(), links.end(), Link{key, 0}); it != links.end() && it->key == key;
       ++it) {
    if (printed_[level - 1][static_cast<size_t>(it->recNo)]) continue;
    if (int status = visit(level, it->recNo, depth, *first ? "" : ",\n")) return status;
    *first = false;
  }
  return kOk;
}

// Prints record recNo of a level and, beneath it, everything linked to it.
int Tree::visit(int level, long recNo, int depth, const char *separator) {
  Table &table = tables_[level - 1];
  printed_[level - 1][static_cast<size_t>(recNo)] = 1;
  if (int status = load(engine_, table, recNo)) return status;
  if (json_) std::fputs(separator, stdout);
  printRecord(level, recNo, depth);
  if (level == kLevels) {
    if (json_) std::printf("}");
    return kOk;
  }
  const long number = f4long(own_[level - 1]);  // read before the buffer is reused
  if (json_) std::printf(", \"_children\": [\n");
  bool first = true;
  int status = visitLinked(children_[kLevels - 1], detailKey(level, number), kLevels, depth + 1, &first);
  if (status == kOk && level + 1 < kLevels)
    status = visitLinked(children_[level], number, level + 1, depth + 1, &first);
  if (json_) std::printf("%s%*s]}", first ? "" : "\n", first ? 0 : depth * 2, "");
  return status;
}

int Tree::print() {
  if (json_) std::printf("{\"records\": [\n");
  bool first = true;
  for (long r = 1; r <= tables_[0].count(); ++r) {
    if (int status = visit(1, r, json_ ? 1 : 0, first ? "" : ",\n")) return status;
    first = false;
  }
  if (json_) std::printf("\n],\n\"unlinked\": [\n");
  bool anyUnlinked = false;
  for (int n = 2; n <= kLevels; ++n) {
    for (long r = 1; r <= tables_[n - 1].count(); ++r) {
      if (printed_[n - 1][static_cast<size_t>(r)]) continue;
      if (!json_ && !anyUnlinked) std::printf("unlinked records (their parent is not in the set):\n");
      if (int status = visit(n, r, 1, anyUnlinked ? ",\n" : "")) return status;
      anyUnlinked = true;
    }
  }
  if (json_) std::printf("\n]}\n");
  return kOk;
}

}  // namespace

int dumpCommand(const std::vector<std::string> &args) {
  static const OptionRule rules[] = {{"--json", false}, {"--follow", false}};
  ParsedArgs parsed;
  if (!parseArgs(kCommand, args, rules, sizeof rules / sizeof rules[0], &parsed)) return kUsage;
  if (parsed.help) return std::fputs(kHelp, stdout), kOk;
  if (parsed.operands.size() != 1) {
    return complain(kCommand, kUsage, "expected one table or directory (see 'tablekit dump --help')");
  }
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);

  // Others may read the tables meanwhile, but not write them.
  EngineSession engine(2, true);
  const std::string &operand = parsed.operands.front();
  int status = kOk;
  if (parsed.has("--follow")) {
    auto tree = std::make_unique<Tree>(engine, parsed.has("--json"));
    status = tree->open(operand);
    if (status == kOk) status = tree->print();
  } else {
    std::vector<std::string> tables;
    if (int found = findTables(kCommand, operand, &tables)) return found;
    std::error_code ec;
    const bool set = std::filesystem::is_directory(operand, ec);
    status = dumpFlat(engine, tables, parsed.has("--json"), set);
  }
  std::fflush(stdout);
  return status;
}

}  // namespace tktool
