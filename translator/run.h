// The translator's driver: one run loads the interchange REMITEX.DAT of the
// working directory, reporting in the run log REMITEX.LOG and leaving the
// marker REMITEX.OK when it completed.
#pragma once

namespace remitex {

// Runs the phases of a translation in the working directory and returns the
// exit status (RunStatus). Prints nothing on the console.
int remitexRun();

}  // namespace remitex
