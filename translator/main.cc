// The remitex program: no arguments, no console output; the exit status is
// the run's.
#include "run.h"

int main() { return remitex::remitexRun(); }
