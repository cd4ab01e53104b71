// The two background workers of a context (delayed writes and advance
// reads). Each owns one thread, a queue of requests guarded by its own lock
// and a wake-up signal. The context starts them at init (unless light) and
// stops them at release; the file layer fills their queues.
//
// Lock order: a file's own lock is taken before a worker's lock, and no
// worker lock is held while waiting for a request to complete.
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "foundation/foundation.h"

struct tk_worker {
  CODE4 *c4 = nullptr;
  const char *name = "";
  std::mutex lock;               // guards everything below
  std::condition_variable wake;  // signalled on new work, stop and start
  RING4 queue{};                 // queued requests, served first to last
  bool started = false;          // set by the thread once it runs
  int stopCount = 0;             // raised by stopWorker
  std::thread thread;
};

namespace tablekit {
namespace {

void workerLoop(tk_worker *w) {
  std::unique_lock<std::mutex> guard(w->lock);
  w->started = true;
  w->wake.notify_all();
  for (;;) {
    w->wake.wait(guard, [w] { return w->stopCount > 0 || w->queue.nLink > 0; });
    if (w->stopCount > 0) return;
    // Requests are served by the file layer's handlers; until a handler
    // is installed no request can be queued, so the queue stays empty.
  }
}

}  // namespace

tk_worker *startWorker(CODE4 &c4, const char *name) {
  auto *w = new (std::nothrow) tk_worker;
  if (w == nullptr) return nullptr;
  w->c4 = &c4;
  w->name = name;
  try {
    w->thread = std::thread(workerLoop, w);
  } catch (const std::system_error &) {
    delete w;  // the context works without this worker
    return nullptr;
  }
  std::unique_lock<std::mutex> guard(w->lock);
  w->wake.wait(guard, [w] { return w->started; });
  return w;
}

void stopWorker(tk_worker *w) {
  if (w == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(w->lock);
    ++w->stopCount;
  }
  w->wake.notify_all();
  if (w->thread.joinable()) w->thread.join();
  delete w;
}

bool workerRunning(const tk_worker *w) {
  if (w == nullptr) return false;
  auto *mw = const_cast<tk_worker *>(w);
  std::lock_guard<std::mutex> guard(mw->lock);
  return mw->started && mw->stopCount == 0;
}

}  // namespace tablekit
