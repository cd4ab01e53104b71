// Fields of an open table: finding them by name or number, reading their
// bytes as text, numbers, dates and logicals, and writing values into the
// record buffer in the fixed-width, blank-padded forms of each field type.
// Writes touch only the record buffer (and mark it changed); the table
// operations write it to the file. Used by the translator, table opening
// (blank records), memo fields and the expression evaluator.
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>

#include "data/data_layer.h"
#include "foundation/foundation.h"

namespace tablekit {
namespace data {

char blankByte(int type) {
  switch (type) {
    case 'B': case 'I': case 'O': case 'P': case 'Q': case 'R': case 'V': case 'W':
      return '\0';
    default:
      return ' ';
  }
}

void fieldBlank(const FIELD4 &field, char *recordBuffer) {
  std::memset(recordBuffer + field.offset, blankByte(field.type), field.len);
}

}  // namespace data

namespace {

char *bytesOf(const FIELD4 &field) { return field.data->record + field.offset; }
CODE4 *contextOf(const FIELD4 &field) { return field.data->context; }
int fieldCount(const DATA4 &data) { return data.dataFile != nullptr ? data.dataFile->nFields : 0; }

void markChanged(FIELD4 &field) { field.data->recordChanged = 1; }

// Whether type is one of the letters of types. A plain loop: every field
// write asks, and the compiler unrolls it over the short literal.
inline bool isOneOf(int type, const char *types) {
  for (; *types != '\0'; ++types) {
    if (*types == type) return true;
  }
  return false;
}

// -930 for an operation the field's type does not have.
int reportUnsupported(const FIELD4 &field) {
  return report(contextOf(field), err::kParm, loc::detail::field_function_not_supported_for_given_field);
}

// The guard of every writing operation: -935 for a missing field, -1 while
// the context is in error, -50 when lockEnforce is on and this handle does
// not hold the current record's lock.
int writeGuard(const FIELD4 *field, long location) {
  if (field == nullptr) return report(nullptr, err::kParmNull, location);
  CODE4 *c4 = contextOf(*field);
  if (int rc = inError(c4)) return rc;
  DATA4 &data = *field->data;
  if (c4 != nullptr && c4->lockEnforce && data.recNum > 0 && data::recordLockedByHandle(data, data.recNum) != 1)
    return report(c4, err::kLock, location);
  return 0;
}

// Little-endian binary integers of the I, P (32-bit) and Q, R (16-bit)
// types; a field shorter than its integer holds its low bytes.
void storeBinary(FIELD4 &field, std::uint32_t value, unsigned size) {
  char *bytes = bytesOf(field);
  data::fieldBlank(field, field.data->record);
  for (unsigned i = 0; i < size && i < field.len; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t loadBinary(const FIELD4 &field, unsigned size) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(bytesOf(field));
  std::uint32_t value = 0;
  for (unsigned i = 0; i < size && i < field.len; ++i) value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
  return value;
}

// ---------------------------------------------------------------------------
// The workers behind the writing faces. Each assumes writeGuard passed.

// The bytes may lie in the field itself (a field copied onto itself): they
// are moved first and the rest of the field is blanked after.
int assignBytes(FIELD4 &field, const void *bytes, unsigned n) {
  char *to = bytesOf(field);
  if (n <= field.len) {
    if (n > 0) std::memmove(to, bytes, n);
    std::memset(to + n, data::blankByte(field.type), field.len - n);
  } else {
    std::memmove(to, bytes, field.len);
  }
  markChanged(field);
  return 0;
}

// Whether text lies in the field's own record buffer (a value taken from
// the record itself, which may overlap the field).
bool inRecord(const FIELD4 &field, const char *text) {
  const DATA4 &data = *field.data;
  const std::less<const char *> before;
  return !before(text, data.record) && before(text, data.record + data.dataFile->recWidth + 1);
}

int assignText(FIELD4 &field, const char *text) {
  if (field.type != 'N' && field.type != 'F') {
    if (inRecord(field, text)) return assignBytes(field, text, static_cast<unsigned>(std::strlen(text)));
    // Text from elsewhere, in one pass: its bytes up to its end or the
    // field's width, then the blank byte up to the width.
    char *to = bytesOf(field);
    unsigned n = 0;
    for (; n < field.len && text[n] != '\0'; ++n) to[n] = text[n];
    std::memset(to + n, data::blankByte(field.type), field.len - n);
    markChanged(field);
    return 0;
  }
  const std::size_t len = std::strlen(text);
  char *to = bytesOf(field);
  if (len <= field.len) {
    std::memset(to, ' ', field.len);
    std::memcpy(to + (field.len - len), text, len);
  } else {
    std::memcpy(to, text, field.len);
  }
  markChanged(field);
  return 0;
}

// The day number a double stands for: truncated toward zero, held to the
// range of a day number (a value of no date, or NaN, is 0).
long dayNumberOf(double value) {
  if (!(value > 0)) return 0;
  if (value >= static_cast<double>(LONG_MAX)) return LONG_MAX;
  return static_cast<long>(value);
}

int assignDouble(FIELD4 &field, double value) {
  if (isOneOf(field.type, "LOPQRW")) return reportUnsupported(field);
  if (field.type == 'D') {
    data::fieldAssignDayNumber(bytesOf(field), field.len, dayNumberOf(value));
    markChanged(field);
    return 0;
  }
  // A value that does not fit leaves asterisks; that is a result, not an error.
  const int rc = c4dtoa45(value, bytesOf(field), field.len, field.dec);
  markChanged(field);
  return rc;
}

// The text form of an integer in a text field: through a double when the
// field has decimals, else right-aligned digits.
int assignIntegerText(FIELD4 &field, long value) {
  if (field.dec > 0) return assignDouble(field, static_cast<double>(value));
  c4ltoa45(value, bytesOf(field), field.len);
  markChanged(field);
  return 0;
}

int assignInt(FIELD4 &field, int value) {
  if (isOneOf(field.type, "DGLM")) return reportUnsupported(field);
  if (isOneOf(field.type, "IP")) {
    storeBinary(field, static_cast<std::uint32_t>(value), 4);
  } else if (isOneOf(field.type, "QR")) {
    storeBinary(field, static_cast<std::uint32_t>(value) & 0xFFFFu, 2);
  } else {
    return assignIntegerText(field, value);
  }
  markChanged(field);
  return 0;
}

int assignLong(FIELD4 &field, long value) {
  if (field.type == 'L') return reportUnsupported(field);
  if (field.type == 'D') {
    data::fieldAssignDayNumber(bytesOf(field), field.len, value);
    markChanged(field);
    return 0;
  }
  if (isOneOf(field.type, "IPQR")) return assignInt(field, static_cast<int>(value));
  return assignIntegerText(field, value);
}

// ---------------------------------------------------------------------------
// The workers behind the reading faces.

double readDouble(const FIELD4 &field) {
  if (field.type == 'L') {
    reportUnsupported(field);
    return 0.0;
  }
  if (field.type == 'D') return static_cast<double>(data::fieldDayNumber(bytesOf(field), field.len));
  return c4atod(bytesOf(field), field.len);
}

long readLong(const FIELD4 &field) {
  if (field.type == 'L') {
    reportUnsupported(field);
    return -1;
  }
  if (field.type == 'D') return data::fieldDayNumber(bytesOf(field), field.len);
  if (isOneOf(field.type, "IP")) return static_cast<std::int32_t>(loadBinary(field, 4));
  if (isOneOf(field.type, "QR")) return static_cast<std::int16_t>(loadBinary(field, 2));
  return c4atol(bytesOf(field), field.len);
}

// The 0-based index of the field with this name, or -1. The name is cut to
// 255 characters, trimmed of trailing blanks and upper-cased, then compared
// with the stored names as they are.
int findField(const DATA4 &data, const char *name) {
  if (name == nullptr) return -1;
  char wanted[256];
  std::strncpy(wanted, name, sizeof wanted - 1);
  wanted[sizeof wanted - 1] = '\0';
  c4trimN(wanted, sizeof wanted);
  c4upper(wanted);
  for (int i = 0; i < fieldCount(data); ++i) {
    if (std::strncmp(wanted, data.fields[i].name, sizeof data.fields[i].name) == 0 &&
        std::strlen(wanted) < sizeof data.fields[i].name)
      return i;
  }
  return -1;
}

int copyField(FIELD4 &to, const FIELD4 &from) {
  switch (to.type) {
    case 'C': case 'W':
      return assignBytes(to, bytesOf(from), from.len);
    case 'D': {
      if (from.type != 'D') return 0;
      const unsigned len = from.len < to.len ? from.len : to.len;
      std::memmove(bytesOf(to), bytesOf(from), len);
      std::memset(bytesOf(to) + len, data::blankByte(to.type), to.len - len);
      markChanged(to);
      return 0;
    }
    case 'N': case 'F': {
      if (isOneOf(from.type, "NF") && from.len == to.len && from.dec == to.dec) {
        std::memmove(bytesOf(to), bytesOf(from), to.len);
        markChanged(to);
        return 0;
      }
      const double value = readDouble(from);
      if (int rc = inError(contextOf(to))) return rc;
      return assignDouble(to, value);
    }
    case 'L':
      if (from.type != 'L') return 0;
      if (to.len > 0 && from.len > 0) bytesOf(to)[0] = bytesOf(from)[0];
      markChanged(to);
      return 0;
    case 'O':
      if (from.type != 'O' || from.len != to.len) return report(contextOf(to), err::kNotSupported, loc::f4assignField);
      return assignBytes(to, bytesOf(from), from.len);
    case 'P': case 'Q': case 'R': case 'V':
      if (from.type != to.type) return report(contextOf(to), err::kNotSupported, loc::f4assignField);
      return assignBytes(to, bytesOf(from), from.len);
    default:
      return reportReturning(contextOf(to), err::kInfo, loc::detail::invalid_field_type);
  }
}

}  // namespace
}  // namespace tablekit

using namespace tablekit;

extern "C" {

// ---------------------------------------------------------------------------
// Lookup

TK_EXPORT int d4fieldNumber(DATA4 *data, const char *name) {
  if (data == nullptr) return report(nullptr, err::kParmNull, loc::d4fieldNumber);
  const int index = findField(*data, name);
  if (index >= 0) return index + 1;
  if (data->context != nullptr && data->context->errFieldName)
    report(data->context, err::kFieldName, loc::d4fieldNumber, name);
  return err::kFieldName;
}

TK_EXPORT FIELD4 *d4field(DATA4 *data, const char *name) {
  if (data == nullptr) {
    report(nullptr, err::kParmNull, loc::d4field);
    return nullptr;
  }
  const int index = findField(*data, name);
  if (index >= 0) return &data->fields[index];
  if (data->context != nullptr && data->context->errFieldName)
    report(data->context, err::kFieldName, loc::d4field, name);
  return nullptr;
}

TK_EXPORT FIELD4 *d4fieldJ(DATA4 *data, int j) {
  if (data == nullptr) {
    report(nullptr, err::kParmNull, loc::d4fieldJ);
    return nullptr;
  }
  if (j < 1 || j > fieldCount(*data)) {
    report(data->context, err::kParm, loc::d4fieldJ);
    return nullptr;
  }
  return &data->fields[j - 1];
}

TK_EXPORT FIELD4INFO *d4fieldInfo(DATA4 *data) {
  if (data == nullptr) {
    report(nullptr, err::kParmNull, loc::d4fieldInfo);
    return nullptr;
  }
  const int count = fieldCount(*data);
  auto *info = static_cast<FIELD4INFO *>(
      u4allocErDefault(data->context, static_cast<long>((count + 1) * sizeof(FIELD4INFO))));
  if (info == nullptr) return nullptr;
  for (int i = 0; i < count; ++i) {
    FIELD4 &field = data->fields[i];
    info[i].name = field.name;
    info[i].type = field.type;
    info[i].len = field.type == 'O' ? static_cast<unsigned short>(field.len - 2) : field.len;
    info[i].dec = field.dec;
    info[i].nulls = 0;
  }
  return info;  // the last row stays zeroed
}

TK_EXPORT int d4fieldNull(DATA4 *data) {
  if (data == nullptr) report(nullptr, err::kParmNull, loc::f4null);
  return 0;
}

// ---------------------------------------------------------------------------
// Properties

TK_EXPORT int f4number(FIELD4 *field) {
  if (field == nullptr) return report(nullptr, err::kParmNull, loc::f4number);
  return static_cast<int>(field - field->data->fields) + 1;
}

TK_EXPORT const char *f4name(FIELD4 *field) {
  if (field == nullptr) {
    report(nullptr, err::kParmNull, loc::f4name);
    return nullptr;
  }
  return field->name;
}

TK_EXPORT int f4type(FIELD4 *field) {
  if (field == nullptr) return report(nullptr, err::kParmNull, loc::f4type);
  return field->type;
}

TK_EXPORT unsigned long f4len(FIELD4 *field) {
  if (field == nullptr) {
    report(nullptr, err::kParmNull, loc::f4len);
    return 0;
  }
  return field->len;
}

TK_EXPORT unsigned long f4len_v(FIELD4 *field) { return f4len(field); }

TK_EXPORT int f4decimals(FIELD4 *field) {
  if (field == nullptr) return report(nullptr, err::kParmNull, loc::f4decimals);
  return field->dec;
}

TK_EXPORT DATA4 *f4data(FIELD4 *field) {
  if (field == nullptr) {
    report(nullptr, err::kParmNull, loc::f4data);
    return nullptr;
  }
  return field->data;
}

TK_EXPORT int f4null(FIELD4 *field) {
  if (field == nullptr) report(nullptr, err::kParmNull, loc::f4null);
  return 0;
}

// ---------------------------------------------------------------------------
// Reading

TK_EXPORT char *f4ptr(FIELD4 *field) {
  if (field == nullptr) {
    report(nullptr, err::kParmNull, loc::f4ptr);
    return nullptr;
  }
  return bytesOf(*field);
}

// The copy lives in the context's scratch buffer until the next f4str.
TK_EXPORT char *f4str(FIELD4 *field) {
  if (field == nullptr) {
    report(nullptr, err::kParmNull, loc::f4str);
    return nullptr;
  }
  CODE4 *c4 = contextOf(*field);
  if (u4allocAgainDefault(c4, &c4->fieldBuffer, &c4->fieldBufferLen, field->len + 2u) < 0) return nullptr;
  std::memcpy(c4->fieldBuffer, bytesOf(*field), field->len);
  c4->fieldBuffer[field->len] = '\0';
  return c4->fieldBuffer;
}

TK_EXPORT unsigned f4ncpy(FIELD4 *field, char *dst, unsigned n) {
  if (n == 0) return 0;
  if (field == nullptr || dst == nullptr) {
    report(field != nullptr ? contextOf(*field) : nullptr, err::kParmNull, loc::f4ncpy);
    return 0;
  }
  const unsigned copied = field->len < n - 1 ? field->len : n - 1;
  std::memcpy(dst, bytesOf(*field), copied);
  dst[copied] = '\0';
  return copied;
}

TK_EXPORT int f4char(FIELD4 *field) {
  if (field == nullptr) return report(nullptr, err::kParmNull, loc::f4char);
  return static_cast<unsigned char>(bytesOf(*field)[0]);
}

TK_EXPORT double f4double(FIELD4 *field) {
  if (field == nullptr) {
    report(nullptr, err::kParmNull, loc::f4double);
    return 0.0;
  }
  return readDouble(*field);
}

TK_EXPORT long f4long(FIELD4 *field) {
  if (field == nullptr) return report(nullptr, err::kParmNull, loc::f4long);
  return readLong(*field);
}

TK_EXPORT int f4int(FIELD4 *field) {
  if (field == nullptr) return report(nullptr, err::kParmNull, loc::f4int);
  if (isOneOf(field->type, "DGLM")) {
    reportUnsupported(*field);
    return -1;
  }
  if (isOneOf(field->type, "IPQR")) return static_cast<int>(readLong(*field));
  return c4atoi(bytesOf(*field), field->len);
}

TK_EXPORT int f4true(FIELD4 *field) {
  if (field == nullptr) return report(nullptr, err::kParmNull, loc::f4true);
  if (field->type != 'L') reportUnsupported(*field);
  const int first = std::toupper(static_cast<unsigned char>(bytesOf(*field)[0]));
  return (first == 'Y' || first == 'T') ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Writing

// The caller writes through the pointer; lock enforcement does not apply.
TK_EXPORT char *f4assignPtr(FIELD4 *field) {
  if (field == nullptr) {
    report(nullptr, err::kParmNull, loc::f4assignPtr);
    return nullptr;
  }
  markChanged(*field);
  return bytesOf(*field);
}

TK_EXPORT void f4blank(FIELD4 *field) {
  if (writeGuard(field, loc::f4blank) != 0) return;
  data::fieldBlank(*field, field->data->record);
  markChanged(*field);
}

TK_EXPORT int f4assign(FIELD4 *field, const char *text) {
  if (int rc = writeGuard(field, loc::f4assign)) return rc;
  if (text == nullptr) return report(contextOf(*field), err::kParmNull, loc::f4assign);
  return assignText(*field, text);
}

TK_EXPORT int f4assignN(FIELD4 *field, const void *bytes, unsigned n) {
  if (int rc = writeGuard(field, loc::f4assignN)) return rc;
  if (bytes == nullptr && n > 0) return report(contextOf(*field), err::kParmNull, loc::f4assignN);
  return assignBytes(*field, bytes, n);
}

TK_EXPORT int f4assignChar(FIELD4 *field, int c) {
  if (int rc = writeGuard(field, loc::f4assignChar)) return rc;
  if (isOneOf(field->type, "DFGMN")) return reportUnsupported(*field);
  data::fieldBlank(*field, field->data->record);
  if (field->len > 0) bytesOf(*field)[0] = static_cast<char>(c);
  markChanged(*field);
  return 0;
}

TK_EXPORT int f4assignDouble(FIELD4 *field, double value) {
  if (int rc = writeGuard(field, loc::f4assignDouble)) return rc;
  return assignDouble(*field, value);
}

TK_EXPORT int f4assignLong(FIELD4 *field, long value) {
  if (int rc = writeGuard(field, loc::f4assignLong)) return rc;
  return assignLong(*field, value);
}

TK_EXPORT int f4assignInt(FIELD4 *field, int value) {
  if (int rc = writeGuard(field, loc::f4assignInt)) return rc;
  return assignInt(*field, value);
}

TK_EXPORT int f4assignField(FIELD4 *to, const FIELD4 *from) {
  if (to == nullptr || from == nullptr)
    return report(to != nullptr ? contextOf(*to) : nullptr, err::kParmNull, loc::f4assignField);
  if (int rc = writeGuard(to, loc::f4assignField)) return rc;
  return copyField(*to, *from);
}

}  // extern "C"
