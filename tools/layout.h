// Layout files: the plain-text description of a table set that `tablekit
// create` turns into tables. The format is written up in tools/README.md:
//
//   # comment                 ('#' to the end of any line)
//   [LEVEL_1]                 a table, created as DIR/LEVEL_1.DBF
//   L1_REC   N   9  0         NAME TYPE [LENGTH [DECIMALS]], in record order
//   ISA09    D
//
// Types C (1-254), N and F (1-20, decimals 0 to length-2), D (8), L (1) and
// M (10); the length of D, L and M may be omitted.
#ifndef TABLEKIT_TOOLS_LAYOUT_H
#define TABLEKIT_TOOLS_LAYOUT_H

#include <istream>
#include <string>
#include <vector>

namespace tktool {

struct LayoutField {
  std::string name;  // upper case, 1 to 10 characters
  char type = 'C';   // upper case
  unsigned len = 0;
  unsigned dec = 0;
};

struct LayoutTable {
  std::string name;  // as written in the section header, 1 to 8 characters
  int line = 0;      // line of the section header
  std::vector<LayoutField> fields;
};

struct Layout {
  std::vector<LayoutTable> tables;
};

// Reads a whole layout. Returns true when it is valid. Otherwise *errors
// gets one "SOURCE:LINE: what is wrong" text per fault (every fault found,
// ) and *layout must not be used.
bool parseLayout(std::istream &in, const std::string &source, Layout *layout, std::vector<std::string> *errors);

// The record width a table of these fields has: 1 (the deletion flag) plus
// the field lengths.
unsigned long layoutRecordWidth(const LayoutTable &table);

}  // namespace tktool

#endif  // TABLEKIT_TOOLS_LAYOUT_H
