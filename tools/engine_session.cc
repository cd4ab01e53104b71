// One engine context per command, silent, with the tool's own wording of
// the engine's errors.
#include "engine_session.h"

#include <unistd.h>

#include <cstring>

#include "status.h"

namespace tktool {
namespace {

// Engine error codes the tool tells apart (the engine's table of codes).
constexpr int kEngineFileFind = -64;
constexpr int kEnginePermission = -61;
constexpr int kEngineAccess = -62;
constexpr int kEngineOpen = -60;
constexpr int kEngineData = -200;
constexpr int kEngineFieldType = -220;
constexpr int kEngineInstance = -69;

}  // namespace

EngineSession::EngineSession(int accessMode, bool readOnly) : readOnly_(readOnly) {
  std::memset(&c4_, 0, sizeof c4_);
  // Light: a short-lived tool needs no background workers.
  code4initLow(&c4_, 0, TK_HEADER_VERSION, sizeof(CODE4), 1);
  c4setErrOff(&c4_, 1);
  c4setAutoOpen(&c4_, 0);
  c4setLogOpen(&c4_, 0);
  c4setAccessMode(&c4_, static_cast<char>(accessMode));
  c4setReadOnlyDo(&c4_, readOnly ? 1 : 0);
}

EngineSession::~EngineSession() {
  // Release whatever a failed command left open; its own errors are moot now.
  c4setErrorCode(&c4_, 0);
  code4initUndo(&c4_);
}

std::string EngineSession::errorText() {
  const int code = c4_.errorCode;
  if (code >= 0) return std::string();
  std::string text = error4text(&c4_, code);
  text += " (error " + std::to_string(code);
  const long location = c4_.errorCode2;
  if (location != 0) {
    const char *where = error4text(&c4_, location);
    if (where != nullptr && *where != '\0') text += std::string(" in ") + where;
  }
  return text + ")";
}

void EngineSession::clearError() {
  c4setErrorCode(&c4_, 0);
  error4set2(&c4_, 0);
}

int EngineSession::errorStatus(const std::string &path) {
  switch (c4_.errorCode) {
    case kEngineFileFind: return kNotFound;
    case kEnginePermission:
    case kEngineAccess:
    case kEngineOpen:
    case kEngineInstance:
      // Denied by the system, or by another open's share mode: the file
      // itself tells which.
      return access(path.c_str(), readOnly_ ? R_OK : R_OK | W_OK) == 0 ? kInUse : kNotFound;
    case kEngineData:
    case kEngineFieldType: return kDamaged;
    default: return kFailed;
  }
}

}  // namespace tktool
