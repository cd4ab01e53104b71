// Layout files: parsing and checking (the format is at the top of layout.h).
// Every fault of a file is collected, so one run shows them all.
#include "layout.h"

#include <cctype>
#include <sstream>

namespace tktool {
namespace {

constexpr size_t kMaxTableName = 8;
constexpr size_t kMaxFieldName = 10;
constexpr unsigned long kMaxRecordWidth = 65534;  // the width is a 16-bit value below 65535
constexpr size_t kMaxFields = 2046;

bool isNameChar(char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_'; }

bool isName(const std::string &text, size_t maxLen, bool letterFirst) {
  if (text.empty() || text.size() > maxLen) return false;
  if (letterFirst && !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (char ch : text) {
    if (!isNameChar(ch)) return false;
  }
  return true;
}

std::string upper(std::string text) {
  for (char &ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return text;
}

std::string trim(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// A decimal number of at most five digits; false for anything else.
bool parseCount(const std::string &text, unsigned *value) {
  if (text.empty() || text.size() > 5) return false;
  unsigned result = 0;
  for (char ch : text) {
    if (!std::isdigit(static_cast<unsigned char>(ch))) return false;
    result = result * 10 + static_cast<unsigned>(ch - '0');
  }
  *value = result;
  return true;
}

struct TypeRule {
  char type;
  unsigned minLen, maxLen;  // allowed lengths
  unsigned fixedLen;        // the length when omitted; 0: a length is required
  bool hasDecimals;
};

constexpr TypeRule kTypeRules[] = {
    {'C', 1, 254, 0, false}, {'N', 1, 20, 0, true}, {'F', 1, 20, 0, true},
    {'D', 8, 8, 8, false},   {'L', 1, 1, 1, false}, {'M', 10, 10, 10, false},
};

const TypeRule *ruleOf(char type) {
  for (const TypeRule &rule : kTypeRules) {
    if (rule.type == type) return &rule;
  }
  return nullptr;
}

class Parser {
 public:
  Parser(const std::string &source, Layout &layout, std::vector<std::string> &errors)
      : source_(source), layout_(layout), errors_(errors) {}

  void line(int number, const std::string &raw) {
    line_ = number;
    const std::string text = trim(raw.substr(0, raw.find('#')));
    if (text.empty()) return;
    if (text[0] == '[') {
      section(text);
    } else {
      field(text);
    }
  }

  void finish() {
    for (size_t i = 0; i < layout_.tables.size(); ++i) {
      if (!faulty_[i]) tableLimits(layout_.tables[i]);
    }
    if (layout_.tables.empty() && errors_.empty()) {
      errors_.push_back(source_ + ": no table: a layout needs at least one [NAME] section");
    }
  }

 private:
  // A fault on the current line; it also spares its table the follow-on
  // fault of having no fields.
  void fail(const std::string &message) {
    if (current_ != kNone) faulty_[current_] = true;
    failAt(line_, message);
  }
  void failAt(int line, const std::string &message) {
    errors_.push_back(source_ + ":" + std::to_string(line) + ": " + message);
  }

  void section(const std::string &text) {
    current_ = kNone;
    if (text.back() != ']') return fail("a table header must look like [NAME]");
    const std::string name = trim(text.substr(1, text.size() - 2));
    if (!isName(name, kMaxTableName, false)) {
      return fail("table name '" + name + "' must be 1 to 8 letters, digits or '_'");
    }
    for (const LayoutTable &table : layout_.tables) {
      if (upper(table.name) == upper(name)) {
        return fail("table " + name + " appears twice (first at line " + std::to_string(table.line) + ")");
      }
    }
    layout_.tables.push_back(LayoutTable{name, line_, {}});
    faulty_.push_back(false);
    current_ = layout_.tables.size() - 1;
  }

  void field(const std::string &text) {
    std::istringstream words(text);
    std::vector<std::string> parts;
    for (std::string word; words >> word;) parts.push_back(word);
    if (parts.size() < 2 || parts.size() > 4) {
      return fail("expected NAME TYPE [LENGTH [DECIMALS]], found '" + text + "'");
    }
    if (layout_.tables.empty()) return fail("field line before the first [NAME] table header");
    if (current_ == kNone) return;  // under a faulty header, already reported
    LayoutTable &table = layout_.tables[current_];

    LayoutField field;
    field.name = upper(parts[0]);
    if (!isName(field.name, kMaxFieldName, true)) {
      return fail("field name '" + parts[0] + "' must be 1 to 10 letters, digits or '_', beginning with a letter");
    }
    for (const LayoutField &other : table.fields) {
      if (other.name == field.name) return fail("field " + field.name + " appears twice in table " + table.name);
    }
    const TypeRule *rule = parts[1].size() == 1
                               ? ruleOf(static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0]))))
                               : nullptr;
    if (rule == nullptr)
      return fail("field " + field.name + ": unknown type '" + parts[1] + "' (use C, N, F, D, L or M)");
    field.type = rule->type;
    if (!lengths(parts, *rule, field)) return;
    table.fields.push_back(field);
  }

  // Length and decimals of a field line against its type's rule.
  bool lengths(const std::vector<std::string> &parts, const TypeRule &rule, LayoutField &field) {
    const std::string what = "field " + field.name + " (" + std::string(1, rule.type) + ")";
    if (parts.size() < 3) {
      if (rule.fixedLen == 0) return fail(what + " needs a length"), false;
      field.len = rule.fixedLen;
    } else if (!parseCount(parts[2], &field.len)) {
      return fail(what + ": length '" + parts[2] + "' is not a number"), false;
    } else if (field.len < rule.minLen || field.len > rule.maxLen) {
      if (rule.minLen == rule.maxLen) return fail(what + ": length must be " + std::to_string(rule.minLen)), false;
      return fail(what + ": length must be " + std::to_string(rule.minLen) + " to " + std::to_string(rule.maxLen)),
             false;
    }
    if (parts.size() < 4) return true;
    if (!parseCount(parts[3], &field.dec)) return fail(what + ": decimals '" + parts[3] + "' is not a number"), false;
    if (!rule.hasDecimals && field.dec != 0) return fail(what + ": this type takes no decimals"), false;
    if (field.dec > 0 && field.dec + 2 > field.len) {
      return fail(what + ": " + std::to_string(field.dec) + " decimals need a length of at least " +
                  std::to_string(field.dec + 2)),
             false;
    }
    return true;
  }

  void tableLimits(const LayoutTable &table) {
    if (table.fields.empty()) return failAt(table.line, "table " + table.name + " has no fields");
    if (table.fields.size() > kMaxFields) {
      return failAt(table.line, "table " + table.name + " has more than " + std::to_string(kMaxFields) + " fields");
    }
    const unsigned long width = layoutRecordWidth(table);
    if (width > kMaxRecordWidth) {
      failAt(table.line, "table " + table.name + ": record width " + std::to_string(width) + " exceeds " +
                             std::to_string(kMaxRecordWidth));
    }
  }

  const std::string &source_;
  Layout &layout_;
  std::vector<std::string> &errors_;
  static constexpr size_t kNone = static_cast<size_t>(-1);
  std::vector<bool> faulty_;  // per table: one of its field lines is faulty
  size_t current_ = kNone;    // index of the table that field lines go to; kNone under a faulty header
  int line_ = 0;
};

}  // namespace

bool parseLayout(std::istream &in, const std::string &source, Layout *layout, std::vector<std::string> *errors) {
  layout->tables.clear();
  errors->clear();
  Parser parser(source, *layout, *errors);
  int number = 0;
  for (std::string raw; std::getline(in, raw);) parser.line(++number, raw);
  parser.finish();
  return errors->empty();
}

unsigned long layoutRecordWidth(const LayoutTable &table) {
  unsigned long width = 1;
  for (const LayoutField &field : table.fields) width += field.len;
  return width;
}

}  // namespace tktool
