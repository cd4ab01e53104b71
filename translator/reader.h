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

#include <cstddef>
#include <cstdio>
#include <memory>

namespace remitex {

constexpr int kTokenSize = 400;       // token buffer: at most 399 bytes kept
constexpr int kSegmentIdSize = 10;    // segment identifier: at most 9 characters kept
constexpr int kVersionListSize = 40;  // version list buffer: at most 39 bytes take part
constexpr size_t kReadBlockSize = 64 * 1024;  // bytes the reader asks the stream for at a time

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
//
// The token loop reads the stream in blocks of its own (large reads bypass
// the stream's buffer). Once readTokens has begun, the stream's position is
// where the last block ended, not after the last token delivered: the caller
// must neither read the stream nor rely on its position afterwards (a run
// only closes it). The stream must be seekable: delimiter discovery rewinds
// it, and a DTM look-ahead reaching past a full block returns by seeking.
class InterchangeReader {
 public:
  // `versionList` is the text the interchange version is looked up in (kept
  // by reference; it must stay valid). `log` receives the GS01 rejection text.
  // `blockSize` (at least 1) is the size of the reader's reads; the tokens do
  // not depend on it.
  InterchangeReader(FILE *input, const char *versionList, FILE *log, TokenSink &sink,
                    size_t blockSize = kReadBlockSize);

  // Forgets the current and previous segment identifiers.
  void clearSegmentIds();

  // Finds the three delimiters from the ISA segment and leaves the stream at
  // its first byte, with nothing of it held by the reader. Returns 0, or
  // kRunRejected when the file ends before the delimiters are complete
  // (nothing is written to the log).
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
  // What the envelope checks and the DTM look-ahead need to know of the
  // current segment identifier, decided once when it arrives.
  enum class SegmentKind { kOther, kGroupHeader, kSetHeader, kDate };

  // The next token, cleaned (see cleanToken): the bytes up to the next
  // delimiter into `token` (of the first kTokenSize - 1 bytes the cleaned
  // ones; the rest read and dropped; zero-terminated), the delimiter into
  // `terminator`. Returns the token's length, or -1 when the stream ended
  // before a delimiter.
  int scanToken(char *token, char *terminator);
  // scanToken for a token that ends within the next 16 bytes of the buffer;
  // -1, with nothing consumed, for any other token (or when the buffer holds
  // fewer unread bytes).
  inline int shortToken(char *token, char *terminator);
  // Reads the next block into the empty buffer. False at end of file.
  bool refill();
  // Reads more bytes behind those the buffer holds, first moving the unread
  // ones to its front. False at end of file or when the buffer is full of
  // unread bytes.
  bool readMore();
  // Marks the bytes of the three delimiters in the byte table and the lanes.
  void classifyBytes();
  // The envelope checks for one element token: 0 or the run status.
  int checkEnvelope(const char *token, int elementNo);
  // DTM century look-ahead: when DTM05 ends the segment and is "18", "19" or
  // "20", writes it to `century`. Nothing is consumed: the loop reads the
  // same tokens next.
  bool centuryAhead(char *century);

  FILE *input_;
  const char *versionList_;
  FILE *log_;
  TokenSink &sink_;
  Delimiters delims_;
  char current_[kSegmentIdSize] = {};
  char previous_[kSegmentIdSize] = {};
  SegmentKind kind_ = SegmentKind::kOther;
  bool lost_ = false;  // the stream could not return from a look-ahead

  // The read buffer of blockSize_ bytes (and 16 of slack that the short-token
  // scan may copy from): bytes [next_, end_) are read from the stream and not
  // yet consumed; the stream stands after byte end_.
  std::unique_ptr<unsigned char[]> buffer_;
  size_t blockSize_;
  size_t next_ = 0;
  size_t end_ = 0;
  bool atEnd_ = false;  // a read came back short: the stream has no more bytes
  unsigned char byteKind_[256] = {};  // ByteKind of every byte value (reader.cc)
  // The element, component and segment delimiters, each repeated in 16
  // bytes, for the short-token scan.
  alignas(16) unsigned char delimiterLanes_[3][16] = {};
};

// Cleans a raw token of `len` bytes in place and returns its new length:
// leading bytes up to the first one above 32 are dropped (bytes of 128 and
// above count as dropped too), of the rest only bytes 32 to 127 are kept, and
// trailing blanks are cut. The result is zero-terminated.
int cleanToken(char *token, int len);

}  // namespace remitex
