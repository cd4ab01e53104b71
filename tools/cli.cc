// Option parsing, messages and table finding for the tablekit commands.
#include "cli.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "status.h"

namespace tktool {
namespace fs = std::filesystem;

bool ParsedArgs::has(const char *name) const {
  return std::any_of(options.begin(), options.end(), [name](const auto &option) { return option.first == name; });
}

std::vector<std::string> ParsedArgs::values(const char *name) const {
  std::vector<std::string> found;
  for (const auto &option : options) {
    if (option.first == name) found.push_back(option.second);
  }
  return found;
}

bool parseArgs(const char *command, const std::vector<std::string> &args, const OptionRule *rules, size_t nRules,
               ParsedArgs *out) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      out->operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      out->help = true;
      continue;
    }
    const OptionRule *rule = std::find_if(rules, rules + nRules, [&arg](const OptionRule &s) { return arg == s.name; });
    if (rule == rules + nRules) {
      complain(command, kUsage, "unknown option '" + arg + "' (see 'tablekit " + command + " --help')");
      return false;
    }
    std::string value;
    if (rule->takesValue) {
      if (i + 1 >= args.size()) {
        complain(command, kUsage, std::string("option ") + rule->name + " needs a value");
        return false;
      }
      value = args[++i];
    }
    out->options.emplace_back(rule->name, value);
  }
  return true;
}

int complain(const char *command, int status, const std::string &message) {
  std::fprintf(stderr, "tablekit %s: %s\n", command, message.c_str());
  return status;
}

namespace {

bool hasDbfExtension(const std::string &name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  for (char &ch : ext) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return ext == ".DBF";
}

}  // namespace

int findTables(const char *command, const std::string &path, std::vector<std::string> *tables) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (fs::is_directory(status)) {
    std::vector<std::string> found;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (hasDbfExtension(name) && it->is_regular_file(ec)) found.push_back(it->path().string());
    }
    if (ec) return complain(command, kNotFound, path + ": cannot read the directory: " + ec.message());
    if (found.empty()) return complain(command, kNotFound, path + ": no table (.DBF file) in this directory");
    std::sort(found.begin(), found.end(),
              [](const std::string &a, const std::string &b) { return baseName(a) < baseName(b); });
    tables->insert(tables->end(), found.begin(), found.end());
    return kOk;
  }
  if (fs::exists(status)) {
    tables->push_back(path);
    return kOk;
  }
  // The engine finds a table whatever the case of its letters, and adds the
  // extension when it is missing: so does the tool.
  const fs::path asked(hasDbfExtension(path) ? path : path + ".DBF");
  const fs::path dir = asked.has_parent_path() ? asked.parent_path() : fs::path(".");
  const std::string wanted = asked.filename().string();
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (sameName(name, wanted)) {
      tables->push_back(it->path().string());
      return kOk;
    }
  }
  return complain(command, kNotFound, path + ": no such table or directory");
}

int forEachTable(const char *command, const std::vector<std::string> &operands,
                 const std::function<int(const std::string &path)> &action) {
  int status = kOk;
  for (const std::string &operand : operands) {
    std::vector<std::string> tables;
    if (int found = findTables(command, operand, &tables)) {
      status = std::max(status, found);
      continue;
    }
    for (const std::string &path : tables) status = std::max(status, action(path));
  }
  return status;
}

bool sameName(const std::string &a, const std::string &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

std::string baseName(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace tktool
