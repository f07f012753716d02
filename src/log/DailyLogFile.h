#pragma once
// The event log's optional file: one file a day, "krpalvelin-YYYY-MM-DD.log" (local date) in a
// directory of the operator's choice, appended in UTF-8, one line per log line. When a day's
// file is opened, files of this kind older than the newest `daysKept` days are removed.
#include <QDate>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>

namespace krp {

class DailyLogFile {
public:
    // The directory is created when missing. `today` gives the local date (tests set it).
    DailyLogFile(QString directory, int daysKept, std::function<QDate()> today = {});

    // Appends the lines and flushes them. Returns the empty text, or, the first time a write
    // fails after working (or at the first write), a text that says which file and why.
    QString write(const QStringList& lines);

    // "krpalvelin-YYYY-MM-DD.log" in the directory.
    QString fileNameFor(const QDate& day) const;
    const QString& directory() const { return directory_; }
    int daysKept() const { return daysKept_; }

private:
    bool openFor(const QDate& day, QString* reason);
    void removeOlderThan(const QDate& firstKept);

    QString directory_;
    int daysKept_;
    std::function<QDate()> today_;
    QFile file_;
    QDate day_;
    bool failing_ = false;
};

}  // namespace krp
