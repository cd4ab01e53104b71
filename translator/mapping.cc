// The segment mapping: level dispatch, opening and closing levels with the
// LEVEL_2 template refresh, field naming by qualifier, composite slots and
// detail records, and storing values by field type.
#include "mapping.h"

#include <algorithm>
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

// copyCut that also folds every character copied, and the end of the text,
// into an FNV-1a hash.
template <size_t N>
void copyHashed(char (&to)[N], const char *from, std::uint32_t &hash) {
  size_t len = 0;
  for (; len < N - 1 && from[len] != '\0'; ++len) {
    to[len] = from[len];
    hash = (hash ^ static_cast<unsigned char>(from[len])) * 16777619u;
  }
  to[len] = '\0';
  hash = hash * 16777619u;
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

constexpr bool slotMatches(const Slot &slot, int elementNo, int componentNo) {
  if (slot.first == 0 && slot.component == 0) return false;
  if (elementNo < slot.first || componentNo != slot.component) return false;
  if (slot.step > 0) return (elementNo - slot.first) % slot.step == 0;
  return elementNo == slot.first;
}

// The slots of composite row `row` that element e, component k matches: bit
// `kind` for each.
constexpr unsigned matchingSlots(int row, int elementNo, int componentNo) {
  unsigned kinds = 0;
  for (int kind = 0; kind < kSlots; ++kind) {
    if (slotMatches(kCompositeTable[row].slots[kind], elementNo, componentNo)) kinds |= 1u << kind;
  }
  return kinds;
}

// matchingSlots worked out when the program is built for the element and
// component numbers of the plans, so that a token finds its slots in one
// step.
struct SlotMatches {
  unsigned char kinds[kCompositeRows][kPlanElements + 1][kPlanComponents + 1] = {};
};
constexpr SlotMatches makeSlotMatches() {
  SlotMatches matches;
  for (int row = 0; row < kCompositeRows; ++row) {
    for (int e = 0; e <= kPlanElements; ++e) {
      for (int k = 0; k <= kPlanComponents; ++k) matches.kinds[row][e][k] = static_cast<unsigned char>(matchingSlots(row, e, k));
    }
  }
  return matches;
}
constexpr SlotMatches kSlotMatches = makeSlotMatches();
static_assert(kSlots <= 8, "the kinds fit a byte");

unsigned slotsMatching(int row, int elementNo, int componentNo) {
  if (elementNo >= 0 && elementNo <= kPlanElements && componentNo >= 0 && componentNo <= kPlanComponents) {
    return kSlotMatches.kinds[row][elementNo][componentNo];
  }
  return matchingSlots(row, elementNo, componentNo);
}

// Segments that open a level, and segments that close the levels from one
// down (each open level from 5 down to that one is appended).
struct LevelRow {
  const char *segment;
  int level;
};
constexpr LevelRow kOpeners[] = {{"ISA", 1}, {"GS", 2}, {"ST", 2}, {"LX", 3}, {"CLP", 4}, {"SVC", 5}};
constexpr LevelRow kClosers[] = {{"PLB", 3}, {"SE", 3}, {"IEA", 2}};

// An identifier of at most three characters packed into a word, byte i
// holding character i and zeros after the last. Every identifier of the
// tables above has at most three characters, so a longer identifier, whose
// fourth byte is not zero, matches none of them.
constexpr std::uint32_t packId(const char *id) {
  std::uint32_t packed = 0;
  for (int i = 0; i < 4 && id[i] != '\0'; ++i) packed |= std::uint32_t{static_cast<unsigned char>(id[i])} << (8 * i);
  return packed;
}

// What an identifier of the tables above does besides naming fields: the
// level it opens, the level down to which it closes, its qualifier row and
// its composite row. Merged from the tables when the program is built, into
// slots by a hash of the packed identifier (probed in turn up to an empty
// one), so that a segment finds all of it in about one step.
struct Role {
  std::uint32_t id = 0;  // 0: an empty slot
  int opens = 0;
  int closesDownTo = 0;
  int qualifierRow = -1;
  int compositeRow = -1;
};
struct Roles {
  static constexpr int kSlots = 64;  // a power of two, well above the rows
  Role slots[kSlots] = {};
  int count = 0;
  bool idsFit = true;  // every identifier has one to three characters

  static constexpr int home(std::uint32_t id) { return static_cast<int>((id * 0x9E3779B1u) >> 26); }

  constexpr Role &add(const char *segment) {
    int len = 0;
    while (segment[len] != '\0') ++len;
    idsFit = idsFit && len >= 1 && len <= 3;
    const std::uint32_t id = packId(segment);
    int i = home(id);
    while (slots[i].id != 0 && slots[i].id != id) i = (i + 1) & (kSlots - 1);
    if (slots[i].id == 0) ++count;
    slots[i].id = id;
    return slots[i];
  }
  // The role of a packed identifier, or null.
  const Role *find(std::uint32_t id) const {
    for (int i = home(id); slots[i].id != 0; i = (i + 1) & (kSlots - 1)) {
      if (slots[i].id == id) return &slots[i];
    }
    return nullptr;
  }
};

constexpr Roles makeRoles() {
  Roles roles;
  for (const LevelRow &opener : kOpeners) roles.add(opener.segment).opens = opener.level;
  for (const LevelRow &closer : kClosers) roles.add(closer.segment).closesDownTo = closer.level;
  for (int row = 0; row < kQualifierRows; ++row) roles.add(kQualifierTable[row].segment).qualifierRow = row;
  for (int row = 0; row < kCompositeRows; ++row) roles.add(kCompositeTable[row].segment).compositeRow = row;
  return roles;
}
constexpr Roles kRoles = makeRoles();
static_assert(kRoles.idsFit, "identifiers with a role have one to three characters");
static_assert(kRoles.count <= Roles::kSlots / 2, "slots stay at most half full");

// Remembered field lookups are dropped when a table's list grows this long,
// so that an input full of distinct names cannot grow it without bound.
constexpr size_t kFieldCacheLimit = 4096;

// What a plan entry holds until its lookup is made; a lookup gives a field
// of a table or null, never this.
FIELD4 gNotLookedUp;
FIELD4 *const kNotLookedUp = &gNotLookedUp;

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
  dropPlans();
  // The fixed fields are looked up at their first use, not here: the run
  // sets errFieldName 0 only after the reset.
  fixedKnown_ = false;
  for (auto &lookups : fields_) lookups.clear();
}

void SegmentMapping::segmentIdentifier(const char *current, const char *previous) {
  // 1. The detail record of the segment before is complete.
  if (pending_) appendDetail();
  plan_ = nullptr;

  // 2. The identifiers.
  copyCut(previousSegment_, previous);
  copyCut(segment_, current);
  const Role *role = kRoles.find(packId(segment_));

  // 3. Level dispatch on the exact identifier.
  if (role != nullptr && role->opens != 0) {
    openLevel(role->opens);
  } else if (role != nullptr && role->closesDownTo != 0) {
    closeLevelsDownTo(role->closesDownTo);
  }

  // 4. The qualifier row; every other row forgets its previous qualifier,
  // so the occurrence count runs only over consecutive segments. Only the
  // row of the segment before can hold one.
  const int before = qualifierRow_;
  qualifierRow_ = role != nullptr ? role->qualifierRow : -1;
  if (before >= 0 && before != qualifierRow_) qualifiers_[before].previous[0] = '\0';

  // 5. The composite row.
  compositeRow_ = role != nullptr ? role->compositeRow : -1;

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
  plan_ = nullptr;
  d4appendStart(tables_.level(n), 0);
  applyTemplate(n);

  ++counter_[n];
  f4assignLong(fixed().rec[n], counter_[n]);
  if (n > 1) f4assignLong(fixed().ptr[n], counter_[n - 1]);
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
    if (above >= 1) {
      currentTable_ = above;
      plan_ = nullptr;
    }
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
  FIELD4 *target = nullptr;
  if (qualifierRow_ >= 0) {
    if (elementNo == kQualifierTable[qualifierRow_].element) takeQualifier(token);
    target = qualifiedField(elementNo);
  } else if (compositeRow_ >= 0 && runSlots(token, elementNo, componentNo)) {
    // A token a slot takes goes to the detail table only.
    return;
  } else {
    target = plainField(elementNo, componentNo);
  }
  if (target != nullptr) store(target, token);
}

void SegmentMapping::takeQualifier(const char *token) {
  const QualifierRow &row = kQualifierTable[qualifierRow_];
  QualifierState &q = qualifiers_[qualifierRow_];
  const bool address = same(row.segment, "N3") || same(row.segment, "N4");
  copyCut(q.current, address ? savedN1_ : token);
  if (same(row.segment, "N1")) copyCut(savedN1_, token);
  q.count = same(q.current, q.previous) ? q.count + 1 : 1;
  copyCut(q.previous, q.current);
  plan_ = nullptr;
}

FieldName SegmentMapping::qualifiedName(int elementNo) const {
  const QualifierState &q = qualifiers_[qualifierRow_];
  FieldName name = elementName(elementNo);
  name.add("_").add(q.current);
  if (q.count != 1) name.add("_").addNumber(q.count);
  return name;
}

// A plan entry stands for the name built from its key and its numbers, and
// a table gives the same field for the same name every time, so an entry
// looked up once holds for the rest of the plan's life, cut names included.
FIELD4 *SegmentMapping::qualifiedField(int elementNo) {
  if (elementNo < 1 || elementNo > kPlanElements) return field(currentTable_, qualifiedName(elementNo).text());
  FIELD4 *&target = plan().element[elementNo - 1];
  if (target == kNotLookedUp) target = field(currentTable_, qualifiedName(elementNo).text());
  return target;
}

FIELD4 *SegmentMapping::plainField(int elementNo, int componentNo) {
  if (elementNo < 1 || elementNo > kPlanElements) {
    FIELD4 *whole = field(currentTable_, elementName(elementNo).text());
    if (whole != nullptr) return whole;
    return field(currentTable_, elementName(elementNo).add("_").addNumber(componentNo).text());
  }
  Plan &p = plan();
  FIELD4 *&whole = p.element[elementNo - 1];
  if (whole == kNotLookedUp) whole = field(currentTable_, elementName(elementNo).text());
  if (whole != nullptr) return whole;

  if (componentNo < 1 || componentNo > kPlanComponents) {
    return field(currentTable_, elementName(elementNo).add("_").addNumber(componentNo).text());
  }
  FIELD4 *&part = p.component[elementNo - 1][componentNo - 1];
  if (part == kNotLookedUp) part = field(currentTable_, elementName(elementNo).add("_").addNumber(componentNo).text());
  return part;
}

FieldName SegmentMapping::elementName(int elementNo) const {
  FieldName name;
  name.add(segment_).addNumber(elementNo, 2);
  return name;
}

SegmentMapping::Plan::Plan(const PlanKey &k) : key(k) {
  std::fill(&element[0], &element[0] + kPlanElements, kNotLookedUp);
  std::fill(&component[0][0], &component[0][0] + kPlanElements * kPlanComponents, kNotLookedUp);
}

SegmentMapping::Plan &SegmentMapping::plan() {
  if (plan_ != nullptr) return *plan_;
  PlanKey key;
  key.table = currentTable_;
  key.count = qualifierRow_ >= 0 ? qualifiers_[qualifierRow_].count : 0;
  // The texts are hashed as they are copied: the key's bytes were just
  // written one by one, and reading them back in words would wait for them.
  std::uint32_t hash = (static_cast<std::uint32_t>(key.table) * 31u) ^ static_cast<std::uint32_t>(key.count);
  copyHashed(key.segment, segment_, hash);
  copyHashed(key.qualifier, qualifierRow_ >= 0 ? qualifiers_[qualifierRow_].current : "", hash);
  plan_ = &planFor(key, hash);
  return *plan_;
}

SegmentMapping::Plan &SegmentMapping::planFor(const PlanKey &key, std::uint32_t hash) {
  constexpr std::uint32_t kMask = kPlanSlots - 1;
  hash ^= hash >> 16;
  std::uint32_t slot = hash & kMask;
  for (; plans_[slot] != nullptr; slot = (slot + 1) & kMask) {
    const PlanKey &kept = plans_[slot]->key;
    if (kept.table == key.table && kept.count == key.count && same(kept.segment, key.segment) &&
        same(kept.qualifier, key.qualifier)) {
      return *plans_[slot];
    }
  }
  if (planCount_ == kPlanLimit) {
    // An input full of distinct segments or qualifiers: start again rather
    // than grow.
    dropPlans();
    slot = hash & kMask;
  }
  plans_[slot] = std::make_unique<Plan>(key);
  ++planCount_;
  return *plans_[slot];
}

void SegmentMapping::dropPlans() {
  for (auto &p : plans_) p.reset();
  planCount_ = 0;
  plan_ = nullptr;
}

const SegmentMapping::FixedFields &SegmentMapping::fixed() {
  if (fixedKnown_) return fixed_;
  fixed_ = {};
  for (int n = 1; n <= kLevels; ++n) {
    fixed_.rec[n] = field(n, FieldName().add("L").addNumber(n).add("_REC").text());
    if (n > 1) fixed_.ptr[n] = field(n, FieldName().add("L").addNumber(n - 1).add("_PTR").text());
  }
  fixed_.level = field(kDetailLevel, "LEVEL");
  fixed_.recPtr = field(kDetailLevel, "REC_PTR");
  fixed_.record = field(kDetailLevel, "RECORD");
  fixed_.group = field(kDetailLevel, "GROUP");
  fixed_.code = field(kDetailLevel, "CODE");
  fixed_.amount = field(kDetailLevel, "AMOUNT");
  fixed_.quantity = field(kDetailLevel, "QUANTITY");
  fixed_.plbId = field(kDetailLevel, "PLBID");
  fixed_.plbDate = field(kDetailLevel, "PLBDATE");
  fixedKnown_ = true;
  return fixed_;
}

bool SegmentMapping::runSlots(const char *token, int elementNo, int componentNo) {
  const unsigned kinds = slotsMatching(compositeRow_, elementNo, componentNo);
  if (kinds == 0) return false;
  const CompositeRow &row = kCompositeTable[compositeRow_];
  bool appendNow = false;
  for (int kind = 0; (kinds >> kind) != 0; ++kind) {
    if ((kinds & (1u << kind)) == 0) continue;
    switch (kind) {
      case kGroup:
        copyCut(group_, token);
        startDetail();
        break;
      case kCode:
        if (!pending_) startDetail();
        f4assign(fixed().code, token);
        break;
      case kAmount:
        f4assignDouble(fixed().amount, leadingNumber(token));
        break;
      case kQuantity:
        f4assignDouble(fixed().quantity, leadingNumber(token));
        break;
      case kPlbId:
        copyCut(plbId_, token);
        break;
      case kPlbDate:
        dateOf(token, plbDate_);
        break;
    }
    appendNow = pending_ && row.slots[kind].append == 1;
  }
  if (appendNow) appendDetail();
  return true;
}

void SegmentMapping::startDetail() {
  if (pending_) appendDetail();
  d4appendStart(tables_.level(kDetailLevel), 0);
  pending_ = true;
  applyTemplate(kDetailLevel);
  const FixedFields &f = fixed();
  f4assignDouble(f.level, currentLevel_);
  f4assignDouble(f.recPtr, counter_[currentLevel_]);
  f4assign(f.record, record_);
  f4assign(f.group, group_);
  f4assign(f.plbId, plbId_);
  f4assign(f.plbDate, plbDate_);
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
  auto &lookups = fields_[n];
  key_.assign(name);
  auto found = lookups.find(key_);
  if (found != lookups.end()) return found->second;
  if (lookups.size() >= kFieldCacheLimit) lookups.clear();
  FIELD4 *f = d4field(data, name);
  lookups.emplace(key_, f);
  return f;
}

}  // namespace remitex
