#pragma once
// The program's one ERP database connection (the window's FDYhteysPaaruutu) with the window's
// query FDKysely bound to it. Only Start and Stop open and close it, on the main thread.
#include "db/ConnectionSettings.h"
#include "db/Database.h"
#include "db/Query.h"

#include <QString>
#include <functional>
#include <memory>

namespace krp {

class DatabaseConnection {
public:
    // `programDir` resolves a relative "sqlite:" path of the database field.
    explicit DatabaseConnection(QString programDir);
    ~DatabaseConnection();

    // Before connect: the driver by the database type (0 solidDB 7, 1 solidDB 100; any other
    // index keeps the driver of the previous connect, first the solidDB 7 one) and the
    // connection settings from the database field as typed.
    void beforeConnect(const QString& tietokanta, int tietokannanTyyppi);

    // Connects unless already connected: before connect, open, after connect. Throws on
    // failure. When the after-connect work fails the connection stays open, and a later call
    // finds it open and does nothing.
    void open(const QString& tietokanta, int tietokannanTyyppi);
    // Before connect and open, without the after-connect work (the caller runs afterConnect).
    // Throws on failure; the connection stays closed then.
    void connect(const QString& tietokanta, int tietokannanTyyppi);
    // Disconnects; when it was connected, the after-disconnect handler runs.
    void close();
    bool isOpen() const;

    // The limits of the next connect (asetukset.ini).
    void setLimits(const db::Limits& limits) { limits_ = limits; }

    const QString& odbcDriver() const { return odbcDriver_; }
    const db::ConnectionSettings& settings() const { return settings_; }
    db::Database& database() { return *database_; }
    db::Query& kysely() { return *kysely_; }  // FDKysely

    // After connect, on the window's query: the company name ("yrityksen nimi") goes to
    // `onYritys`, then the database checks run.
    void afterConnect();

    std::function<void(const QString& yritys)> onYritys;  // SetYritys of the window
    std::function<void()> onAfterDisconnect;              // SetYritys("") of the window

private:
    QString programDir_;
    QString odbcDriver_ = QString::fromLatin1(db::kSolidDb7Driver);
    db::ConnectionSettings settings_;
    db::Limits limits_;
    std::unique_ptr<db::Database> database_;
    std::unique_ptr<db::Query> kysely_;
};

}  // namespace krp
