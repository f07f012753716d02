#include "EventLog.h"

#include "DateTimeText.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>

#include <atomic>
#include <cstdio>

namespace krp {

namespace {

std::atomic<EventLog*> g_instance{nullptr};
QMutex g_instanceMutex;
EventLog* g_ownedInstance = nullptr;  // created on demand, lives to the end of the process

QString stamped(const QString& message) { return nowText() + QStringLiteral(": ") + message; }

}  // namespace

EventLog::EventLog(QObject* parent) : QObject(parent) {}

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
        appendOnMainThread(line);
        return;
    }
    QMetaObject::invokeMethod(this, [this, line] { appendOnMainThread(line); }, Qt::QueuedConnection);
}

void EventLog::appendStamped(const QString& message)
{
    if (onMainThread()) {
        appendOnMainThread(stamped(message));
        return;
    }
    // The time is taken when the main thread runs the task, not now.
    QMetaObject::invokeMethod(this, [this, message] { appendOnMainThread(stamped(message)); },
                              Qt::QueuedConnection);
}

QStringList EventLog::splitLines(const QString& text)
{
    QString normalised = text;
    normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normalised.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return normalised.split(QLatin1Char('\n'));
}

void EventLog::appendOnMainThread(const QString& text)
{
    const QStringList parts = splitLines(text);
    {
        QMutexLocker lock(&mutex_);
        lines_ += parts;
    }
    for (const QString& line : parts) {
        if (echo_) {
            const QByteArray bytes = line.toUtf8();
            std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        }
        Q_EMIT lineAppended(line);
    }
}

QStringList EventLog::lines() const
{
    QMutexLocker lock(&mutex_);
    return lines_;
}

int EventLog::lineCount() const
{
    QMutexLocker lock(&mutex_);
    return static_cast<int>(lines_.size());
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

void TekstiLokiin(const QString& teksti) { EventLog::instance()->appendStamped(teksti); }

void appendLogLine(const QString& line) { EventLog::instance()->appendLine(line); }

void appendStampedLineLocked(const QString& message)
{
    QMutexLocker lock(&windowLock());
    EventLog::instance()->appendLine(stamped(message));
}

}  // namespace krp
