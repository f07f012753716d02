#include "DatabaseConnection.h"

#include "Tietokantatarkistukset.h"

namespace krp {

DatabaseConnection::DatabaseConnection(QString programDir)
    : programDir_(std::move(programDir)), database_(std::make_unique<db::Database>()),
      kysely_(std::make_unique<db::Query>(*database_))
{
}

DatabaseConnection::~DatabaseConnection()
{
    kysely_.reset();
    if (database_->isOpen())
        database_->close();
}

void DatabaseConnection::beforeConnect(const QString& tietokanta, int tietokannanTyyppi)
{
    if (tietokannanTyyppi == 0)
        odbcDriver_ = QString::fromLatin1(db::kSolidDb7Driver);
    else if (tietokannanTyyppi == 1)
        odbcDriver_ = QString::fromLatin1(db::kSolidDb100Driver);
    settings_ = db::parseDatabaseField(tietokanta, odbcDriver_, programDir_);
    settings_.limits = limits_;
}

void DatabaseConnection::open(const QString& tietokanta, int tietokannanTyyppi)
{
    if (database_->isOpen())
        return;
    connect(tietokanta, tietokannanTyyppi);
    afterConnect();
}

void DatabaseConnection::connect(const QString& tietokanta, int tietokannanTyyppi)
{
    beforeConnect(tietokanta, tietokannanTyyppi);
    database_->open(settings_);
}

void DatabaseConnection::afterConnect()
{
    const QString yritys = HaeAsetus(*kysely_, QStringLiteral("yrityksen nimi"));
    if (onYritys)
        onYritys(yritys);
    Tietokantatarkistukset(*kysely_);
}

void DatabaseConnection::close()
{
    if (!database_->isOpen())
        return;
    kysely_->close();
    database_->close();
    if (onAfterDisconnect)
        onAfterDisconnect();
}

bool DatabaseConnection::isOpen() const
{
    return database_->isOpen();
}

}  // namespace krp
