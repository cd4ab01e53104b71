// The interchange reader: turns an X12 835 interchange into a stream of
// tokens (segment identifiers, element and component values, each with its
// element and component number) and applies the envelope checks that decide
// whether the interchange is accepted. It knows nothing of tables: every token
// goes to a TokenSink, which in a run is the segment mapping.
//
// Delimiters come from the interchange itself: the element separator is the
// byte after "ISA", the component separator the byte after the sixteenth
// element separator (the ISA16 value), the segment terminator the byte after
// that. A token is the run of bytes up to the next of the three delimiters,
// cleaned of control bytes, bytes of 128 and above, and trailing blanks, so
// line breaks between or inside segments never reach a value.
#pragma once

#include <cstdio>

namespace remitex {

constexpr int kTokenSize = 400;       // token buffer: at most 399 bytes kept
constexpr int kSegmentIdSize = 10;    // segment identifier: at most 9 characters kept
constexpr int kVersionListSize = 40;  // version list buffer: at most 39 bytes take part

// Receives the tokens of an interchange in file order.
class TokenSink {
 public:
  virtual ~TokenSink() = default;
  // A segment identifier (element number 0). `current` is the new identifier,
  // `previous` the one before it (empty for the first). Both point into the
  // reader and stay valid until the next token.
  virtual void segmentIdentifier(const char *current, const char *previous) = 0;
  // An element or component value that passed the envelope checks.
  // `elementNo` counts from 1, `componentNo` from 1 (1 also for a simple
  // element); `terminator` is the delimiter that ended the token.
  virtual void element(const char *token, int elementNo, int componentNo, char terminator) = 0;
};

struct Delimiters {
  char element = 0;
  char component = 0;
  char segment = 0;
};

// Reads one interchange from a binary stream that the caller owns.
class InterchangeReader {
 public:
  // `versionList` is the text the interchange version is looked up in (kept
  // by reference; it must stay valid). `log` receives the GS01 rejection text.
  InterchangeReader(FILE *input, const char *versionList, FILE *log, TokenSink &sink);

  // Forgets the current and previous segment identifiers.
  void clearSegmentIds();

  // Finds the three delimiters from the ISA segment and leaves the stream at
  // its first byte. Returns 0, or kRunRejected when the file ends before the
  // delimiters are complete (nothing is written to the log).
  int discoverDelimiters();

  // The token loop: reads tokens until the stream reports end of file and
  // hands each to the sink. Returns 0 at end of file; kRunRejected when GS01
  // does not begin with "HP" (the rejection text is written to the log, with
  // no line end) or ST01 is not "835"; kRunVersion when the version taken from
  // GS08 is not in the version list. Closes nothing.
  int readTokens();

  const Delimiters &delimiters() const { return delims_; }
  const char *currentSegment() const { return current_; }

 private:
  // One raw scan: the bytes up to the next delimiter into `token` (at most
  // kTokenSize - 1 of them kept, the rest read and dropped; zero-terminated),
  // the delimiter into `terminator`. Returns the number of bytes kept, or -1
  // when the stream ended before a delimiter.
  int scanToken(char *token, char *terminator);
  bool isDelimiter(int byte) const;
  // The envelope checks for one element token: 0 or the run status.
  int checkEnvelope(const char *token, int elementNo);
  // DTM century look-ahead: when DTM05 ends the segment and is "18", "19" or
  // "20", writes it to `century`. The stream is left where it was.
  bool centuryAhead(char *century);

  FILE *input_;
  const char *versionList_;
  FILE *log_;
  TokenSink &sink_;
  Delimiters delims_;
  char current_[kSegmentIdSize] = {};
  char previous_[kSegmentIdSize] = {};
  bool lost_ = false;  // the stream could not return from a look-ahead
};

// Cleans a raw token of `len` bytes in place and returns its new length:
// leading bytes up to the first one above 32 are dropped (bytes of 128 and
// above count as dropped too), of the rest only bytes 32 to 127 are kept, and
// trailing blanks are cut. The result is zero-terminated.
int cleanToken(char *token, int len);

}  // namespace remitex
