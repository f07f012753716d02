// krp-log-memory: what a kept event-log line costs. Appends twice the line limit of lines
// shaped like the service's own (the connect line, about 115 bytes) to an event log and
// reports the process's resident memory before and after, per kept line.
//
//   krp-log-memory              the default limit, 100,000 lines
//   krp-log-memory 2000         another limit
#include "support/ProcessStats.h"

#include "log/EventLog.h"
#include "platform/ProcessResources.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int limit = argc >= 2 ? std::stoi(argv[1]) : krp::EventLog::kDefaultLineLimit;
    krp::EventLog log;
    krp::EventLog::setInstance(&log);
    log.setLineLimit(limit);
    krp::platform::giveBackFreeMemory();
    const long before = krp::bench::memoryOf(getpid()).rssKiB;
    for (int i = 0; i < 2 * limit; ++i)
        log.appendLine(QStringLiteral("10.12.2026 19.07.12: Saatiin sovellukselta \"Kairanet\" yhteyspyyntö osoitteesta "
                                      "127.0.0.1. Protokolla: https %1")
                           .arg(i));
    const long after = krp::bench::memoryOf(getpid()).rssKiB;
    const long long lineBytes = log.lines().constFirst().toUtf8().size();
    std::printf("%d lines kept of %d appended, %lld bytes of text each: resident memory %ld -> %ld KiB, "
                "%.0f bytes per kept line\n",
                log.lineCount(), 2 * limit, lineBytes, before, after,
                static_cast<double>(after - before) * 1024.0 / log.lineCount());
    krp::EventLog::setInstance(nullptr);
    return 0;
}
