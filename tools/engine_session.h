// One engine context for one tablekit command. The engine shows no message
// of its own (errOff): the tool words every failure itself and adds the
// engine's error and location texts.
#ifndef TABLEKIT_TOOLS_ENGINE_SESSION_H
#define TABLEKIT_TOOLS_ENGINE_SESSION_H

#include <string>

#include "tablekit.h"

namespace tktool {

class EngineSession {
 public:
  // accessMode: 0 shared, 1 exclusive, 2 others may only read. readOnly:
  // files are opened for reading only. Tables open without their indexes.
  EngineSession(int accessMode, bool readOnly);
  ~EngineSession();
  EngineSession(const EngineSession &) = delete;
  EngineSession &operator=(const EngineSession &) = delete;

  CODE4 *c4() { return &c4_; }
  int errorCode() const { return c4_.errorCode; }

  // The engine's last error as "TEXT (error N in LOCATION)"; empty when the
  // context holds no error.
  std::string errorText();

  // Clears the context's error so that the next operation can run.
  void clearError();

  // The exit status that the engine's last error stands for: not found or
  // unreadable, in use, damaged, or a failure of the engine.
  int errorStatus(const std::string &path);

 private:
  CODE4 c4_;
  bool readOnly_;
};

}  // namespace tktool

#endif  // TABLEKIT_TOOLS_ENGINE_SESSION_H
