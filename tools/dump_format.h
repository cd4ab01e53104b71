// The values of a record as tablekit dump prints them, and their CSV, JSON
// and outline spellings.
#ifndef TABLEKIT_TOOLS_DUMP_FORMAT_H
#define TABLEKIT_TOOLS_DUMP_FORMAT_H

#include <string>

#include "tablekit.h"

namespace tktool {

// One field's value. Character fields are text without their trailing
// blanks; numbers are their stored text made a plain decimal (".5" gives
// "0.5"), or text when the field holds no number; dates are CCYYMMDD text;
// logicals are true or false; memo fields are their contents (binary memo
// and binary fields as hexadecimal text). Blank numbers, dates and logicals
// are null.
struct Value {
  enum Kind { kNull, kText, kNumber, kBool };
  Kind kind = kNull;
  std::string text;   // kText and kNumber
  bool flag = false;  // kBool
};

// The value of a field of the record in its table's record buffer (memo
// contents are read for it).
Value readValue(FIELD4 *field);

// A plain decimal number in JSON's spelling, or false ("12.50", "-.5" and
// " 7" give "12.50", "-0.5" and "7"; "1e5", "***" and "" give false).
bool normalNumber(const std::string &text, std::string *out);

// A CSV field: quoted (quotes doubled) when it holds a comma, a quote or a
// line break.
std::string csvText(const std::string &text);
std::string csvValue(const Value &value);

// JSON: a string with its escapes (bytes of 128 and above as \u00XX, so
// the output is valid whatever the table's character set), and any value.
std::string jsonString(const std::string &text);
std::string jsonValue(const Value &value);

// The outline of --follow: NAME=value, the value quoted when it holds a
// blank, a quote or a byte outside printable ASCII. Empty for values the
// outline leaves out: null, empty text, numbers that are zero.
std::string outlineItem(const char *name, const Value &value);

}  // namespace tktool

#endif  // TABLEKIT_TOOLS_DUMP_FORMAT_H
