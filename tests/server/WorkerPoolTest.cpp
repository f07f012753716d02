// The request workers: everything posted runs (also from many threads at once), join() waits
// for it, a throwing job ends only itself, and idle threads are woken for new work.
#include "server/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace krp {
namespace {

TEST(WorkerPoolTest, EveryPostedJobRunsBeforeJoinReturns)
{
    struct Case {
        unsigned threads;
        unsigned posters;
    };
    for (const Case c : {Case{1, 1}, Case{4, 1}, Case{16, 4}}) {
        std::atomic<int> done{0};
        WorkerPool pool(c.threads);
        std::vector<std::thread> posters;
        for (unsigned p = 0; p < c.posters; ++p)
            posters.emplace_back([&] {
                for (int i = 0; i < 2000; ++i)
                    pool.post([&] { ++done; });
            });
        for (auto& t : posters)
            t.join();
        pool.join();
        EXPECT_EQ(done, static_cast<int>(2000 * c.posters)) << c.threads << " threads";
    }
}

TEST(WorkerPoolTest, AThrowingJobEndsOnlyItselfAndIdleThreadsWakeForNewWork)
{
    WorkerPool pool(1);
    std::atomic<int> done{0};
    pool.post([] { throw std::runtime_error("broken handler"); });
    pool.post([&] { ++done; });
    // The thread has gone idle by now; new work must wake it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (done < 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pool.post([&] { ++done; });
    pool.join();
    EXPECT_EQ(done, 2);

    pool.post([&] { ++done; });  // after join: no thread runs it
    EXPECT_EQ(done, 2);
}

}  // namespace
}  // namespace krp
