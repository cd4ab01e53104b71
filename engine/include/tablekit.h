/* tablekit.h - the public face of the TableKit table engine.
 *
 * Plain records and plain operations with C linkage. Every operation takes
 * the context or a handle first and returns 0 when done, a negative error
 * code (already reported through the context) or a positive condition.
 * Nothing else lives here: internal helpers stay inside the engine.
 */
#ifndef TABLEKIT_H
#define TABLEKIT_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TK_EXPORT __attribute__((visibility("default")))
#else
#define TK_EXPORT
#endif

/* The header version an application passes to code4initLow. */
#define TK_HEADER_VERSION 6500

/* Positive conditions. */
#define r4success 0
#define r4locked 1
#define r4after 2
#define r4eof 3
#define r4bof 4
#define r4entry 5
#define r4descending 10
#define r4unique 20
#define r4uniqueContinue 25
#define r4noCreate 60
#define r4noOpen 70
#define r4noTag 80
#define r4done 210
#define r4logOpen 170

/* ------------------------------------------------------------------------
 * Lists: a circular doubly linked list. A node begins with its two links.
 * ---------------------------------------------------------------------- */
typedef struct LINK4_st {
  struct LINK4_st *n; /* next */
  struct LINK4_st *p; /* previous */
} LINK4;

typedef struct RING4_st {
  LINK4 *lastNode; /* the last node, or none; the first is lastNode->n */
  LINK4 *selected; /* the owner's cursor, or none */
  unsigned long nLink; /* number of nodes */
} RING4;

/* ------------------------------------------------------------------------
 * Memory pools of fixed-size units.
 * ---------------------------------------------------------------------- */
typedef struct MEM4_st {
  LINK4 link;           /* registry links */
  RING4 chunks;         /* blocks obtained for this pool */
  RING4 pieces;         /* free units */
  int unitStart;        /* units in the first block */
  unsigned unitSize;    /* bytes per unit, at least 8 */
  int unitExpand;       /* units in every later block */
  int nRepeat;          /* users of the pool; -1 when it may not be shared */
} MEM4;

struct FILE4_st;
struct tk_worker;
struct tk_allocator;
struct tk_errorlog;

/* The transaction and log sub-record of a context. */
typedef struct CODE4TRANS_st {
  int enabled;                 /* 1 once initialised */
  int currentTranStatus;       /* 0: no transaction active */
  struct FILE4_st *transFile;  /* the open transaction log, or none */
  char *logName;               /* its name, owned */
  RING4 locks;                 /* locks held for the transaction */
  int unlockAuto;              /* automatic-unlock switch */
} CODE4TRANS;

/* ------------------------------------------------------------------------
 * CODE4: the engine context.
 * ---------------------------------------------------------------------- */
typedef struct CODE4_st {
  /* Settings with accessors, in the order of their accessors. */
  char accessMode;        /* 0 share, 1 exclusive, 2 others may only read */
  int autoOpen;
  short compatibility;
  int createTemp;
  char *appVerify;        /* owned copy */
  int doRemove;
  int errorCode;
  int errCreate;
  short errDefaultUnique;
  short collatingSequence;
  int errExpr;
  int errFieldName;
  int errGo;
  int errOff;
  int errOpen;
  int errRelate;
  int errSkip;
  int errTagName;
  int lockAttempts;
  int lockEnforce;
  int logOpen;
  struct tk_allocator *memZeroAllocator;
  char oledbSchemaCreate;
  int optimize;
  int optimizeWrite;
  char readLockDo;
  int readOnly;
  char safety;
  short singleOpen;
  short codePage;
  int hWnd;
  short log;
  int memSizeBuffer;

  /* Further settings. */
  int dataPoolStart, dataPoolGrow;
  int dataFilePoolStart, dataFilePoolGrow;
  int lockPoolStart, lockPoolGrow;
  int indexPoolStart, indexPoolGrow;
  int indexFilePoolStart, indexFilePoolGrow;
  int tagPoolStart, tagPoolGrow;
  int tagFilePoolStart, tagFilePoolGrow;
  int blockPoolStart, blockPoolGrow;
  int lockRetryDelay;      /* hundredths of a second */
  int groupLockAttempts;
  unsigned cacheBlockSize;
  long cacheMemory;
  int cacheMemoryPercent;
  int cacheAutoStartOff;
  unsigned sortPoolSize;
  unsigned sortBufferSize;
  unsigned memoBlockSize;
  short unlockAuto;
  int exprMemoLength;
  int nodeReadCheck;
  int readOnlyRequest;     /* set by init to 17; not used by any operation */
  int numericPrecision;    /* set by init to 2; not used by any operation */

  /* Error state. */
  long errorCode2;         /* location code of the last report */
  struct tk_errorlog *errorLog; /* the open error-log file, or none */

  char dateFormat[20];
  char indexExtension[4];
  char memoExtension[4];

  RING4 dataList;          /* open table handles */
  RING4 dataFileList;      /* shared data-file records */

  /* Pool references, made on first need and released at undo. */
  MEM4 *dataMemory;
  MEM4 *dataFileMemory;
  MEM4 *lockMemory;
  MEM4 *indexMemory;
  MEM4 *indexFileMemory;
  MEM4 *tagMemory;
  MEM4 *tagFileMemory;
  MEM4 *bitmapMemory;
  MEM4 *relationMemory;
  MEM4 *calcMemory;

  CODE4TRANS c4trans;

  /* The two background workers: delayed writes and advance reads. */
  struct tk_worker *delayWriteWorker;
  struct tk_worker *advanceReadWorker;

  /* Key buffer for expression keys and the tag navigation scratch area. */
  char *storedKey;
  unsigned storedKeyLen;
  char *savedKey;
  unsigned savedKeyLen;
  unsigned long savedRecNo;

  long nextHandleId;       /* serial numbers of table handles */

  struct tk_allocator *memAllocator;
  int initialized;         /* 1 between init and release */
  int engineAllocated;     /* 1 when the engine allocated this record */
  char light;              /* 1: no background workers */
} CODE4;

/* ------------------------------------------------------------------------
 * Engine context.
 * ---------------------------------------------------------------------- */
TK_EXPORT int code4initLow(CODE4 *c4, int ignored, long headerVersion, long structSize, char light);
TK_EXPORT CODE4 *code4initAllocLow(int ignored);
TK_EXPORT CODE4 *code4allocLow(int doInit, int ignored, long headerVersion);
TK_EXPORT int code4initUndo(CODE4 *c4);
TK_EXPORT int code4close(CODE4 *c4);
TK_EXPORT void code4exit(CODE4 *c4);
TK_EXPORT int code4version(CODE4 *c4);
TK_EXPORT int code4indexFormat(CODE4 *c4);
TK_EXPORT const char *code4indexExtension(CODE4 *c4);
TK_EXPORT const char *code4memoExtension(CODE4 *c4);
TK_EXPORT int code4collate(CODE4 *c4, unsigned collateType);
TK_EXPORT int code4collateUnicode(CODE4 *c4, unsigned collateType);
TK_EXPORT int code4indexBlockSize(CODE4 *c4);
TK_EXPORT int code4indexBlockSizeSet(CODE4 *c4, unsigned blockSize);
TK_EXPORT int code4largeOn(CODE4 *c4);
TK_EXPORT int c4getClipperKeyLen(CODE4 *c4);
TK_EXPORT int code4collateName(CODE4 *c4);
TK_EXPORT int code4collateNameUnicode(CODE4 *c4);
TK_EXPORT void code4collateNameSet(CODE4 *c4, int collateName);
TK_EXPORT void code4collateNameUnicodeSet(CODE4 *c4, int collateName);
TK_EXPORT long u4switch(void);
TK_EXPORT void code4verifySet(CODE4 *c4, const char *text);

/* Setting accessors: plain loads and stores, no null test. */
TK_EXPORT char c4getAccessMode(const CODE4 *c4);
TK_EXPORT void c4setAccessMode(CODE4 *c4, char value);
TK_EXPORT int c4getAutoOpen(const CODE4 *c4);
TK_EXPORT void c4setAutoOpen(CODE4 *c4, int value);
TK_EXPORT short c4getCompatibility(const CODE4 *c4);
TK_EXPORT void c4setCompatibility(CODE4 *c4, short value);
TK_EXPORT int c4getCreateTemp(const CODE4 *c4);
TK_EXPORT void c4setCreateTemp(CODE4 *c4, int value);
TK_EXPORT const char *c4getAppVerify(const CODE4 *c4);
TK_EXPORT int c4getDoRemove(const CODE4 *c4);
TK_EXPORT void c4setDoRemove(CODE4 *c4, int value);
TK_EXPORT int c4getErrorCode(const CODE4 *c4);
TK_EXPORT int c4setErrorCode(CODE4 *c4, int value);
TK_EXPORT int c4getErrCreate(const CODE4 *c4);
TK_EXPORT void c4setErrCreate(CODE4 *c4, int value);
TK_EXPORT short c4getErrDefaultUnique(const CODE4 *c4);
TK_EXPORT void c4setErrDefaultUnique(CODE4 *c4, short value);
TK_EXPORT short c4getCollatingSequence(const CODE4 *c4);
TK_EXPORT void c4setCollatingSequence(CODE4 *c4, short value);
TK_EXPORT int c4getErrExpr(const CODE4 *c4);
TK_EXPORT void c4setErrExpr(CODE4 *c4, int value);
TK_EXPORT int c4getErrFieldName(const CODE4 *c4);
TK_EXPORT void c4setErrFieldName(CODE4 *c4, int value);
TK_EXPORT int c4getErrGo(const CODE4 *c4);
TK_EXPORT void c4setErrGo(CODE4 *c4, int value);
TK_EXPORT int c4getErrOff(const CODE4 *c4);
TK_EXPORT void c4setErrOff(CODE4 *c4, int value);
TK_EXPORT int c4getErrOpen(const CODE4 *c4);
TK_EXPORT void c4setErrOpen(CODE4 *c4, int value);
TK_EXPORT int c4getErrRelate(const CODE4 *c4);
TK_EXPORT void c4setErrRelate(CODE4 *c4, int value);
TK_EXPORT int c4getErrSkip(const CODE4 *c4);
TK_EXPORT void c4setErrSkip(CODE4 *c4, int value);
TK_EXPORT int c4getErrTagName(const CODE4 *c4);
TK_EXPORT void c4setErrTagName(CODE4 *c4, int value);
TK_EXPORT int c4getLockAttempts(const CODE4 *c4);
TK_EXPORT void c4setLockAttempts(CODE4 *c4, int value);
TK_EXPORT int c4getLockEnforce(const CODE4 *c4);
TK_EXPORT void c4setLockEnforce(CODE4 *c4, int value);
TK_EXPORT int c4getLogOpen(const CODE4 *c4);
TK_EXPORT void c4setLogOpen(CODE4 *c4, int value);
TK_EXPORT void *c4getMemZeroAllocator(const CODE4 *c4);
TK_EXPORT char c4getOledbSchemaCreate(const CODE4 *c4);
TK_EXPORT void c4setOledbSchemaCreate(CODE4 *c4, char value);
TK_EXPORT int c4getOptimize(const CODE4 *c4);
TK_EXPORT void c4setOptimize(CODE4 *c4, int value);
TK_EXPORT int c4getOptimizeWrite(const CODE4 *c4);
TK_EXPORT void c4setOptimizeWrite(CODE4 *c4, int value);
TK_EXPORT char c4getReadLockDo(const CODE4 *c4);
TK_EXPORT void c4setReadLockDo(CODE4 *c4, char value);
TK_EXPORT int c4getReadOnlyDo(const CODE4 *c4);
TK_EXPORT void c4setReadOnlyDo(CODE4 *c4, int value);
TK_EXPORT char c4getSafety(const CODE4 *c4);
TK_EXPORT void c4setSafety(CODE4 *c4, char value);
TK_EXPORT short c4getSingleOpen(const CODE4 *c4);
TK_EXPORT void c4setSingleOpen(CODE4 *c4, short value);
TK_EXPORT void c4setCodePage(CODE4 *c4, short value);
TK_EXPORT void c4setHWnd(CODE4 *c4, int value);
TK_EXPORT void c4setLog(CODE4 *c4, short value);
TK_EXPORT void c4setMemSizeBuffer(CODE4 *c4, int value);

/* ------------------------------------------------------------------------
 * Error reporting. Location codes are five-digit numbers whose first digit
 * is the class (6 class methods, 8 detail messages, 9 operations).
 * ---------------------------------------------------------------------- */
TK_EXPORT int error4describeExecute(CODE4 *c4, int errCode, long location,
                                    const char *s1, const char *s2, const char *s3);
TK_EXPORT int error4describeDefault(CODE4 *c4, int errCode, long location,
                                    const char *s1, const char *s2, const char *s3);
TK_EXPORT int error4default(CODE4 *c4, int errCode, long location);
TK_EXPORT void error4out(CODE4 *c4, int errCode, long location,
                         const char *s1, const char *s2, const char *s3);
TK_EXPORT int error4set(CODE4 *c4, int value);
TK_EXPORT long error4set2(CODE4 *c4, long value);
TK_EXPORT void error4exitTest(CODE4 *c4);
TK_EXPORT const char *error4text(CODE4 *c4, long code);
TK_EXPORT long error4number2(long location);
TK_EXPORT int error4file(CODE4 *c4, const char *fileName, int overwrite);
TK_EXPORT int error4hook(CODE4 *c4, int errCode, long location,
                         const char *s1, const char *s2, const char *s3);

/* ------------------------------------------------------------------------
 * Lists.
 * ---------------------------------------------------------------------- */
TK_EXPORT void l4add(RING4 *list, void *node);
TK_EXPORT void *l4addBefore(RING4 *list, void *anchor, void *node);
TK_EXPORT void *l4remove(RING4 *list, void *node);
TK_EXPORT void *l4next(const RING4 *list, const void *node);
TK_EXPORT void *l4prev(const RING4 *list, const void *node);
TK_EXPORT void *l4first(const RING4 *list);
TK_EXPORT void *l4last(const RING4 *list);
TK_EXPORT void *l4pop(RING4 *list);
TK_EXPORT int l4seek(const RING4 *list, const void *node);

/* ------------------------------------------------------------------------
 * Memory pools and plain allocation (always zero-filled).
 * ---------------------------------------------------------------------- */
TK_EXPORT void mem4init(void);
TK_EXPORT int mem4reset(void);
TK_EXPORT MEM4 *mem4createDefault(CODE4 *c4, int start, unsigned unitSize, int expand, int noShare);
TK_EXPORT void *mem4createAllocDefault(CODE4 *c4, MEM4 **poolRef, int start, unsigned unitSize,
                                       int expand, int noShare, int zero);
TK_EXPORT void *mem4allocErrDefault(MEM4 *pool, CODE4 *c4, int zero);
TK_EXPORT void *mem4allocDefault(MEM4 *pool, int zero);
TK_EXPORT int mem4freeDefault(MEM4 *pool, void *unit);
TK_EXPORT void mem4release(MEM4 *pool);
TK_EXPORT void *u4allocDefault(long size);
TK_EXPORT int u4freeDefault(void *ptr);
TK_EXPORT void *u4allocFreeDefault(CODE4 *c4, long size);
TK_EXPORT void *u4allocErDefault(CODE4 *c4, long size);
TK_EXPORT void *u4allocFixedDefault(CODE4 *c4, long size);
TK_EXPORT int u4freeFixedDefault(void *ptr);
TK_EXPORT int u4allocAgainDefault(CODE4 *c4, char **buffer, unsigned *bufferLen, unsigned newLen);
TK_EXPORT void u4delayHundredth(unsigned hundredths);

/* ------------------------------------------------------------------------
 * File names and small utilities. Buffers are sized by the caller
 * (terminator included); the engine itself passes 258.
 * ---------------------------------------------------------------------- */
TK_EXPORT int u4nameCurrent(char *buffer, int size, const char *name);
TK_EXPORT int u4nameCurrentExtended(char *buffer, int size, const char *name, const char *baseName);
TK_EXPORT int u4nameNormalize(char *path, int size);
TK_EXPORT int u4nameExt(char *name, int size, const char *extension, int replace);
TK_EXPORT void u4nameRemoveGivenExtension(char *name, const char *extension);
TK_EXPORT int u4nameExtWide(unsigned short *name, int size, const unsigned short *extension, int replace);
TK_EXPORT void u4nameWideRemoveGivenExtension(unsigned short *name, const unsigned short *extension);
TK_EXPORT int u4namePiece(char *buffer, unsigned size, const char *name, int keepPath, int keepExtension);
TK_EXPORT unsigned u4namePath(char *buffer, unsigned size, const char *name);
TK_EXPORT unsigned u4namePathSpecial(char *buffer, unsigned size, const char *name);
TK_EXPORT int u4nameMakeFindDrive(char *buffer, unsigned size, const char *defaultDirectory, const char *name);
TK_EXPORT int u4nameCreateMultiDirectories(char *buffer, unsigned size, const char *name,
                                           const char *firstBase, const char *secondBase);
TK_EXPORT int u4nameChar(unsigned char ch);
TK_EXPORT const char *u4nameFindFileName(const char *name, int position);
TK_EXPORT unsigned u4ncpy(char *to, const char *from, unsigned size);
TK_EXPORT void u4trim(char *text);
TK_EXPORT void u4yymmdd(char *yymmdd);
TK_EXPORT int u4remove(const char *path);
TK_EXPORT int u4rename(const char *oldPath, const char *newPath);
TK_EXPORT const char *u4environment(CODE4 *c4, const char *name, int required);
TK_EXPORT char *v4Cstring(const char *text);
TK_EXPORT void v4Cstringfree(char *copy);

#ifdef __cplusplus
}
#endif

#endif /* TABLEKIT_H */
