// The segment mapping: level dispatch, opening and closing levels with the
// LEVEL_2 template refresh, field naming by qualifier, composite slots and
// detail records, and storing values by field type.
#include "mapping.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace remitex {
namespace {

// Copies `from` into `to` of `size` bytes, cut to size - 1 characters. The
// texts are short identifiers and tokens: a byte loop beats strnlen and
// memcpy calls.
void copyCut(char *to, const char *from, size_t size) {
  size_t len = 0;
  for (; len < size - 1 && from[len] != '\0'; ++len) to[len] = from[len];
  to[len] = '\0';
}

template <size_t N>
void copyCut(char (&to)[N], const char *from) {
  copyCut(to, from, N);
}

// Whether two texts are equal; for the short identifiers compared per
// segment this is cheaper than a call to strcmp.
inline bool same(const char *a, const char *b) {
  for (; *a == *b; ++a, ++b) {
    if (*a == '\0') return true;
  }
  return false;
}

// Qualifier table: segments whose field names carry the qualifier found in
// their qualifier element.
struct QualifierRow {
  const char *segment;
  int element;
};
constexpr QualifierRow kQualifierTable[kQualifierRows] = {
    {"PER", 1}, {"QTY", 1}, {"AMT", 1}, {"DTM", 1}, {"NM1", 1}, {"N1", 1}, {"N3", 1}, {"N4", 1},
};

// Composite table: segments whose elements become detail records. A slot
// matches element e, component k when e >= first, k == component and either
// step > 0 and (e - first) is a multiple of step, or step == 0 and
// e == first. After a matching slot whose append flag is 1, the pending
// detail record is appended once the token's slots are done.
struct Slot {
  int first, component, step, append;
};
enum SlotKind { kGroup, kCode, kAmount, kQuantity, kPlbId, kPlbDate, kSlots };
struct CompositeRow {
  const char *segment;
  Slot slots[kSlots];  // GROUP, CODE, AMOUNT, QUANTITY, PLBID, PLBDATE
};
constexpr CompositeRow kCompositeTable[] = {
    {"PLB", {{3, 1, 2, 0}, {3, 2, 2, 0}, {4, 1, 2, 1}, {0, 0, 0, 0}, {1, 1, 0, 0}, {2, 1, 0, 0}}},
    {"CAS", {{1, 1, 0, 0}, {2, 1, 3, 0}, {3, 1, 3, 0}, {4, 1, 3, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}}},
    {"LQ", {{1, 1, 0, 0}, {2, 1, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}},
    {"REF", {{1, 1, 0, 0}, {2, 1, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}},
};
constexpr int kCompositeRows = sizeof kCompositeTable / sizeof kCompositeTable[0];

bool slotMatches(const Slot &slot, int elementNo, int componentNo) {
  if (slot.first == 0 && slot.component == 0) return false;
  if (elementNo < slot.first || componentNo != slot.component) return false;
  if (slot.step > 0) return (elementNo - slot.first) % slot.step == 0;
  return elementNo == slot.first;
}

// The level a segment identifier opens (1 to 5), or 0.
int levelOpenedBy(const char *id) {
  static constexpr struct {
    const char *id;
    int level;
  } kOpeners[] = {{"ISA", 1}, {"GS", 2}, {"ST", 2}, {"LX", 3}, {"CLP", 4}, {"SVC", 5}};
  for (const auto &opener : kOpeners) {
    if (same(id, opener.id)) return opener.level;
  }
  return 0;
}

// Remembered field lookups are dropped when a table's list grows this long,
// so that an input full of distinct names cannot grow it without bound.
constexpr size_t kFieldCacheLimit = 4096;

// A date text as CCYYMMDD in `date` (9 bytes). A text that gives no valid
// calendar date ("20002316") gives the blank date: a "D" field holding
// anything else cannot be read by other software.
void dateOf(const char *text, char (&date)[9]) {
  char picture[] = "CCYYMMDD";
  date4init(date, text, picture);
  date[8] = '\0';
  if (date4long(date) < 0) memset(date, ' ', 8);
}

// A date token for a "D" field: a six-digit token is given the century 19
// when its first two digits are above 50, else 20.
void dateText(const char *token, char (&date)[9]) {
  char text[kTokenSize + 2];
  if (strlen(token) == 6) {
    const char yy[3] = {token[0], token[1], '\0'};
    memcpy(text, atoi(yy) > 50 ? "19" : "20", 2);
    memcpy(text + 2, token, 7);
  } else {
    copyCut(text, token);
  }
  dateOf(text, date);
}

// Stores a token into a field by the field's type; other types get nothing.
void store(FIELD4 *field, const char *token) {
  switch (f4type(field)) {
    case 'C':
      f4assign(field, token);
      break;
    case 'D': {
      char date[9];
      dateText(token, date);
      f4assign(field, date);
      break;
    }
    case 'N':
      f4assignDouble(field, leadingNumber(token));
      break;
    default:
      break;
  }
}

}  // namespace

double leadingNumber(const char *token) {
  const char *p = token;
  while (*p == ' ') ++p;
  const char *start = p;
  if (*p == '+' || *p == '-') ++p;
  const char *digits = p;
  while (isdigit(static_cast<unsigned char>(*p))) ++p;
  bool any = p > digits;
  if (*p == '.') {
    const char *fraction = ++p;
    while (isdigit(static_cast<unsigned char>(*p))) ++p;
    any = any || p > fraction;
  }
  if (!any) return 0;
  const char *const mantissaEnd = p;
  if (*p == 'e' || *p == 'E') {
    const char *exponent = p + 1;
    if (*exponent == '+' || *exponent == '-') ++exponent;
    if (isdigit(static_cast<unsigned char>(*exponent))) {
      p = exponent;
      while (isdigit(static_cast<unsigned char>(*p))) ++p;
    }
  }
  // Without an exponent and with at most 15 digits, the digits as an
  // integer and the power of ten to divide it by are both exact doubles, so
  // the one division gives the correctly rounded value, as strtod does.
  if (p == mantissaEnd) {
    static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    std::uint64_t mantissa = 0;
    int count = 0;
    int decimals = 0;
    bool point = false;
    for (const char *q = digits; q < p && count <= 15; ++q) {
      if (*q == '.') {
        point = true;
        continue;
      }
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
      ++count;
      if (point) ++decimals;
    }
    if (count <= 15) {
      const double value = static_cast<double>(mantissa) / kPowers[decimals];
      return *start == '-' ? -value : value;
    }
  }
  // The text from start to p is a plain decimal number, which strtod reads
  // exactly as it stands.
  std::string number(start, p);
  const double value = strtod(number.c_str(), nullptr);
  return std::isfinite(value) ? value : 0;
}

FieldName &FieldName::add(const char *text) {
  while (*text != '\0' && len_ < kFieldNameSize - 1) text_[len_++] = *text++;
  text_[len_] = '\0';
  return *this;
}

FieldName &FieldName::addNumber(long number, int width) {
  // The digits from the right, then copied on as far as the name has room.
  char digits[24];
  char *const end = digits + sizeof digits;
  char *p = end;
  unsigned long rest = number < 0 ? 0UL - static_cast<unsigned long>(number) : static_cast<unsigned long>(number);
  do {
    *--p = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  while (end - p < width) *--p = '0';
  if (number < 0) *--p = '-';
  while (p < end && len_ < kFieldNameSize - 1) text_[len_++] = *p++;
  text_[len_] = '\0';
  return *this;
}

void SegmentMapping::reset() {
  currentLevel_ = 0;
  memset(open_, 0, sizeof open_);
  memset(counter_, 0, sizeof counter_);
  currentTable_ = 0;
  memset(qualifiers_, 0, sizeof qualifiers_);
  savedN1_[0] = '\0';
  qualifierRow_ = compositeRow_ = -1;
  pending_ = false;
  record_[0] = group_[0] = plbId_[0] = plbDate_[0] = '\0';
  for (auto &lookups : fields_) lookups.clear();
  memset(recent_, 0, sizeof recent_);
}

void SegmentMapping::segmentIdentifier(const char *current, const char *previous) {
  // 1. The detail record of the segment before is complete.
  if (pending_) appendDetail();

  // 2. The identifiers.
  copyCut(previousSegment_, previous);
  copyCut(segment_, current);

  // 3. Level dispatch on the exact identifier.
  if (int level = levelOpenedBy(segment_)) {
    openLevel(level);
  } else if (same(segment_, "PLB") || same(segment_, "SE")) {
    closeLevelsDownTo(3);
  } else if (same(segment_, "IEA")) {
    closeLevelsDownTo(2);
  }

  // 4. The qualifier row; every other row forgets its previous qualifier,
  // so the occurrence count runs only over consecutive segments.
  qualifierRow_ = -1;
  for (int row = 0; row < kQualifierRows; ++row) {
    if (same(segment_, kQualifierTable[row].segment)) {
      qualifierRow_ = row;
    } else {
      qualifiers_[row].previous[0] = '\0';
    }
  }

  // 5. The composite row.
  compositeRow_ = -1;
  for (int row = 0; row < kCompositeRows; ++row) {
    if (same(segment_, kCompositeTable[row].segment)) compositeRow_ = row;
  }

  // 6. Detail buffers.
  copyCut(record_, segment_);
  group_[0] = plbId_[0] = plbDate_[0] = '\0';
}

void SegmentMapping::openLevel(int n) {
  // A transaction set right after its group header shares the group's record.
  if (same(segment_, "ST") && same(previousSegment_, "GS")) return;
  closeLevelsDownTo(n);
  currentLevel_ = n;
  open_[n] = true;
  currentTable_ = n;
  d4appendStart(tables_.level(n), 0);
  applyTemplate(n);

  ++counter_[n];
  f4assignLong(field(n, FieldName().add("L").addNumber(n).add("_REC").text()), counter_[n]);
  if (n > 1) f4assignLong(field(n, FieldName().add("L").addNumber(n - 1).add("_PTR").text()), counter_[n - 1]);
}

void SegmentMapping::applyTemplate(int n) {
  DATA4 *data = tables_.level(n);
  char *record = d4recordLow(data);
  const char *copy = tables_.levelTemplate(n);
  if (record != nullptr && copy != nullptr) memcpy(record, copy, d4recWidthLow(data));
}

void SegmentMapping::closeLevelsDownTo(int n) {
  for (int level = kLevels; level >= n && level >= 1; --level) {
    if (!open_[level]) continue;
    // Closing a header number or a transaction set carries the group's
    // leading fields into every later LEVEL_2 record.
    if (level == 3 || level == 2) refreshGroupTemplate();
    d4append(tables_.level(level));
    open_[level] = false;
    // The nearest level above that is still open becomes current, so that
    // later segments land in an open record; with none, the table stays.
    int above = level - 1;
    while (above >= 1 && !open_[above]) --above;
    currentLevel_ = above;
    if (above >= 1) currentTable_ = above;
  }
}

void SegmentMapping::refreshGroupTemplate() {
  DATA4 *group = tables_.level(2);
  char *copy = tables_.levelTemplate(2);
  const char *record = d4recordLow(group);
  if (copy == nullptr || record == nullptr) return;
  // Up to the first field from the third on whose name does not begin with
  // "GS"; a table with no such field carries its whole record.
  size_t end = d4recWidthLow(group);
  for (int j = 3; j <= d4numFields(group); ++j) {
    FIELD4 *f = d4fieldJ(group, j);
    if (strncmp(f4name(f), "GS", 2) != 0) {
      end = static_cast<size_t>(f4ptr(f) - record);
      break;
    }
  }
  memcpy(copy, record, end);
}

void SegmentMapping::element(const char *token, int elementNo, int componentNo, char) {
  FieldName name;
  bool mapped = false;
  if (qualifierRow_ >= 0) {
    mapped = true;
    name = qualifiedName(token, elementNo);
  } else if (compositeRow_ >= 0) {
    // A token a slot takes goes to the detail table only.
    mapped = runSlots(token, elementNo, componentNo);
  }

  FIELD4 *target = nullptr;
  if (!mapped) {
    name.add(segment_).addNumber(elementNo, 2);
    target = field(currentTable_, name.text());
    if (target == nullptr) target = field(currentTable_, name.add("_").addNumber(componentNo).text());
  } else if (!name.empty()) {
    target = field(currentTable_, name.text());
  }
  if (target != nullptr) store(target, token);
}

FieldName SegmentMapping::qualifiedName(const char *token, int elementNo) {
  const QualifierRow &row = kQualifierTable[qualifierRow_];
  QualifierState &q = qualifiers_[qualifierRow_];
  if (elementNo == row.element) {
    const bool address = same(row.segment, "N3") || same(row.segment, "N4");
    copyCut(q.current, address ? savedN1_ : token);
    if (same(row.segment, "N1")) copyCut(savedN1_, token);
    q.count = same(q.current, q.previous) ? q.count + 1 : 1;
    copyCut(q.previous, q.current);
  }
  FieldName name;
  name.add(segment_).addNumber(elementNo, 2).add("_").add(q.current);
  if (q.count != 1) name.add("_").addNumber(q.count);
  return name;
}

bool SegmentMapping::runSlots(const char *token, int elementNo, int componentNo) {
  const CompositeRow &row = kCompositeTable[compositeRow_];
  bool matched = false;
  bool appendNow = false;
  for (int kind = 0; kind < kSlots; ++kind) {
    const Slot &slot = row.slots[kind];
    if (!slotMatches(slot, elementNo, componentNo)) continue;
    matched = true;
    switch (kind) {
      case kGroup:
        copyCut(group_, token);
        startDetail();
        break;
      case kCode:
        if (!pending_) startDetail();
        f4assign(field(kDetailLevel, "CODE"), token);
        break;
      case kAmount:
        f4assignDouble(field(kDetailLevel, "AMOUNT"), leadingNumber(token));
        break;
      case kQuantity:
        f4assignDouble(field(kDetailLevel, "QUANTITY"), leadingNumber(token));
        break;
      case kPlbId:
        copyCut(plbId_, token);
        break;
      case kPlbDate:
        dateOf(token, plbDate_);
        break;
    }
    appendNow = pending_ && slot.append == 1;
  }
  if (appendNow) appendDetail();
  return matched;
}

void SegmentMapping::startDetail() {
  if (pending_) appendDetail();
  d4appendStart(tables_.level(kDetailLevel), 0);
  pending_ = true;
  applyTemplate(kDetailLevel);
  f4assignDouble(field(kDetailLevel, "LEVEL"), currentLevel_);
  f4assignDouble(field(kDetailLevel, "REC_PTR"), counter_[currentLevel_]);
  f4assign(field(kDetailLevel, "RECORD"), record_);
  f4assign(field(kDetailLevel, "GROUP"), group_);
  f4assign(field(kDetailLevel, "PLBID"), plbId_);
  f4assign(field(kDetailLevel, "PLBDATE"), plbDate_);
}

void SegmentMapping::appendDetail() {
  d4append(tables_.level(kDetailLevel));
  pending_ = false;
}

void SegmentMapping::finish() {
  if (pending_) appendDetail();
  closeLevelsDownTo(1);
}

FIELD4 *SegmentMapping::field(int n, const char *name) {
  DATA4 *data = tables_.level(n);
  if (data == nullptr) return nullptr;
  // The name's length and hash; a name too long for a slot bypasses them.
  std::uint32_t hash = 2166136261u;
  size_t len = 0;
  for (; name[len] != '\0' && len < kFieldNameSize; ++len)
    hash = (hash ^ static_cast<unsigned char>(name[len])) * 16777619u;
  RecentField *recent = nullptr;
  if (len > 0 && len < kFieldNameSize) {
    recent = &recent_[n][hash & (kRecentFields - 1)];
    if (same(recent->name, name)) return recent->field;
  }

  auto &lookups = fields_[n];
  key_.assign(name, len < kFieldNameSize ? len : strlen(name));
  auto found = lookups.find(key_);
  FIELD4 *f = nullptr;
  if (found != lookups.end()) {
    f = found->second;
  } else {
    if (lookups.size() >= kFieldCacheLimit) {
      lookups.clear();
      memset(recent_[n], 0, sizeof recent_[n]);
    }
    f = d4field(data, name);
    lookups.emplace(key_, f);
  }
  if (recent != nullptr) {
    memcpy(recent->name, name, len + 1);
    recent->field = f;
  }
  return f;
}

}  // namespace remitex
