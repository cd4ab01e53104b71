// The segment mapping's entry points. The table work behind them (opening
// level records, storing element values by field type, detail records)
// comes with the table set; until then they keep state only.
#include "mapping.h"

#include <cstring>

namespace remitex {
namespace {

void copyId(char *to, const char *from) {
  size_t len = strnlen(from, kSegmentIdSize - 1);
  memcpy(to, from, len);
  to[len] = '\0';
}

}  // namespace

void SegmentMapping::reset() {
  currentLevel_ = 0;
  memset(open_, 0, sizeof open_);
  memset(counter_, 0, sizeof counter_);
}

void SegmentMapping::segmentIdentifier(const char *current, const char *previous) {
  copyId(previousSegment_, previous);
  copyId(segment_, current);
}

void SegmentMapping::element(const char *, int, int, char) {
  // Values are stored into the level tables once the table set exists.
}

void SegmentMapping::closeLevelsDownTo(int n) {
  // No level opens before the table set exists, so there is no record to
  // append; only the model's state follows the close.
  for (int level = kLevels; level >= n && level >= 1; --level) {
    if (!open_[level]) continue;
    open_[level] = false;
    currentLevel_ = level - 1;
  }
}

}  // namespace remitex
