// Test support for the records unit (append_test.cc, zap_test.cc,
// navigation_test.cc): table files written byte by byte, a fixture with a
// temporary directory, a context whose messages are captured and a fixed
// local date, and readers of the header and records that bypass the engine.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "data/data_layer.h"
#include "file/test_support.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit::records_testing {

using file::testing::Context;
using file::testing::readWhole;
using file::testing::shownMessages;
using file::testing::TempDir;
using file::testing::writeWhole;

struct FieldDef {
  const char *name;
  char type;
  unsigned len;
  unsigned dec;
};

inline unsigned widthOf(const std::vector<FieldDef> &fields) {
  unsigned width = 1;
  for (const FieldDef &f : fields) width += f.len;
  return width;
}

// One record: C, D, L and M values left-justified, others right-justified,
// each padded with blanks to its length.
inline std::string rowBytes(const std::vector<FieldDef> &fields, const std::vector<std::string> &values,
                            char deletion = ' ') {
  std::string row(1, deletion);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::string v = i < values.size() ? values[i] : "";
    v.resize(std::min<std::size_t>(v.size(), fields[i].len));
    const std::string pad(fields[i].len - v.size(), ' ');
    row += std::strchr("CDLM", fields[i].type) != nullptr ? v + pad : pad + v;
  }
  return row;
}

// The header date written into every image: 15 March 2024.
constexpr unsigned char kImageYear = 124, kImageMonth = 3, kImageDay = 15;

// A .DBF image: header with the given date, descriptors, terminator,
// records and the end-of-file byte.
inline std::string dbfBytes(const std::vector<FieldDef> &fields, const std::vector<std::vector<std::string>> &rows,
                            unsigned char version = 0x03) {
  const unsigned n = static_cast<unsigned>(fields.size());
  unsigned char header[32] = {};
  header[0] = version;
  header[1] = kImageYear;
  header[2] = kImageMonth;
  header[3] = kImageDay;
  data::dbf::writeI32(header + 4, static_cast<long>(rows.size()));
  data::dbf::writeU16(header + 8, 32 * n + 33);
  data::dbf::writeU16(header + 10, widthOf(fields));
  std::string bytes(reinterpret_cast<const char *>(header), sizeof header);
  for (const FieldDef &f : fields) {
    std::string d(32, '\0');
    std::memcpy(&d[0], f.name, std::strlen(f.name));
    d[11] = f.type;
    d[16] = static_cast<char>(f.len & 0xFF);
    d[17] = static_cast<char>(std::strchr("NF", f.type) != nullptr ? f.dec : (f.type == 'C' ? f.len >> 8 : 0));
    bytes += d;
  }
  bytes += '\x0D';
  for (const auto &row : rows) bytes += rowBytes(fields, row);
  bytes += '\x1A';
  return bytes;
}

// A new memo file's 24-byte header: first free block 1, block size 512.
inline std::string emptyDbtBytes() {
  std::string bytes(24, '\0');
  bytes[0] = 1;
  bytes[18] = 2;
  bytes[19] = 1;
  data::dbf::writeU16(reinterpret_cast<unsigned char *>(&bytes[20]), 512);
  return bytes;
}

// The fields of the tables most tests use: width 1 + 6 + 10 + 8 + 1 = 26.
inline const std::vector<FieldDef> &plainFields() {
  static const std::vector<FieldDef> fields = {
      {"ID", 'N', 6, 0}, {"NAME", 'C', 10, 0}, {"BORN", 'D', 8, 0}, {"OK", 'L', 1, 0}};
  return fields;
}

// n records whose ID field holds 1 ... n.
inline std::vector<std::vector<std::string>> numberedRows(int n) {
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= n; ++i) rows.push_back({std::to_string(i), "name" + std::to_string(i), "20240101", "T"});
  return rows;
}

// The local date the engine sees in these tests.
inline platform::LocalTime &fixedNow() {
  static platform::LocalTime now{2031, 7, 4, 12, 0, 0, 0};
  return now;
}

class RecordsTest : public ::testing::Test {
 protected:
  RecordsTest() {
    platform::methods().localTime = [](platform::LocalTime *out) { *out = fixedNow(); };
  }

  std::string write(const std::string &name, const std::string &bytes) {
    const std::string path = dir / name;
    writeWhole(path, bytes);
    return path;
  }

  // A table of plainFields() with records 1 ... n.
  std::string numbered(const std::string &name, int n) { return write(name, dbfBytes(plainFields(), numberedRows(n))); }

  DATA4 *open(const std::string &path, char accessMode = 0) {
    c4.accessMode = accessMode;
    DATA4 *data = d4open(&c4, path.c_str());
    EXPECT_NE(nullptr, data) << Context::lastMessage();
    return data;
  }

  static long headerCount(const std::string &bytes) {
    return data::dbf::readI32(reinterpret_cast<const unsigned char *>(bytes.data()) + 4);
  }
  static unsigned headerLength(const std::string &bytes) {
    return data::dbf::readU16(reinterpret_cast<const unsigned char *>(bytes.data()) + 8);
  }
  static unsigned recordWidth(const std::string &bytes) {
    return data::dbf::readU16(reinterpret_cast<const unsigned char *>(bytes.data()) + 10);
  }
  // The three date bytes: year - 1900, month, day.
  static std::vector<int> headerDate(const std::string &bytes) {
    return {static_cast<unsigned char>(bytes[1]), static_cast<unsigned char>(bytes[2]),
            static_cast<unsigned char>(bytes[3])};
  }
  // Record r (from 1) as stored.
  static std::string record(const std::string &bytes, long r) {
    return bytes.substr(headerLength(bytes) + (r - 1) * recordWidth(bytes), recordWidth(bytes));
  }
  // The ID field of record r, trimmed.
  static std::string idOf(const std::string &bytes, long r) {
    std::string id = record(bytes, r).substr(1, 6);
    id.erase(0, id.find_first_not_of(' '));
    return id;
  }

  TempDir dir;
  Context ctx;
  CODE4 &c4 = ctx.c4;
};

}  // namespace tablekit::records_testing
