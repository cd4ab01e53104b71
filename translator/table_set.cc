// The table set: known tables, the table opener, template records, emptying
// and closing of the six level tables.
#include "table_set.h"

#include <cstring>
#include <new>

#include "run_status.h"

namespace remitex {
namespace {

// A table the opener can open by name, and the path its data file is given
// to the engine by (relative to the working directory; the engine adds the
// extension). The first six are the level tables of a run, in level order;
// the other five are tables of the installation that no run touches.
struct KnownTable {
  const char *name;
  const char *dataPath;
};

constexpr KnownTable kKnown[] = {
    {"LEVEL_1", "DATA\\LEVEL_1"},   {"LEVEL_2", "DATA\\LEVEL_2"},   {"LEVEL_3", "DATA\\LEVEL_3"},
    {"LEVEL_4", "DATA\\LEVEL_4"},   {"LEVEL_5", "DATA\\LEVEL_5"},   {"LEVEL_6", "DATA\\LEVEL_6"},
    {"INTERMED", "DATA\\INTERMED"}, {"PROVIDER", "DATA\\PROVIDER"}, {"EXPORT", "DATA\\EXPORT"},
    {"RRDICT", "RRDICT"},           {"RRUNETRA", "RRUNETRA"},
};

// A record is narrower than 65535 bytes (the width is a 16-bit value).
constexpr unsigned long kMaxRecordWidth = 65534;

int knownIndex(const char *name) {
  for (int i = 0; i < static_cast<int>(sizeof kKnown / sizeof kKnown[0]); ++i) {
    if (strcmp(kKnown[i].name, name) == 0) return i;
  }
  return -1;
}

// The template of one open table, following its record buffer: blank, every
// "N" field 0 (last field first), copied into width + 2 bytes with a blank
// deletion flag. The buffer is marked unchanged so that nothing reaches the
// file. Null when the copy cannot be allocated.
char *makeTemplate(DATA4 *data) {
  d4blank(data);
  for (int j = d4numFields(data); j >= 1; --j) {
    FIELD4 *field = d4fieldJ(data, j);
    if (f4type(field) == 'N') f4assignDouble(field, 0);
  }
  const unsigned long width = d4recWidthLow(data);
  if (width == 0 || width > kMaxRecordWidth) return nullptr;
  char *copy = new (std::nothrow) char[width + 2]();
  if (copy == nullptr) return nullptr;
  memcpy(copy, d4recordLow(data), width);
  copy[0] = ' ';
  d4changed(data, 0);
  return copy;
}

}  // namespace

int TableSet::open(char *name, bool exclusive) {
  c4setAutoOpen(&cb_, 0);
  c4setAccessMode(&cb_, exclusive ? 1 : 0);
  c4upper(name);
  const int known = knownIndex(name);
  if (known >= 0) slots_[known] = d4open(&cb_, kKnown[known].dataPath);
  error4exitTest(&cb_);
  return 0;
}

void TableSet::openLevelTables() {
  for (int n = 1; n <= kLevelTables; ++n) {
    char name[16];
    strcpy(name, kKnown[n - 1].name);
    open(name, true);
  }
}

int TableSet::buildTemplates() {
  for (int n = 1; n <= kLevelTables; ++n) {
    templates_[n - 1] = makeTemplate(level(n));
    if (templates_[n - 1] == nullptr) return kRunNoMemory;
  }
  return 0;
}

void TableSet::emptyLevelTables() {
  for (int n = 1; n <= kLevelTables; ++n) {
    DATA4 *data = level(n);
    d4zap(data, 1, d4recCountDo(data));
  }
}

void TableSet::releaseTemplates() {
  for (char *&copy : templates_) {
    delete[] copy;
    copy = nullptr;
  }
}

void TableSet::updateLevelTables() {
  for (int n = 1; n <= kLevelTables; ++n)
    if (DATA4 *table = level(n)) d4update(table);
}

int TableSet::closeLevelTables() {
  int result = 0;
  for (int n = 1; n <= kLevelTables; ++n) {
    if (slots_[n - 1] == nullptr) continue;
    const int rc = d4close(slots_[n - 1]);
    slots_[n - 1] = nullptr;
    if (rc < 0 && result == 0) result = rc;
  }
  return result;
}

DATA4 *TableSet::level(int n) const { return n >= 1 && n <= kLevelTables ? slots_[n - 1] : nullptr; }

char *TableSet::levelTemplate(int n) const {
  return n >= 1 && n <= kLevelTables ? templates_[n - 1] : nullptr;
}

DATA4 *TableSet::table(const char *name) const {
  char upper[16] = {};
  strncpy(upper, name, sizeof upper - 1);
  c4upper(upper);
  const int known = knownIndex(upper);
  return known >= 0 ? slots_[known] : nullptr;
}

}  // namespace remitex
