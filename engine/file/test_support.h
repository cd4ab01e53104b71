// Helpers for the file layer's tests: a temporary directory, a context whose
// messages are captured, whole-file reads and writes that bypass the engine,
// and a forked child process that the test drives through pipes. A child
// starts with none of the parent's open files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "foundation/foundation.h"
#include "platform/platform.h"
#include "testing/message_capture.h"

namespace tablekit::file::testing {

// A fresh directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tk_file_XXXXXX").string();
    const char *made = ::mkdtemp(&pattern[0]);
    EXPECT_NE(nullptr, made);
    path_ = made != nullptr ? made : "";
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string readWhole(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeWhole(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The messages the reporter showed, instead of standard error.
inline std::vector<std::string> &shownMessages() { return test_support::MessageCapture::shown(); }

// A context (light unless asked for workers) whose messages are captured.
// Restores the whole platform table when it goes.
class Context {
 public:
  explicit Context(bool light = true) {
    EXPECT_EQ(0, code4initLow(&c4, 0, TK_HEADER_VERSION, sizeof(CODE4), light ? 1 : 0));
  }
  ~Context() {
    code4initUndo(&c4);
    platform::methods() = platform::defaultMethods();
  }
  Context(const Context &) = delete;
  Context &operator=(const Context &) = delete;

  // The last message shown, or "" when none was.
  static std::string lastMessage() { return shownMessages().empty() ? "" : shownMessages().back(); }

  test_support::MessageCapture capture_;  // made before the context, gone after it
  CODE4 c4;
};

// Whether a shown message holds these description lines, in this order.
inline bool hasLines(const std::string &message, const std::vector<std::string> &lines) {
  std::string joined;
  for (const std::string &line : lines) joined += line + "\r\n";
  return message.find(joined) != std::string::npos;
}

// A child process running body(channel), which returns its exit status. The
// test and the child hand single bytes to each other to take turns; nothing
// waits by sleeping.
class Child {
 public:
  class Channel {
   public:
    Channel(int in, int out) : in_(in), out_(out) {}
    void send(char c) const { (void)!::write(out_, &c, 1); }
    // The next byte from the other side; 0 when it has gone away.
    char receive() const {
      char c = 0;
      return ::read(in_, &c, 1) == 1 ? c : 0;
    }

   private:
    int in_, out_;
  };

  explicit Child(const std::function<int(const Channel &)> &body) {
    int toChild[2], toParent[2];
    if (::pipe(toChild) != 0 || ::pipe(toParent) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      // The child keeps none of the parent's files: an inherited handle
      // would keep the parent's locks and share markers alive after the
      // parent closed its own.
      for (int fd = 3; fd < 1024; ++fd) {
        if (fd != toChild[0] && fd != toParent[1]) ::close(fd);
      }
      const int status = body(Channel(toChild[0], toParent[1]));
      ::_exit(status);  // no test-framework exit handlers in the child
    }
    ::close(toChild[0]);
    ::close(toParent[1]);
    channel_ = Channel(toParent[0], toChild[1]);
    in_ = toParent[0];
    out_ = toChild[1];
  }
  ~Child() { (void)wait(); }
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;

  const Channel &channel() const { return channel_; }
  void send(char c) const { channel_.send(c); }
  char receive() const { return channel_.receive(); }

  // The child's exit status (-1 when it did not exit normally).
  int wait() {
    if (pid_ <= 0) return -1;
    if (out_ >= 0) ::close(out_);
    out_ = -1;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    if (in_ >= 0) ::close(in_);
    in_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  Channel channel_{-1, -1};
  int in_ = -1, out_ = -1;
};

}  // namespace tablekit::file::testing
