// krp-log-memory: what a kept event-log line costs. Appends twice the line limit of lines
// shaped like the service's own (the connect line, about 115 bytes) to an event log and
// reports the process's resident memory before and after, per kept line, against its goal
// (at most 300 bytes a line at the default limit); exits 1 when it is not met.
//
//   krp-log-memory              the default limit, 100,000 lines
//   krp-log-memory 2000         another limit
#include "support/GoalTable.h"
#include "support/OptionValues.h"
#include "support/ProcessStats.h"

#include "log/EventLog.h"
#include "platform/core/ProcessResources.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int limit = krp::EventLog::kDefaultLineLimit;
    try {
        if (argc >= 2)
            limit = static_cast<int>(std::max(1u, krp::bench::wholeNumber("the line limit", argv[1])));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krp-log-memory: %s\nusage: krp-log-memory [LINE-LIMIT]\n", e.what());
        return 2;
    }
    krp::EventLog log;
    krp::EventLog::setInstance(&log);
    log.setLineLimit(limit);
    krp::platform::giveBackFreeMemory();
    const long before = krp::bench::memoryOf(getpid()).rssKiB;
    for (int i = 0; i < 2 * limit; ++i)
        log.appendLine(
            QStringLiteral("10.12.2026 19.07.12: Saatiin sovellukselta \"Kairanet\" yhteyspyyntö osoitteesta "
                           "127.0.0.1. Protokolla: https %1")
                .arg(i));
    const long after = krp::bench::memoryOf(getpid()).rssKiB;
    const long long lineBytes = log.lines().constFirst().toUtf8().size();
    std::printf(
        "%d lines kept of %d appended, %lld bytes of text each: resident memory %ld -> %ld KiB, "
        "%.0f bytes per kept line\n",
        log.lineCount(), 2 * limit, lineBytes, before, after,
        static_cast<double>(after - before) * 1024.0 / log.lineCount());
    krp::EventLog::setInstance(nullptr);
    if (limit != krp::EventLog::kDefaultLineLimit)
        return 0;  // the goal holds at the default limit, where the log's fixed part is spread thin
    krp::bench::GoalTable goals;
    goals.add({"a kept event-log line at the default limit", "bytes",
               static_cast<double>(after - before) * 1024.0 / log.lineCount(), std::nullopt, "", 300,
               krp::bench::Comparison::AtMost, 0, ""});
    goals.print("Goal");
    return goals.exitStatus();
}
