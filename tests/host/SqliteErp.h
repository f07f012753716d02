#pragma once
// A small ERP database in a SQLite file of a temporary directory: the settings tables and the
// catalogue view, filled as a test needs.
#include "db/Database.h"
#include "db/Query.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

namespace krp::test {

class SqliteErp {
public:
    // An empty file is an empty SQLite database.
    explicit SqliteErp(const QString& dir) : path_(QDir(dir).filePath(QStringLiteral("erp.sqlite")))
    {
        QFile file(path_);
        if (!file.exists() && file.open(QIODevice::WriteOnly))
            file.close();
    }

    const QString& path() const { return path_; }
    QString field() const { return QStringLiteral("sqlite:") + path_; }

    // Runs statements on a connection of its own.
    void exec(const QStringList& statements)
    {
        db::Database database;
        database.open(db::parseDatabaseField(field(), QString(), QString()));
        db::Query q(database);
        for (const QString& sql : statements) {
            q.setSql({sql});
            q.execute();
        }
        database.close();
    }

    void createCatalogue()
    {
        exec(
            {QStringLiteral("CREATE VIEW IF NOT EXISTS TABLES AS SELECT name AS TABLE_NAME FROM sqlite_master "
                            "WHERE type IN ('table','view')")});
    }

    void createSettingsTable(const QString& table)
    {
        exec({QStringLiteral("CREATE TABLE %1 (ASETUS VARCHAR(80) PRIMARY KEY, ARVO VARCHAR(1024))").arg(table)});
    }

    void setSetting(const QString& table, const QString& name, const QString& value)
    {
        db::Database database;
        database.open(db::parseDatabaseField(field(), QString(), QString()));
        db::Query q(database);
        q.setSql({QStringLiteral("DELETE FROM %1 WHERE ASETUS=:a").arg(table)});
        q.param(QStringLiteral("a")).setText(name);
        q.execute();
        q.setSql({QStringLiteral("INSERT INTO %1 (ASETUS, ARVO) VALUES (:a, :v)").arg(table)});
        q.param(QStringLiteral("a")).setText(name);
        q.param(QStringLiteral("v")).setText(value);
        q.execute();
        database.close();
    }

    // ARVO of the setting, or nothing when there is no row.
    std::optional<QString> setting(const QString& table, const QString& name)
    {
        db::Database database;
        database.open(db::parseDatabaseField(field(), QString(), QString()));
        db::Query q(database);
        q.setSql({QStringLiteral("SELECT ARVO FROM %1 WHERE ASETUS=:a").arg(table)});
        q.param(QStringLiteral("a")).setText(name);
        q.open();
        std::optional<QString> value;
        if (!q.isEmpty())
            value = q.fieldByName(QStringLiteral("ARVO")).asText();
        database.close();
        return value;
    }

    // The usual ERP: catalogue, ASETUS with the company name.
    void createStandard(const QString& yritys = QStringLiteral("Routala Oy"))
    {
        createCatalogue();
        createSettingsTable(QStringLiteral("ASETUS"));
        setSetting(QStringLiteral("ASETUS"), QStringLiteral("yrityksen nimi"), yritys);
    }

private:
    QString path_;
};

}  // namespace krp::test
