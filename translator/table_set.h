// The table set: the tables the translator knows by name, and what a run does
// with the six level tables LEVEL_1 to LEVEL_6 — open them exclusively and
// without their indexes, keep one template record per table, empty them
// before the load and close them after it. The run drives it; the segment
// mapping fills the tables through its handles and templates.
//
// The translator never creates a table: the field lists come with the
// installation (layouts/ holds the default set). What the mapping requires of
// the fields is stated in mapping.h.
#pragma once

#include "tablekit.h"

namespace remitex {

constexpr int kLevelTables = 6;  // LEVEL_1 .. LEVEL_6; LEVEL_6 is the detail table

class TableSet {
 public:
  explicit TableSet(CODE4 &cb) : cb_(cb) {}
  // Frees the templates. Tables still open stay open: they belong to the
  // engine context, whose release closes them.
  ~TableSet() { releaseTemplates(); }
  TableSet(const TableSet &) = delete;
  TableSet &operator=(const TableSet &) = delete;

  // The table opener. The context's autoOpen becomes 0 (no production index
  // is opened with the table) and its accessMode 1 with `exclusive` (no
  // sharing), 0 without.
  // `name` is upper-cased in place; the known table of that name is opened
  // with d4open into its slot (a name that is not known opens nothing).
  // Ends with error4exitTest: a failed open ends the process through the
  // engine's fatal exit. Returns 0.
  int open(char *name, bool exclusive);

  // Opens LEVEL_1 to LEVEL_6 in that order, each exclusively.
  void openLevelTables();

  // Builds the template record of each level table: a blank record whose
  // numeric fields hold 0 and whose deletion flag is a blank; the table's
  // record buffer is left unchanged-flagged, so nothing is written. Returns 0,
  // or kRunNoMemory when a template cannot be allocated.
  int buildTemplates();

  // Removes every record of LEVEL_1 to LEVEL_6, in that order. Engine errors
  // are reported by the engine and stay in the context.
  void emptyLevelTables();

  // Frees the template records; nothing may use them afterwards.
  void releaseTemplates();

  // Brings LEVEL_1 to LEVEL_6 up to date on disk after the load: each table's
  // records are written out, then the header that counts them (no flush to
  // the device). A write failure is reported by the engine and stays in the
  // context, so the run sees it before it reports success.
  void updateLevelTables();

  // Closes LEVEL_1 to LEVEL_6 in that order, those that are open; their
  // slots are empty afterwards. Returns 0 or the first close's error code.
  int closeLevelTables();

  // The handle of level table n (1 to 6), or null while it is not open.
  DATA4 *level(int n) const;
  // The template record of level table n (1 to 6): record width + 2 bytes,
  // or null before buildTemplates and after releaseTemplates.
  char *levelTemplate(int n) const;

  // The handle of the known table of that name (any case), or null.
  DATA4 *table(const char *name) const;

 private:
  static constexpr int kKnownTables = 11;

  CODE4 &cb_;
  DATA4 *slots_[kKnownTables] = {};
  char *templates_[kLevelTables] = {};
};

}  // namespace remitex
