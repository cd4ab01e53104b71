// The accessors of the context's settings: each a plain load or store of
// one member, with no null test (a null context is the caller's fault).
#include "foundation/foundation.h"

extern "C" {
TK_EXPORT char c4getAccessMode(const CODE4 *c4) { return c4->accessMode; }
TK_EXPORT void c4setAccessMode(CODE4 *c4, char value) { c4->accessMode = value; }
TK_EXPORT int c4getAutoOpen(const CODE4 *c4) { return c4->autoOpen; }
TK_EXPORT void c4setAutoOpen(CODE4 *c4, int value) { c4->autoOpen = value; }
TK_EXPORT short c4getCompatibility(const CODE4 *c4) { return c4->compatibility; }
TK_EXPORT void c4setCompatibility(CODE4 *c4, short value) { c4->compatibility = value; }
TK_EXPORT int c4getCreateTemp(const CODE4 *c4) { return c4->createTemp; }
TK_EXPORT void c4setCreateTemp(CODE4 *c4, int value) { c4->createTemp = value; }
TK_EXPORT int c4getDoRemove(const CODE4 *c4) { return c4->doRemove; }
TK_EXPORT void c4setDoRemove(CODE4 *c4, int value) { c4->doRemove = value; }
TK_EXPORT int c4getErrCreate(const CODE4 *c4) { return c4->errCreate; }
TK_EXPORT void c4setErrCreate(CODE4 *c4, int value) { c4->errCreate = value; }
TK_EXPORT short c4getErrDefaultUnique(const CODE4 *c4) { return c4->errDefaultUnique; }
TK_EXPORT void c4setErrDefaultUnique(CODE4 *c4, short value) { c4->errDefaultUnique = value; }
TK_EXPORT short c4getCollatingSequence(const CODE4 *c4) { return c4->collatingSequence; }
TK_EXPORT void c4setCollatingSequence(CODE4 *c4, short value) { c4->collatingSequence = value; }
TK_EXPORT int c4getErrExpr(const CODE4 *c4) { return c4->errExpr; }
TK_EXPORT void c4setErrExpr(CODE4 *c4, int value) { c4->errExpr = value; }
TK_EXPORT int c4getErrFieldName(const CODE4 *c4) { return c4->errFieldName; }
TK_EXPORT void c4setErrFieldName(CODE4 *c4, int value) { c4->errFieldName = value; }
TK_EXPORT int c4getErrGo(const CODE4 *c4) { return c4->errGo; }
TK_EXPORT void c4setErrGo(CODE4 *c4, int value) { c4->errGo = value; }
TK_EXPORT int c4getErrOff(const CODE4 *c4) { return c4->errOff; }
TK_EXPORT void c4setErrOff(CODE4 *c4, int value) { c4->errOff = value; }
TK_EXPORT int c4getErrOpen(const CODE4 *c4) { return c4->errOpen; }
TK_EXPORT void c4setErrOpen(CODE4 *c4, int value) { c4->errOpen = value; }
TK_EXPORT int c4getErrRelate(const CODE4 *c4) { return c4->errRelate; }
TK_EXPORT void c4setErrRelate(CODE4 *c4, int value) { c4->errRelate = value; }
TK_EXPORT int c4getErrSkip(const CODE4 *c4) { return c4->errSkip; }
TK_EXPORT void c4setErrSkip(CODE4 *c4, int value) { c4->errSkip = value; }
TK_EXPORT int c4getErrTagName(const CODE4 *c4) { return c4->errTagName; }
TK_EXPORT void c4setErrTagName(CODE4 *c4, int value) { c4->errTagName = value; }
TK_EXPORT int c4getLockAttempts(const CODE4 *c4) { return c4->lockAttempts; }
TK_EXPORT void c4setLockAttempts(CODE4 *c4, int value) { c4->lockAttempts = value; }
TK_EXPORT int c4getLockEnforce(const CODE4 *c4) { return c4->lockEnforce; }
TK_EXPORT void c4setLockEnforce(CODE4 *c4, int value) { c4->lockEnforce = value; }
TK_EXPORT int c4getLogOpen(const CODE4 *c4) { return c4->logOpen; }
TK_EXPORT void c4setLogOpen(CODE4 *c4, int value) { c4->logOpen = value; }
TK_EXPORT char c4getOledbSchemaCreate(const CODE4 *c4) { return c4->oledbSchemaCreate; }
TK_EXPORT void c4setOledbSchemaCreate(CODE4 *c4, char value) { c4->oledbSchemaCreate = value; }
TK_EXPORT int c4getOptimize(const CODE4 *c4) { return c4->optimize; }
TK_EXPORT void c4setOptimize(CODE4 *c4, int value) { c4->optimize = value; }
TK_EXPORT int c4getOptimizeWrite(const CODE4 *c4) { return c4->optimizeWrite; }
TK_EXPORT void c4setOptimizeWrite(CODE4 *c4, int value) { c4->optimizeWrite = value; }
TK_EXPORT char c4getReadLockDo(const CODE4 *c4) { return c4->readLockDo; }
TK_EXPORT void c4setReadLockDo(CODE4 *c4, char value) { c4->readLockDo = value; }
TK_EXPORT int c4getReadOnlyDo(const CODE4 *c4) { return c4->readOnly; }
TK_EXPORT void c4setReadOnlyDo(CODE4 *c4, int value) { c4->readOnly = value; }
TK_EXPORT char c4getSafety(const CODE4 *c4) { return c4->safety; }
TK_EXPORT void c4setSafety(CODE4 *c4, char value) { c4->safety = value; }
TK_EXPORT short c4getSingleOpen(const CODE4 *c4) { return c4->singleOpen; }
TK_EXPORT void c4setSingleOpen(CODE4 *c4, short value) { c4->singleOpen = value; }
TK_EXPORT void c4setCodePage(CODE4 *c4, short value) { c4->codePage = value; }
TK_EXPORT void c4setHWnd(CODE4 *c4, int value) { c4->hWnd = value; }
TK_EXPORT void c4setLog(CODE4 *c4, short value) { c4->log = value; }
TK_EXPORT void c4setMemSizeBuffer(CODE4 *c4, int value) { c4->memSizeBuffer = value; }

TK_EXPORT const char *c4getAppVerify(const CODE4 *c4) { return c4->appVerify; }
TK_EXPORT void *c4getMemZeroAllocator(const CODE4 *c4) { return c4->memZeroAllocator; }
TK_EXPORT int c4getErrorCode(const CODE4 *c4) { return c4->errorCode; }
// Setting the error code goes through the reporter's setter.
TK_EXPORT int c4setErrorCode(CODE4 *c4, int value) { return error4set(c4, value); }

}  // extern "C"
