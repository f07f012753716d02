#include "EventLog.h"

#include "DailyLogFile.h"
#include "DateTimeText.h"
#include "metrics/Metrics.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace krp {

namespace {

std::atomic<EventLog*> g_instance{nullptr};
QMutex g_instanceMutex;
EventLog* g_ownedInstance = nullptr;  // created on demand, lives to the end of the process

QString stamped(const QString& timeText, const QString& message)
{
    return timeText + QStringLiteral(": ") + message;
}

void echo(const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += line.toUtf8();
        bytes += '\n';
    }
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

}  // namespace

EventLog::EventLog(QObject* parent) : QObject(parent)
{
    gatherTimer_.setSingleShot(true);
    gatherTimer_.setInterval(kGatherMs);
    connect(&gatherTimer_, &QTimer::timeout, this, &EventLog::appendHandedOver);
}

EventLog::~EventLog()
{
    EventLog* self = this;
    g_instance.compare_exchange_strong(self, nullptr);
}

bool EventLog::onMainThread() const
{
    // Without an application there is no queue to hand work to: the caller is the main thread.
    return QCoreApplication::instance() == nullptr || QThread::currentThread() == thread();
}

void EventLog::appendLine(const QString& line)
{
    if (onMainThread()) {
        appendOnMainThread(splitLines(line));
        return;
    }
    handOver({line, false});
}

void EventLog::appendStamped(const QString& message)
{
    if (onMainThread()) {
        appendOnMainThread(splitLines(stamped(nowText(), message)));
        return;
    }
    // The time is taken when the main thread appends the line, not now.
    handOver({message, true});
}

void EventLog::handOver(HandedLine line)
{
    bool first;
    {
        QMutexLocker lock(&handMutex_);
        first = handed_.empty();
        handed_.push_back(std::move(line));
    }
    // Only the first line of a gathering wakes the main thread; the lines after it wait with it.
    if (first)
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!gatherTimer_.isActive())
                    gatherTimer_.start();
            },
            Qt::QueuedConnection);
}

void EventLog::appendHandedOver()
{
    gatherTimer_.stop();
    std::vector<HandedLine> batch;
    {
        QMutexLocker lock(&handMutex_);
        batch.swap(handed_);
    }
    if (batch.empty())
        return;
    QString timeText;  // the moment the main thread runs the hand-over, taken once for it
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(batch.size()));
    for (HandedLine& h : batch) {
        if (h.stamp) {
            if (timeText.isNull())
                timeText = nowText();
            lines += splitLines(stamped(timeText, h.text));
        } else {
            lines += splitLines(h.text);
        }
    }
    appendOnMainThread(std::move(lines));
}

QStringList EventLog::splitLines(const QString& text)
{
    if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return {text};
    QString normalised = text;
    normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normalised.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return normalised.split(QLatin1Char('\n'));
}

void EventLog::appendOnMainThread(QStringList lines)
{
    {
        QMutexLocker lock(&mutex_);
        for (const QString& line : lines)
            lines_.push_back(line.toStdString());
        appended_ += lines.size();
        trimToLimit();
    }
    metrics::counters().logLinesAppended(static_cast<std::uint64_t>(lines.size()));
    if (echo_)
        echo(lines);
    if (file_) {
        const QString failure = file_->write(lines);
        if (!failure.isEmpty()) {
            // Said once per failing stretch, in the log itself (not in the file).
            const QStringList note{stamped(nowText(), failure)};
            {
                QMutexLocker lock(&mutex_);
                lines_.push_back(note.front().toStdString());
                ++appended_;
                trimToLimit();
            }
            if (echo_)
                echo(note);
            Q_EMIT linesAppended(lines);
            Q_EMIT linesAppended(note);
            return;
        }
    }
    Q_EMIT linesAppended(lines);
}

void EventLog::trimToLimit()
{
    while (lines_.size() > static_cast<size_t>(limit_))
        lines_.pop_front();
    // A deque gives back its emptied blocks as it goes; nothing else grows with the lines.
}

void EventLog::setLineLimit(int limit)
{
    QMutexLocker lock(&mutex_);
    limit_ = std::max(1, limit);
    trimToLimit();
}

void EventLog::setLogFile(std::unique_ptr<DailyLogFile> file)
{
    file_ = std::move(file);
}

QStringList EventLog::lines() const
{
    QMutexLocker lock(&mutex_);
    QStringList out;
    out.reserve(static_cast<qsizetype>(lines_.size()));
    for (const std::string& line : lines_)
        out += QString::fromStdString(line);
    return out;
}

qint64 EventLog::firstSequence() const
{
    QMutexLocker lock(&mutex_);
    return appended_ - static_cast<qint64>(lines_.size()) + 1;
}

QString EventLog::lineAt(qint64 sequence) const
{
    QMutexLocker lock(&mutex_);
    const qint64 first = appended_ - static_cast<qint64>(lines_.size()) + 1;
    if (sequence < first || sequence > appended_)
        return QString();
    return QString::fromStdString(lines_[static_cast<size_t>(sequence - first)]);
}

int EventLog::lineCount() const
{
    QMutexLocker lock(&mutex_);
    return static_cast<int>(lines_.size());
}

qint64 EventLog::appendedCount() const
{
    QMutexLocker lock(&mutex_);
    return appended_;
}

EventLog::NumberedLines EventLog::linesAfter(qint64 after, int limit) const
{
    NumberedLines out;
    QMutexLocker lock(&mutex_);
    out.last = appended_;
    const qint64 kept = static_cast<qint64>(lines_.size());
    const qint64 firstKept = appended_ - kept + 1;
    const qint64 from = std::max({after + 1, firstKept, appended_ - std::max(limit, 0) + 1});
    out.first = from;
    if (from > appended_)
        return out;
    out.lines.reserve(static_cast<qsizetype>(appended_ - from + 1));
    for (auto it = lines_.cbegin() + static_cast<std::ptrdiff_t>(from - firstKept); it != lines_.cend(); ++it)
        out.lines += QString::fromStdString(*it);
    return out;
}

EventLog* EventLog::instance()
{
    if (EventLog* log = g_instance.load())
        return log;
    QMutexLocker lock(&g_instanceMutex);
    if (EventLog* log = g_instance.load())
        return log;
    if (!g_ownedInstance) {
        g_ownedInstance = new EventLog;
        if (QCoreApplication* app = QCoreApplication::instance())
            g_ownedInstance->moveToThread(app->thread());
    }
    g_instance.store(g_ownedInstance);
    return g_ownedInstance;
}

void EventLog::setInstance(EventLog* log)
{
    QMutexLocker lock(&g_instanceMutex);
    g_instance.store(log);
}

QRecursiveMutex& windowLock()
{
    static QRecursiveMutex lock;
    return lock;
}

void TekstiLokiin(const QString& teksti)
{
    EventLog::instance()->appendStamped(teksti);
}

void appendLogLine(const QString& line)
{
    EventLog::instance()->appendLine(line);
}

void appendStampedLineLocked(const QString& message)
{
    QString line;
    {
        QMutexLocker lock(&windowLock());
        line = stamped(nowText(), message);
    }
    // Appended outside the lock: on the main thread the append writes the daily file and
    // standard output, which may take their time.
    EventLog::instance()->appendLine(line);
}

}  // namespace krp
