// Case-insensitive resolution of file names on a file system whose names are
// case-sensitive. The name operations of the foundation (names.cc) call
// resolveCase() so that every spelling of an existing file gives one full
// name, the file's own. Directories are read through the platform table, so
// a test can replace listDirectory or pathExists.
#include <string>

#include "platform/platform.h"

namespace tablekit::platform {
namespace {

// Letters are compared in ASCII case only; every other byte must match
// exactly. A match therefore always has the length of the name it replaces.
char foldAscii(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch; }

bool equalIgnoringCase(const std::string &a, const char *b) {
  std::size_t i = 0;
  for (; i < a.size(); ++i) {
    if (b[i] == '\0' || foldAscii(a[i]) != foldAscii(b[i])) return false;
  }
  return b[i] == '\0';
}

// What one pass over a directory found for a wanted component.
struct Search {
  const std::string *wanted;
  bool exact = false;
  bool found = false;
  std::string best;  // the first case-insensitive match in byte order
};

int visitEntry(const char *entry, void *ctx) {
  auto &s = *static_cast<Search *>(ctx);
  if (*s.wanted == entry) {
    s.exact = true;
    return 1;  // nothing can beat an exact match
  }
  if (equalIgnoringCase(*s.wanted, entry) && (!s.found || s.best.compare(entry) > 0)) {
    s.best = entry;
    s.found = true;
  }
  return 0;
}

// The spelling of `component` inside the existing directory `dir`, or false
// when the directory has no such entry in any case. A directory that cannot
// be listed (search permission without read permission) still finds an
// entry spelled exactly.
bool findEntry(const std::string &dir, const std::string &component, std::string *spelling) {
  Search s;
  s.wanted = &component;
  if (methods().listDirectory(dir.c_str(), visitEntry, &s) != 0) {
    std::string path = dir == "/" ? "/" + component : dir + "/" + component;
    if (pathExists(path.c_str()) != 0) return false;
    *spelling = component;
    return true;
  }
  if (s.exact) {
    *spelling = component;
    return true;
  }
  if (!s.found) return false;
  *spelling = s.best;
  return true;
}

}  // namespace

std::string resolveCase(const std::string &path) {
  std::string given = path;
  for (char &ch : given) {
    if (ch == '\\') ch = '/';
  }
  if (given.empty() || given[0] != '/') return given;

  // `result` is always a directory that exists as spelled, followed by what
  // has been appended from `given`; `dir` is that directory alone.
  std::string result = "/";
  std::string dir = "/";
  std::size_t pos = 1;
  while (pos < given.size()) {
    if (given[pos] == '/') {  // a repeated separator is kept as it stands
      result += '/';
      ++pos;
      continue;
    }
    std::size_t end = given.find('/', pos);
    if (end == std::string::npos) end = given.size();
    std::string component = given.substr(pos, end - pos);
    std::string spelling;
    if (component == "." || component == "..") {
      spelling = component;  // the system applies these itself
    } else if (!findEntry(dir, component, &spelling)) {
      return result + given.substr(pos);  // from here on nothing exists
    }
    result += spelling;
    dir = result;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    pos = end;
    if (pos < given.size()) {
      result += '/';
      ++pos;
    }
  }
  return result;
}

}  // namespace tablekit::platform
