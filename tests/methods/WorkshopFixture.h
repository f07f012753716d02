#pragma once
// A workshop session on a fresh ERP database (demo data) with the event log on the test's main
// thread, so that the lines the methods write can be read back. Runs on SQLite and MariaDB.
#include "log/DateTimeText.h"
#include "log/EventLog.h"
#include "methods/ServerMethodsUnit1.h"
#include "methods/ServiceContext.h"
#include "support/QtTestApp.h"
#include "support/TestDatabases.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocale>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace krp::test {

class WorkshopTest : public DatabaseTest {
protected:
    void SetUp() override
    {
        DatabaseTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        qtApp();
        log_ = std::make_unique<EventLog>();
        EventLog::setInstance(log_.get());
        context_.database = &db();
        methods_ = std::make_unique<TServerMethods1>(context_);
        methods_->TarkistaKayttooikeus(QStringLiteral("avain"), QStringLiteral("PEKKA"), QStringLiteral("Jarru-2026"));
    }

    void TearDown() override
    {
        methods_.reset();
        if (log_) {
            EventLog::setInstance(nullptr);
            log_.reset();
        }
        DatabaseTest::TearDown();
    }

    // A further session on the same database, with its own user.
    std::unique_ptr<TServerMethods1> session(const QString& user)
    {
        auto s = std::make_unique<TServerMethods1>(context_);
        s->TarkistaKayttooikeus(QStringLiteral("avain"), user, QString());
        return s;
    }

    // Every line of the log so far; lines handed over by other threads are taken in first.
    QStringList logLines()
    {
        log_->appendHandedOver();
        return log_->lines();
    }

    // Runs the event loop until the log holds `count` lines (the deadline only stops a hang).
    QStringList waitForLogLines(int count)
    {
        QDeadlineTimer deadline(60000);
        while (log_->lineCount() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(1);
        }
        return log_->lines();
    }

    // A statement of its own (triggers hold ';' inside, so no script splitting).
    void executeOne(const QString& sql)
    {
        db::Query q(db());
        q.setSql({sql});
        q.execute();
    }

    QString text(const QString& sql) { return testDb().text(sql); }
    std::int64_t integer(const QString& sql) { return testDb().integer(sql); }
    double real(const QString& sql)
    {
        db::Query q(db());
        q.setSql({sql});
        q.open();
        return q.field(0).asFloat();
    }

    ServiceContext context_;
    std::unique_ptr<EventLog> log_;
    std::unique_ptr<TServerMethods1> methods_;
};

// True when `line` is a date-time text of the log followed by exactly `tail`.
inline ::testing::AssertionResult isLogLine(const QString& line, const QString& tail)
{
    if (!line.endsWith(tail))
        return ::testing::AssertionFailure()
               << "line \"" << line.toStdString() << "\" does not end in \"" << tail.toStdString() << "\"";
    const QString stamp = line.left(line.size() - tail.size());
    const QLocale locale = QLocale::system();
    const QString format =
        locale.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') + longTimeFormatWithoutZone(locale);
    QDateTime parsed = locale.toDateTime(stamp, format);
    if (!parsed.isValid())  // exactly midnight: the date alone
        parsed = QDateTime(locale.toDate(stamp, QLocale::ShortFormat), QTime(0, 0));
    if (!parsed.isValid() || dateTimeText(parsed) != stamp)
        return ::testing::AssertionFailure() << "line \"" << line.toStdString() << "\" does not begin with a time text";
    return ::testing::AssertionSuccess();
}

}  // namespace krp::test
