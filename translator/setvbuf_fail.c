/* A preload library for the run tests: setvbuf fails while the environment
 * holds REMITEX_FAIL_SETVBUF, so a test can reach the run's exit for a stream
 * buffer that cannot be set. Otherwise the C library's setvbuf does the work. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

typedef int (*SetvbufFn)(FILE *, char *, int, size_t);

__attribute__((visibility("default"))) int setvbuf(FILE *stream, char *buffer, int mode,
                                                   size_t size) {
  if (getenv("REMITEX_FAIL_SETVBUF") != NULL) return EOF;
  SetvbufFn next = (SetvbufFn)dlsym(RTLD_NEXT, "setvbuf");
  return next != NULL ? next(stream, buffer, mode, size) : EOF;
}
