// The engine context: initialisation with every default, release with and
// without closing, the version, format and extension operations and the
// operations this engine does not support.
//
// Engine-wide state (the live-context count, the memory initialisations
// counted ahead of any context, the build-switch flags) belongs to the
// application thread that creates and releases contexts; it is not locked.
#include <cstdio>
#include <cstring>

#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit {
namespace {

int gLiveContexts = 0;
int gMemInitsAhead = 0;

// The three engine-wide flags read from the build-switch word at init.
bool gSwitchBit1 = false;
bool gSwitchBit2 = false;
bool gSwitchBit4 = false;

constexpr char kDefaultDateFormat[] = "MM/DD/YY";

void setDefaults(CODE4 &c4) {
  c4.autoOpen = 1;
  c4.errDefaultUnique = 25;
  c4.errCreate = 1;
  c4.errExpr = 1;
  c4.errFieldName = 1;
  c4.errGo = 1;
  c4.errOpen = 1;
  c4.errRelate = 1;
  c4.errSkip = 1;
  c4.errTagName = 1;
  c4.lockAttempts = -1;
  c4.logOpen = 1;
  c4.optimize = -1;
  c4.optimizeWrite = -1;
  c4.safety = 1;
  c4.singleOpen = 1;
  c4.memSizeBuffer = 32768;

  c4.dataPoolStart = 10;
  c4.dataPoolGrow = 5;
  c4.dataFilePoolStart = 5;
  c4.dataFilePoolGrow = 5;
  c4.lockPoolStart = 5;
  c4.lockPoolGrow = 10;
  c4.indexPoolStart = 10;
  c4.indexPoolGrow = 5;
  c4.indexFilePoolStart = 5;
  c4.indexFilePoolGrow = 5;
  c4.tagPoolStart = 10;
  c4.tagPoolGrow = 10;
  c4.tagFilePoolStart = 10;
  c4.tagFilePoolGrow = 5;
  c4.blockPoolStart = 10;
  c4.blockPoolGrow = 10;
  c4.lockRetryDelay = 100;
  c4.groupLockAttempts = 1;
  c4.cacheBlockSize = 1024;
  c4.sortPoolSize = 61440;
  c4.sortBufferSize = 32768;
  c4.memoBlockSize = 512;
  c4.unlockAuto = 1;
  c4.exprMemoLength = 1024;
  c4.nodeReadCheck = 1;
  c4.spareSetting1 = 17;
  c4.spareSetting2 = 2;
}

// The transaction sub-record: no log is open and no transaction is active.
void initTransaction(TRAN4 &trans) {
  std::memset(&trans, 0, sizeof trans);
  trans.enabled = 1;
}

void startWorkers(CODE4 &c4) {
  c4.delayWriteWorker = startWorker(c4, "delayed-write");
  c4.advanceReadWorker = startWorker(c4, "advance-read");
}

// Steps of a release shared by code4initUndo and code4exit; closeTables
// tells them apart. Returns the context's error code at release.
int release(CODE4 &c4, bool closeTables) {
  c4.errorCode = 0;
  // The block cache and transactions are not running in this engine yet:
  // there is nothing to suspend or roll back.
  if (closeTables) (void)code4close(&c4);

  releaseContextPools(c4);
  u4freeDefault(c4.storedKey);
  u4freeDefault(c4.savedKey);
  u4freeDefault(c4.appVerify);
  u4freeDefault(c4.fieldBuffer);
  c4.storedKey = c4.savedKey = c4.appVerify = c4.fieldBuffer = nullptr;
  c4.storedKeyLen = c4.savedKeyLen = c4.fieldBufferLen = 0;
  closeErrorLog(c4);

  stopWorker(c4.delayWriteWorker);
  stopWorker(c4.advanceReadWorker);
  c4.delayWriteWorker = c4.advanceReadWorker = nullptr;

  freeAllocator(c4.memAllocator);
  freeAllocator(c4.memZeroAllocator);
  c4.memAllocator = c4.memZeroAllocator = nullptr;

  const int result = c4.errorCode;
  c4.initialized = 0;
  if (c4.engineAllocated) u4freeDefault(&c4);

  --gLiveContexts;
  if (gLiveContexts == 0 && !memResetting()) mem4reset();
  return result;
}

}  // namespace

int liveContexts() { return gLiveContexts; }

}  // namespace tablekit

using namespace tablekit;

extern "C" {

TK_EXPORT int code4initLow(CODE4 *c4, int, long headerVersion, long structSize, char light) {
  if (c4 == nullptr) return report(nullptr, err::kParm, loc::code4init);
  if (headerVersion != kHeaderVersion) {
    char library[40], headers[40];
    std::snprintf(library, sizeof library, "Library: %ld", kHeaderVersion);
    std::snprintf(headers, sizeof headers, "Headers: %ld", headerVersion);
    return report(nullptr, err::kVersion, loc::code4init, library, headers);
  }
  if (structSize != 0 && structSize != static_cast<long>(sizeof(CODE4))) {
    char library[48], header[48];
    std::snprintf(library, sizeof library, "Library struct size: %ld", static_cast<long>(sizeof(CODE4)));
    std::snprintf(header, sizeof header, "Header struct size: %ld", structSize);
    return report(nullptr, err::kVerify, loc::detail::structure_size_mismatch, library, header);
  }

  std::memset(c4, 0, sizeof *c4);
  if (gLiveContexts == 0 && !memResetting()) {
    if (gMemInitsAhead > 0)
      --gMemInitsAhead;
    else
      mem4init();
  }
  ++gLiveContexts;

  setDefaults(*c4);
  initTransaction(c4->trans);
  std::memcpy(c4->dateFormat, kDefaultDateFormat, sizeof kDefaultDateFormat);

  const long word = u4switch();
  gSwitchBit1 = (word & 1) != 0;
  gSwitchBit2 = (word & 2) != 0;
  gSwitchBit4 = (word & 4) != 0;

  c4->initialized = 1;
  c4->trans.unlockAuto = 1;

  if (light != 1) startWorkers(*c4);

  c4->cacheAutoStartOff = 1;
  c4->cacheMemoryPercent = 25;
  c4->cacheMemory = 983040;
  c4->light = light;
  c4->memAllocator = makeAllocator(false);
  c4->memZeroAllocator = makeAllocator(true);
  return 0;
}

TK_EXPORT CODE4 *code4initAllocLow(int) {
  auto *c4 = static_cast<CODE4 *>(u4allocDefault(sizeof(CODE4)));
  if (c4 == nullptr) return nullptr;
  if (code4initLow(c4, 0, kHeaderVersion, sizeof(CODE4), 0) < 0) {
    u4freeDefault(c4);
    return nullptr;
  }
  c4->engineAllocated = 1;
  return c4;
}

TK_EXPORT CODE4 *code4allocLow(int doInit, int, long headerVersion) {
  mem4init();
  ++gMemInitsAhead;
  auto *c4 = static_cast<CODE4 *>(u4allocDefault(sizeof(CODE4)));
  if (c4 == nullptr) return nullptr;
  if (doInit == 1) {
    if (code4initLow(c4, 0, headerVersion, 0, 0) < 0) {
      u4freeDefault(c4);
      return nullptr;
    }
  }
  c4->engineAllocated = 1;
  return c4;
}

TK_EXPORT int code4initUndo(CODE4 *c4) {
  if (c4 == nullptr) return report(nullptr, err::kParmNull, loc::code4initUndo);
  if (!c4->initialized) return 0;
  return release(*c4, true);
}

TK_EXPORT int code4close(CODE4 *c4) {
  if (c4 == nullptr) return report(nullptr, err::kParmNull, loc::code4closeAll);
  // Every close takes its handle out of the list.
  int result = 0;
  while (auto *data = static_cast<DATA4 *>(l4first(&c4->dataList))) {
    const int rc = d4close(data);
    if (rc < 0) result = rc;
  }
  return result;
}

TK_EXPORT void code4exit(CODE4 *c4) {
  if (c4 != nullptr && c4->initialized) (void)release(*c4, false);
  (void)platform::showMessage(kMessageTitle, "EXITING APPLICATION");
  platform::exitProcess(kFatalExitStatus);
}

TK_EXPORT int code4version(CODE4 *) { return static_cast<int>(kHeaderVersion); }

TK_EXPORT int code4indexFormat(CODE4 *c4) {
  if (c4 == nullptr) {
    report(nullptr, err::kParmNull, loc::code4indexFormat);
    return 204;
  }
  return 201;
}

TK_EXPORT const char *code4indexExtension(CODE4 *c4) {
  if (c4 == nullptr) return "MDX";
  if (c4->indexExtension[0] == '\0') std::memcpy(c4->indexExtension, "MDX", 4);
  return c4->indexExtension;
}

TK_EXPORT const char *code4memoExtension(CODE4 *c4) {
  if (c4 == nullptr) return "DBT";
  if (c4->memoExtension[0] == '\0') std::memcpy(c4->memoExtension, "DBT", 4);
  return c4->memoExtension;
}

TK_EXPORT int code4collate(CODE4 *c4, unsigned) { return report(c4, err::kNotSupported, loc::detail::unsupported_collating_sequence); }
TK_EXPORT int code4collateUnicode(CODE4 *c4, unsigned) {
  return report(c4, err::kNotSupported, loc::detail::unsupported_collating_sequence);
}
TK_EXPORT int code4indexBlockSize(CODE4 *c4) { return report(c4, err::kNotSupported, loc::code4index); }
TK_EXPORT int code4indexBlockSizeSet(CODE4 *c4, unsigned) {
  return report(c4, err::kNotSupported, loc::code4index);
}
TK_EXPORT int code4largeOn(CODE4 *c4) { return report(c4, err::kNotSupported, loc::code4info); }
TK_EXPORT int c4getClipperKeyLen(CODE4 *c4) { return report(c4, err::kNotSupported, loc::code4index); }
TK_EXPORT int code4collateName(CODE4 *) { return 0; }
TK_EXPORT int code4collateNameUnicode(CODE4 *) { return 0; }
TK_EXPORT void code4collateNameSet(CODE4 *, int) {}
TK_EXPORT void code4collateNameUnicodeSet(CODE4 *, int) {}

TK_EXPORT long u4switch(void) { return kSwitchWord; }

TK_EXPORT void code4verifySet(CODE4 *c4, const char *text) {
  u4freeDefault(c4->appVerify);
  c4->appVerify = text != nullptr ? v4Cstring(text) : nullptr;
}

}  // extern "C"
