// The two background workers of a context (delayed writes and advance
// reads). Each owns one thread and serves one first-in-first-out queue of
// requests under its own lock. The context starts them at init (unless
// light) and stops them at release; the file layer queues the requests and
// says how to perform them (engine/file/requests.cc).
//
// The thread's loop: wait until the queue has a request or a stop was asked
// for; take the oldest request, mark it being performed (state 2) and let go
// of the lock while the file layer performs and finishes it. A stop takes
// effect once the queue is empty, so nothing queued is ever lost.
#include <system_error>

#include "foundation/foundation.h"
#include "foundation/workers.h"

namespace tablekit {
namespace {

void workerLoop(tk_worker *w) {
  std::unique_lock<std::mutex> guard(w->lock);
  w->started = true;
  w->wake.notify_all();
  for (;;) {
    w->wake.wait(guard, [w] { return w->stopCount > 0 || w->queue.count > 0; });
    auto *request = static_cast<IOREQ4 *>(l4first(&w->queue));
    if (request == nullptr) return;  // stopping, and nothing is left to do
    request->state = 2;
    auto *serve = w->serve;
    guard.unlock();
    serve(*w, *request);
    guard.lock();
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
  mem4release(w->pool);
  delete w;
}

bool workerRunning(const tk_worker *w) {
  if (w == nullptr) return false;
  auto *mw = const_cast<tk_worker *>(w);
  std::lock_guard<std::mutex> guard(mw->lock);
  return mw->started && mw->stopCount == 0;
}

}  // namespace tablekit
