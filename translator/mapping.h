// The segment mapping: decides, for every token the reader delivers, which
// level table and which field it goes into, and keeps the level model (which
// levels are open, their running numbers) and the detail records of CAS, PLB,
// LQ and REF segments.
//
// Table mapping comes with the table set: until the level tables exist the
// mapping keeps only the segment identifiers and the level model's state, and
// stores nothing anywhere.
#pragma once

#include <cstdint>

#include "reader.h"

namespace remitex {

constexpr int kLevels = 5;  // level tables LEVEL_1 to LEVEL_5; LEVEL_6 holds details

class SegmentMapping : public TokenSink {
 public:
  // Starts a run: current level 0, no level open, every level counter 0.
  void reset();

  // Segment identifier handler: every token with element number 0.
  void segmentIdentifier(const char *current, const char *previous) override;

  // Element handler: every element or component token that passed the
  // envelope checks.
  void element(const char *token, int elementNo, int componentNo, char terminator) override;

  // Closes levels 5 down to n, appending the record of each level still open.
  // The run calls it with n = 1 at the end of the input.
  void closeLevelsDownTo(int n);

  const char *segment() const { return segment_; }
  const char *previousSegment() const { return previousSegment_; }
  int currentLevel() const { return currentLevel_; }

 private:
  char segment_[kSegmentIdSize] = {};
  char previousSegment_[kSegmentIdSize] = {};

  // Level model: the current level (0 before the first "ISA"), an open flag
  // and a running number per level (index 1 to kLevels; index 0 unused).
  int currentLevel_ = 0;
  bool open_[kLevels + 1] = {};
  int32_t counter_[kLevels + 1] = {};
};

}  // namespace remitex
