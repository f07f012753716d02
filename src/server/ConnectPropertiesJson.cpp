#include "server/ConnectPropertiesJson.h"

#include "types/RecordJson.h"

#include <rapidjson/document.h>

namespace krp {

std::optional<ConnectProperties> readConnectProperties(std::string_view body, std::string& error)
{
    types::PooledJsonDocument parsed;
    rapidjson::Document& doc = parsed.document;
    try {
        types::parseJson(doc, body);
    } catch (const types::RecordJsonError&) {
        doc.SetNull();
    }
    if (!doc.IsObject()) {
        error = "The body must be a JSON object of connect properties (names to texts).";
        return std::nullopt;
    }
    ConnectProperties p;
    const std::pair<std::string_view, QString*> known[] = {
        {"Application", &p.sovellus},
        {"Token", &p.saatu_paasykoodi},
        {"ApplicationUserName", &p.saatu_kayttajatunnus},
        {"ApplicationPassword", &p.saatu_salasana},
    };
    for (auto it = doc.MemberBegin(); it != doc.MemberEnd(); ++it) {
        const std::string_view name(it->name.GetString(), it->name.GetStringLength());
        if (!it->value.IsString()) {
            error = "Connect property \"" + std::string(name.substr(0, 200)) + "\" must be a text.";
            return std::nullopt;
        }
        for (const auto& [known_name, field] : known) {
            if (name == known_name)
                *field = QString::fromUtf8(it->value.GetString(), static_cast<qsizetype>(it->value.GetStringLength()));
        }
    }
    return p;
}

}  // namespace krp
