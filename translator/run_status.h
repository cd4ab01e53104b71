// The exit statuses of a translator run: the only result a calling program
// sees besides the files the run leaves behind.
#pragma once

namespace remitex {

enum RunStatus : int {
  kRunDone = 0,          // loaded (index results, good or bad, are in the log)
  kRunNoInput = 1,       // "remitex.dat" is not readable; no log is created
  kRunNoLog = 2,         // REMITEX.LOG cannot be created
  kRunInputOpen = 3,     // REMITEX.DAT cannot be opened
  kRunRejected = 4,      // not an accepted interchange (no "ISA", GS01, ST01, short ISA)
  kRunNoMemory = 5,      // memory or the input stream buffer could not be had
  kRunVersion = 6,       // the interchange version is not in the version list
  kRunLoadFailed = 7,    // an engine error during the load: records may be missing
};

}  // namespace remitex
