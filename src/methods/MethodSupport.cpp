#include "methods/MethodSupport.h"

#include "log/ClientText.h"
#include "log/DateTimeText.h"
#include "log/EventLog.h"

namespace krp {

namespace {
// Failure texts are longer than the client's own texts: a database error's is its whole message.
constexpr qsizetype kFailureTextChars = 2000;
}  // namespace

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
    // The failure's text may quote what the client sent (a database error quotes the value it
    // refused): it stays on its one line.
    appendLogLine(nowText() + fragment + logSafe(text, kFailureTextChars));
}

}  // namespace krp
