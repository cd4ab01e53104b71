// The exported face: usable from C, every declared operation exported by
// name from the executable and the shared library, nothing else exported.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tablekit.h"

extern "C" int cFaceRun(void);

namespace {

std::string sourceDir() { return TK_TEST_SOURCE_DIR; }
std::string binDir() { return TK_TEST_BIN_DIR; }

// Every operation the public header declares.
std::set<std::string> declaredOperations() {
  std::ifstream in(sourceDir() + "/engine/include/tablekit.h");
  std::stringstream text;
  text << in.rdbuf();
  std::string all = text.str();
  std::set<std::string> names;
  std::regex decl(R"((?:^|\n)TK_EXPORT[^;(]*?\b([A-Za-z_][A-Za-z0-9_]*)\s*\()");
  for (auto it = std::sregex_iterator(all.begin(), all.end(), decl); it != std::sregex_iterator(); ++it)
    names.insert((*it)[1].str());
  return names;
}

// Names of the defined dynamic symbols of a binary.
std::set<std::string> exportedSymbols(const std::string &path) {
  std::set<std::string> names;
  std::string command = "nm -D --defined-only '" + path + "' 2>/dev/null";
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::string address, kind, name;
    fields >> address >> kind >> name;
    if (!name.empty()) names.insert(name);
  }
  pclose(pipe);
  return names;
}

TEST(Face, CallableFromC) { EXPECT_EQ(0, cFaceRun()); }

TEST(Face, ExecutableAndSharedLibraryExportEveryOperation) {
  const std::set<std::string> declared = declaredOperations();
  ASSERT_GT(declared.size(), 100u);
  for (const std::string &binary : {binDir() + "/remitex", binDir() + "/../lib/libtablekit.so"}) {
    SCOPED_TRACE(binary);
    const std::set<std::string> exported = exportedSymbols(binary);
    ASSERT_FALSE(exported.empty());
    for (const std::string &name : declared) EXPECT_TRUE(exported.count(name)) << name << " is not exported";
  }
}

TEST(Face, SharedLibraryExportsNoInternals) {
  for (const std::string &name : exportedSymbols(binDir() + "/../lib/libtablekit.so"))
    EXPECT_EQ(std::string::npos, name.find("8tablekit")) << name;
}

TEST(Face, SharedLibraryLoadsAndRuns) {
  void *lib = dlopen((binDir() + "/../lib/libtablekit.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, lib) << dlerror();
  auto init = reinterpret_cast<int (*)(CODE4 *, int, long, long, char)>(dlsym(lib, "code4initLow"));
  auto undo = reinterpret_cast<int (*)(CODE4 *)>(dlsym(lib, "code4initUndo"));
  auto indexExt = reinterpret_cast<const char *(*)(CODE4 *)>(dlsym(lib, "code4indexExtension"));
  ASSERT_TRUE(init && undo && indexExt);
  CODE4 cb;
  EXPECT_EQ(0, init(&cb, 0, 6500, sizeof(CODE4), 0));
  EXPECT_STREQ("MDX", indexExt(&cb));
  EXPECT_EQ(0, undo(&cb));
  dlclose(lib);
}

}  // namespace
