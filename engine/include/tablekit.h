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
typedef struct RING4NODE_st {
  struct RING4NODE_st *n;   /* next */
  struct RING4NODE_st *p;   /* previous */
} RING4NODE;

typedef struct RING4_st {
  RING4NODE *last;          /* the last node, or none; the first is last->n */
  RING4NODE *selected;      /* the owner's cursor, or none */
  unsigned long count;      /* number of nodes */
} RING4;

/* ------------------------------------------------------------------------
 * Memory pools of fixed-size units.
 * ---------------------------------------------------------------------- */
typedef struct MEM4_st {
  RING4NODE link;           /* registry links */
  RING4 blocks;             /* blocks obtained for this pool */
  RING4 freeUnits;          /* free units */
  int startCount;           /* units in the first block */
  unsigned unitSize;        /* bytes per unit, at least 8 */
  int growCount;            /* units in every later block */
  int shareCount;           /* users of the pool; -1 when it may not be shared */
} MEM4;

struct FILE4_st;
struct tk_worker;
struct tk_allocator;
struct tk_errorlog;

/* The transaction and log sub-record of a context. */
typedef struct TRAN4_st {
  int enabled;              /* 1 once initialised */
  int currentTranStatus;    /* 0: no transaction active */
  struct FILE4_st *transFile; /* the open transaction log, or none */
  char *logName;            /* its name, owned */
  RING4 locks;              /* locks held for the transaction */
  int unlockAuto;           /* automatic-unlock switch */
} TRAN4;

/* ------------------------------------------------------------------------
 * CODE4: the engine context.
 * ---------------------------------------------------------------------- */
typedef struct CODE4_st {
  /* Settings with accessors, in the order of their accessors. */
  char accessMode;          /* 0 share, 1 exclusive, 2 others may only read */
  int autoOpen;
  short compatibility;
  int createTemp;
  char *appVerify;          /* owned copy */
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
  int lockRetryDelay;       /* hundredths of a second */
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
  int spareSetting1;        /* set by init to 17; not used by any operation */
  int spareSetting2;        /* set by init to 2; not used by any operation */

  /* Error state. */
  long errorCode2;          /* location code of the last report */
  struct tk_errorlog *errorLog; /* the open error-log file, or none */

  char dateFormat[20];
  char indexExtension[4];
  char memoExtension[4];

  RING4 dataList;           /* open table handles */
  RING4 dataFileList;       /* shared data-file records */

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

  TRAN4 trans;

  /* The two background workers: delayed writes and advance reads. */
  struct tk_worker *delayWriteWorker;
  struct tk_worker *advanceReadWorker;

  /* Key buffer for expression keys and the tag navigation scratch area. */
  char *storedKey;
  unsigned storedKeyLen;
  char *savedKey;
  unsigned savedKeyLen;
  unsigned long savedRecNo;

  /* Scratch buffer of f4str: a field's bytes and a NUL; freed at release. */
  char *fieldBuffer;
  unsigned fieldBufferLen;

  long nextHandleId;        /* serial numbers of table handles */

  /* The last lock conflict, for code4lockItem and its companions. */
  long lockedItem;
  const char *lockedFileName;
  const char *lockedUserId;
  const char *lockedNetworkId;

  struct tk_allocator *memAllocator;
  int initialized;          /* 1 between init and release */
  int engineAllocated;      /* 1 when the engine allocated this record */
  char light;               /* 1: no background workers */
} CODE4;

/* ------------------------------------------------------------------------
 * FILE4: one open operating-system file.
 * ---------------------------------------------------------------------- */
struct tk_filelock;

typedef struct FILE4_st {
  RING4NODE link;           /* the block cache's list of cached files */
  char nameAllocated;       /* 1: nameCopy is owned and freed at close */
  char isTemp;              /* 1: the file is deleted when it is closed */
  int handle;               /* the system's handle; -1 when not open */
  int isReadOnly;           /* 1: opened for reading only */
  char *nameCopy;           /* the owned copy of the name, if any */
  const char *name;         /* the name in use */
  CODE4 *context;           /* the context */
  int accessMode;           /* share mode of the open: 0, 1 or 2 */
  char onDisk;              /* 0 only for a temporary file kept in the cache alone */
  char writeCachePermitted; /* the file's write-cache setting */
  /* Block-cache state. */
  long hashStart;           /* the file's hash start */
  long len;                 /* cached length; -1 = not known */
  char type;                /* cache kind: 1 data, 2 index, 3 other */
  char writesBuffered;      /* writes are buffered in the cache */
  int inCache;              /* the file is in the cache */
  char readShare;
  void *cacheOwner;
  struct tk_filelock *fileLock; /* serialises positioning plus transfer */
  RING4 delayedWrites;      /* queued delayed writes of this file */
  int readAheadOn;          /* 1 once an advance read was queued */
  RING4 advanceReads;       /* queued advance reads of this file */
} FILE4;

/* IOREQ4: one queued background request (delayed write or advance read). */
typedef struct IOREQ4_st {
  RING4NODE queueLink;      /* the context's queue */
  RING4NODE fileLink;       /* the file's delayedWrites or advanceReads */
  FILE4 *file;
  char *data;               /* data to write, or buffer to read into */
  unsigned long pos;
  unsigned len;
  volatile int state;       /* 1 queued, 2 being performed, 3 completed, 4 abandoned */
  volatile int result;      /* write: 0 or negative; read: bytes read */
  void (*completion)(struct IOREQ4_st *request);
  void *completionArg;
} IOREQ4;

/* Buffered sequential reader. */
typedef struct FILE4SEQ_READ_st {
  FILE4 *file;
  unsigned long pos;        /* file position of the next transfer */
  char *buffer;             /* the half (or whole buffer) being consumed; null: unbuffered */
  unsigned nextReadLen;
  unsigned bufferLen;       /* size of one half, or of the whole buffer */
  unsigned bytesInBuffer;   /* bytes the last transfer delivered */
  unsigned available;       /* bytes of the current buffer not yet handed out */
  int doubleBuffered;       /* 1: split and read ahead */
  char *half1, *half2;
  volatile int half1Result, half2Result;
  volatile int half1State, half2State; /* 1 idle, 2 read in progress, 3 read done */
} FILE4SEQ_READ;

/* Buffered sequential writer. */
typedef struct FILE4SEQ_WRITE_st {
  FILE4 *file;
  unsigned long pos;        /* where the current buffer will be written */
  char *buffer;             /* the half being filled; null: unbuffered */
  unsigned halfLen;         /* size of one half */
  unsigned capacity;        /* capacity of the current half for this filling */
  unsigned room;            /* room left in the current half */
  char *half1, *half2;
  volatile int half1Free, half2Free; /* 1 when no write of that half is pending */
} FILE4SEQ_WRITE;

/* ------------------------------------------------------------------------
 * Tables.
 * ---------------------------------------------------------------------- */
struct DATA4_st;
struct DFILE4_st;
struct FIELD4_st;

/* The memo file of a table (part of its DFILE4). */
typedef struct MEMO4FILE_st {
  FILE4 file;               /* handle invalid when the table has no memo file */
  short blockSize;
  struct DFILE4_st *data;
  int fileLock;             /* 1 while this process holds the memo file lock */
} MEMO4FILE;

/* The in-memory contents of one memo field of a DATA4. */
typedef struct F4MEMO_st {
  int changed;              /* assigned and not yet written */
  int status;               /* 1 not loaded, 0 loaded */
  char *contents;           /* contents followed by two NULs */
  unsigned len;
  unsigned capacity;        /* allocated size less the two NULs; 0 when none */
  struct FIELD4_st *field;
} F4MEMO;

/* One field of a DATA4, pointing into its record buffer. */
typedef struct FIELD4_st {
  char name[11];
  unsigned short len;
  unsigned short dec;
  short type;
  unsigned long offset;     /* position in the record; the first field is at 1 */
  struct DATA4_st *data;
  F4MEMO *memo;             /* for M, G and B fields */
} FIELD4;

/* One row of a field-description array; the array ends with a null name. */
typedef struct FIELD4INFO_st {
  char *name;
  short type;
  unsigned short len;
  unsigned short dec;
  unsigned short nulls;
} FIELD4INFO;

/* One row of a tag-description array; the array ends with a null name. */
typedef struct TAG4INFO_st {
  char *name;
  const char *expression;
  const char *filter;
  short unique;             /* 0, or r4unique, r4uniqueContinue or -340 */
  unsigned short descending; /* 0 or r4descending */
} TAG4INFO;

/* The shared record of one physical data file within a context. */
typedef struct DFILE4_st {
  RING4NODE link;           /* the context's list of data files */
  unsigned long recWidth;
  unsigned short descriptorLen; /* descriptor-area length: header length - 32 */
  unsigned short nFields;
  unsigned short nMemoFields;
  long lastKnownCount;      /* last known record count */
  long userCount;           /* DATA4 handles on this file */
  CODE4 *c4;
  char *info;               /* owned copy of the descriptor area */
  /* Header image, in the order of bytes 0-9 of the file. */
  unsigned char version;
  unsigned char yy, mm, dd;
  long inMemoryCount;       /* -1 = not known */
  unsigned short headerLen;
  int dateChanged;          /* header rewritten, in-memory date not yet refreshed */
  FILE4 file;
  char tableFlags;          /* copy of header byte 28 */
  int fileChanged;          /* a record was appended or written */
  MEMO4FILE memoFile;
  int valid;
  /* Lock state. */
  long fileLockOwner;       /* handle id holding the file lock; 0 = none */
  long appendLockOwner;     /* handle id holding the append lock; 0 = none */
  long recordLockCount;     /* record bytes locked by this process */
  long conflictOwner;       /* owner of the lock found in the way by the last failed test */
  RING4 handles;            /* DATA4 handles on this file */
  int productionOpen;       /* the production index was opened with the table */
  RING4 indexes;            /* shared index-file records */
  char *record;             /* the buffer tag expressions read their fields from */
  int readHint;
} DFILE4;


/* One open table (a d4open). */
typedef struct DATA4_st {
  RING4NODE link;           /* the context's list of open tables */
  RING4NODE dataFileLink;   /* the DFILE4's list of handles */
  int bofFlag, eofFlag;
  int readOnly;
  int recordChanged;
  long count;               /* the record count this handle last obtained */
  long recNum;              /* current record; -1 = none */
  long oldRecNo;            /* record in the old-record buffer; -1 = none */
  char alias[33];
  CODE4 *context;
  FIELD4 *fields;
  RING4 indexes;            /* this handle's open index handles */
  void *selectedTag;        /* the tag that orders navigation, or none */
  DFILE4 *dataFile;
  char *record;             /* record width + 1 bytes */
  char *oldRecord;
  char *blankRecord;
  F4MEMO *memos;
  long handleId;            /* handle id: owner of this handle's locks */
  RING4 locks;              /* record numbers this handle holds locked */
  int memoValidated;
  int buffersOneBlock;      /* buffers and fields were allocated as one block */
} DATA4;

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

/* ------------------------------------------------------------------------
 * Files: open, create, read, write, length, flush, locks.
 * ---------------------------------------------------------------------- */
TK_EXPORT int file4open(FILE4 *file, CODE4 *c4, const char *name, int copyName);
TK_EXPORT int file4create(FILE4 *file, CODE4 *c4, const char *name, int copyName);
TK_EXPORT int file4tempLow(FILE4 *file, CODE4 *c4, int autoRemove, int useTempDirectory, const char *extension);
TK_EXPORT int file4temp(FILE4 *file, CODE4 *c4, char *buffer, int autoRemove);
TK_EXPORT int file4close(FILE4 *file);
TK_EXPORT int file4exists(const char *name);
TK_EXPORT int file4openTest(FILE4 *file);
TK_EXPORT unsigned file4read(FILE4 *file, long pos, void *buffer, unsigned len);
TK_EXPORT int file4readAll(FILE4 *file, long pos, void *buffer, unsigned len);
TK_EXPORT int file4readError(FILE4 *file, long pos, unsigned len, const char *routine);
TK_EXPORT int file4write(FILE4 *file, long pos, const void *data, unsigned len);
TK_EXPORT unsigned long file4lenLow(FILE4 *file);
TK_EXPORT int file4lenSetLow(FILE4 *file, unsigned long newLen);
TK_EXPORT int file4flush(FILE4 *file);
TK_EXPORT int file4refresh(FILE4 *file);
TK_EXPORT int file4replace(FILE4 *keep, FILE4 *from);
TK_EXPORT int file4lockInternal(FILE4 *file, unsigned long posLow, long posHigh, unsigned long lenLow, long lenHigh);
TK_EXPORT int file4unlockInternal(FILE4 *file, unsigned long posLow, long posHigh, unsigned long lenLow, long lenHigh);
TK_EXPORT long code4lockItem(CODE4 *c4);
TK_EXPORT const char *code4lockFileName(CODE4 *c4);
TK_EXPORT const char *code4lockNetworkId(CODE4 *c4);
TK_EXPORT const char *code4lockUserId(CODE4 *c4);

/* Background requests: delayed writes and advance reads. */
TK_EXPORT int file4writeDelay(FILE4 *file, long pos, const void *data, unsigned len,
                              void (*completion)(IOREQ4 *request), void *completionArg);
TK_EXPORT int file4advanceRead(FILE4 *file, long pos, void *buffer, unsigned len,
                               void (*completion)(IOREQ4 *request), void *completionArg);

/* Sequential reading and writing. */
TK_EXPORT int file4seqReadInitDo(FILE4SEQ_READ *reader, FILE4 *file, long start, void *buffer,
                                 unsigned size, int doubleBuffer);
TK_EXPORT int file4seqReadInit(FILE4SEQ_READ *reader, FILE4 *file, long start, void *buffer, unsigned size);
TK_EXPORT unsigned file4seqRead(FILE4SEQ_READ *reader, void *dest, unsigned len);
TK_EXPORT int file4seqReadAll(FILE4SEQ_READ *reader, void *dest, unsigned len);
TK_EXPORT void file4seqReadWait(FILE4SEQ_READ *reader);
TK_EXPORT int file4seqWriteInit(FILE4SEQ_WRITE *writer, FILE4 *file, long start, void *buffer, unsigned size);
TK_EXPORT int file4seqWrite(FILE4SEQ_WRITE *writer, const void *data, unsigned len);
TK_EXPORT int file4seqWriteDelay(FILE4SEQ_WRITE *writer);
TK_EXPORT int file4seqWriteFlush(FILE4SEQ_WRITE *writer);
TK_EXPORT int file4seqWriteRepeat(FILE4SEQ_WRITE *writer, long count, char byte);

/* ------------------------------------------------------------------------
 * Tables: opening, aliases, record counts.
 * ---------------------------------------------------------------------- */
TK_EXPORT DATA4 *d4open(CODE4 *c4, const char *name);
TK_EXPORT DATA4 *d4openClone(DATA4 *data);
TK_EXPORT int d4close(DATA4 *data);
TK_EXPORT const char *d4alias(DATA4 *data);
TK_EXPORT int d4aliasSet(DATA4 *data, const char *alias);
TK_EXPORT DATA4 *code4data(CODE4 *c4, const char *alias);
TK_EXPORT short d4numFields(DATA4 *data);
TK_EXPORT unsigned long d4recWidthLow(DATA4 *data);
TK_EXPORT char *d4recordLow(DATA4 *data);
TK_EXPORT const char *d4fileName(DATA4 *data);
TK_EXPORT long d4recCountDo(DATA4 *data);
TK_EXPORT int d4recCountGreater(DATA4 *data, long n);
TK_EXPORT long dfile4recCount(DFILE4 *file, long handleId);
TK_EXPORT unsigned long dfile4recordPosition(DFILE4 *file, long recNo);

/* ------------------------------------------------------------------------
 * Fields and conversion.
 * ---------------------------------------------------------------------- */
TK_EXPORT int d4fieldNumber(DATA4 *data, const char *name);
TK_EXPORT FIELD4 *d4field(DATA4 *data, const char *name);
TK_EXPORT FIELD4 *d4fieldJ(DATA4 *data, int j);
TK_EXPORT FIELD4INFO *d4fieldInfo(DATA4 *data);
TK_EXPORT int d4fieldNull(DATA4 *data);
TK_EXPORT int f4number(FIELD4 *field);
TK_EXPORT const char *f4name(FIELD4 *field);
TK_EXPORT int f4type(FIELD4 *field);
TK_EXPORT unsigned long f4len(FIELD4 *field);
TK_EXPORT unsigned long f4len_v(FIELD4 *field);
TK_EXPORT int f4decimals(FIELD4 *field);
TK_EXPORT DATA4 *f4data(FIELD4 *field);
TK_EXPORT int f4null(FIELD4 *field);
TK_EXPORT char *f4ptr(FIELD4 *field);
TK_EXPORT char *f4str(FIELD4 *field);
TK_EXPORT unsigned f4ncpy(FIELD4 *field, char *dst, unsigned n);
TK_EXPORT int f4char(FIELD4 *field);
TK_EXPORT double f4double(FIELD4 *field);
TK_EXPORT long f4long(FIELD4 *field);
TK_EXPORT int f4int(FIELD4 *field);
TK_EXPORT int f4true(FIELD4 *field);
TK_EXPORT char *f4assignPtr(FIELD4 *field);
TK_EXPORT void f4blank(FIELD4 *field);
TK_EXPORT int f4assign(FIELD4 *field, const char *text);
TK_EXPORT int f4assignN(FIELD4 *field, const void *bytes, unsigned n);
TK_EXPORT int f4assignChar(FIELD4 *field, int c);
TK_EXPORT int f4assignDouble(FIELD4 *field, double value);
TK_EXPORT int f4assignLong(FIELD4 *field, long value);
TK_EXPORT int f4assignInt(FIELD4 *field, int value);
TK_EXPORT int f4assignField(FIELD4 *to, const FIELD4 *from);
TK_EXPORT double c4atod(const char *bytes, int n);
TK_EXPORT double c4atof(const char *text);
TK_EXPORT long c4atol(const char *bytes, int n);
TK_EXPORT int c4atoi(const char *bytes, int n);
TK_EXPORT int c4dtoa45(double value, char *out, int width, int decimals);
TK_EXPORT void c4ltoa45(long value, char *out, int width);
TK_EXPORT void c4trimN(char *text, int n);
TK_EXPORT void c4upper(char *text);
TK_EXPORT void c4lower(char *text);

/* ------------------------------------------------------------------------
 * Dates: CCYYMMDD text and day numbers (1 January 2000 is 2451545).
 * ---------------------------------------------------------------------- */
TK_EXPORT long date4long(const char *date);
TK_EXPORT void date4assignLow(char *date, long dayNumber, int zeroFill);
TK_EXPORT long date4yymmddToJulianLong(int year, int month, int day);
TK_EXPORT long c4ytoj(int year);
TK_EXPORT int c4monDy(int year, int dayOfYear, int *month, int *day);
TK_EXPORT int date4isLeap(const char *date);
TK_EXPORT int date4dow(const char *date);
TK_EXPORT const char *date4cdow(const char *date);
TK_EXPORT const char *date4cmonth(const char *date);
TK_EXPORT void date4init(char *date, const char *value, char *picture);
TK_EXPORT void date4format(const char *date, char *result, char *picture);
TK_EXPORT void date4today(char *date);
TK_EXPORT void date4timeNow(char *time);
TK_EXPORT double date4formatMdx(const char *date);
TK_EXPORT int date4formatMdx2(const char *date, double *out);
TK_EXPORT const char *code4dateFormat(CODE4 *c4);
TK_EXPORT int code4dateFormatSet(CODE4 *c4, const char *picture);

/* ------------------------------------------------------------------------
 * Appending, writing, zapping, flushing and closing.
 * ---------------------------------------------------------------------- */
TK_EXPORT void d4blank(DATA4 *data);
TK_EXPORT void d4delete(DATA4 *data);
TK_EXPORT void d4recall(DATA4 *data);
TK_EXPORT int d4deleted(DATA4 *data);
TK_EXPORT int d4changed(DATA4 *data, int flag);
TK_EXPORT int d4appendStart(DATA4 *data, int useMemoEntries);
TK_EXPORT int d4append(DATA4 *data);
TK_EXPORT int d4appendBlank(DATA4 *data);
TK_EXPORT int d4writeLow(DATA4 *data, long recNo, int unlock, int lock);
TK_EXPORT int d4update(DATA4 *data);
TK_EXPORT int d4updateRecord(DATA4 *data, int unlock, int doLock);
TK_EXPORT int d4flush(DATA4 *data);
TK_EXPORT int code4flush(CODE4 *c4);
TK_EXPORT int d4zap(DATA4 *data, long first, long last);
TK_EXPORT int d4unappend(DATA4 *data);

/* ------------------------------------------------------------------------
 * Record locking between handles and processes.
 * ---------------------------------------------------------------------- */
TK_EXPORT int d4lockTest(DATA4 *data, long recNo, int lockType);
TK_EXPORT int d4lockTestAppend(DATA4 *data);
TK_EXPORT int dfile4lockTestFile(DFILE4 *file, long handleId, long owner, int lockType);
TK_EXPORT int dfile4lockTestAppend(DFILE4 *file, long handleId, long owner);
TK_EXPORT int d4lock(DATA4 *data, long recNo);
TK_EXPORT int d4lockInternal(DATA4 *data, long recNo, int autoUnlock, int lockType);
TK_EXPORT int d4lockAppend(DATA4 *data);
TK_EXPORT int d4lockAppendInternal(DATA4 *data, int autoUnlock);
TK_EXPORT int d4lockFile(DATA4 *data);
TK_EXPORT int d4lockFileInternal(DATA4 *data, int autoUnlock, int lockType);
TK_EXPORT int d4lockAll(DATA4 *data);
TK_EXPORT int d4lockAllInternal(DATA4 *data, int autoUnlock);
TK_EXPORT int d4lockAppendRecord(DATA4 *data, int autoUnlock);
TK_EXPORT int dfile4lockIndex(DFILE4 *file, long owner);
TK_EXPORT int d4lockAdd(DATA4 *data, long recNo);
TK_EXPORT int d4lockAddAppend(DATA4 *data);
TK_EXPORT int d4lockAddFile(DATA4 *data);
TK_EXPORT int d4lockAddAll(DATA4 *data);
TK_EXPORT int code4lock(CODE4 *c4);
TK_EXPORT int d4unlock(DATA4 *data);
TK_EXPORT int d4unlockLow(DATA4 *data, long owner, int force);
TK_EXPORT int d4unlockRecord(DATA4 *data, long recNo);
TK_EXPORT int d4unlockRecords(DATA4 *data, long owner);
TK_EXPORT int d4unlockAppend(DATA4 *data, long owner);
TK_EXPORT int d4unlockFile(DATA4 *data, long owner);
TK_EXPORT int d4unlockData(DATA4 *data, long owner);
TK_EXPORT int dfile4unlockIndex(DFILE4 *file, long owner);
TK_EXPORT int code4unlock(CODE4 *c4);

/* ------------------------------------------------------------------------
 * Memo contents.
 * ---------------------------------------------------------------------- */
TK_EXPORT unsigned f4memoLen(FIELD4 *field);
TK_EXPORT char *f4memoPtr(FIELD4 *field);
TK_EXPORT char *f4memoStr(FIELD4 *field);
TK_EXPORT unsigned f4memoNcpy(FIELD4 *field, char *dst, unsigned n);
TK_EXPORT int f4memoAssign(FIELD4 *field, const char *text);
TK_EXPORT int f4memoAssignN(FIELD4 *field, const void *bytes, unsigned n);
TK_EXPORT int f4memoSetLen(FIELD4 *field, unsigned n);
TK_EXPORT int f4memoFree(FIELD4 *field);

/* ------------------------------------------------------------------------
 * Table creation.
 * ---------------------------------------------------------------------- */
TK_EXPORT DATA4 *d4create(CODE4 *c4, const char *name, const FIELD4INFO *fields, const TAG4INFO *tags);
TK_EXPORT DATA4 *d4createTemp(CODE4 *c4, const FIELD4INFO *fields, const TAG4INFO *tags);

/* ------------------------------------------------------------------------
 * Navigation in record-number order.
 * ---------------------------------------------------------------------- */
TK_EXPORT int d4goLow(DATA4 *data, long recNo, int keepOld);
TK_EXPORT int d4go(DATA4 *data, long recNo);
TK_EXPORT int d4top(DATA4 *data);
TK_EXPORT int d4bottom(DATA4 *data);
TK_EXPORT int d4skip(DATA4 *data, long n);
TK_EXPORT int d4goEof(DATA4 *data);
TK_EXPORT int d4goBof(DATA4 *data);
TK_EXPORT int d4bof(DATA4 *data);
TK_EXPORT int d4eof(DATA4 *data);
TK_EXPORT long d4recNo(DATA4 *data);
TK_EXPORT double d4position(DATA4 *data);
TK_EXPORT int d4position2(DATA4 *data, double *out);
TK_EXPORT int d4positionSet(DATA4 *data, double position);
TK_EXPORT int d4refresh(DATA4 *data);
TK_EXPORT int d4refreshRecord(DATA4 *data);

#ifdef __cplusplus
}
#endif

#endif /* TABLEKIT_H */
