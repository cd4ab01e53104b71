// Case-insensitive lookup of the run's files in the working directory.
#include "run_files.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace remitex {
namespace {

// Every entry of the working directory whose name matches `name` without
// regard to case, in byte order.
std::vector<std::string> matchingEntries(const char *name) {
  std::vector<std::string> found;
  DIR *dir = opendir(".");
  if (dir == nullptr) return found;
  while (const dirent *entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, name) == 0) found.emplace_back(entry->d_name);
  }
  closedir(dir);
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

std::string findFile(const char *name) {
  struct stat st;
  if (lstat(name, &st) == 0) return name;
  std::vector<std::string> found = matchingEntries(name);
  return found.empty() ? std::string(name) : found.front();
}

void removeFiles(const char *name) {
  for (const std::string &entry : matchingEntries(name)) unlink(entry.c_str());
}

}  // namespace remitex
