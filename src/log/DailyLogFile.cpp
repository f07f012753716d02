#include "DailyLogFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace krp {

namespace {

const QString kPrefix = QStringLiteral("krpalvelin-");
const QString kSuffix = QStringLiteral(".log");

}  // namespace

DailyLogFile::DailyLogFile(QString directory, int daysKept, std::function<QDate()> today)
    : directory_(std::move(directory)), daysKept_(std::max(1, daysKept)), today_(std::move(today))
{
    if (!today_)
        today_ = [] { return QDate::currentDate(); };
}

QString DailyLogFile::fileNameFor(const QDate& day) const
{
    return QDir(directory_).filePath(kPrefix + day.toString(QStringLiteral("yyyy-MM-dd")) + kSuffix);
}

QString DailyLogFile::write(const QStringList& lines)
{
    QString reason;
    const QDate today = today_();
    bool ok = (today == day_ && file_.isOpen()) || openFor(today, &reason);
    if (ok) {
        QByteArray bytes;
        for (const QString& line : lines) {
            bytes += line.toUtf8();
            bytes += '\n';
        }
        ok = file_.write(bytes) == bytes.size() && file_.flush();
        if (!ok) {
            reason = file_.errorString();
            file_.close();  // opened again at the next write
        }
    }
    if (ok) {
        failing_ = false;
        return {};
    }
    if (failing_)
        return {};
    failing_ = true;
    return QStringLiteral("Lokitiedostoon ei voitu kirjoittaa: %1: %2")
        .arg(QDir::toNativeSeparators(fileNameFor(today)), reason);
}

bool DailyLogFile::openFor(const QDate& day, QString* reason)
{
    file_.close();
    if (!QDir().mkpath(directory_)) {
        *reason = QStringLiteral("hakemistoa ei voitu luoda");
        return false;
    }
    file_.setFileName(fileNameFor(day));
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *reason = file_.errorString();
        return false;
    }
    if (day != day_)
        removeOlderThan(day.addDays(1 - daysKept_));
    day_ = day;
    return true;
}

void DailyLogFile::removeOlderThan(const QDate& firstKept)
{
    static const QRegularExpression pattern(QStringLiteral("^krpalvelin-(\\d{4}-\\d{2}-\\d{2})\\.log$"));
    QDir dir(directory_);
    const QStringList names = dir.entryList({kPrefix + QStringLiteral("*") + kSuffix}, QDir::Files);
    for (const QString& name : names) {
        const auto m = pattern.match(name);
        if (!m.hasMatch())
            continue;
        const QDate day = QDate::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd"));
        if (day.isValid() && day < firstKept)
            dir.remove(name);
    }
}

}  // namespace krp
