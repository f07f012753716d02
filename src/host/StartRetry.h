#pragma once
// The automatic start that keeps trying: while the database does not open, or opens but fails
// its after-connect work, the whole start is tried again every 10 seconds, and the service
// starts serving as soon as both pass. The failure, named as what it is, is logged when it
// first happens (or changes its kind) and then at most once a minute, so that an outage of
// hours does not flood the event log. Ends with the operator's Stop, Start or closing.
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace krp {

class StartRetry : public QObject {
public:
    // `attempt` tries the start and throws DatabaseConnectError while the database does not
    // open, AfterConnectError when it opened but its after-connect work failed (anything else
    // it throws ends the retries and reaches the caller). `onDue` runs a
    // retry that has come due: it calls tryNow() the way the window runs its actions.
    StartRetry(std::function<void()> attempt, std::function<void()> onDue);

    // The first try, now; on a database failure the retries begin.
    void begin();
    // One try; see begin(). Does nothing after end().
    void tryNow();
    // No more tries.
    void end();
    bool isRetrying() const { return retrying_; }
    // Failed tries since begin().
    int failures() const { return failures_; }

    // Default 10 s between tries, a log line at most once a minute.
    void setIntervals(std::chrono::milliseconds retry, std::chrono::milliseconds logEvery);

private:
    std::function<void()> attempt_;
    QTimer timer_;
    std::chrono::milliseconds retryInterval_{10000};
    std::chrono::milliseconds logInterval_{60000};
    std::chrono::steady_clock::time_point lastLogged_{};
    int failures_ = 0;
    bool lastOpened_ = false;  // the last failure was of the after-connect work
    bool retrying_ = false;
};

}  // namespace krp
