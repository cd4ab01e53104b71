/* The public header compiles as plain C and its operations link from C. */
#include <string.h>

#include "tablekit.h"

int cFaceRun(void) {
  CODE4 cb;
  if (code4initLow(&cb, 0, TK_HEADER_VERSION, (long)sizeof(CODE4), 1) != 0) return 1;
  if (c4getErrFieldName(&cb) != 1 || c4getErrOff(&cb) != 0) return 2;
  c4setErrOff(&cb, 1);
  if (error4default(&cb, -210, 90298L) != -210 || c4getErrorCode(&cb) != -210) return 3;
  if (strcmp(error4text(&cb, -210), "Unrecognized Field Name") != 0) return 4;
  if (error4number2(90298L) != 94003L) return 5;
  if (error4set(&cb, 0) != -210) return 6;
  if (code4initUndo(&cb) != 0) return 7;
  return 0;
}
