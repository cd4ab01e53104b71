// The segment mapping: decides, for every token the reader delivers, which
// level table and which field it goes into. It keeps the level model (which
// levels are open, their running numbers, the current level table) and the
// detail records of CAS, PLB, LQ and REF segments.
//
// Levels and the segments that open them:
//
//   level  table    opened by                          own number  parent link
//   1      LEVEL_1  ISA                                L1_REC      -
//   2      LEVEL_2  GS; ST unless the one before is GS  L2_REC      L1_PTR
//   3      LEVEL_3  LX                                 L3_REC      L2_PTR
//   4      LEVEL_4  CLP                                L4_REC      L3_PTR
//   5      LEVEL_5  SVC                                L5_REC      L4_PTR
//   -      LEVEL_6  detail items of CAS, PLB, LQ, REF  LEVEL and REC_PTR (parent's level and number)
//
// Every other segment writes its elements into the record of the level open
// at that moment, into fields named from the segment identifier and the
// element number ("BPR02"), for PER, QTY, AMT, DTM, NM1, N1, N3 and N4 also
// the qualifier of the first element ("NM103_QC", "AMT02_AU_2" for the second
// AMT*AU in a row; N3 and N4 take the qualifier of the last N1), and for a
// composite element that has no field of the plain name, the component number
// ("SVC01_2"). A value whose field the table lacks is dropped, so the table
// layouts decide what is stored. Values are stored by field type: "C" as
// text, "D" as a CCYYMMDD date (a six-digit date gets 19 when its year is
// above 50, else 20; a text that is no valid date gives the blank date), "N"
// as the token's leading decimal number.
//
// Records are appended children first: opening a level closes the deeper
// ones, each close appends its record; a detail record is appended at the
// next segment identifier, the next detail record, or a slot that ends it
// (CAS quantity, PLB amount), and at the end of the input.
//
// The mapping relies on the run's setting errFieldName 0 while it works: a
// missing field is no error.
//
// Field lookups are made once per situation, not per token: a segment's
// lookups in the current table are kept in a plan, found at the segment's
// first element by the table, the identifier and, for the qualifier
// segments, the qualifier and its count; an element is then an index into
// the plan. The fixed fields (each level's number and link, the detail
// fields) are looked up once per run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "reader.h"
#include "table_set.h"
#include "tablekit.h"

namespace remitex {

constexpr int kLevels = 5;            // level tables LEVEL_1 to LEVEL_5; LEVEL_6 holds details
constexpr int kDetailLevel = 6;       // the table number of LEVEL_6
constexpr int kFieldNameSize = 20;    // a built field name: at most 19 characters
constexpr int kQualifierSize = 10;    // a qualifier: at most 9 characters
constexpr int kSavedN1Size = 12;      // the last N1 qualifier: at most 11 characters
constexpr int kQualifierRows = 8;     // PER, QTY, AMT, DTM, NM1, N1, N3, N4
constexpr int kPlanElements = 24;     // element numbers a plan holds lookups for
constexpr int kPlanComponents = 8;    // component numbers a plan holds lookups for
constexpr int kPlanLimit = 512;       // plans kept at most; reaching it drops them all

// A field name being built from freeUnits. It holds at most kFieldNameSize - 1
// characters; what goes beyond is cut (such a name never matches a field).
class FieldName {
 public:
  FieldName &add(const char *text);
  // A number in decimal, with leading zeros up to `width` digits.
  FieldName &addNumber(long number, int width = 1);
  const char *text() const { return text_; }
  bool empty() const { return len_ == 0; }

 private:
  char text_[kFieldNameSize] = {};
  int len_ = 0;
};

class SegmentMapping : public TokenSink {
 public:
  // Works on the level tables and templates of `tables`, which must be open
  // and built from reset() until finish().
  explicit SegmentMapping(TableSet &tables) : tables_(tables) {}

  // Starts a run: current level 0, no level open, every level counter 0, no
  // qualifier and no detail record.
  void reset();

  // Segment identifier handler: every token with element number 0.
  void segmentIdentifier(const char *current, const char *previous) override;

  // Element handler: every element or component token that passed the
  // envelope checks.
  void element(const char *token, int elementNo, int componentNo, char terminator) override;

  // Closes levels 5 down to n, appending the record of each level still open.
  void closeLevelsDownTo(int n);

  // End of the input: appends a detail record still pending, then closes
  // every open level.
  void finish();

  const char *segment() const { return segment_; }
  const char *previousSegment() const { return previousSegment_; }
  int currentLevel() const { return currentLevel_; }

 private:
  struct QualifierState {
    char current[kQualifierSize];
    char previous[kQualifierSize];
    int count;
  };

  // Which plan a segment's elements use.
  struct PlanKey {
    int32_t table;
    int32_t count;  // the qualifier's count; 0 for a segment without one
    char segment[kSegmentIdSize];
    char qualifier[kQualifierSize];
  };
  // The lookups of one segment in one table, each made at its first use
  // (kNotLookedUp until then): per element, the field of the element's name
  // (plain or qualified), and per element and component, the field of the
  // component's name, asked for only when the plain one is missing.
  struct Plan {
    explicit Plan(const PlanKey &k);
    PlanKey key;
    FIELD4 *element[kPlanElements];
    FIELD4 *component[kPlanElements][kPlanComponents];
  };
  // The fields every run asks for, looked up at their first use.
  struct FixedFields {
    FIELD4 *rec[kLevels + 1];  // Ln_REC of level n (index 0 unused)
    FIELD4 *ptr[kLevels + 1];  // Ln-1_PTR of level n (index 0 and 1 unused)
    FIELD4 *level, *recPtr, *record, *group, *code, *amount, *quantity, *plbId, *plbDate;
  };

  void openLevel(int n);
  void refreshGroupTemplate();
  // Copies the template of table n over its record buffer.
  void applyTemplate(int n);
  // The qualifier element of a qualifier segment: updates the row's
  // qualifier and count (N1 also the saved one).
  void takeQualifier(const char *token);
  // The plain field name of an element: identifier and element number.
  FieldName elementName(int elementNo) const;
  // The field name of an element of a qualifier segment.
  FieldName qualifiedName(int elementNo) const;
  // The field of an element of a qualifier segment, or null.
  FIELD4 *qualifiedField(int elementNo);
  // The field of an element or component of any other segment, or null.
  FIELD4 *plainField(int elementNo, int componentNo);
  // The plan of the current segment, table and qualifier.
  Plan &plan();
  // The plan of that key, whose hash is given; made, and the plans dropped
  // at kPlanLimit, when it is not kept.
  Plan &planFor(const PlanKey &key, std::uint32_t hash);
  void dropPlans();
  const FixedFields &fixed();
  // Runs the composite slots for a token; true when one of them matched.
  bool runSlots(const char *token, int elementNo, int componentNo);
  void startDetail();
  void appendDetail();
  // The field of that name in table n (1 to 6), or null; remembered.
  FIELD4 *field(int n, const char *name);

  TableSet &tables_;

  char segment_[kSegmentIdSize] = {};
  char previousSegment_[kSegmentIdSize] = {};

  // Level model: the current level (0 before the first "ISA"), an open flag
  // and a running number per level (index 1 to kLevels; index 0 unused), and
  // the table the current level's segments write into (0: none yet).
  int currentLevel_ = 0;
  bool open_[kLevels + 1] = {};
  int32_t counter_[kLevels + 1] = {};
  int currentTable_ = 0;

  // Qualifier rows, in the order of the qualifier table; the row and the
  // composite row of the current segment, or -1.
  QualifierState qualifiers_[kQualifierRows] = {};
  char savedN1_[kSavedN1Size] = {};
  int qualifierRow_ = -1;
  int compositeRow_ = -1;

  // Detail state: a LEVEL_6 record started and not yet appended, and the
  // values every detail record of the current segment starts with.
  bool pending_ = false;
  char record_[kSegmentIdSize] = {};
  char group_[kSegmentIdSize] = {};
  char plbId_[51] = {};
  char plbDate_[9] = {};

  // The plan of the current segment, or null when it is still to be found:
  // dropped at every segment identifier, at every change of the current
  // table and of the qualifier.
  Plan *plan_ = nullptr;
  // The plans kept, in slots by a hash of the key, probed in turn; at most
  // kPlanLimit of them, so half the slots stay free.
  static constexpr int kPlanSlots = 2 * kPlanLimit;  // a power of two
  std::unique_ptr<Plan> plans_[kPlanSlots];
  int planCount_ = 0;

  FixedFields fixed_ = {};
  bool fixedKnown_ = false;

  // Field lookups by name of each table (index 1 to 6), for what the plans
  // do not hold, and the key of the lookup in hand (kept to reuse its
  // storage).
  std::unordered_map<std::string, FIELD4 *> fields_[kDetailLevel + 1];
  std::string key_;
};

// The leading decimal number of a token: optional blanks, an optional sign,
// digits with an optional decimal point and more digits, and an optional
// exponent. Anything else (an empty token, text, hexadecimal, "inf", "nan")
// reads as far as it is such a number, and as 0 when no digit starts it. A
// value beyond the range of a double reads as 0.
double leadingNumber(const char *token);

}  // namespace remitex
