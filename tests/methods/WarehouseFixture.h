#pragma once
// What the warehouse-method tests share: a Qt application on the main thread, the event log
// they read back, a fresh ERP database on SQLite or MariaDB (schema only; each test inserts
// the rows it needs) and one session's method module on it.
#include "log/DateTimeText.h"
#include "log/EventLog.h"
#include "methods/ServerMethodsUnit1.h"
#include "methods/ServiceContext.h"
#include "support/TestDatabases.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>
#include <functional>
#include <memory>
#include <ostream>

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os)
{
    *os << '{';
    for (const QString& s : l) {
        PrintTo(s, os);
        *os << ' ';
    }
    *os << '}';
}

namespace krp::test {

// The Qt application of the test binary. The process runs under a Finnish locale, as the
// server does at its customers: the time text and numbers in the log follow it.
QCoreApplication& warehouseTestApp();

// The log lines one call writes, with the time text at the head of each line checked and
// removed. The time text is the one of the moment before or after the call.
struct CallLog {
    QStringList lines;  // as appended
    QStringList rest;   // each line without its time text
    bool timeTextsOk = true;
};

class WarehouseTest : public DatabaseTest {
protected:
    void SetUp() override;
    void TearDown() override;
    Content content() const override { return Content::SchemaOnly; }

    // Runs `call` and collects what it wrote to the event log.
    CallLog logOf(const std::function<void()>& call);

    // Rows of the test database, through a query of its own.
    void exec(const QString& sqlOrScript) { testDb().execute(sqlOrScript); }
    QString text(const QString& sql) { return testDb().text(sql); }
    std::int64_t integer(const QString& sql) { return testDb().integer(sql); }
    bool isNull(const QString& sql);
    // The fields of the first row joined with '|', each as text (null as the empty text).
    QString row(const QString& sql);

    // A product with optional stock row and purchase-order line.
    void tuote(const QString& koodi, int toimittaja, const QString& nimi, const QString& ean, const QString& tyyppi);
    void varasto(const QString& koodi, int toimittaja, double varastossa, const QString& invepvm = QString());
    void tilausrivi(int nro, int rivi, const QString& koodi, int toimittaja, const QString& tilattu,
                    const QString& toimitettu, const QString& perutettu);
    void jonorivi(const QString& id, int tilaus, const QString& koodi, int toimittaja, double kerattu,
                  const QString& jatkokasitelty = QString());

    EventLog log;
    ServiceContext context;
    std::unique_ptr<TServerMethods1> methods;
};

// The text of a SQL literal: 'text' with quotes doubled, or NULL for a null QString.
QString sqlText(const QString& value);

}  // namespace krp::test
