// The interchange reader: delimiter discovery, the token loop with its
// cleaning and numbering, the envelope checks and the DTM century look-ahead.
// The stream is read once, forwards, in blocks held by the reader; the only
// backward seeks are the rewind after delimiter discovery and the return
// after a DTM look-ahead that reached past a full block.
#include "reader.h"

#include <algorithm>
#include <cstring>

#include "run_status.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define REMITEX_READER_SSE2 1
#endif

namespace remitex {
namespace {

constexpr int kIsaSeparators = 16;  // element separators up to ISA16
constexpr char kGs01Rejection[] =
    "REMITEX.DAT rejected - not an REMITEX file, Functional Identifier (GS01) not = HP";

// How the token scan treats a byte: a delimiter ends the token; a plain byte
// (33 to 127) is kept by cleaning wherever it stands; any other byte (blanks,
// control bytes, bytes of 128 and above) is dropped or needs cleanToken.
enum ByteKind : unsigned char { kPlain = 0, kUnclean = 1, kDelimiter = 2 };

// Bytes looked at in one step by the short-token scan, and bytes of slack
// behind the read buffer that its copy may read past the last byte read.
constexpr size_t kScanWidth = 16;

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

// The DTM05 test of the century look-ahead, fed the raw bytes after DTM02 one
// at a time. DTM03 and DTM04 must end with a delimiter other than the segment
// terminator, DTM05 with the segment terminator; DTM05 read as a C string
// (up to a zero byte, as it always was) must be "18", "19" or "20". The answer
// is known as soon as a byte settles it, usually within a dozen bytes.
class CenturyScan {
 public:
  enum Answer { kUndecided, kFound, kNone };

  CenturyScan(const Delimiters &delims, const unsigned char *byteKind)
      : segment_(delims.segment), byteKind_(byteKind) {}

  Answer feed(unsigned char byte) {
    if (byteKind_[byte] == kDelimiter) {
      const bool endsSegment = static_cast<char>(byte) == segment_;
      if (token_ < 2) {
        ++token_;
        return endsSegment ? kNone : kUndecided;
      }
      return endsSegment && isCentury() ? kFound : kNone;
    }
    if (token_ < 2) return kUndecided;
    if (len_ < 3) {
      text_[len_++] = static_cast<char>(byte);
      // A third byte other than a zero byte makes DTM05 too long.
      if (len_ == 3 && text_[2] != '\0') return kNone;
    }
    return kUndecided;
  }

  // The century found (two digits and a zero byte).
  void copyCentury(char *century) const {
    memcpy(century, text_, 2);
    century[2] = '\0';
  }

 private:
  bool isCentury() const {
    if (len_ < 2 || (len_ == 3 && text_[2] != '\0')) return false;
    return (text_[0] == '1' && (text_[1] == '8' || text_[1] == '9')) ||
           (text_[0] == '2' && text_[1] == '0');
  }

  char segment_;
  const unsigned char *byteKind_;
  int token_ = 0;  // 0 DTM03, 1 DTM04, 2 DTM05
  int len_ = 0;    // bytes of DTM05 held in text_
  char text_[3] = {};
};

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
                                     TokenSink &sink, size_t blockSize)
    : input_(input),
      versionList_(versionList),
      log_(log),
      sink_(sink),
      buffer_(new unsigned char[std::max<size_t>(blockSize, 1) + kScanWidth]()),
      blockSize_(std::max<size_t>(blockSize, 1)) {}

void InterchangeReader::clearSegmentIds() {
  current_[0] = '\0';
  previous_[0] = '\0';
  kind_ = SegmentKind::kOther;
}

int InterchangeReader::discoverDelimiters() {
  // The token loop reads from the stream's first byte with an empty buffer.
  next_ = end_ = 0;
  atEnd_ = false;
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

void InterchangeReader::classifyBytes() {
  for (int byte = 0; byte < 256; ++byte) {
    byteKind_[byte] = byte > 32 && byte < 128 ? kPlain : kUnclean;
  }
  byteKind_[static_cast<unsigned char>(delims_.element)] = kDelimiter;
  byteKind_[static_cast<unsigned char>(delims_.component)] = kDelimiter;
  byteKind_[static_cast<unsigned char>(delims_.segment)] = kDelimiter;
  memset(delimiterLanes_[0], delims_.element, sizeof delimiterLanes_[0]);
  memset(delimiterLanes_[1], delims_.component, sizeof delimiterLanes_[1]);
  memset(delimiterLanes_[2], delims_.segment, sizeof delimiterLanes_[2]);
}

bool InterchangeReader::refill() {
  next_ = end_ = 0;
  if (atEnd_) return false;
  end_ = fread(buffer_.get(), 1, blockSize_, input_);
  atEnd_ = end_ < blockSize_;
  return end_ > 0;
}

bool InterchangeReader::readMore() {
  if (atEnd_) return false;
  if (next_ > 0) {
    memmove(buffer_.get(), buffer_.get() + next_, end_ - next_);
    end_ -= next_;
    next_ = 0;
  }
  if (end_ == blockSize_) return false;
  const size_t want = blockSize_ - end_;
  const size_t got = fread(buffer_.get() + end_, 1, want, input_);
  end_ += got;
  atEnd_ = got < want;
  return got > 0;
}

inline int InterchangeReader::shortToken(char *token, char *terminator) {
#if REMITEX_READER_SSE2
  if (end_ - next_ < kScanWidth) return -1;
  // Most tokens are a few plain bytes, after a line break at most: one step
  // of 16 bytes finds the delimiter and the bytes cleaning would touch,
  // with no branch per byte.
  const unsigned char *at = buffer_.get() + next_;
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
  const auto lanes = [this](int which) {
    return _mm_load_si128(reinterpret_cast<const __m128i *>(delimiterLanes_[which]));
  };
  const __m128i delimiters =
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, lanes(0)), _mm_cmpeq_epi8(bytes, lanes(1))),
                   _mm_cmpeq_epi8(bytes, lanes(2)));
  const unsigned delimiterBits = static_cast<unsigned>(_mm_movemask_epi8(delimiters));
  if (delimiterBits == 0) return -1;
  const int end = __builtin_ctz(delimiterBits);  // the token is bytes [0, end)
  // Signed, bytes above 32 are 33 to 127: those cleaning keeps wherever
  // they stand.
  const unsigned plainBits =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(32))));
  const unsigned uncleanBits = ~plainBits & ((1u << end) - 1);
  // Leading bytes cleaning drops are not copied; after them cleanToken is
  // needed only when another such byte follows.
  const int start = __builtin_ctz(~uncleanBits);
  const int len = end - start;
  memcpy(token, at + start, kScanWidth);
  *terminator = static_cast<char>(at[end]);
  next_ += static_cast<size_t>(end) + 1;
  if ((uncleanBits >> start) != 0) return cleanToken(token, len);
  token[len] = '\0';
  return len;
#else
  (void)token;
  (void)terminator;
  return -1;
#endif
}

int InterchangeReader::scanToken(char *token, char *terminator) {
  constexpr size_t kKept = kTokenSize - 1;
  size_t raw = 0;     // bytes of the token read so far, counted up to kKept
  size_t len = 0;     // bytes copied to `token`
  bool plain = true;  // every copied byte is kept as it is by cleaning
  for (;;) {
    if (next_ == end_ && !refill()) {
      token[len] = '\0';  // cut short by end of file: not used
      return -1;
    }
    const unsigned char *at = buffer_.get() + next_;
    const unsigned char *const end = buffer_.get() + end_;
    // Leading bytes that cleaning drops are not copied (they still count
    // towards the bytes kept), so a token after a line break stays plain.
    if (len == 0) {
      const unsigned char *from = at;
      while (at < end && byteKind_[*at] == kUnclean) ++at;
      raw = std::min(kKept, raw + static_cast<size_t>(at - from));
    }
    // Copy while the token has room, then only look for the delimiter.
    const unsigned char *const roomEnd = at + std::min(kKept - raw, static_cast<size_t>(end - at));
    const unsigned char *const from = at;
    unsigned char seen = kPlain;
    while (at < roomEnd) {
      const unsigned char kind = byteKind_[*at];
      if (kind == kDelimiter) break;
      seen |= kind;
      token[len++] = static_cast<char>(*at++);
    }
    raw += static_cast<size_t>(at - from);
    if (seen != kPlain) plain = false;
    while (at < end && byteKind_[*at] != kDelimiter) ++at;
    next_ = static_cast<size_t>(at - buffer_.get());
    if (at < end) {
      *terminator = static_cast<char>(*at);
      ++next_;
      if (plain) {
        token[len] = '\0';
        return static_cast<int>(len);
      }
      return cleanToken(token, static_cast<int>(len));
    }
  }
}

int InterchangeReader::readTokens() {
  classifyBytes();
  char token[kTokenSize];
  char terminator = 0;
  int elementNo = 0;
  int nextComponent = 1;
  while (!lost_) {
    // A token that end of file cut short is not used, nor is anything after
    // the last delimiter.
    int len = shortToken(token, &terminator);
    if (len < 0) len = scanToken(token, &terminator);
    if (len < 0) break;

    int componentNo = nextComponent;
    nextComponent = terminator == delims_.component ? componentNo + 1 : 1;

    if (elementNo == 0) {
      // A cleaned token holds no zero byte: its length is the identifier's.
      memcpy(previous_, current_, sizeof current_);
      const int idLen = std::min(len, kSegmentIdSize - 1);
      memcpy(current_, token, static_cast<size_t>(idLen));
      current_[idLen] = '\0';
      kind_ = startsWith(current_, "GS")    ? SegmentKind::kGroupHeader
              : startsWith(current_, "ST")  ? SegmentKind::kSetHeader
              : startsWith(current_, "DTM") ? SegmentKind::kDate
                                            : SegmentKind::kOther;
      sink_.segmentIdentifier(current_, previous_);
    } else {
      if (kind_ == SegmentKind::kGroupHeader || kind_ == SegmentKind::kSetHeader) {
        if (int status = checkEnvelope(token, elementNo)) return status;
      }
      char century[3];
      if (elementNo == 2 && terminator != delims_.segment && kind_ == SegmentKind::kDate &&
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
  if (kind_ == SegmentKind::kGroupHeader) {
    if (elementNo == 1 && !startsWith(token, "HP")) {
      if (log_ != nullptr) fputs(kGs01Rejection, log_);
      return kRunRejected;
    }
    if (elementNo == 8 && !versionListed(token, versionList_)) return kRunVersion;
  } else if (kind_ == SegmentKind::kSetHeader) {
    if (elementNo == 1 && strcmp(token, "835") != 0) return kRunRejected;
  }
  return 0;
}

bool InterchangeReader::centuryAhead(char *century) {
  CenturyScan scan(delims_, byteKind_);
  CenturyScan::Answer answer = CenturyScan::kUndecided;
  // 1. In the buffer, reading more behind its unread bytes as needed.
  size_t at = next_;
  while (answer == CenturyScan::kUndecided) {
    if (at == end_) {
      const size_t before = next_;
      const bool more = readMore();
      at -= before - next_;  // the unread bytes may have moved to the front
      if (!more) break;
      continue;
    }
    answer = scan.feed(buffer_[at++]);
  }
  // 2. A look-ahead the buffer cannot hold reads on from the stream and
  // returns there; a stream that cannot return cannot be read on correctly:
  // the loop ends after this token.
  if (answer == CenturyScan::kUndecided && !atEnd_) {
    fpos_t pos;
    if (fgetpos(input_, &pos) != 0) return false;
    for (int byte; answer == CenturyScan::kUndecided && (byte = getc_unlocked(input_)) != EOF;) {
      answer = scan.feed(static_cast<unsigned char>(byte));
    }
    if (fsetpos(input_, &pos) != 0) {
      lost_ = true;
      return false;
    }
  }
  if (answer != CenturyScan::kFound) return false;
  scan.copyCentury(century);
  return true;
}

}  // namespace remitex
