#pragma once
// What a session's method module reaches outside itself. The window fills it in; tests make
// their own. The event log is reached through krp::appendLogLine / krp::TekstiLokiin.
#include <QString>
#include <functional>

namespace krp::db {
class Database;
}

namespace krp {

struct ServiceContext {
    db::Database* database = nullptr;
    // Settings-file flag Palvelu/Sisaisen_selvityksen_erikoiskasittely, read at window creation.
    bool sisaiseenSelvitykseenTuoterivienNimet = false;
    // Registry work of Ping and SovellusSuljetaan, handed to the window's thread without waiting.
    std::function<void(const QString& sovellus, const QString& clientid)> ping;
    std::function<void(const QString& sovellus, const QString& clientid)> sovellusSuljetaan;
};

}  // namespace krp
