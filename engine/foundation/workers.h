// The record of one background worker of a context, shared by the worker's
// thread (workers.cc) and the file layer, which fills and empties its queue
// (engine/file/requests.cc). Nothing else looks inside.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "tablekit.h"

// Lock order: a file's fileLock is taken before a worker's lock; nobody
// waits for a request in flight while holding a fileLock, because the
// worker takes the fileLock to perform the request.
struct tk_worker {
  CODE4 *c4 = nullptr;
  const char *name = "";

  std::mutex lock;                  // the queue's lock: guards everything below
                                    // and every request's state, lists and links
  std::condition_variable wake;     // to the thread: work was queued, or stop
  std::condition_variable settled;  // to waiters: a request left state 2 or
                                    // left a file's list
  RING4 queue{};                    // requests not yet finished, oldest first: all
                                    // queued (state 1) but the one being performed
  MEM4 *pool = nullptr;             // where requests come from; made with the first

  // Performs one request the thread has taken (already in state 2), and
  // finishes it: result, state, completion, removal, release. Called without
  // the lock. Set by whoever queues requests, before the first one.
  void (*serve)(tk_worker &worker, IOREQ4 &request) = nullptr;

  bool started = false;  // set by the thread once it runs
  int stopCount = 0;     // raised by stopWorker; the thread ends when the queue is empty
  std::thread thread;
};
