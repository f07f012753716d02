// Prints the regional texts as the running machine's settings make them, for the tests that
// need a process of their own per locale.
#include "log/DateTimeText.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QDateTime ilta(QDate(2026, 12, 9), QTime(23, 26, 38));
    const QDateTime keskiyo(QDate(2026, 12, 9), QTime(0, 0));
    const QString out = krp::dateTimeText(ilta) + QLatin1Char('|') + krp::dateTimeText(keskiyo) + QLatin1Char('|') +
                        krp::generalFloatText(12.5) + QLatin1Char('|') + krp::twoDecimalsText(1234.5);
    std::puts(out.toUtf8().constData());
    return 0;
}
