// Reading field values for tablekit dump, and spelling them.
#include "dump_format.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace tktool {
namespace {

std::string hex(const char *bytes, size_t len) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(len * 2);
  for (size_t i = 0; i < len; ++i) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
  return out;
}

std::string trimmed(const char *bytes, size_t len, bool left) {
  size_t first = 0;
  if (left) {
    while (first < len && bytes[first] == ' ') ++first;
  }
  while (len > first && (bytes[len - 1] == ' ' || bytes[len - 1] == '\0')) --len;
  return std::string(bytes + first, len - first);
}

}  // namespace

bool normalNumber(const std::string &text, std::string *out) {
  size_t i = 0;
  std::string sign;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    if (text[i] == '-') sign = "-";
    ++i;
  }
  std::string whole, fraction;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) whole += text[i++];
  bool point = false;
  if (i < text.size() && text[i] == '.') {
    point = true;
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) fraction += text[i++];
  }
  if (i != text.size() || (whole.empty() && fraction.empty())) return false;
  const size_t nonZero = whole.find_first_not_of('0');
  whole = nonZero == std::string::npos ? "0" : whole.substr(nonZero);
  *out = sign + whole + (point && !fraction.empty() ? "." + fraction : "");
  return true;
}

Value readValue(FIELD4 *field) {
  Value value;
  const char *bytes = f4ptr(field);
  const size_t len = f4len(field);
  switch (f4type(field)) {
    case 'C':
      value.kind = Value::kText;
      value.text = trimmed(bytes, len, false);
      break;
    case 'N':
    case 'F': {
      const std::string text = trimmed(bytes, len, true);
      if (text.empty()) break;
      value.kind = normalNumber(text, &value.text) ? Value::kNumber : Value::kText;
      if (value.kind == Value::kText) value.text = text;
      break;
    }
    case 'D':
      value.text = trimmed(bytes, len, true);
      if (!value.text.empty()) value.kind = Value::kText;
      break;
    case 'L':
      if (len > 0 && std::strchr("TtYy", bytes[0]) != nullptr && bytes[0] != '\0') {
        value.kind = Value::kBool;
        value.flag = true;
      } else if (len > 0 && std::strchr("FfNn", bytes[0]) != nullptr && bytes[0] != '\0') {
        value.kind = Value::kBool;
      }
      break;
    case 'M':
      value.kind = Value::kText;
      value.text.assign(f4memoPtr(field), f4memoLen(field));
      break;
    case 'G':
    case 'B':
      value.kind = Value::kText;
      value.text = hex(f4memoPtr(field), f4memoLen(field));
      break;
    default:
      value.kind = Value::kText;
      value.text = hex(bytes, len);
      break;
  }
  return value;
}

std::string csvText(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char ch : text) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + "\"";
}

std::string csvValue(const Value &value) {
  switch (value.kind) {
    case Value::kNull: return std::string();
    case Value::kBool: return value.flag ? "T" : "F";
    default: return csvText(value.text);
  }
}

std::string jsonString(const std::string &text) {
  std::string out = "\"";
  for (char ch : text) {
    const unsigned char byte = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04X", byte);
          out += escape;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string jsonValue(const Value &value) {
  switch (value.kind) {
    case Value::kNull: return "null";
    case Value::kBool: return value.flag ? "true" : "false";
    case Value::kNumber: return value.text;
    default: return jsonString(value.text);
  }
}

std::string outlineItem(const char *name, const Value &value) {
  std::string shown;
  switch (value.kind) {
    case Value::kNull: return std::string();
    case Value::kBool: shown = value.flag ? "T" : "F"; break;
    case Value::kNumber:
      if (value.text.find_first_not_of("-0.") == std::string::npos) return std::string();
      shown = value.text;
      break;
    case Value::kText: {
      if (value.text.empty()) return std::string();
      bool plain = true;
      for (char ch : value.text) {
        const unsigned char byte = static_cast<unsigned char>(ch);
        plain = plain && byte > 32 && byte < 127 && ch != '"' && ch != '\\';
      }
      shown = plain ? value.text : std::string();
      if (!plain) {
        shown = "\"";
        for (char ch : value.text) {
          const unsigned char byte = static_cast<unsigned char>(ch);
          if (ch == '"' || ch == '\\') {
            shown += '\\';
            shown += ch;
          } else if (byte < 32 || byte >= 127) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            shown += escape;
          } else {
            shown += ch;
          }
        }
        shown += "\"";
      }
      break;
    }
  }
  return std::string(name) + "=" + shown;
}

}  // namespace tktool
