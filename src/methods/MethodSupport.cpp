#include "methods/MethodSupport.h"

#include "log/DateTimeText.h"
#include "log/EventLog.h"

namespace krp {

QString trimControl(const QString& s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && s.at(end - 1).unicode() <= 32)
        --end;
    return s.mid(begin, end - begin);
}

QString trimUpper(const QString& s)
{
    return trimControl(s).toUpper();
}

void logProgress(const QString& message)
{
    appendLogLine(nowText() + QStringLiteral(": ") + message);
}

void logFailure(const QString& fragment, const QString& text)
{
    appendLogLine(nowText() + fragment + text);
}

}  // namespace krp
