#pragma once
// The threads that run request handlers: work posted from any thread runs on one of them, in
// the order it was posted.
//
// Each idle thread waits on a wake-up of its own, and post() wakes one of them: a single futex
// wake that never waits for another thread. A condition variable shared by
// all the threads (as in asio's thread_pool) lets glibc's pthread_cond_signal wait, when it
// switches its groups of waiters, until earlier-woken threads have run; on a busy machine the
// I/O thread handing over a request then blocked behind a worker that waited for a CPU, and
// with it every connection (stalls of 2 to 3 s in the mixed soak, docs/performance.md).
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace krp {

class WorkerPool {
public:
    explicit WorkerPool(unsigned threads);
    ~WorkerPool();  // join()
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Queues `work`; callable from any thread. Work that throws ends only itself.
    void post(std::function<void()> work);

    // Runs what is posted until the queue is empty (work that running work posts included),
    // then ends the threads. Work posted after the last thread ended never runs; it is
    // destroyed with the pool.
    void join();

private:
    class Wake;
    struct Worker;
    void run(Worker& self);

    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
    std::vector<Worker*> idle_;
    bool stopping_ = false;
    std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace krp
