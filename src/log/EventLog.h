#pragma once
// The operator's event log: an in-memory list of lines, newest last, never trimmed. Only the
// main thread changes it; other threads hand their lines over through the main thread's
// queue without waiting, and handed-over lines keep their order.
#include <QMutex>
#include <QObject>
#include <QRecursiveMutex>
#include <QStringList>

namespace krp {

class EventLog : public QObject {
    Q_OBJECT
public:
    explicit EventLog(QObject* parent = nullptr);  // create on the main thread
    ~EventLog() override;

    // Appends a finished line (the caller composed it, time text included). Any thread.
    void appendLine(const QString& line);
    // TekstiLokiin: stamps with the time at which the main thread appends the line. Any thread.
    void appendStamped(const QString& message);

    // A message holding line breaks (CR LF, LF or CR) occupies several lines.
    QStringList lines() const;   // any thread; a copy
    int lineCount() const;       // any thread

    // Headless runs also write each appended line to standard output.
    void setEchoToStdout(bool on) { echo_ = on; }

    // The process-wide log that TekstiLokiin and the stamped writers use. Created on first
    // use (living on the application's main thread) unless set before.
    static EventLog* instance();
    static void setInstance(EventLog* log);

    // Splits a text the way the log view shows it: one entry per line.
    static QStringList splitLines(const QString& text);

Q_SIGNALS:
    // Emitted on the main thread once per appended line, in order.
    void lineAppended(const QString& line);

private:
    bool onMainThread() const;
    void appendOnMainThread(const QString& text);
    mutable QMutex mutex_;
    QStringList lines_;
    bool echo_ = false;
};

// The window lock: a re-entrant lock any thread may take. The connect-event checks hold it for
// their whole run; the server container's writers hold it around their line.
QRecursiveMutex& windowLock();

// TekstiLokiin: the global way in for a stamped line, from any thread.
void TekstiLokiin(const QString& teksti);
// A finished line composed by a method, from any thread.
void appendLogLine(const QString& line);
// The server container's writers: under the window lock, compose "time text: message" now and
// append it as a finished line.
void appendStampedLineLocked(const QString& message);

}  // namespace krp
