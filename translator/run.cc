// The translator's driver: the phases of a run in their order, the files a
// run touches, the run log, the engine settings the run changes and the exit
// status of every way a run ends.
//
// The run log is the run's only report: it is flushed phase by phase, so a
// run that dies leaves a log showing how far it came. A failing write to the
// log has nowhere else to be reported and is not checked.
#include "run.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "mapping.h"
#include "reader.h"
#include "run_files.h"
#include "run_status.h"
#include "table_set.h"
#include "tablekit.h"

namespace remitex {
namespace {

constexpr int kInputBufferSize = 8192;
constexpr char kDefaultVersions[] = "4010,3051";
constexpr char kIsaRejection[] = "REMITEX.DAT rejected - file does not begin with \"ISA\" ";

// The one engine context of the process: initialised once per run, released
// once at its end (or at an early exit).
CODE4 cb;

// What a run holds open; finish() closes it on every way out: the level
// tables first (so that the next run can open them), then the input, the
// log and the engine context.
struct RunState {
  FILE *log = nullptr;
  FILE *input = nullptr;
  bool engineStarted = false;
  TableSet *tables = nullptr;

  int finish(int status) {
    if (tables != nullptr) {
      tables->releaseTemplates();
      (void)tables->closeLevelTables();
      tables = nullptr;
    }
    if (input != nullptr) fclose(input);
    if (log != nullptr) fclose(log);
    input = log = nullptr;
    if (engineStarted) {
      code4initUndo(&cb);
      mem4reset();
      engineStarted = false;
    }
    return status;
  }
};

void logPhase(FILE *log, const char *text) {
  fputs(text, log);
  fflush(log);
}

// Items 1 and 2 of the log: the title, the start time and the run's name.
void writeHeader(FILE *log, time_t start) {
  char stamp[32] = "";
  struct tm local;
  if (localtime_r(&start, &local) != nullptr) strftime(stamp, sizeof stamp, "%Y%m%d %H:%M", &local);
  fputs("REMITEX Translator Report - REMITEX.LOG\n", log);
  fprintf(log, "%s \nTranslate/Import REMITEX\n\n", stamp);
  fflush(log);
}

// The version list: the first bytes of REMITEX.VER, or the default. The
// buffer stays zero beyond what was read, so the list is always terminated.
void readVersionList(char (&list)[kVersionListSize]) {
  memset(list, 0, sizeof list);
  FILE *file = fopen(findFile("REMITEX.VER").c_str(), "rt");
  if (file == nullptr) {
    memcpy(list, kDefaultVersions, sizeof kDefaultVersions);
    return;
  }
  size_t got = fread(list, 1, sizeof list - 1, file);
  list[got] = '\0';
  fclose(file);
}

// The line of a load that an engine error cut short; it ends the open
// translate or indexing line first.
void logLoadFailure(FILE *log, int code) {
  fprintf(log, "\n    Load failed - error %d: %s\n", code, error4text(&cb, code));
  fflush(log);
}

// The marker of a completed run: "OK", no line end. A marker that cannot be
// written leaves the status of the run as it is.
void writeMarker() {
  FILE *marker = fopen(findFile("REMITEX.OK").c_str(), "wt");
  if (marker == nullptr) return;
  fwrite("OK", 1, 2, marker);
  fclose(marker);
}

}  // namespace

int remitexRun() {
  RunState run;
  char versionList[kVersionListSize];
  char inputBuffer[kInputBufferSize];

  // 1. The start time; the marker of the last run goes first.
  time_t start = time(nullptr);
  removeFiles("REMITEX.OK");

  // 2. Nothing is written unless the input can be read.
  if (access(findFile("remitex.dat").c_str(), R_OK) != 0) return kRunNoInput;

  // 3. The run log and its header.
  run.log = fopen(findFile("REMITEX.LOG").c_str(), "wt");
  if (run.log == nullptr) return kRunNoLog;
  writeHeader(run.log, start);

  // 4. The accepted interchange versions.
  readVersionList(versionList);

  // 5. The input must begin with "ISA" (a shorter file does not).
  run.input = fopen(findFile("REMITEX.DAT").c_str(), "rb");
  if (run.input == nullptr) return run.finish(kRunInputOpen);
  char head[3];
  if (fread(head, 1, sizeof head, run.input) != sizeof head || memcmp(head, "ISA", 3) != 0) {
    fputs(kIsaRejection, run.log);
    return run.finish(kRunRejected);
  }

  // 6. The reader starts with no segment identifier; the engine context is
  // made with its two background workers. An engine failure is reported by
  // the engine itself.
  TableSet tables(cb);
  SegmentMapping mapping(tables);
  InterchangeReader reader(run.input, versionList, run.log, mapping);
  reader.clearSegmentIds();
  code4initLow(&cb, 0, TK_HEADER_VERSION, sizeof(CODE4), 0);
  run.engineStarted = true;
  // The level tables are opened exclusively: their appends may be gathered
  // into large writes (records still reach the disk before the header that
  // counts them).
  c4setOptimizeWrite(&cb, 1);

  // 7. The level tables, opened exclusively without their indexes (a table
  // that cannot be opened ends the process through the engine's fatal exit),
  // and their template records.
  logPhase(run.log, "    Opening Data Files\n");
  tables.openLevelTables();
  run.tables = &tables;
  if (int status = tables.buildTemplates()) return run.finish(status);

  // 8. Every record of the last run goes.
  logPhase(run.log, "    Removing Old Data\n");
  tables.emptyLevelTables();

  // 9. The input is read through a fully buffered 8192-byte stream buffer.
  if (setvbuf(run.input, inputBuffer, _IOFBF, kInputBufferSize) != 0) {
    return run.finish(kRunNoMemory);
  }

  // 10. Delimiters from the ISA segment; the input is back at its first byte.
  if (int status = reader.discoverDelimiters()) return run.finish(status);

  // 11. A value whose field does not exist is dropped without a message.
  mapping.reset();
  c4setErrFieldName(&cb, 0);
  logPhase(run.log, "    Translate %: ");

  // 12. The load; the envelope checks may reject the interchange here.
  if (int status = reader.readTokens()) return run.finish(status);

  // 13. The records still being filled are appended, children first.
  mapping.finish();
  tables.updateLevelTables();
  c4setErrFieldName(&cb, 1);
  fclose(run.input);
  run.input = nullptr;
  tables.releaseTemplates();

  // An engine error during the load means records may be missing: the run
  // does not report success.
  if (int code = c4getErrorCode(&cb); code < 0) {
    logLoadFailure(run.log, code);
    return run.finish(kRunLoadFailed);
  }

  // 14. Allocating the tag-description array (kRunNoMemory on failure) comes
  // with the load indexing. The translate line always ends in 100.
  c4setSafety(&cb, 0);
  c4setLockAttempts(&cb, -1);
  fprintf(run.log, "%4d\n    Indexing LEVEL_2 - ", 100);
  fflush(run.log);

  // 15. Building the indexes of LEVEL_2 to LEVEL_6 and logging each result
  // comes with the load indexing; until then the log of a complete run ends
  // with the text above.
  c4setSafety(&cb, 1);

  // 16. The level tables, the log and the engine context. In access mode 1
  // a table's header counts its records only once it is closed: a close that
  // fails where nothing had failed before loses the load as well.
  const bool clean = c4getErrorCode(&cb) >= 0;
  if (int code = tables.closeLevelTables(); clean && code < 0) {
    const int reported = c4getErrorCode(&cb);
    logLoadFailure(run.log, reported < 0 ? reported : code);
    return run.finish(kRunLoadFailed);
  }
  run.tables = nullptr;
  run.finish(kRunDone);

  // 17. The marker tells a caller that this run completed.
  writeMarker();
  return kRunDone;
}

}  // namespace remitex
