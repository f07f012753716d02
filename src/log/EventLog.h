#pragma once
// The operator's event log: an in-memory list of lines, newest last, holding the newest lines
// up to a limit (older lines are dropped). Only the main thread changes it; other threads hand
// their lines over without waiting. The first line handed over wakes the main thread, which
// gathers lines for kGatherMs and then appends all of them at once: a stream of lines from busy
// workers wakes it a few dozen times a second, not once or twice per call. Handed-over lines
// keep their order.
//
// Lines are kept as UTF-8 bytes, about the text's own size plus some 50 bytes each, and each
// has a sequence number: the n-th line appended since the start is number n. Readers ask for
// lines by number (linesAfter, lineAt), so a view or a console shows only what it needs.
#include <QMutex>
#include <QObject>
#include <QRecursiveMutex>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace krp {

class DailyLogFile;

class EventLog : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultLineLimit = 100000;
    static constexpr int kGatherMs = 10;  // from the first handed-over line to the append, at most

    explicit EventLog(QObject* parent = nullptr);  // create on the main thread
    ~EventLog() override;

    // Appends a finished line (the caller composed it, time text included). Any thread.
    void appendLine(const QString& line);
    // TekstiLokiin: stamps with the time at which the main thread appends the line. Any thread.
    void appendStamped(const QString& message);

    // A message holding line breaks (CR LF, LF or CR) occupies several lines.
    QStringList lines() const;     // any thread; a copy of the lines kept
    int lineCount() const;         // any thread; lines kept
    qint64 appendedCount() const;  // any thread; every line appended since the start (the newest line's number)

    // Any thread: the number of the oldest kept line (appendedCount() + 1 when none is kept).
    qint64 firstSequence() const;
    // Any thread: the line numbered `sequence`; the null text when it is not kept.
    QString lineAt(qint64 sequence) const;

    // Lines numbered in append order from 1 (the number of a line is appendedCount() just
    // after it was appended). `lines` are the kept lines numbered above `after`, at most the
    // newest `limit` of them, oldest first; `first` is the number of lines.front() (when it is
    // above after + 1, lines were skipped or are no longer kept), `last` that of the newest
    // line appended. Any thread; the lock is held only for the copy.
    struct NumberedLines {
        qint64 first = 0;
        qint64 last = 0;
        QStringList lines;
    };
    NumberedLines linesAfter(qint64 after, int limit) const;

    // The newest `limit` lines are kept (at least 1); older ones are dropped, oldest first.
    // Main thread.
    void setLineLimit(int limit);
    int lineLimit() const { return limit_; }

    // Headless runs also write each appended line to standard output.
    void setEchoToStdout(bool on) { echo_ = on; }
    // Every appended line also goes to this file (none: no file). Main thread.
    void setLogFile(std::unique_ptr<DailyLogFile> file);

    // The process-wide log that TekstiLokiin and the stamped writers use. Created on first
    // use (living on the application's main thread) unless set before.
    static EventLog* instance();
    static void setInstance(EventLog* log);

    // Main thread: appends what other threads have handed over, now (at the program's end, so
    // that the last lines are not left waiting for the gathering time).
    void appendHandedOver();

    // Splits a text the way the log view shows it: one entry per line.
    static QStringList splitLines(const QString& text);

Q_SIGNALS:
    // Emitted on the main thread for the lines of each append, in order: a handed-over batch
    // comes as one signal.
    void linesAppended(const QStringList& lines);

private:
    struct HandedLine {
        QString text;
        bool stamp;  // compose "time text: text" when the main thread appends it
    };
    bool onMainThread() const;
    void handOver(HandedLine line);
    void appendOnMainThread(QStringList lines);
    void trimToLimit();  // mutex_ held

    mutable QMutex mutex_;           // lines_, appended_
    std::deque<std::string> lines_;  // UTF-8; the newest is number appended_
    qint64 appended_ = 0;
    int limit_ = kDefaultLineLimit;

    QMutex handMutex_;  // handed_
    std::vector<HandedLine> handed_;
    QTimer gatherTimer_;  // main thread

    bool echo_ = false;
    std::unique_ptr<DailyLogFile> file_;
};

// The window lock: a re-entrant lock any thread may take. The server container's writers hold
// it while they compose their line, never across a wait: no database statement, no output,
// no waiting for the main thread runs under it.
QRecursiveMutex& windowLock();

// TekstiLokiin: the global way in for a stamped line, from any thread.
void TekstiLokiin(const QString& teksti);
// A finished line composed by a method, from any thread.
void appendLogLine(const QString& line);
// The server container's writers: under the window lock, compose "time text: message" now;
// then append it as a finished line (handed over without waiting off the main thread).
void appendStampedLineLocked(const QString& message);

}  // namespace krp
