// File names: making a name full, normalising it, default extensions and the
// freeUnits of a name, with the small string and system utilities that go with
// them. Every subsystem that opens or creates a file names it through here.
//
// Names on this system
// --------------------
// * '/' and '\' both separate directories, so a '\' can never be part of a
//   file name; every name these operations write uses '/'. There are no
//   drives: a name that begins with a separator is absolute, any other is
//   relative to the current directory. A leading "//" or "\\" (a network
//   name elsewhere) means nothing more here: it is an absolute path whose
//   repeated separator collapses ("//srv/x" is "/srv/x").
// * A full name (u4nameCurrent) is absolute and normalised, and each of its
//   components that exists is spelled as the directory spells it: an
//   existing file or directory is found whatever the case of its letters
//   (an entry spelled exactly wins over a case variant; among variants the
//   first in byte order). From the first component that does not exist on,
//   the name is kept as the caller wrote it, so a new file is created as
//   given. The part taken from the current directory is kept as the system
//   reports it and never resolved; it exists in that spelling, so resolving
//   the whole name again later (u4nameExt) leaves it as it is.
// * Hence two spellings of one existing file give byte-equal full names, and
//   comparing full names recognises a file opened twice. Names of files not
//   yet created compare equal only when spelled alike.
// * Names keep their case: names are case-sensitive here, so resolution
//   takes the place of upper-casing whole paths. u4nameExt upper-cases only
//   the extension it writes (a new table is "level_1.DBF"); u4namePiece
//   keeps the case of what it copies.
// * Resolution happens wherever an absolute name to be used on disk comes
//   out: u4nameCurrent (and u4nameCurrentExtended through it),
//   u4nameNormalize and u4nameCreateMultiDirectories on absolute results,
//   u4nameExt on an absolute name after the extension is in place (it may
//   name an existing file spelled otherwise), and u4remove and u4rename on
//   the files they touch. Relative names, freeUnits of names, combinations
//   (u4nameMakeFindDrive) and 16-bit names are text only: make them full
//   before they name a file.
// * Normalising: a "." component goes; a ".." removes the component before
//   it, and at the root (or the start of a relative name) it is simply
//   dropped. A ".." glued to the end of a name and followed by a separator
//   ("x../", ".../") is -1420 "Name not Found error". Only a whole "."
//   component is removed: a name may end with a dot here ("b./c" stays).
//   A final separator is kept.
// * The extension of a name is the text after its last dot, provided that
//   no separator comes after that dot.
//
// Nothing here has a context: errors are reported with none, and only where
// a failure is one (u4environment reports through the caller's context).
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

template <typename Ch>
bool isSeparator(Ch ch) {
  return ch == Ch('/') || ch == Ch('\\');
}

template <typename Ch>
Ch foldAscii(Ch ch) {
  return (ch >= Ch('A') && ch <= Ch('Z')) ? static_cast<Ch>(ch - Ch('A') + Ch('a')) : ch;
}

template <typename Ch>
Ch upperAscii(Ch ch) {
  return (ch >= Ch('a') && ch <= Ch('z')) ? static_cast<Ch>(ch - Ch('a') + Ch('A')) : ch;
}

template <typename Ch>
std::size_t textLength(const Ch *text) {
  std::size_t n = 0;
  while (text[n] != Ch(0)) ++n;
  return n;
}

// Removes trailing blanks in place; returns the new length.
template <typename Ch>
std::size_t trimBlanks(Ch *text) {
  std::size_t n = textLength(text);
  while (n > 0 && text[n - 1] == Ch(' ')) --n;
  text[n] = Ch(0);
  return n;
}

// The position of the dot that starts the extension, or kNone.
template <typename Ch>
std::size_t extensionDot(const Ch *name, std::size_t len) {
  for (std::size_t i = len; i > 0; --i) {
    if (isSeparator(name[i - 1])) return kNone;
    if (name[i - 1] == Ch('.')) return i - 1;
  }
  return kNone;
}

// The length of the directory part: up to and including the last separator.
template <typename Ch>
std::size_t directoryLength(const Ch *name, std::size_t len) {
  for (std::size_t i = len; i > 0; --i) {
    if (isSeparator(name[i - 1])) return i;
  }
  return 0;
}

template <typename Ch>
void toSlashes(Ch *name, std::size_t len) {
  for (std::size_t i = 0; i < len; ++i) {
    if (name[i] == Ch('\\')) name[i] = Ch('/');
  }
}

bool isAbsolute(const std::string &name) { return !name.empty() && isSeparator(name[0]); }
bool endsWithSeparator(const std::string &name) { return !name.empty() && isSeparator(name.back()); }

std::string directoryOf(const char *name) {
  return name == nullptr ? std::string() : std::string(name, directoryLength(name, std::strlen(name)));
}

// Any standard facility that allocates may throw; no exception leaves an
// operation. Running out of memory is -920, which ends the process.
template <typename Work>
int noThrow(long location, Work &&work) {
  try {
    return work();
  } catch (const std::bad_alloc &) {
    return report(nullptr, err::kMemory, location);
  }
}

// Copies text and its terminator into buffer (size bytes); -930 reported
// when it does not fit, leaving the buffer as it was.
int copyFitting(char *buffer, int size, const std::string &text, long location) {
  if (size <= 0 || text.size() >= static_cast<std::size_t>(size)) {
    return report(nullptr, err::kParm, location, text.c_str(), "name does not fit its buffer");
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 0;
}

// ---------------------------------------------------------------------------
// Normalising and full names

// Applies the components of `name` to `parts`: "." and empty components go,
// ".." removes the last part (none at the root). *lowest falls to the fewest
// parts left at any moment, so the first *lowest parts were never touched.
// Returns 0 or err::kNameNotFound for a ".." glued to a name.
int applyComponents(std::vector<std::string> &parts, const std::string &name, std::size_t *lowest) {
  std::size_t pos = 0;
  while (pos < name.size()) {
    std::size_t end = pos;
    while (end < name.size() && !isSeparator(name[end])) ++end;
    std::string component = name.substr(pos, end - pos);
    bool separatorFollows = end < name.size();
    pos = end + 1;
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      if (!parts.empty()) parts.pop_back();
      if (parts.size() < *lowest) *lowest = parts.size();
      continue;
    }
    if (separatorFollows && component.size() > 2 && component.compare(component.size() - 2, 2, "..") == 0) {
      return err::kNameNotFound;
    }
    parts.push_back(std::move(component));
  }
  return 0;
}

std::string joinParts(bool absolute, const std::vector<std::string> &parts, std::size_t count, bool finalSeparator) {
  std::string out = absolute ? "/" : "";
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += '/';
    out += parts[i];
  }
  if (finalSeparator && count > 0) out += '/';
  return out;
}

// The lexical normal form of a name (see the top of this file), resolved
// when absolute. 0 or err::kNameNotFound.
int normalise(const std::string &name, std::string *out) {
  std::vector<std::string> parts;
  std::size_t lowest = 0;
  if (int rc = applyComponents(parts, name, &lowest)) return rc;
  bool absolute = isAbsolute(name);
  *out = joinParts(absolute, parts, parts.size(), endsWithSeparator(name));
  if (absolute) *out = platform::resolveCase(*out);
  return 0;
}

// The process's current directory as the system reports it. 0 or errno.
int currentDirectory(std::string *out) {
  std::vector<char> buf(512);
  for (;;) {
    int rc = platform::currentDirectory(buf.data(), buf.size());
    if (rc == 0) {
      *out = buf.data();
      return 0;
    }
    if (rc != ERANGE || buf.size() >= (1u << 20)) return rc;
    buf.resize(buf.size() * 2);
  }
}

// The full name of `name` (see the top of this file). Returns 0,
// err::kNameNotFound for a ".." glued to a name, or a positive errno when the
// current directory cannot be read. Reports nothing.
int makeFull(const std::string &name, std::string *out) {
  std::vector<std::string> parts;
  bool relative = !isAbsolute(name);
  if (relative) {
    std::string cwd;
    if (int rc = currentDirectory(&cwd)) return rc;
    // Taken apart as it stands: it is the system's own spelling, and a
    // directory named "x.." there is no mistake of the caller's.
    for (std::size_t pos = 0; pos < cwd.size();) {
      std::size_t end = cwd.find('/', pos);
      if (end == std::string::npos) end = cwd.size();
      if (end > pos) parts.push_back(cwd.substr(pos, end - pos));
      pos = end + 1;
    }
  }
  std::size_t lowest = parts.size();
  if (int rc = applyComponents(parts, name, &lowest)) return rc;
  std::string joined = joinParts(true, parts, parts.size(), endsWithSeparator(name));
  if (relative) {
    // Resolution keeps every component spelled exactly as an existing entry,
    // so it leaves the current-directory part alone when that exists. When
    // it does not, nothing below it exists either: keep the name as built.
    std::string kept = joinParts(true, parts, lowest, false);
    if (platform::pathExists(kept.c_str()) != 0) {
      *out = joined;
      return 0;
    }
  }
  *out = platform::resolveCase(joined);
  return 0;
}

// u4nameCurrent's work, reporting with the given location.
int writeFull(char *buffer, int size, const std::string &name, long location) {
  std::string full;
  int rc = makeFull(name, &full);
  if (rc == err::kNameNotFound) return report(nullptr, rc, location, name.c_str(), "'..' follows a name");
  if (rc > 0) return report(nullptr, err::kNameNotFound, location, name.c_str(), "current directory unavailable");
  return copyFitting(buffer, size, full, location);
}

// The name of an existing file (or of one to be created) for remove and
// rename: its full name, or the name with '/' separators when it has none.
std::string diskName(const char *name) {
  std::string full;
  if (makeFull(name, &full) == 0) return full;
  full = name;
  toSlashes(&full[0], full.size());
  return full;
}

// ---------------------------------------------------------------------------
// Extensions, shared by the 8-bit and the 16-bit operations

// Removes trailing blanks, then writes "." and the extension in place of the
// name's own (or at its end) when it has none or `replace` is set. Separators
// become '/'. upper: the written extension in upper case. 0, or -930 reported
// when the result would not fit size characters with its terminator.
template <typename Ch>
int addExtension(Ch *name, int size, const Ch *extension, bool replace, bool upper) {
  std::size_t len = trimBlanks(name);
  toSlashes(name, len);
  std::size_t dot = extensionDot(name, len);
  if (dot != kNone && !replace) return 0;
  if (extension[0] == Ch('.')) ++extension;
  std::size_t extLen = textLength(extension);
  std::size_t stem = dot == kNone ? len : dot;
  if (size <= 0 || stem + 1 + extLen >= static_cast<std::size_t>(size)) {
    return report(nullptr, err::kParm, loc::u4nameExt, "extension does not fit the name's buffer");
  }
  name[stem] = Ch('.');
  for (std::size_t i = 0; i < extLen; ++i) name[stem + 1 + i] = upper ? upperAscii(extension[i]) : extension[i];
  name[stem + 1 + extLen] = Ch(0);
  return 0;
}

// Removes trailing blanks, then cuts off the name's extension with its dot
// when it is the given one (letters compared without regard to case, as
// files are found).
template <typename Ch>
void removeExtension(Ch *name, const Ch *extension) {
  std::size_t len = trimBlanks(name);
  std::size_t dot = extensionDot(name, len);
  if (dot == kNone) return;
  if (extension[0] == Ch('.')) ++extension;
  const Ch *own = name + dot + 1;
  std::size_t i = 0;
  for (; own[i] != Ch(0) && extension[i] != Ch(0); ++i) {
    if (foldAscii(own[i]) != foldAscii(extension[i])) return;
  }
  if (own[i] == extension[i]) name[dot] = Ch(0);
}

// Copies [from, from + len) into buffer cut to size - 1 characters, with '/'
// separators, and terminates it. Returns the number copied; size > 0.
unsigned copyCut(char *buffer, unsigned size, const char *from, std::size_t len) {
  std::size_t n = len < size - 1 ? len : size - 1;
  std::memmove(buffer, from, n);
  buffer[n] = '\0';
  toSlashes(buffer, n);
  return static_cast<unsigned>(n);
}

}  // namespace
}  // namespace tablekit

using namespace tablekit;

extern "C" {

TK_EXPORT int u4nameCurrent(char *buffer, int size, const char *name) {
  if (buffer == nullptr || name == nullptr) return report(nullptr, err::kParmNull, loc::u4nameCurrent);
  return noThrow(loc::u4nameCurrent, [&] { return writeFull(buffer, size, name, loc::u4nameCurrent); });
}

TK_EXPORT int u4nameCurrentExtended(char *buffer, int size, const char *name, const char *baseName) {
  if (buffer == nullptr || name == nullptr) return report(nullptr, err::kParmNull, loc::u4nameCurrent);
  return noThrow(loc::u4nameCurrent, [&] {
    std::string relative = name;
    if (!isAbsolute(relative)) {
      std::string dir = directoryOf(baseName);
      if (relative.empty()) {
        if (dir.size() >= 2) dir.pop_back();  // the directory itself, as u4namePathSpecial gives it
        relative = dir;
      } else {
        relative = dir + relative;
      }
    }
    return writeFull(buffer, size, relative, loc::u4nameCurrent);
  });
}

TK_EXPORT int u4nameNormalize(char *path, int size) {
  if (path == nullptr) return report(nullptr, err::kParmNull, loc::u4nameFix);
  return noThrow(loc::u4nameFix, [&] {
    std::string out;
    if (int rc = normalise(path, &out)) return report(nullptr, rc, loc::u4nameFix, path, "'..' follows a name");
    return copyFitting(path, size, out, loc::u4nameFix);
  });
}

TK_EXPORT int u4nameExt(char *name, int size, const char *extension, int replace) {
  if (name == nullptr || extension == nullptr) return report(nullptr, err::kParmNull, loc::u4nameExt);
  if (int rc = addExtension(name, size, extension, replace != 0, true)) return rc;
  if (name[0] != '/') return 0;
  return noThrow(loc::u4nameExt, [&] { return copyFitting(name, size, platform::resolveCase(name), loc::u4nameExt); });
}

TK_EXPORT void u4nameRemoveGivenExtension(char *name, const char *extension) {
  if (name == nullptr || extension == nullptr) return;
  removeExtension(name, extension);
}

TK_EXPORT int u4nameExtWide(unsigned short *name, int size, const unsigned short *extension, int replace) {
  if (name == nullptr || extension == nullptr) return report(nullptr, err::kParmNull, loc::u4nameExt);
  return addExtension(name, size, extension, replace != 0, false);
}

TK_EXPORT void u4nameWideRemoveGivenExtension(unsigned short *name, const unsigned short *extension) {
  if (name == nullptr || extension == nullptr) return;
  removeExtension(name, extension);
}

TK_EXPORT int u4namePiece(char *buffer, unsigned size, const char *name, int keepPath, int keepExtension) {
  if (buffer == nullptr || name == nullptr) return report(nullptr, err::kParmNull, loc::u4namePiece);
  if (size == 0) return report(nullptr, err::kParm, loc::u4namePiece, name, "buffer size 0");
  std::size_t len = std::strlen(name);
  std::size_t start = keepPath ? 0 : directoryLength(name, len);
  std::size_t end = len;
  if (!keepExtension) {
    std::size_t dot = extensionDot(name, len);
    if (dot != kNone && dot >= start) end = dot;
  }
  copyCut(buffer, size, name + start, end - start);
  return 0;
}

TK_EXPORT unsigned u4namePath(char *buffer, unsigned size, const char *name) {
  if (buffer == nullptr || size == 0) return 0;
  if (name == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  return copyCut(buffer, size, name, directoryLength(name, std::strlen(name)));
}

TK_EXPORT unsigned u4namePathSpecial(char *buffer, unsigned size, const char *name) {
  unsigned len = u4namePath(buffer, size, name);
  if (len >= 2 && buffer[len - 1] == '/') buffer[--len] = '\0';
  return len;
}

TK_EXPORT int u4nameMakeFindDrive(char *buffer, unsigned size, const char *defaultDirectory, const char *name) {
  if (buffer == nullptr || name == nullptr) return report(nullptr, err::kParmNull, loc::u4nameFix);
  return noThrow(loc::u4nameFix, [&] {
    std::string out = name;
    if (!isAbsolute(out) && defaultDirectory != nullptr && defaultDirectory[0] != '\0') {
      std::string dir = defaultDirectory;
      if (!endsWithSeparator(dir)) dir += '/';
      out = dir + out;
    }
    if (out.size() >= size) return -1;
    toSlashes(&out[0], out.size());
    std::memcpy(buffer, out.c_str(), out.size() + 1);
    return 0;
  });
}

TK_EXPORT int u4nameCreateMultiDirectories(char *buffer, unsigned size, const char *name, const char *firstBase,
                                           const char *secondBase) {
  if (buffer == nullptr || name == nullptr) return report(nullptr, err::kParmNull, loc::u4nameFix);
  return noThrow(loc::u4nameFix, [&] {
    std::string combined = name;
    for (const char *base : {firstBase, secondBase}) {
      if (!isAbsolute(combined)) combined = directoryOf(base) + combined;
    }
    std::string out;
    if (int rc = normalise(combined, &out)) {
      return report(nullptr, rc, loc::u4nameFix, combined.c_str(), "'..' follows a name");
    }
    if (out.size() >= size) return -1;
    std::memcpy(buffer, out.c_str(), out.size() + 1);
    return 0;
  });
}

TK_EXPORT int u4nameChar(unsigned char ch) {
  bool letter = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
  bool digit = ch >= '0' && ch <= '9';
  return (letter || digit || ch == '&' || ch == '@' || ch == '_') ? 1 : 0;
}

TK_EXPORT const char *u4nameFindFileName(const char *name, int position) {
  if (name == nullptr) return nullptr;
  std::size_t len = std::strlen(name);
  std::size_t pos = position < 0 ? 0 : static_cast<std::size_t>(position);
  if (pos > len) pos = len;
  return isSeparator(name[pos]) ? name + pos + 1 : name + pos;
}

TK_EXPORT unsigned u4ncpy(char *to, const char *from, unsigned size) {
  if (size == 0) {
    report(nullptr, err::kParm, loc::u4ncpy, "buffer size 0");
    return 0;
  }
  if (to == nullptr || from == nullptr) {
    report(nullptr, err::kParmNull, loc::u4ncpy);
    return 0;
  }
  unsigned n = 0;
  while (n < size - 1 && from[n] != '\0') {
    to[n] = from[n];
    ++n;
  }
  to[n] = '\0';
  return n;
}

TK_EXPORT void u4trim(char *text) {
  if (text != nullptr) trimBlanks(text);
}

TK_EXPORT void u4yymmdd(char *yymmdd) {
  if (yymmdd == nullptr) return;
  platform::LocalTime now = platform::localTime();
  yymmdd[0] = static_cast<char>(static_cast<unsigned char>((now.year - 1900) & 0xFF));
  yymmdd[1] = static_cast<char>(now.month);
  yymmdd[2] = static_cast<char>(now.day);
}

// Both return 0, or -1 when the system refuses, without a report: whether a
// missing file is an error is the caller's to say.
TK_EXPORT int u4remove(const char *path) {
  if (path == nullptr) return report(nullptr, err::kParmNull, loc::u4remove);
  return noThrow(loc::u4remove, [&] { return platform::removeFile(diskName(path).c_str()) == 0 ? 0 : -1; });
}

TK_EXPORT int u4rename(const char *oldPath, const char *newPath) {
  if (oldPath == nullptr || newPath == nullptr) return report(nullptr, err::kParmNull, loc::u4rename);
  return noThrow(loc::u4rename, [&] {
    return platform::renameFile(diskName(oldPath).c_str(), diskName(newPath).c_str()) == 0 ? 0 : -1;
  });
}

TK_EXPORT const char *u4environment(CODE4 *c4, const char *name, int required) {
  if (name == nullptr) {
    report(c4, err::kParmNull, loc::u4environ);
    return nullptr;
  }
  const char *value = platform::getEnv(name);
  if (value == nullptr && required) report(c4, err::kInfo, loc::u4environ, name);
  return value;
}

TK_EXPORT char *v4Cstring(const char *text) {
  if (text == nullptr) return nullptr;
  std::size_t n = std::strlen(text) + 1;
  auto *copy = static_cast<char *>(u4allocDefault(static_cast<long>(n)));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

TK_EXPORT void v4Cstringfree(char *copy) {
  if (copy != nullptr) u4freeDefault(copy);
}

}  // extern "C"
