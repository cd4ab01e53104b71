// A separate program that appends records to a table, for the tests that need
// several processes on one table (append_processes_test.cc). It uses the
// engine only through its public header, as any other program would.
//
//   append_worker TABLE MODE WORKER COUNT [gate] [flush=N] [hold]
//
// Opens TABLE in access mode MODE (0, 1 or 2) and, with gate, writes "open"
// to standard output and waits for one byte on standard input (so that a
// test can start several workers' appends at once). Then it appends COUNT
// records whose
// WORKER field holds WORKER and whose SEQ field holds 1 ... COUNT; d4append
// takes the append lock and the new record's lock for each of them. With
// flush=N the table is flushed after the Nth append. With hold the program
// does not close the table: it writes "ready" to standard output and waits
// for standard input to end (the test kills it meanwhile). Otherwise it
// closes the table and ends.
//
// Exit status: 0 done, 2 bad arguments, 3 the context, 4 the open, 5 an
// append, 6 the flush, 7 the close; the engine's message is on standard
// error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tablekit.h"

namespace {

int fail(int status, const char *what, int rc) {
  std::fprintf(stderr, "append_worker: %s failed (%d)\n", what, rc);
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: append_worker TABLE MODE WORKER COUNT [gate] [flush=N] [hold]\n");
    return 2;
  }
  const char *table = argv[1];
  const int mode = std::atoi(argv[2]);
  const long worker = std::atol(argv[3]);
  const long count = std::atol(argv[4]);
  long flushAfter = -1;
  bool hold = false;
  bool gate = false;
  for (int i = 5; i < argc; ++i) {
    if (std::strncmp(argv[i], "flush=", 6) == 0) flushAfter = std::atol(argv[i] + 6);
    else if (std::strcmp(argv[i], "hold") == 0) hold = true;
    else if (std::strcmp(argv[i], "gate") == 0) gate = true;
    else return 2;
  }

  CODE4 c4;
  if (int rc = code4initLow(&c4, 0, TK_HEADER_VERSION, sizeof c4, 1)) return fail(3, "code4initLow", rc);
  c4.accessMode = static_cast<char>(mode);
  c4.lockRetryDelay = 0;  // try a held lock again at once: the workers take turns often
  DATA4 *data = d4open(&c4, table);
  if (data == nullptr) return fail(4, "d4open", c4.errorCode);
  FIELD4 *workerField = d4field(data, "WORKER");
  FIELD4 *seqField = d4field(data, "SEQ");
  if (workerField == nullptr || seqField == nullptr) return fail(4, "d4field", c4.errorCode);
  if (gate) {
    std::printf("open\n");
    std::fflush(stdout);
    char byte;
    if (std::fread(&byte, 1, 1, stdin) != 1) return 2;
  }

  for (long seq = 1; seq <= count; ++seq) {
    if (int rc = d4appendStart(data, 0)) return fail(5, "d4appendStart", rc);
    d4blank(data);
    f4assignLong(workerField, worker);
    f4assignLong(seqField, seq);
    if (int rc = d4append(data)) return fail(5, "d4append", rc);
    if (seq == flushAfter) {
      if (int rc = d4flush(data)) return fail(6, "d4flush", rc);
    }
  }

  if (hold) {
    std::printf("ready\n");
    std::fflush(stdout);
    char byte;
    while (std::fread(&byte, 1, 1, stdin) == 1) {
    }
    return 0;  // left without closing, as if the run had stopped here
  }
  if (int rc = d4close(data)) return fail(7, "d4close", rc);
  code4initUndo(&c4);
  return 0;
}
