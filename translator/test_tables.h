// Test support shared by the translator's tests and the whole-run tests: make
// a table set from layout text with the engine's d4create, and read a .DBF
// file back byte by byte, independently of the engine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "layout.h"
#include "tablekit.h"

namespace remitex::testing {

// Makes the tables of `layoutText` (the layout file format of tablekit
// create) in `dir`, which is made when missing. Returns "" or what failed.
inline std::string makeTables(const std::filesystem::path &dir, const std::string &layoutText) {
  std::istringstream in(layoutText);
  tktool::Layout layout;
  std::vector<std::string> errors;
  if (!tktool::parseLayout(in, "layout", &layout, &errors)) return errors.empty() ? "bad layout" : errors.front();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  CODE4 cb;
  code4initLow(&cb, 0, TK_HEADER_VERSION, sizeof(CODE4), 1);
  c4setAutoOpen(&cb, 0);
  c4setSafety(&cb, 0);
  std::string failure;
  for (const tktool::LayoutTable &table : layout.tables) {
    std::vector<FIELD4INFO> info;
    for (const tktool::LayoutField &field : table.fields) {
      info.push_back({const_cast<char *>(field.name.c_str()), static_cast<short>(field.type),
                      static_cast<unsigned short>(field.len), static_cast<unsigned short>(field.dec), 0});
    }
    info.push_back({nullptr, 0, 0, 0, 0});
    const std::string path = (dir / table.name).string();
    DATA4 *data = d4create(&cb, path.c_str(), info.data(), nullptr);
    if (data == nullptr) {
      failure = "cannot create " + path;
      break;
    }
    d4close(data);
  }
  c4setErrorCode(&cb, 0);
  code4initUndo(&cb);
  return failure;
}

// The default table set that ships with the program.
inline std::string defaultLayout(const std::string &sourceDir) {
  std::ifstream in(sourceDir + "/layouts/default.layout");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A .DBF file as an independent reader sees it: the header's record count,
// the field names in order and every record's values with trailing blanks
// cut (numbers and dates as their stored text, leading blanks cut too).
struct DbfTable {
  bool valid = false;
  uint32_t headerCount = 0;  // the record count in the header
  size_t recordsPresent = 0;  // whole records between the header and the end of the file
  std::vector<std::string> fields;
  std::vector<std::map<std::string, std::string>> records;
};

inline DbfTable readDbf(const std::filesystem::path &path) {
  DbfTable table;
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 32) return table;
  auto u16 = [&](size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) |
                                     static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8; };
  table.headerCount = u16(4) | static_cast<uint32_t>(u16(6)) << 16;
  const size_t headerLen = u16(8), width = u16(10);
  if (headerLen > bytes.size() || width == 0) return table;
  struct Field {
    std::string name;
    size_t offset, len;
  };
  std::vector<Field> fields;
  size_t offset = 1;
  for (size_t at = 32; at + 32 <= headerLen && bytes[at] != '\x0D'; at += 32) {
    std::string name = bytes.substr(at, 11);
    name.resize(name.find('\0') == std::string::npos ? 11 : name.find('\0'));
    const size_t len = static_cast<unsigned char>(bytes[at + 16]) +
                       (bytes[at + 11] == 'C' ? static_cast<size_t>(static_cast<unsigned char>(bytes[at + 17])) << 8 : 0);
    fields.push_back({name, offset, len});
    table.fields.push_back(name);
    offset += len;
  }
  table.recordsPresent = (bytes.size() - headerLen) / width;
  for (size_t r = 0; r < table.headerCount && headerLen + (r + 1) * width <= bytes.size(); ++r) {
    const std::string record = bytes.substr(headerLen + r * width, width);
    std::map<std::string, std::string> values;
    for (const Field &field : fields) {
      std::string value = field.offset + field.len <= record.size() ? record.substr(field.offset, field.len) : "";
      value.erase(value.find_last_not_of(' ') + 1);
      value.erase(0, value.find_first_not_of(' ') == std::string::npos ? value.size() : value.find_first_not_of(' '));
      values[field.name] = value;
    }
    table.records.push_back(values);
  }
  table.valid = true;
  return table;
}

}  // namespace remitex::testing
