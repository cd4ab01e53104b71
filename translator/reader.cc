// The interchange reader: delimiter discovery, the token loop with its
// cleaning and numbering, the envelope checks and the DTM century look-ahead.
// The stream is read once, forwards; the only backward seeks are the rewind
// after delimiter discovery and the return after a DTM look-ahead.
#include "reader.h"

#include <cstring>

#include "run_status.h"

namespace remitex {
namespace {

constexpr int kIsaSeparators = 16;  // element separators up to ISA16
constexpr char kGs01Rejection[] =
    "REMITEX.DAT rejected - not an REMITEX file, Functional Identifier (GS01) not = HP";

bool startsWith(const char *text, const char *prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

// The interchange version is the four characters after the first two of GS08
// (004010X091A1 gives 4010, 003051 gives 3051); it must occur somewhere in the
// version list. A GS08 too short to hold four such characters names no version.
bool versionListed(const char *gs08, const char *versionList) {
  if (strlen(gs08) < 6) return false;
  char version[5];
  memcpy(version, gs08 + 2, 4);
  version[4] = '\0';
  return strstr(versionList, version) != nullptr;
}

bool isCentury(const char *text) {
  return strcmp(text, "18") == 0 || strcmp(text, "19") == 0 || strcmp(text, "20") == 0;
}

// Puts the two-digit century in front of a date token, keeping at most
// kTokenSize - 1 bytes.
void prefixCentury(char *token, const char *century) {
  size_t len = strlen(token);
  if (len > static_cast<size_t>(kTokenSize - 3)) len = kTokenSize - 3;
  memmove(token + 2, token, len);
  memcpy(token, century, 2);
  token[len + 2] = '\0';
}

}  // namespace

int cleanToken(char *token, int len) {
  int from = 0;
  while (from < len) {
    unsigned char byte = static_cast<unsigned char>(token[from]);
    if (byte > 32 && byte < 128) break;
    ++from;
  }
  int out = 0;
  for (int i = from; i < len; ++i) {
    unsigned char byte = static_cast<unsigned char>(token[i]);
    if (byte >= 32 && byte <= 127) token[out++] = static_cast<char>(byte);
  }
  while (out > 0 && token[out - 1] == ' ') --out;
  token[out] = '\0';
  return out;
}

InterchangeReader::InterchangeReader(FILE *input, const char *versionList, FILE *log,
                                     TokenSink &sink)
    : input_(input), versionList_(versionList), log_(log), sink_(sink) {}

void InterchangeReader::clearSegmentIds() {
  current_[0] = '\0';
  previous_[0] = '\0';
}

int InterchangeReader::discoverDelimiters() {
  // 1. The byte after "ISA" is the element separator, the first of sixteen.
  if (fseek(input_, 3, SEEK_SET) != 0) return kRunRejected;
  int element = getc(input_);
  if (element == EOF) return kRunRejected;
  // 2. Count element separators up to the sixteenth.
  for (int count = 1; count < kIsaSeparators;) {
    int byte = getc(input_);
    if (byte == EOF) return kRunRejected;
    if (byte == element) ++count;
  }
  // 3. ISA16 is the component separator; the segment terminator follows it.
  int component = getc(input_);
  int segment = getc(input_);
  if (component == EOF || segment == EOF) return kRunRejected;
  delims_.element = static_cast<char>(element);
  delims_.component = static_cast<char>(component);
  delims_.segment = static_cast<char>(segment);
  // 4. The token loop starts with the "ISA" identifier.
  if (fseek(input_, 0, SEEK_SET) != 0) return kRunRejected;
  return 0;
}

bool InterchangeReader::isDelimiter(int byte) const {
  char c = static_cast<char>(byte);
  return c == delims_.element || c == delims_.component || c == delims_.segment;
}

int InterchangeReader::scanToken(char *token, char *terminator) {
  int len = 0;
  for (;;) {
    // The stream belongs to the run's one thread: no stream lock per byte.
    int byte = getc_unlocked(input_);
    if (byte == EOF) {
      token[len] = '\0';
      return -1;
    }
    if (isDelimiter(byte)) {
      token[len] = '\0';
      *terminator = static_cast<char>(byte);
      return len;
    }
    if (len < kTokenSize - 1) token[len++] = static_cast<char>(byte);
  }
}

int InterchangeReader::readTokens() {
  char token[kTokenSize];
  char terminator = 0;
  int elementNo = 0;
  int nextComponent = 1;
  while (!lost_) {
    // A token that end of file cut short is not used, nor is anything after
    // the last delimiter.
    int len = scanToken(token, &terminator);
    if (len < 0) break;
    cleanToken(token, len);

    int componentNo = nextComponent;
    nextComponent = terminator == delims_.component ? componentNo + 1 : 1;

    if (elementNo == 0) {
      memcpy(previous_, current_, sizeof current_);
      size_t idLen = strnlen(token, kSegmentIdSize - 1);
      memcpy(current_, token, idLen);
      current_[idLen] = '\0';
      sink_.segmentIdentifier(current_, previous_);
    } else {
      if (int status = checkEnvelope(token, elementNo)) return status;
      char century[3];
      if (elementNo == 2 && terminator != delims_.segment && startsWith(current_, "DTM") &&
          centuryAhead(century)) {
        prefixCentury(token, century);
      }
      sink_.element(token, elementNo, componentNo, terminator);
    }

    // A component separator keeps the element number: the next token is the
    // next component of the same element.
    if (terminator == delims_.element) ++elementNo;
    if (terminator == delims_.segment) elementNo = 0;
  }
  return 0;
}

int InterchangeReader::checkEnvelope(const char *token, int elementNo) {
  if (startsWith(current_, "GS")) {
    if (elementNo == 1 && !startsWith(token, "HP")) {
      if (log_ != nullptr) fputs(kGs01Rejection, log_);
      return kRunRejected;
    }
    if (elementNo == 8 && !versionListed(token, versionList_)) return kRunVersion;
  } else if (startsWith(current_, "ST")) {
    if (elementNo == 1 && strcmp(token, "835") != 0) return kRunRejected;
  }
  return 0;
}

bool InterchangeReader::centuryAhead(char *century) {
  fpos_t pos;
  if (fgetpos(input_, &pos) != 0) return false;
  // DTM03, DTM04, DTM05: raw tokens, stopping at the one that ends the segment.
  char ahead[kTokenSize];
  char terminator = 0;
  int count = 0;
  bool ended = false;
  while (count < 3 && !ended) {
    if (scanToken(ahead, &terminator) < 0) break;
    ++count;
    ended = terminator == delims_.segment;
  }
  bool found = count == 3 && ended && isCentury(ahead);
  // The tokens read ahead are read again by the loop. A stream that cannot
  // return there cannot be read on correctly: the loop ends after this token.
  if (fsetpos(input_, &pos) != 0) {
    lost_ = true;
    return false;
  }
  if (found) memcpy(century, ahead, 3);
  return found;
}

}  // namespace remitex
