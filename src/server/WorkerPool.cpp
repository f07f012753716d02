#include "server/WorkerPool.h"

#include <condition_variable>

namespace krp {

// The wake-up of one idle thread. A mutex and condition variable of its own (one waiter, so
// no groups of waiters to switch) sleep in the kernel at once; std::binary_semaphore spins and
// calls sched_yield before it sleeps, taking CPU from whatever else runs, e.g. a database
// server on the same machine.
class WorkerPool::Wake {
public:
    void release()
    {
        {
            std::lock_guard lock(mutex_);
            woken_ = true;
        }
        cv_.notify_one();
    }
    void acquire()
    {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return woken_; });
        woken_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool woken_ = false;
};

struct WorkerPool::Worker {
    Wake wake;
    std::thread thread;
};

WorkerPool::WorkerPool(unsigned threads)
{
    const unsigned count = threads == 0 ? 1 : threads;
    for (unsigned i = 0; i < count; ++i)
        workers_.push_back(std::make_unique<Worker>());
    for (auto& worker : workers_)
        worker->thread = std::thread([this, w = worker.get()] { run(*w); });
}

WorkerPool::~WorkerPool()
{
    join();
}

void WorkerPool::post(std::function<void()> work)
{
    Worker* sleeper = nullptr;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
        if (!idle_.empty()) {
            sleeper = idle_.back();
            idle_.pop_back();
        }
    }
    if (sleeper)
        sleeper->wake.release();
}

void WorkerPool::join()
{
    std::vector<Worker*> sleepers;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        sleepers.swap(idle_);
    }
    for (Worker* w : sleepers)
        w->wake.release();
    for (auto& worker : workers_) {
        if (worker->thread.joinable())
            worker->thread.join();
    }
}

void WorkerPool::run(Worker& self)
{
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (!queue_.empty()) {
                work = std::move(queue_.front());
                queue_.pop_front();
            } else if (stopping_) {
                return;
            } else {
                idle_.push_back(&self);
            }
        }
        if (!work) {
            self.wake.acquire();
            continue;
        }
        try {
            work();
        } catch (...) {
            // the handler's own business; the thread goes on
        }
    }
}

}  // namespace krp
