// Test support: collects the messages the engine shows instead of printing
// them, and puts the platform's message output back when it goes out of
// scope. Tests in one executable run one at a time, so one list serves.
#pragma once

#include <string>
#include <vector>

#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit::test_support {

class MessageCapture {
 public:
  MessageCapture() {
    shown().clear();
    titles().clear();
    platform::methods().showMessage = [](const char *title, const char *text) {
      titles().push_back(title);
      shown().push_back(text);
      return 0;
    };
  }
  ~MessageCapture() { platform::methods().showMessage = platform::defaultMethods().showMessage; }
  MessageCapture(const MessageCapture &) = delete;
  MessageCapture &operator=(const MessageCapture &) = delete;

  // The texts shown, oldest first, and their titles.
  static std::vector<std::string> &shown() {
    static std::vector<std::string> texts;
    return texts;
  }
  static std::vector<std::string> &titles() {
    static std::vector<std::string> list;
    return list;
  }
  // Whether exactly one report was shown and it carries the code's text.
  static bool reportedOnce(int code) {
    return shown().size() == 1 && shown()[0].find(codeText(code)) != std::string::npos;
  }
};

}  // namespace tablekit::test_support
