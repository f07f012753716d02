#include "methods/KetId.h"

#include <QRandomGenerator>
#include <utility>

namespace krp {

namespace {

KetIdSource& source()
{
    static KetIdSource s;
    return s;
}

}  // namespace

std::int64_t drawKetId()
{
    if (const KetIdSource& s = source())
        return s();
    // QRandomGenerator::global() is seeded by the system and safe for concurrent callers.
    return QRandomGenerator::global()->bounded(1000000000u);
}

KetIdSource replaceKetIdSource(KetIdSource replacement)
{
    return std::exchange(source(), std::move(replacement));
}

}  // namespace krp
