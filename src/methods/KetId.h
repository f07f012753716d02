#pragma once
// Identifiers of label print requests (KET_ID): pseudo-random integers 0 <= n < 1000000000
// from the one process-wide generator, which is seeded differently on every start and may be
// drawn from any thread.
#include <cstdint>
#include <functional>

namespace krp {

std::int64_t drawKetId();

// Replaces the source of the draws and returns the previous one; an empty function restores
// the process-wide generator. For tests, before any request runs.
using KetIdSource = std::function<std::int64_t()>;
KetIdSource replaceKetIdSource(KetIdSource source);

}  // namespace krp
