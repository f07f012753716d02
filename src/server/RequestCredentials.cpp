#include "server/RequestCredentials.h"

#include "shared/NoCase.h"

#include <QByteArray>

namespace krp {

std::optional<std::pair<QString, QString>> basicCredentials(const transport::HttpRequest& request)
{
    const std::string_view header = request.header("Authorization");
    if (!transport::startsWithNoCase(header, "Basic "))
        return std::nullopt;
    const QByteArray encoded = QByteArray(header.data() + 6, static_cast<qsizetype>(header.size() - 6)).trimmed();
    const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const QString text = QString::fromUtf8(*decoded);
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return std::nullopt;
    return std::make_pair(text.left(colon), text.mid(colon + 1));
}

std::string bearerToken(const transport::HttpRequest& request)
{
    const std::string_view header = request.header("Authorization");
    if (!transport::startsWithNoCase(header, "Bearer "))
        return {};
    std::string token(header.substr(7));
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t'))
        token.pop_back();
    while (!token.empty() && (token.front() == ' ' || token.front() == '\t'))
        token.erase(token.begin());
    return token;
}

}  // namespace krp
