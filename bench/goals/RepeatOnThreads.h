#pragma once
// The in-process yardsticks' loop: the same work repeated on a few threads for a while.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace krp::bench {

// On each of `threads` threads: `make(thread)` builds the thread's state (a pointer), then
// `work(*state, thread, n)` runs for n = 0, 1, ... until `duration` has passed. The rate of
// completed works per second; the first failure of any thread is thrown.
template <class State, class Make, class Work>
double repeatOnThreads(unsigned threads, std::chrono::milliseconds duration, Make make, Work work)
{
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> total{0};
    std::vector<std::string> errors(threads);
    std::vector<std::thread> workers;
    const auto start = std::chrono::steady_clock::now();
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            try {
                State state = make(t);
                std::uint64_t n = 0;
                while (!stop.load(std::memory_order_relaxed))
                    work(*state, t, n++);
                total += n;
            } catch (const std::exception& e) {
                errors[t] = e.what();
            }
        });
    }
    std::this_thread::sleep_for(duration);
    stop = true;
    for (auto& w : workers)
        w.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const auto& e : errors)
        if (!e.empty())
            throw std::runtime_error(e);
    return static_cast<double>(total.load()) / seconds;
}

}  // namespace krp::bench
