#pragma once
// The one Qt application object of a test binary, created on first use on the main thread (or
// the one that already exists). Every test fixture that needs Qt's event loop gets it here.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace krp::test {

template <class App = QCoreApplication>
App* qtApp()
{
    static int argc = 1;
    static char arg0[] = "krp-test";
    static char* argv[] = {arg0, nullptr};
    static App* app =
        QCoreApplication::instance() ? static_cast<App*>(QCoreApplication::instance()) : new App(argc, argv);
    return app;
}

// Runs the event loop until `done` holds. The deadline only keeps a broken test from hanging.
inline bool processEventsUntil(const std::function<bool()>& done, int deadlineMs = 60000)
{
    QDeadlineTimer deadline(deadlineMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace krp::test
