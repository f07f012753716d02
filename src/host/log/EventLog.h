#pragma once
// The operator's event log: an in-memory list of lines, newest last, never trimmed. Only the
// main thread changes it; other threads hand their lines over through the main thread's
// queue without waiting, and handed-over lines keep their order.
#include <QObject>
#include <QRecursiveMutex>
#include <QStringList>

namespace krp {

class EventLog : public QObject {
    Q_OBJECT
public:
    explicit EventLog(QObject* parent = nullptr);  // create on the main thread

    // Appends a finished line (the caller composed it, time text included). Any thread.
    void appendLine(const QString& line);
    // TekstiLokiin: stamps with the time at which the main thread appends the line. Any thread.
    void appendStamped(const QString& message);

    QStringList lines() const;   // main thread
    int lineCount() const;       // main thread

    // Headless runs also write each appended line to standard output.
    void setEchoToStdout(bool on) { echo_ = on; }

    // The process-wide log that TekstiLokiin and the stamped writers use.
    static EventLog* instance();
    static void setInstance(EventLog* log);

Q_SIGNALS:
    void lineAppended(const QString& line);

private:
    void appendOnMainThread(const QString& line);
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
