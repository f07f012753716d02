#pragma once
// Highest-plus-one keys (TYA_NRO, MTR_RIVINRO) without handing one number to two writers.
// Inside this process the read of the highest number and the insert that uses it run under one
// lock per table, so two sessions never read the same highest number. Another writer of the
// same table (the ERP itself) can still take the number in between; the key then refuses the
// insert and the whole read-and-insert step runs again with a fresh highest number.
#include "db/Error.h"
#include <mutex>

namespace krp {

// One lock per table whose keys this server numbers itself.
struct KeyNumberingLocks {
    static std::mutex& tyoaika()
    {
        static std::mutex lock;
        return lock;
    }
    static std::mutex& maartyo()
    {
        static std::mutex lock;
        return lock;
    }
};

// How often a read-and-insert step is tried when the key keeps refusing the row.
inline constexpr int kKeyNumberingAttempts = 5;

// Runs `step` (read the highest number, insert with it) under `tableLock`. A duplicate key of
// the insert runs the step again, at most kKeyNumberingAttempts times in all; the last refusal
// and every other failure leave through the caller. `step` receives the attempt number (0 first).
template <class Step>
auto numberUnderLock(std::mutex& tableLock, Step&& step) -> decltype(step(0))
{
    std::lock_guard<std::mutex> guard(tableLock);
    for (int attempt = 0;; ++attempt) {
        try {
            return step(attempt);
        } catch (const db::Error& e) {
            if (!e.isDuplicateKey() || attempt + 1 >= kKeyNumberingAttempts)
                throw;
        }
    }
}

}  // namespace krp
